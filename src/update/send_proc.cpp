// sendProc: the programming thread of a port. It makes sure the scanner is
// identified, takes the run's copy of the settings for the family its banner
// gave, runs the firmware steps, reports the outcome, waits until the
// operator switches the scanner off and gives the panel back. The closing
// actions run however the run is left, an exception included.
#include "update/send_proc.h"

#include <new>
#include <optional>
#include <string>

#include "link/comm_dialog.h"
#include "link/handshake.h"
#include "link/line_watch.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/time.h"
#include "update/programming_steps.h"

namespace {

// Pause between two looks at the modem lines while the scanner is still on.
constexpr uint32_t kLinePollMs = 20;
// The pause before the panel asks for the scanner to be switched off.
constexpr uint32_t kReleasePauseMs = 1000;

// Reads the modem lines into m_bCts and m_bDsr. False when either is low, or
// when the status can no longer be read: a port that cannot tell its lines
// (an unplugged USB scanner) has no scanner on it any more.
bool ScannerStillOn(CCommDialog* panel) {
  platform::PortPtr port = panel->m_hPort.Get();
  uint32_t status = 0;
  if (!port || !port->GetCommModemStatus(status)) return false;
  panel->m_bCts.store(status & platform::MS_CTS_ON);
  panel->m_bDsr.store(status & platform::MS_DSR_ON);
  return (status & platform::MS_CTS_ON) != 0 && (status & platform::MS_DSR_ON) != 0;
}

constexpr const char* kDoneText =
    "Programming Done. Please exit Vantorel before turning scanner power off.";
constexpr const char* kFailedText = "Programming sequence failed!";
// The outcome in the record of a run that Reset (or the station closing)
// stopped: the panel itself shows "Reset".
constexpr const char* kStoppedText = "Programming stopped by Reset";

// A run that began programming: its record, completed at the outcome.
struct OpenRecord {
  RunRecord record;
  uint32_t startTick = 0;
};

void ClosingActions(CCommDialog* panel, UpdateStatus result, OpenRecord* open,
                    CRunRecorder* recorder) {
  // From the outcome on, the scanner going away is what the run waits for.
  panel->m_bOutcomeShown.store(true);
  const bool stopped = panel->m_bAbort.load();
  if (!stopped) {
    panel->m_nRunResult.store(result);
    panel->ShowStatus(result == UPD_OK ? kDoneText : kFailedText);
  }
  if (open != nullptr && recorder != nullptr) {
    RunRecord& record = open->record;
    record.result = result;
    record.outcome = stopped ? kStoppedText : result == UPD_OK ? kDoneText : kFailedText;
    record.durationMs = platform::GetTickCount() - open->startTick;
    record.specialBlock = panel->m_specialBlock;
    recorder->RecordRun(panel, record);
  }

  // Wait for the scanner to go away; only the lines dropping or an abort end it.
  while (!panel->m_bAbort.load()) {
    if (panel->m_hDataEvent) panel->m_hDataEvent->Reset();
    if (!ScannerStillOn(panel)) break;
    platform::Sleep(kLinePollMs);
  }

  if (!panel->m_bAbort.load()) {
    if (panel->m_hReceiveEvent) panel->m_hReceiveEvent->Reset();
    ReleaseGonePort(panel);
    panel->EnablePortButton(true);
    // The pause ends early when the panel is torn down or a new run takes over.
    if (panel->m_hExitEvent) {
      platform::WaitForAny({panel->m_hExitEvent.get()}, kReleasePauseMs);
    } else {
      platform::Sleep(kReleasePauseMs);
    }
    if (!panel->m_bAbort.load()) {
      panel->ShowStatus("Turn scanner power off");
      MessageBeep(0xFFFFFFFFu);
    }
  }

  panel->m_nReconnectPhase.store(0);

  if (!panel->m_bAbort.load()) {
    // The loader's closing key. A scanner already switched off holds CTS low
    // and with it this write, until it comes up again or the port is closed.
    const char key = 'x';
    WritePort(panel->m_hPort, &key, 1);
  }
}

// Runs the closing actions when the run is left, however it is left.
class ClosingGuard {
 public:
  ClosingGuard(CCommDialog* panel, CRunRecorder* recorder) : panel_(panel), recorder_(recorder) {}
  ClosingGuard(const ClosingGuard&) = delete;
  ClosingGuard& operator=(const ClosingGuard&) = delete;
  ~ClosingGuard() {
    try {
      ClosingActions(panel_, result_, record_.has_value() ? &*record_ : nullptr, recorder_);
    } catch (...) {
      // The panel must still be released below.
    }
    // The last act: after this the panel may be released.
    panel_->m_bSendDone.store(true);
  }
  void SetResult(UpdateStatus result) { result_ = result; }
  UpdateStatus Result() const { return result_; }

  // The programming begins: the run gets its record, which the closing
  // actions complete and hand to the recorder.
  RunRecord* BeginRecord(int family) {
    OpenRecord& open = record_.emplace();
    open.startTick = platform::GetTickCount();
    RunRecord& record = open.record;
    record.start = platform::GetLocalTime();
    record.port = platform::WithoutDevicePrefix(panel_->m_szPortName);
    record.family = family;
    record.loaderVersion = panel_->m_nLoaderVersion.load();
    record.boardVersion = panel_->m_nBoardVersion.load();
    panel_->m_specialBlock.clear();
    return &record;
  }

 private:
  CCommDialog* panel_;
  CRunRecorder* recorder_;
  UpdateStatus result_ = UPD_OK;
  std::optional<OpenRecord> record_;  // set once the programming began
};

UpdateStatus Connect(CCommDialog* panel) {
  if (panel->m_dwStatusFlags.load() & kScannerIdentified) {
    // Identified before (by a USB panel's connect thread or an earlier run):
    // the receiver only needs its gate opened.
    if (panel->m_hReceiveEvent) panel->m_hReceiveEvent->Set();
    return UPD_OK;
  }
  return IdentifyScanner(panel);
}

}  // namespace

int sendProc(CCommDialog* panel, const CRunSettingsSource& settings, CRunRecorder* recorder) {
  ClosingGuard closing(panel, recorder);
  UpdateStatus result = UPD_OK;
  try {
    result = Connect(panel);
    if (result != UPD_ABORTED) {
      platform::Sleep(0);
      if (panel->m_dwStatusFlags.load() & kScannerIdentified) {
        // Taken once the family is known, and kept for the whole run.
        const RunSettings run =
            settings.TakeRunSettings(panel->m_nFamily.load(), panel->m_nBoardVersion.load());
        result = RunProgrammingSteps(panel, run, closing.BeginRecord(run.family));
      }
    }
  } catch (const std::bad_alloc&) {
    result = UPD_NO_MEMORY;
  } catch (...) {
    // A step left by an exception has failed; the closing actions say so.
    result = UPD_WAIT_FAILED;
  }
  // Whatever a step made of it, a run whose device vanished has failed.
  if (CurrentLineFault(panel) == kLineDeviceGone) result = UPD_LINK_DOWN;
  closing.SetResult(result);
  return result;
}
