// sendProc: the programming thread of a port. It makes sure the scanner is
// identified, takes the run's copy of the settings for the family its banner
// gave, runs the firmware steps, reports the outcome, waits until the
// operator switches the scanner off and gives the panel back. The closing
// actions run however the run is left, an exception included.
#include "update/send_proc.h"

#include <new>
#include <optional>
#include <string>

#include "link/port_session.h"
#include "link/run_reporter.h"
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
bool ScannerStillOn(PortSession& session) {
  platform::PortPtr port = session.m_hPort.Get();
  uint32_t status = 0;
  if (!port || !port->GetCommModemStatus(status)) return false;
  session.m_bCts.store(status & platform::MS_CTS_ON);
  session.m_bDsr.store(status & platform::MS_DSR_ON);
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

void ClosingActions(PortSession& session, RunReporter& reporter, UpdateStatus result,
                    OpenRecord* open, CRunRecorder* recorder) {
  // From the outcome on, the scanner going away is what the run waits for.
  session.m_bOutcomeShown.store(true);
  const bool stopped = session.m_bAbort.load();
  if (!stopped) {
    reporter.ShowRunResult(result);
    reporter.ShowStatus(result == UPD_OK ? kDoneText : kFailedText);
  }
  if (open != nullptr && recorder != nullptr) {
    RunRecord& record = open->record;
    record.result = result;
    record.outcome = stopped ? kStoppedText : result == UPD_OK ? kDoneText : kFailedText;
    record.durationMs = platform::GetTickCount() - open->startTick;
    recorder->RecordRun(record);
  }

  // Wait for the scanner to go away; only the lines dropping or an abort end it.
  while (!session.m_bAbort.load()) {
    if (session.m_hDataEvent) session.m_hDataEvent->Reset();
    if (!ScannerStillOn(session)) break;
    platform::Sleep(kLinePollMs);
  }

  if (!session.m_bAbort.load()) {
    if (session.m_hReceiveEvent) session.m_hReceiveEvent->Reset();
    ReleaseGonePort(session);
    reporter.EnablePortButton(true);
    // The pause ends early when the panel is torn down or a new run takes over.
    if (session.m_hExitEvent) {
      platform::WaitForAny({session.m_hExitEvent.get()}, kReleasePauseMs);
    } else {
      platform::Sleep(kReleasePauseMs);
    }
  }

  session.m_nReconnectPhase.store(0);

  if (!session.m_bAbort.load()) {
    // The text is the panel's word that it is handed back, so it comes last:
    // whoever sees it (the operator, a watching front end) also finds the
    // beep given and the reconnect state cleared.
    MessageBeep(0xFFFFFFFFu);
    reporter.ShowStatus("Turn scanner power off");
    // The loader's closing key. A scanner already switched off holds CTS low
    // and with it this write, until it comes up again or the port is closed.
    const char key = 'x';
    WritePort(session.m_hPort, &key, 1);
  }
}

// Runs the closing actions when the run is left, however it is left.
class ClosingGuard {
 public:
  ClosingGuard(PortSession& session, RunReporter& reporter, CRunRecorder* recorder)
      : session_(session), reporter_(reporter), recorder_(recorder) {}
  ClosingGuard(const ClosingGuard&) = delete;
  ClosingGuard& operator=(const ClosingGuard&) = delete;
  ~ClosingGuard() {
    try {
      ClosingActions(session_, reporter_, result_, record_.has_value() ? &*record_ : nullptr,
                     recorder_);
    } catch (...) {
      // The panel must still be given its thread back.
    }
  }
  void SetResult(UpdateStatus result) { result_ = result; }
  UpdateStatus Result() const { return result_; }

  // The programming begins on the identified scanner: the run gets its
  // record, which the sequence fills and the closing actions complete and
  // hand to the recorder.
  RunRecord* BeginRecord(const ScannerIdentity& identity) {
    OpenRecord& open = record_.emplace();
    open.startTick = platform::GetTickCount();
    RunRecord& record = open.record;
    record.start = platform::GetLocalTime();
    record.port = platform::WithoutDevicePrefix(session_.m_szPortName);
    record.family = identity.family;
    record.loaderVersion = identity.loaderVersion;
    record.boardVersion = identity.boardVersion;
    return &record;
  }

 private:
  PortSession& session_;
  RunReporter& reporter_;
  CRunRecorder* recorder_;
  UpdateStatus result_ = UPD_OK;
  std::optional<OpenRecord> record_;  // set once the programming began
};

UpdateStatus Connect(PortSession& session, RunReporter& reporter, ScannerIdentity& identity) {
  if (identity.identified) {
    // Identified before (by a USB panel's connect thread or an earlier run):
    // the receiver only needs its gate opened.
    if (session.m_hReceiveEvent) session.m_hReceiveEvent->Set();
    return UPD_OK;
  }
  const Identification found = IdentifyScanner(session, reporter, identity);
  identity = found.identity;
  return found.result;
}

}  // namespace

int sendProc(PortSession& session, RunReporter& reporter, const ScannerIdentity& known,
             const CRunSettingsSource& settings, CRunRecorder* recorder) {
  ClosingGuard closing(session, reporter, recorder);
  // The run's own identity of the scanner: what it was known as, and what
  // the identifications of this run learn.
  ScannerIdentity identity = known;
  UpdateStatus result = UPD_OK;
  try {
    result = Connect(session, reporter, identity);
    if (result != UPD_ABORTED) {
      platform::Sleep(0);
      if (identity.identified) {
        // Taken once the family is known, and kept for the whole run.
        const RunSettings run = settings.TakeRunSettings(identity.family, identity.boardVersion);
        RunRecord* record = closing.BeginRecord(identity);
        result = RunProgrammingSteps(session, reporter, run, identity, record);
      }
    }
  } catch (const std::bad_alloc&) {
    result = UPD_NO_MEMORY;
  } catch (...) {
    // A step left by an exception has failed; the closing actions say so.
    result = UPD_WAIT_FAILED;
  }
  // Whatever a step made of it, a run whose device vanished has failed.
  if (CurrentLineFault(session) == kLineDeviceGone) result = UPD_LINK_DOWN;
  closing.SetResult(result);
  return result;
}
