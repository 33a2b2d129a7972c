#include "update/file_send.h"

#include <algorithm>
#include <cstdio>

#include "firmware/sha256.h"
#include "firmware/transfer_rate.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "platform/message_box.h"
#include "platform/time.h"
#include "platform/format.h"

namespace {

// Percentage and progress position of done out of total; an empty total
// counts as complete so that nothing divides by zero.
long Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100L : static_cast<long>(done * 100 / total);
}
int ProgressPos(uint64_t done, uint64_t total) {
  return total == 0 ? 1000 : static_cast<int>(done * 1000 / total);
}

}  // namespace

UpdateStatus ShowReadFault(RunReporter& reporter, const ReadFault& fault) {
  if (!fault.text.empty()) reporter.ShowError(fault.text);
  return fault.status;
}

UpdateStatus SendFileCopy(PortSession& session, RunReporter& reporter, const FileBuffer& copy, const char* label) {
  const uint64_t fileSize = copy.size;
  reporter.SetProgressRange(0, 1000);
  reporter.SetProgressPos(0);
  uint64_t total = 0;
  BlockRate rate;
  while (total < fileSize) {
    if (session.m_bAbort) return UPD_ABORTED;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kFileBlockBytes, fileSize - total));
    const uint32_t start = platform::GetTickCount();
    const UpdateStatus written =
        WriteTransferBlock(session, reporter, copy.data.get() + total, static_cast<uint32_t>(n));
    if (written != UPD_OK) return written;
    const uint32_t elapsed = platform::GetTickCount() - start;

    total += n;
    const uint32_t shown = rate.Add(static_cast<uint32_t>(n), elapsed);
    reporter.ShowStatus(Format("%s %dKB %ld bytes/sec %ld%%", label,
                             static_cast<int>(fileSize / 1024), static_cast<long>(shown),
                             Percent(total, fileSize)));
    reporter.SetProgressPos(ProgressPos(total, fileSize));
  }
  return session.m_bAbort ? UPD_ABORTED : UPD_OK;
}

UpdateStatus SendFile(PortSession& session, RunReporter& reporter, const std::string& path, const char* label,
                      std::string* sha256) {
  // The file is taken whole before anything is sent: the scanner gets
  // exactly the bytes read, whatever happens to the file meanwhile.
  FileBuffer copy;
  UpdateStatus result = ShowReadFault(reporter, TakeFileToSend(path, copy, &session.m_bAbort));
  if (result != UPD_OK) return result;
  result = SendFileCopy(session, reporter, copy, label);
  if (result == UPD_OK && sha256 != nullptr) *sha256 = Sha256Hex(copy.data.get(), copy.size);
  return result;
}


UpdateStatus SendLoaderImage(PortSession& session, RunReporter& reporter, FileBuffer& image) {
  // The image is released however the sending ends.
  struct Releaser {
    FileBuffer& image;
    ~Releaser() { image.Release(); }
  } releaser{image};

  reporter.SetProgressRange(0, 1000);
  reporter.SetProgressPos(0);
  const uint64_t length = image.data ? image.size : 0;
  uint64_t sent = 0;
  BlockRate rate;
  while (sent < length) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kFileBlockBytes, length - sent));
    const uint32_t start = platform::GetTickCount();
    const UpdateStatus written = WriteTransferBlock(session, reporter, image.data.get() + sent, n);
    if (written != UPD_OK) return written;
    const uint32_t elapsed = platform::GetTickCount() - start;
    sent += n;
    const uint32_t shown = rate.Add(n, elapsed);
    reporter.ShowStatus(Format("%s %ld bytes %ld bytes/sec %ld%%", "LDR",
                             static_cast<long>(length), static_cast<long>(shown),
                             static_cast<long>(sent * 100 / length)));
    reporter.SetProgressPos(static_cast<int>(sent * 1000 / length));
  }
  return UPD_OK;
}
