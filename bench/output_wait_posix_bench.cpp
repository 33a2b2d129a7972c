// Streaming through the POSIX port write's wait for its bytes to leave, in
// real time against a modelled UART: blocks at 57600 bits/s (10 bits per
// character) into a driver queue in front of a 16-byte FIFO, as on a PC's
// serial port. Each block is written once the previous one has left the
// driver, as the POSIX port does (platform/posix/output_wait.h), with the
// port's real pauses; the share of the line rate used tells whether that wait
// leaves gaps between blocks. The goal is 97% or more. (A pseudo-terminal or
// the in-memory line cannot show this: neither has a driver queue and CTS.)
#include <benchmark/benchmark.h>
#include <poll.h>

#include <chrono>
#include <cstdint>

#include "platform/posix/output_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCharacterMicros = 174;
constexpr size_t kFifoBytes = 16;
constexpr size_t kStreamBytes = 32 * 1024;

class TimedUart : public platform::posix::OutputLine {
 public:
  // Hands a block to the driver; the line sends it after what it holds.
  void Write(size_t bytes) {
    const Clock::time_point now = Clock::now();
    if (lineFreeAt_ < now) lineFreeAt_ = now;
    lineFreeAt_ += std::chrono::microseconds(uint64_t{bytes} * kCharacterMicros);
  }

  bool Read(Sample& sample, int&) override {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(lineFreeAt_ - Clock::now());
    const size_t onLine =
        left.count() <= 0 ? 0 : static_cast<size_t>((left.count() + kCharacterMicros - 1) / kCharacterMicros);
    sample.queued = onLine > kFifoBytes ? onLine - kFifoBytes : 0;
    sample.clearToSend = true;
    return true;
  }

  bool Pause(int ms, int&) override {
    ::poll(nullptr, 0, ms);  // the port pauses in poll() as well
    return true;
  }

  Clock::time_point LineFreeAt() const { return lineFreeAt_; }

 private:
  Clock::time_point lineFreeAt_{};
};

void BM_StreamLineShare(benchmark::State& state) {
  const size_t block = static_cast<size_t>(state.range(0));
  double lineSeconds = 0;
  double wallSeconds = 0;
  for (auto _ : state) {
    TimedUart uart;
    const Clock::time_point start = Clock::now();
    for (size_t sent = 0; sent < kStreamBytes; sent += block) {
      uart.Write(block);
      if (platform::posix::WaitUntilSent(uart, kCharacterMicros) != 0) {
        state.SkipWithError("the wait failed");
        return;
      }
    }
    // The stream is over when its last byte has left the wire.
    const double seconds = std::chrono::duration<double>(uart.LineFreeAt() - start).count();
    state.SetIterationTime(seconds);
    wallSeconds += seconds;
    const size_t blocks = (kStreamBytes + block - 1) / block;
    lineSeconds += static_cast<double>(blocks * block) * kCharacterMicros / 1e6;
  }
  state.counters["line_share_percent"] = wallSeconds > 0 ? 100.0 * lineSeconds / wallSeconds : 0;
}

// 80: an image record; 100: a block of a raw file.
BENCHMARK(BM_StreamLineShare)->Arg(80)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
