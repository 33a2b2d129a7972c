// The connection side of a port panel: opening and configuring the port,
// the write primitive, Start, Reset and the teardown.
//
// Threads: the receiver (rcvProc) and either the programming thread
// (sendProc) or a USB panel's connect thread (connectProc) run beside the
// window thread. They end through m_bAbort and the exit event, never by being
// killed; each sets its finished flag as its last act, and the window thread
// joins them before the panel is released. Anything that can hold a thread up
// (a write held while the scanner holds CTS low, a read, a wait on the ring,
// a full ring) ends once the exit event is set and the port is closed, so the
// window thread always does both before it waits; a box the thread shows no
// longer holds it once the wait has begun.
#include "link/comm_dialog.h"

#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "link/handshake.h"
#include "link/receiver.h"
#include "link/traffic_log.h"
#include "platform/message_box.h"
#include "ports/comm_sport.h"

std::atomic<bool> g_bClosing{false};

namespace {

// The device prefix of a USB panel's name (\\.\COM7).
constexpr size_t kDevicePrefixLength = 4;

// The fixed line: 57600 bits/s, 8 data bits, no parity, 1 stop bit, output
// held by CTS, RTS raised while there is room to receive, DTR on while open,
// no XON/XOFF. Every field not named is zero.
platform::LineSettings FixedLineSettings() {
  platform::LineSettings dcb{};
  dcb.DCBlength = 28;
  dcb.BaudRate = 57600;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = platform::DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = platform::RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = platform::NOPARITY;
  dcb.StopBits = platform::ONESTOPBIT;
  return dcb;
}

// A read completes 1 ms after the last byte of a burst; writes have no time-out.
platform::CommTimeouts FixedTimeouts() {
  platform::CommTimeouts timeouts{};
  timeouts.ReadIntervalTimeout = 1;
  return timeouts;
}

void CreateEventIfMissing(std::unique_ptr<platform::Event>& event, const char* portName,
                          const char* failureText) {
  if (event) return;
  event.reset(new (std::nothrow) platform::Event());
  if (!event) ShowError(portName, failureText);
}

void ResetEvent(const std::unique_ptr<platform::Event>& event) {
  if (event) event->Reset();
}

void SetEvent(const std::unique_ptr<platform::Event>& event) {
  if (event) event->Set();
}

}  // namespace

CCommDialog::CCommDialog(uint16_t portIndex, const char* portName, CPanelHost* parent)
    : m_pMainDlg(parent), m_nPortIndex(portIndex) {
  const char* name = portName != nullptr ? portName : "";
  const size_t length = std::strlen(name);
  nameTooLong_ = length >= sizeof m_szPortName;
  std::memcpy(m_szPortName, name, nameTooLong_ ? sizeof m_szPortName - 1 : length);
  // The events exist for the panel's whole life, so that no function of the
  // port ever meets a missing one; OpenPort only makes up for a failed creation.
  CreateEventIfMissing(m_hExitEvent, m_szPortName, "CreateEvent (Thread exit event)");
  CreateEventIfMissing(m_hDataEvent, m_szPortName, "CreateEvent (Data received event)");
  CreateEventIfMissing(m_hReceiveEvent, m_szPortName, "CreateEvent (Receive event)");
  m_rxBuffer.Reset();
  OnInitDialog();
}

CCommDialog::~CCommDialog() { Teardown(); }

std::string CCommDialog::GetLogFilePath() const {
  std::lock_guard<std::mutex> lock(m_logPathMutex);
  return m_szLogFile;
}

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

void CCommDialog::OnInitDialog() {
  const COMM_SPORT* row = m_nPortIndex >= 1 && m_nPortIndex <= kPortTableRows
                              ? &g_portTable[m_nPortIndex - 1]
                              : nullptr;
  if (row != nullptr && row->bUsb) {
    const size_t length = std::strlen(m_szPortName);
    const char* bare = length > kDevicePrefixLength ? m_szPortName + kDevicePrefixLength : m_szPortName;
    m_strButtonCaption.Set(std::string("USB ") + bare);
    m_strStatus.Set("USB scanner is connected.");
    OpenPort();
    if (!m_hPort.IsOpen()) {
      // Nothing to identify on a port that did not open; the button lets the
      // operator try again once the scanner is back.
      ReportOpenFailure();
      m_strStatus.Set("Failed to connect scanner!");
    } else {
      m_bAbort.store(false);
      m_bRxActive.store(true);
      m_nLineFault.store(0);
      m_bOutcomeShown.store(false);
      m_bRecvDone.store(false);
      m_bSendDone.store(false);
      if (!StartThread(recvThread_, m_dwRecvThreadId, rcvProc)) {
        m_bRecvDone.store(true);
        m_bSendDone.store(true);
        ShowError(m_szPortName, "CreateThread (Recv)");
        return;
      }
      m_rxBuffer.Reset();
      if (!StartThread(sendThread_, m_dwSendThreadId, connectProc)) {
        m_bSendDone.store(true);
        ShowError(m_szPortName, "CreateThread (Connect)");
        return;
      }
    }
  } else {
    m_strButtonCaption.Set(m_szPortName);
    m_strStatus.Set("Turn scanner power off");
  }

  m_nTimerId = 1;

  m_bLogEnabled.store(false);
  if (row != nullptr && row->bLog) {
    m_nLogIndex = 0;
    m_dwLogBytes = 0;
    InitLogFile(this);
    // Published after the file is open: a running receiver logs only from here on.
    m_bLogEnabled.store(true);
  }
}

void CCommDialog::OpenPort() {
  if (!m_hPort.IsOpen()) {
    CreateEventIfMissing(m_hExitEvent, m_szPortName, "CreateEvent (Thread exit event)");
    CreateEventIfMissing(m_hDataEvent, m_szPortName, "CreateEvent (Data received event)");
    CreateEventIfMissing(m_hReceiveEvent, m_szPortName, "CreateEvent (Receive event)");
    if (nameTooLong_) {
      m_nOpenError = platform::kErrorInvalidParameter;
      m_strOpenError = platform::SystemErrorText(m_nOpenError);
    } else {
      int error = 0;
      std::string why;
      platform::PortPtr port = platform::OpenSerialPort(m_szPortName, error, why);
      m_nOpenError = port ? 0 : (error != 0 ? error : platform::kErrorFileNotFound);
      m_strOpenError = port ? std::string() : why;
      m_hPort.Set(std::move(port));
    }
  }

  if (platform::PortPtr port = m_hPort.Get()) {
    if (!savedValid_) {
      platform::LineSettings saved{};
      if (port->GetCommState(saved)) {
        m_dcbSaved = saved;
        savedValid_ = true;
      }
    }
    m_timeouts = FixedTimeouts();
    port->SetCommTimeouts(m_timeouts);
    m_dcb = FixedLineSettings();
    // The port reads the settings back; a line that does not run 57600 8N1
    // with RTS/CTS would garble every transfer, so say so.
    if (!port->SetCommState(m_dcb)) {
      ShowApiError(m_szPortName, "SetCommState in OpenPort", port->LastError());
    }
  }

  ResetEvent(m_hReceiveEvent);
  m_dwCommMask = platform::EV_RXCHAR;
}

void CCommDialog::ReportOpenFailure() {
  // In the opener's words: on POSIX they name the device the port led to
  // and, for one the user may not open, the group that may.
  ShowApiErrorDetails(m_szPortName, "CreateFile in OpenPort",
                      m_strOpenError.empty() ? platform::SystemErrorText(m_nOpenError)
                                             : m_strOpenError);
}

bool CCommDialog::StartThread(std::thread& thread, std::thread::id& id,
                              ProgrammingRoutine routine) {
  try {
    thread = std::thread(std::move(routine), this);
  } catch (const std::system_error&) {
    return false;
  }
  id = thread.get_id();
  return true;
}

void CCommDialog::ClosePort() {
  if (platform::PortPtr port = m_hPort.Get()) port->Close();
  m_hPort.Set(nullptr);
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
    m_bAbort.store(true);
    SetEvent(m_hExitEvent);
    ClosePort();
  }
  // A receiver left parked at its gate by a normally ended run ends on the
  // exit event.
  SetEvent(m_hExitEvent);
  JoinThreads();
  ResetEvent(m_hExitEvent);
}

void CCommDialog::Start() {
  Start(m_pMainDlg != nullptr ? m_pMainDlg->GetProgrammingRoutine() : ProgrammingRoutine{});
}

void CCommDialog::Start(ProgrammingRoutine routine) {
  if (!routine) return;
  // The threads of an earlier run end first: a connect thread that is told to
  // stop gives the button back as it ends, and the button must end disabled.
  EndEarlierRun();
  EnablePortButton(false);

  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    m_bResetPending = false;
    m_bSafeResetDone = false;
  }
  m_bBusy.store(true);
  m_bAbort.store(false);
  m_bRxActive.store(true);
  m_nLineFault.store(0);
  m_bBannerWatch.store(false);
  m_bStepWatch.store(false);
  m_bOutcomeShown.store(false);
  m_nRunResult.store(-1);

  OpenPort();
  if (!m_hPort.IsOpen()) {
    // No receiver would read and no scanner could answer: report the port
    // and give the panel back.
    ReportOpenFailure();
    m_bBusy.store(false);
    m_bRxActive.store(false);
    EnablePortButton(true);
    return;
  }

  ResetEvent(m_hExitEvent);
  ResetEvent(m_hDataEvent);
  ResetEvent(m_hReceiveEvent);

  m_bRecvDone.store(false);
  m_bSendDone.store(false);

  if (!StartThread(recvThread_, m_dwRecvThreadId, rcvProc)) {
    m_bRecvDone.store(true);
    m_bSendDone.store(true);
    ShowError(m_szPortName, "CreateThread (Recv)");
    return;
  }

  // The receiver waits at its gate until the handshake or the programming
  // thread opens it, so the header and the emptying of the ring never race
  // with it.
  if (m_bLogEnabled.load()) WriteLogHeader(this);
  m_rxBuffer.Reset();

  if (!StartThread(sendThread_, m_dwSendThreadId, std::move(routine))) {
    m_bSendDone.store(true);
    ShowError(m_szPortName, "CreateThread (Send)");
  }
}

void CCommDialog::Reset() {
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    ResetLocked();
  }
  ShowNotice(m_szPortName, "Turn scanner power off");
}

bool CCommDialog::ResetWhenSafe() {
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    if (m_bSafeResetDone) return true;
    if (!m_bBusy.load() && !m_bOutcomeShown.load()) {
      m_bResetPending = true;
      return false;
    }
    m_bResetPending = false;
    m_bSafeResetDone = true;
    ResetLocked();
  }
  ShowNotice(m_szPortName, "Turn scanner power off");
  return true;
}

void CCommDialog::BeginFlashWrite() {
  bool reset = false;
  {
    // Under the reset lock: a ResetWhenSafe that saw m_bBusy set has closed
    // the port before this returns, so the end byte that follows fails.
    std::lock_guard<std::mutex> lock(m_resetMutex);
    m_bBusy.store(false);
    reset = PendingResetLocked();
  }
  if (reset) ShowNotice(m_szPortName, "Turn scanner power off");
}

void CCommDialog::EndFlashWrite() {
  bool reset = false;
  {
    std::lock_guard<std::mutex> lock(m_resetMutex);
    m_bBusy.store(true);
    reset = PendingResetLocked();
  }
  if (reset) ShowNotice(m_szPortName, "Turn scanner power off");
}

bool CCommDialog::PendingResetLocked() {
  if (!m_bResetPending) return false;
  m_bResetPending = false;
  // Closed meanwhile (Reset, or the panel's teardown as the program leaves):
  // the wait was cut short, not the write ended, and the scanner may well
  // still write its flash. Nothing must ask for it to be switched off.
  if (m_bAbort.load()) return false;
  m_bSafeResetDone = true;
  ResetLocked();
  return true;
}

void CCommDialog::ResetLocked() {
  ResetEvent(m_hReceiveEvent);
  m_bRxActive.store(false);
  m_bAbort.store(true);
  SetEvent(m_hExitEvent);
  // Pending reads and writes fail at once; the threads end on their own and
  // are joined at teardown. The programming thread does not give the button
  // back: the panel stays unusable.
  ClosePort();
  m_progress.SetPos(0);
  m_strStatus.Set("Reset");
}

void CCommDialog::ShowStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_resetMutex);
  if (!m_bAbort.load()) m_strStatus.Set(text);
}

void CCommDialog::Teardown() {
  if (m_hPort.IsOpen() || !ThreadsDone() || recvThread_.joinable() || sendThread_.joinable()) {
    m_bAbort.store(true);
    SetEvent(m_hExitEvent);
  }
  if (platform::PortPtr port = m_hPort.Get()) {
    if (savedValid_) port->SetCommState(m_dcbSaved);
  }
  // Closed before the wait: a write held by CTS or a pending read would
  // otherwise keep its thread, and so the window thread, waiting forever.
  ClosePort();
  JoinThreads();
  if (m_hLogFile != nullptr) {
    std::fclose(m_hLogFile);
    m_hLogFile = nullptr;
  }
}

bool WritePort(const platform::PortPtr& port, const void* data, uint32_t length) {
  if (!port) return false;
  return port->Write(data, length);
}

bool WritePort(const PortHandle& port, const void* data, uint32_t length) {
  return WritePort(port.Get(), data, length);
}
