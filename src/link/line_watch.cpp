#include "link/line_watch.h"

#include <algorithm>
#include <cstring>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"

namespace {

// Records the fault; the fault noted before.
int RecordFault(PortSession& session, LineFault fault) {
  if (fault == kLineDeviceGone) return session.m_nLineFault.exchange(kLineDeviceGone);
  int expected = kLineHealthy;
  session.m_nLineFault.compare_exchange_strong(expected, fault);
  return expected;
}

// A wait sleeping on an empty ring looks at the fault when it wakes.
void WakeWaits(PortSession& session) {
  if (session.m_hDataEvent) session.m_hDataEvent->Set();
}

// A restart is never shown on its own: the sequence says which step it hit.
void NoteRestart(PortSession& session) {
  RecordFault(session, kLineRestarted);
  WakeWaits(session);
}

}  // namespace

void NoteLineFault(PortSession& session, RunReporter& reporter, LineFault fault) {
  if (fault == kLineHealthy) return;
  const int before = RecordFault(session, fault);
  // One box per run for a vanished device, and none once the run has shown
  // its outcome: then the scanner going is the operator switching it off.
  if (fault == kLineDeviceGone && before != kLineDeviceGone && !session.m_bOutcomeShown.load() &&
      !session.m_bAbort.load() && !g_bClosing.load()) {
    reporter.ShowError(kDeviceGoneText);
  }
  WakeWaits(session);
}

void ReleaseGonePort(PortSession& session) {
  if (CurrentLineFault(session) != kLineDeviceGone) return;
  // The handle leads nowhere now; the next Start opens the device afresh
  // once it is back.
  if (platform::PortPtr port = session.m_hPort.Get()) port->Close();
  session.m_hPort.Set(nullptr);
}

LineFault CurrentLineFault(const PortSession& session) {
  return static_cast<LineFault>(session.m_nLineFault.load());
}

bool IsDeviceGoneError(int error) {
  // Each backend reports a vanished device as this one code: the POSIX port
  // maps ENODEV, EIO on an open tty and a hang-up to it, the Windows port the
  // codes of its drivers' table (platform/win32/device_gone.h), the sim line
  // an unplugged cable.
  return error == platform::kErrorDeviceNotConnected;
}

namespace {
constexpr uint32_t kNoDsrCount = 0xFFFFFFFFu;

// The first place of text within [from, to), or null.
const uint8_t* Find(const uint8_t* from, const uint8_t* to, const char* text) {
  const size_t n = std::strlen(text);
  const uint8_t* at = std::search(from, to, text, text + n);
  return at == to ? nullptr : at;
}

uint32_t DsrChanges(PortSession& session) {
  platform::PortPtr port = session.m_hPort.Get();
  uint32_t count = 0;
  if (!port || !port->GetDsrChangeCount(count) || count == kNoDsrCount) return kNoDsrCount;
  return count;
}
}  // namespace

void WatchForRestart(PortSession& session, bool on) {
  if (on) {
    int restarted = kLineRestarted;
    session.m_nLineFault.compare_exchange_strong(restarted, kLineHealthy);
    session.m_dwDsrChangesAtStep.store(DsrChanges(session));
  } else {
    session.m_bBannerWatch.store(false);
  }
  session.m_bStepWatch.store(on);
}

void WatchForBanner(PortSession& session, bool on) { session.m_bBannerWatch.store(on); }

bool StepLineMoved(PortSession& session) {
  const LineFault fault = CurrentLineFault(session);
  if (fault == kLineRestarted) return true;
  if (fault != kLineHealthy || !session.m_bStepWatch.load()) return false;
  platform::PortPtr port = session.m_hPort.Get();
  uint32_t status = 0;
  if (!port || !port->GetCommModemStatus(status)) return false;
  const uint32_t atStep = session.m_dwDsrChangesAtStep.load();
  const bool dsrMoved = atStep != kNoDsrCount && DsrChanges(session) != atStep;
  if ((status & platform::MS_DSR_ON) != 0 && !dsrMoved) return false;
  NoteRestart(session);
  return true;
}

bool BannerScanner::Scan(const uint8_t* data, size_t length) {
  bool found = false;
  constexpr size_t kChunk = sizeof window_ - kTailBytes;
  while (length > 0) {
    const size_t n = std::min(length, kChunk);
    std::memcpy(window_ + held_, data, n);
    const size_t fresh = held_;
    held_ += n;
    data += n;
    length -= n;
    // Every "Build" that ends in the new bytes, with "QZ" and then "version"
    // ahead of it within the kept head.
    const size_t buildLength = std::strlen("Build");
    size_t from = fresh >= buildLength - 1 ? fresh - (buildLength - 1) : 0;
    while (!found) {
      const uint8_t* build = Find(window_ + from, window_ + held_, "Build");
      if (build == nullptr) break;
      const size_t at = static_cast<size_t>(build - window_);
      const size_t headStart = at > kTailBytes ? at - kTailBytes : 0;
      if (const uint8_t* qz = Find(window_ + headStart, window_ + at, "QZ")) {
        const size_t afterQz = static_cast<size_t>(qz - window_) + 2;
        found = Find(window_ + afterQz, window_ + at, "version") != nullptr;
      }
      from = at + 1;
    }
    const size_t keep = std::min(held_, kTailBytes);
    std::memmove(window_, window_ + (held_ - keep), keep);
    held_ = keep;
  }
  return found;
}

UpdateStatus CheckLineBetweenBlocks(PortSession& session, RunReporter& reporter) {
  if (CurrentLineFault(session) != kLineHealthy) return UPD_LINK_DOWN;
  platform::PortPtr port = session.m_hPort.Get();
  if (!port) return UPD_OK;  // closed by Reset: the write that follows says so
  uint32_t status = 0;
  if (!port->GetCommModemStatus(status)) {
    if (IsDeviceGoneError(port->LastError())) {
      NoteLineFault(session, reporter, kLineDeviceGone);
      return UPD_LINK_DOWN;
    }
    return UPD_OK;
  }
  // CTS alone low is the loader's flow control and only holds the next
  // write; DSR low means the scanner lost its power, and so does a DSR that
  // changed since the step began, even if it is up again: a write held by
  // the falling CTS resumes only once the restarted scanner raised it.
  const uint32_t atStep = session.m_dwDsrChangesAtStep.load();
  const bool dsrMoved = atStep != kNoDsrCount && DsrChanges(session) != atStep;
  if ((status & platform::MS_DSR_ON) == 0 || dsrMoved) {
    NoteLineFault(session, reporter, kLineRestarted);
    return UPD_LINK_DOWN;
  }
  return UPD_OK;
}

bool NoteFailedWrite(PortSession& session, RunReporter& reporter) {
  platform::PortPtr port = session.m_hPort.Get();
  if (!port || !IsDeviceGoneError(port->LastError())) return CurrentLineFault(session) == kLineDeviceGone;
  NoteLineFault(session, reporter, kLineDeviceGone);
  return true;
}

UpdateStatus WriteTransferBlock(PortSession& session, RunReporter& reporter, const void* data, uint32_t length) {
  // An abort takes effect between blocks: a block being written is finished.
  if (session.m_bAbort.load()) return UPD_ABORTED;
  if (CheckLineBetweenBlocks(session, reporter) != UPD_OK) return UPD_LINK_DOWN;
  if (WritePort(session.m_hPort, data, length)) return UPD_OK;
  // The port was closed (Reset, teardown) or has gone: the scanner cannot
  // get the rest.
  if (session.m_bAbort.load()) return UPD_ABORTED;
  return NoteFailedWrite(session, reporter) ? UPD_LINK_DOWN : UPD_ABORTED;
}
