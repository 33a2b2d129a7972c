// The port panel: Start, Reset and the teardown of a port's threads, and the
// values a front end shows for the port.
//
// Threads: the receiver (rcvProc) and either the programming thread (the
// programming routine, sendProc) or a USB panel's connect thread
// (connectProc) run beside the window thread, on the panel's session and
// reporting to the panel. They end through m_bAbort and the exit event, never
// by being killed; each sets its finished flag as its last act, and the
// window thread joins them before the panel is released. Anything that can
// hold a thread up (a write held while the scanner holds CTS low, a read, a
// wait on the ring, a full ring) ends once the exit event is set and the port
// is closed, so the window thread always does both before it waits; a box
// the thread shows no longer holds it once the wait has begun.
#include "app/comm_dialog.h"

#include <cstring>
#include <string>
#include <system_error>

#include "link/handshake.h"
#include "link/receiver.h"
#include "link/traffic_log.h"
#include "platform/message_box.h"
#include "ports/comm_sport.h"

namespace {

// The device prefix of a USB panel's name (\\.\COM7).
constexpr size_t kDevicePrefixLength = 4;

void ResetEvent(const std::unique_ptr<platform::Event>& event) {
  if (event) event->Reset();
}

void SetEvent(const std::unique_ptr<platform::Event>& event) {
  if (event) event->Set();
}

}  // namespace

CCommDialog::CCommDialog(uint16_t portIndex, const char* portName, CPanelHost* parent)
    : m_session(portName,
                [parent] { return parent != nullptr ? parent->GetLogFolder() : std::string(); }),
      m_pMainDlg(parent),
      m_nPortIndex(portIndex) {
  OnInitDialog();
}

CCommDialog::~CCommDialog() { Teardown(); }

void CCommDialog::SetButtonObserver(std::function<void(bool)> observer) {
  std::lock_guard<std::mutex> lock(buttonMutex_);
  buttonObserver_ = std::move(observer);
}

void CCommDialog::EnablePortButton(bool enable) {
  m_bButtonEnabled.store(enable);
  std::function<void(bool)> observer;
  {
    std::lock_guard<std::mutex> lock(buttonMutex_);
    observer = buttonObserver_;
  }
  if (observer) observer(enable);
}

ScannerIdentity CCommDialog::Identity() const {
  std::lock_guard<std::mutex> lock(identityMutex_);
  return identity_;
}

void CCommDialog::ShowIdentity(const ScannerIdentity& identity) {
  std::lock_guard<std::mutex> lock(identityMutex_);
  identity_ = identity;
}

void CCommDialog::ShowError(const std::string& text) { ::ShowError(m_session.m_szPortName, text); }

void CCommDialog::ShowWarning(const std::string& text) {
  ::ShowWarning(m_session.m_szPortName, text);
}

void CCommDialog::ShowApiError(const std::string& text, int errorCode) {
  ::ShowApiError(m_session.m_szPortName, text, errorCode);
}

void CCommDialog::OnInitDialog() {
  const COMM_SPORT* row = m_nPortIndex >= 1 && m_nPortIndex <= kPortTableRows
                              ? &g_portTable[m_nPortIndex - 1]
                              : nullptr;
  PortSession& s = m_session;
  if (row != nullptr && row->bUsb) {
    const size_t length = std::strlen(s.m_szPortName);
    const char* bare =
        length > kDevicePrefixLength ? s.m_szPortName + kDevicePrefixLength : s.m_szPortName;
    m_strButtonCaption.Set(std::string("USB ") + bare);
    m_strStatus.Set("USB scanner is connected.");
    s.OpenPort();
    if (!s.m_hPort.IsOpen()) {
      // Nothing to identify on a port that did not open; the button lets the
      // operator try again once the scanner is back.
      s.ReportOpenFailure();
      m_strStatus.Set("Failed to connect scanner!");
    } else {
      s.m_bAbort.store(false);
      s.m_bRxActive.store(true);
      s.m_nLineFault.store(0);
      s.m_bOutcomeShown.store(false);
      if (!StartReceiver()) return;
      s.m_rxBuffer.Reset();
      const ScannerIdentity known = Identity();
      if (!StartThread(sendThread_, m_dwSendThreadId, m_bSendDone,
                       [this, known] { connectProc(m_session, *this, known); })) {
        m_bSendDone.store(true);
        ::ShowError(s.m_szPortName, "CreateThread (Connect)");
        return;
      }
    }
  } else {
    m_strButtonCaption.Set(s.m_szPortName);
    m_strStatus.Set("Turn scanner power off");
  }

  m_nTimerId = 1;

  s.m_bLogEnabled.store(false);
  if (row != nullptr && row->bLog) {
    s.m_nLogIndex = 0;
    s.m_dwLogBytes = 0;
    InitLogFile(s, *this);
    // Published after the file is open: a running receiver logs only from here on.
    s.m_bLogEnabled.store(true);
  }
}

bool CCommDialog::StartThread(std::thread& thread, std::thread::id& id, std::atomic<bool>& done,
                              std::function<void()> body) {
  try {
    thread = std::thread([body = std::move(body), &done] {
      // The last act, however the body is left: after this the panel may be
      // released.
      struct Finish {
        std::atomic<bool>& done;
        ~Finish() { done.store(true); }
      } finish{done};
      body();
    });
  } catch (const std::system_error&) {
    return false;
  }
  id = thread.get_id();
  return true;
}

bool CCommDialog::StartReceiver() {
  // Both marked running before either starts, so the panel is never taken
  // for released between the two threads' starts.
  m_bRecvDone.store(false);
  m_bSendDone.store(false);
  if (StartThread(recvThread_, m_dwRecvThreadId, m_bRecvDone,
                  [this] { rcvProc(m_session, *this); })) {
    return true;
  }
  m_bRecvDone.store(true);
  m_bSendDone.store(true);
  ::ShowError(m_session.m_szPortName, "CreateThread (Recv)");
  return false;
}

void CCommDialog::JoinThreads() {
  // A thread being ended may sit in a box (a failed read after the scanner
  // was unplugged, a board that gave no id) that only the operator closes,
  // and the operator cannot close it while the window thread waits here. Its
  // boxes are therefore released first: each stays on screen as a notice,
  // and the thread, already told to stop, goes on to its end at once.
  // Pumping the window's messages during the wait was not chosen: it would
  // run the window's commands (this panel's own, the main window's close)
  // in the middle of Start or of the teardown. Nor was ending the threads
  // off the window thread: Start would then finish later, on another
  // thread, only once the operator had answered the earlier run's box.
  platform::ScopedBoxRelease release({recvThread_.get_id(), sendThread_.get_id()});
  if (recvThread_.joinable()) recvThread_.join();
  if (sendThread_.joinable()) sendThread_.join();
}

void CCommDialog::EndEarlierRun() {
  if (!recvThread_.joinable() && !sendThread_.joinable()) return;
  if (sendThread_.joinable() && !m_bSendDone.load()) {
    // The programming thread re-enables the button before its last closing
    // actions, and may then be holding the closing key while the switched-off
    // scanner holds CTS low; a USB panel's connect thread may still be
    // identifying. Either is told to stop, and closing the port releases a
    // held write. The next OpenPort opens the port again.
    m_session.m_bAbort.store(true);
    SetEvent(m_session.m_hExitEvent);
    m_session.ClosePort();
  }
  // A receiver left parked at its gate by a normally ended run ends on the
  // exit event.
  SetEvent(m_session.m_hExitEvent);
  JoinThreads();
  ResetEvent(m_session.m_hExitEvent);
}

void CCommDialog::Start() {
  Start(m_pMainDlg != nullptr ? m_pMainDlg->GetProgrammingRoutine(*this) : ProgrammingRoutine{});
}

void CCommDialog::Start(ProgrammingRoutine routine) {
  if (!routine) return;
  // The threads of an earlier run end first: a connect thread that is told to
  // stop gives the button back as it ends, and the button must end disabled.
  EndEarlierRun();
  EnablePortButton(false);

  PortSession& s = m_session;
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    m_bResetPending = false;
    m_bSafeResetDone = false;
  }
  m_bBusy.store(true);
  s.m_bAbort.store(false);
  s.m_bRxActive.store(true);
  s.m_nLineFault.store(0);
  s.m_bBannerWatch.store(false);
  s.m_bStepWatch.store(false);
  s.m_bOutcomeShown.store(false);
  m_nRunResult.store(-1);

  s.OpenPort();
  if (!s.m_hPort.IsOpen()) {
    // No receiver would read and no scanner could answer: report the port
    // and give the panel back.
    s.ReportOpenFailure();
    m_bBusy.store(false);
    s.m_bRxActive.store(false);
    EnablePortButton(true);
    return;
  }

  ResetEvent(s.m_hExitEvent);
  ResetEvent(s.m_hDataEvent);
  ResetEvent(s.m_hReceiveEvent);

  if (!StartReceiver()) return;

  // The receiver waits at its gate until the handshake or the programming
  // thread opens it, so the header and the emptying of the ring never race
  // with it.
  if (s.m_bLogEnabled.load()) WriteLogHeader(s, *this);
  s.m_rxBuffer.Reset();

  const ScannerIdentity known = Identity();
  if (!StartThread(sendThread_, m_dwSendThreadId, m_bSendDone,
                   [this, known, routine = std::move(routine)] {
                     routine(m_session, *this, known);
                   })) {
    m_bSendDone.store(true);
    ::ShowError(s.m_szPortName, "CreateThread (Send)");
  }
}

void CCommDialog::Reset() {
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    ResetLocked();
  }
  ShowNotice(m_session.m_szPortName, "Turn scanner power off");
}

bool CCommDialog::ResetWhenSafe() {
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    if (m_bSafeResetDone) return true;
    if (!m_bBusy.load() && !m_session.m_bOutcomeShown.load()) {
      m_bResetPending = true;
      return false;
    }
    m_bResetPending = false;
    m_bSafeResetDone = true;
    ResetLocked();
  }
  ShowNotice(m_session.m_szPortName, "Turn scanner power off");
  return true;
}

void CCommDialog::BeginFlashWrite() { SetFlashWriting(true); }

void CCommDialog::EndFlashWrite() { SetFlashWriting(false); }

void CCommDialog::SetFlashWriting(bool writing) {
  bool reset = false;
  {
    // Under the reset lock: a ResetWhenSafe that saw m_bBusy set has closed
    // the port before this returns, so the end byte that follows fails.
    std::lock_guard<std::mutex> lock(m_resetMutex);
    m_bBusy.store(!writing);
    reset = PendingResetLocked();
  }
  if (reset) ShowNotice(m_session.m_szPortName, "Turn scanner power off");
}

bool CCommDialog::PendingResetLocked() {
  if (!m_bResetPending) return false;
  m_bResetPending = false;
  // Closed meanwhile (Reset, or the panel's teardown as the program leaves):
  // the wait was cut short, not the write ended, and the scanner may well
  // still write its flash. Nothing must ask for it to be switched off.
  if (m_session.m_bAbort.load()) return false;
  m_bSafeResetDone = true;
  ResetLocked();
  return true;
}

void CCommDialog::ResetLocked() {
  ResetEvent(m_session.m_hReceiveEvent);
  m_session.m_bRxActive.store(false);
  m_session.m_bAbort.store(true);
  SetEvent(m_session.m_hExitEvent);
  // Pending reads and writes fail at once; the threads end on their own and
  // are joined at teardown. The programming thread does not give the button
  // back: the panel stays unusable.
  m_session.ClosePort();
  m_progress.SetPos(0);
  m_strStatus.Set("Reset");
}

void CCommDialog::ShowStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_resetMutex);
  if (!m_session.m_bAbort.load()) m_strStatus.Set(text);
}

void CCommDialog::ShowClosingStatus(std::initializer_list<const char*> texts) {
  // Under Reset's lock: a Reset that ends the thread has shown "Reset" by
  // now, and these texts come after it.
  std::lock_guard<std::mutex> lock(m_resetMutex);
  for (const char* text : texts) m_strStatus.Set(text);
}

void CCommDialog::Teardown() {
  PortSession& s = m_session;
  if (s.m_hPort.IsOpen() || !ThreadsDone() || recvThread_.joinable() ||
      sendThread_.joinable()) {
    s.m_bAbort.store(true);
    SetEvent(s.m_hExitEvent);
  }
  s.RestoreLineSettings();
  // Closed before the wait: a write held by CTS or a pending read would
  // otherwise keep its thread, and so the window thread, waiting forever.
  s.ClosePort();
  JoinThreads();
  s.CloseLog();
}
