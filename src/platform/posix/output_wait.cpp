// The wait of a POSIX port write for its bytes to leave (see output_wait.h).
#include "platform/posix/output_wait.h"

#include <algorithm>
#include <limits>

namespace platform::posix {

int WaitUntilSent(OutputLine& line, uint32_t byteMicros) {
  int heldPauseMs = 1;
  size_t before = std::numeric_limits<size_t>::max();
  for (;;) {
    OutputLine::Sample sample;
    int error = 0;
    if (!line.Read(sample, error)) return error;
    // Empty: the bytes have left, and a CTS that drops now (the loader took
    // the end byte and writes flash) holds nothing of this write.
    if (sample.queued == 0) return 0;

    int pauseMs;
    if (sample.clearToSend && sample.queued < before && byteMicros != 0) {
      // The line moves: sleep until the queued bytes should be out, rounded
      // up to whole milliseconds. On a real port the UART's own FIFO (or the
      // adapter's buffer) still sends for a few byte times after the
      // driver's queue runs empty, which covers the rounding, so the next
      // block reaches the driver before the line goes idle.
      const uint64_t micros = uint64_t{sample.queued} * byteMicros;
      pauseMs = static_cast<int>(std::clamp<uint64_t>((micros + 999) / 1000, 1, kLongestPauseMs));
      heldPauseMs = 1;
    } else {
      // CTS holds the line, or the queue did not move since the last look:
      // look again soon, then ever less often.
      pauseMs = heldPauseMs;
      heldPauseMs = std::min(heldPauseMs * 2, kLongestPauseMs);
    }
    before = sample.queued;
    if (!line.Pause(pauseMs, error)) return error;
  }
}

}  // namespace platform::posix
