#include "link/line_watch.h"

#include <algorithm>
#include <cstring>

#include "link/comm_dialog.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"

void NoteLineFault(CCommDialog* panel, LineFault fault) {
  if (fault == kLineHealthy) return;
  const int before = fault == kLineDeviceGone
                         ? panel->m_nLineFault.exchange(kLineDeviceGone)
                         : [&] {
                             int expected = kLineHealthy;
                             panel->m_nLineFault.compare_exchange_strong(expected, fault);
                             return expected;
                           }();
  // One box per run for a vanished device, and none once the run has shown
  // its outcome: then the scanner going is the operator switching it off.
  if (fault == kLineDeviceGone && before != kLineDeviceGone && !panel->m_bOutcomeShown.load() &&
      !panel->m_bAbort.load() && !g_bClosing.load()) {
    ShowError(panel->m_szPortName, kDeviceGoneText);
  }
  // A wait sleeping on an empty ring looks at the fault when it wakes.
  if (panel->m_hDataEvent) panel->m_hDataEvent->Set();
}

void ReleaseGonePort(CCommDialog* panel) {
  if (CurrentLineFault(panel) != kLineDeviceGone) return;
  // The handle leads nowhere now; the next Start opens the device afresh
  // once it is back.
  if (platform::PortPtr port = panel->m_hPort.Get()) port->Close();
  panel->m_hPort.Set(nullptr);
}

LineFault CurrentLineFault(const CCommDialog* panel) {
  return static_cast<LineFault>(panel->m_nLineFault.load());
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

uint32_t DsrChanges(CCommDialog* panel) {
  platform::PortPtr port = panel->m_hPort.Get();
  uint32_t count = 0;
  if (!port || !port->GetDsrChangeCount(count) || count == kNoDsrCount) return kNoDsrCount;
  return count;
}
}  // namespace

void WatchForRestart(CCommDialog* panel, bool on) {
  if (on) {
    int restarted = kLineRestarted;
    panel->m_nLineFault.compare_exchange_strong(restarted, kLineHealthy);
    panel->m_dwDsrChangesAtStep.store(DsrChanges(panel));
  } else {
    panel->m_bBannerWatch.store(false);
  }
  panel->m_bStepWatch.store(on);
}

void WatchForBanner(CCommDialog* panel, bool on) { panel->m_bBannerWatch.store(on); }

bool StepLineMoved(CCommDialog* panel) {
  const LineFault fault = CurrentLineFault(panel);
  if (fault == kLineRestarted) return true;
  if (fault != kLineHealthy || !panel->m_bStepWatch.load()) return false;
  platform::PortPtr port = panel->m_hPort.Get();
  uint32_t status = 0;
  if (!port || !port->GetCommModemStatus(status)) return false;
  const uint32_t atStep = panel->m_dwDsrChangesAtStep.load();
  const bool dsrMoved = atStep != kNoDsrCount && DsrChanges(panel) != atStep;
  if ((status & platform::MS_DSR_ON) != 0 && !dsrMoved) return false;
  NoteLineFault(panel, kLineRestarted);
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

UpdateStatus CheckLineBetweenBlocks(CCommDialog* panel) {
  if (CurrentLineFault(panel) != kLineHealthy) return UPD_LINK_DOWN;
  platform::PortPtr port = panel->m_hPort.Get();
  if (!port) return UPD_OK;  // closed by Reset: the write that follows says so
  uint32_t status = 0;
  if (!port->GetCommModemStatus(status)) {
    if (IsDeviceGoneError(port->LastError())) {
      NoteLineFault(panel, kLineDeviceGone);
      return UPD_LINK_DOWN;
    }
    return UPD_OK;
  }
  // CTS alone low is the loader's flow control and only holds the next
  // write; DSR low means the scanner lost its power, and so does a DSR that
  // changed since the step began, even if it is up again: a write held by
  // the falling CTS resumes only once the restarted scanner raised it.
  const uint32_t atStep = panel->m_dwDsrChangesAtStep.load();
  const bool dsrMoved = atStep != kNoDsrCount && DsrChanges(panel) != atStep;
  if ((status & platform::MS_DSR_ON) == 0 || dsrMoved) {
    NoteLineFault(panel, kLineRestarted);
    return UPD_LINK_DOWN;
  }
  return UPD_OK;
}

bool NoteFailedWrite(CCommDialog* panel) {
  platform::PortPtr port = panel->m_hPort.Get();
  if (!port || !IsDeviceGoneError(port->LastError())) return CurrentLineFault(panel) == kLineDeviceGone;
  NoteLineFault(panel, kLineDeviceGone);
  return true;
}

UpdateStatus WriteTransferBlock(CCommDialog* panel, const void* data, uint32_t length) {
  // An abort takes effect between blocks: a block being written is finished.
  if (panel->m_bAbort.load()) return UPD_ABORTED;
  if (CheckLineBetweenBlocks(panel) != UPD_OK) return UPD_LINK_DOWN;
  if (WritePort(panel->m_hPort, data, length)) return UPD_OK;
  // The port was closed (Reset, teardown) or has gone: the scanner cannot
  // get the rest.
  if (panel->m_bAbort.load()) return UPD_ABORTED;
  return NoteFailedWrite(panel) ? UPD_LINK_DOWN : UPD_ABORTED;
}
