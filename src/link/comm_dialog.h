// CCommDialog: one port panel. Its connection side owns the port, the fixed
// line settings, the three hand-over events, the receive ring, the flags the
// port's threads share and the traffic log; its window side is kept here as
// plain thread-safe values (status text, progress, button state) that a front
// end shows. Every thread of the port and every link, file and engine
// function takes the panel as its argument. What describes the port's
// scanner (its family, loader and board versions, the reconnect phase) lives
// here, so two ports never share such a value.
//
// Created and destroyed by the main window (CProgrammerDlg) on the window
// thread; Start, Reset and the context menu commands also run there.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/panel_host.h"
#include "link/ring_buffer.h"
#include "link/scanner_family.h"
#include "link/update_status.h"
#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/sync_string.h"

class CLogWin;

// Bit of m_dwStatusFlags: the scanner has been identified on this panel.
constexpr uint32_t kScannerIdentified = 0x10000000u;

// The port handle shared by the panel's threads and the window thread. A copy
// taken by a thread stays valid after Reset closed and dropped the port; the
// copy's calls then fail.
class PortHandle {
 public:
  platform::PortPtr Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_;
  }
  void Set(platform::PortPtr port) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_ = std::move(port);
  }
  bool IsOpen() const { return Get() != nullptr; }

 private:
  mutable std::mutex mutex_;  // guards port_
  platform::PortPtr port_;
};

// The progress bar model: range and position, written by the port's threads.
class ProgressBar {
 public:
  void SetRange(int low, int high) {
    low_.store(low);
    high_.store(high);
    Notify();
  }
  void SetPos(int pos) {
    pos_.store(pos);
    Notify();
  }
  int GetPos() const { return pos_.load(); }
  int GetLow() const { return low_.load(); }
  int GetHigh() const { return high_.load(); }
  void SetObserver(std::function<void(int)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
  }

 private:
  void Notify() {
    std::function<void(int)> observer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      observer = observer_;
    }
    if (observer) observer(pos_.load());
  }
  std::atomic<int> low_{0};
  std::atomic<int> high_{100};
  std::atomic<int> pos_{0};
  std::mutex mutex_;  // guards observer_
  std::function<void(int)> observer_;
};

class CCommDialog {
 public:
  // Stores the arguments and initialises the panel at once (OnInitDialog): a
  // USB panel (its g_portTable row has bUsb) opens its port and starts
  // identifying the scanner; an RS-232 panel does not touch its port.
  CCommDialog(uint16_t portIndex, const char* portName, CPanelHost* parent);
  // Teardown: ends the threads (never hangs), restores the saved line
  // settings, closes port and log.
  ~CCommDialog();
  CCommDialog(const CCommDialog&) = delete;
  CCommDialog& operator=(const CCommDialog&) = delete;

  // Opens (if needed) and configures the port; creates the events on first use.
  void OpenPort();
  // The port button: starts the receiver and the programming thread, which
  // runs the given routine. Without a routine nothing starts.
  void Start(ProgrammingRoutine routine);
  // The port button as the operator presses it: the routine is the one the
  // main window gives for a run that starts now.
  void Start();
  // The context menu's Reset: parks and aborts the threads and closes the port.
  void Reset();
  // Reset on the operator's behalf, but never while the scanner writes its
  // flash. While m_bBusy is set, or once the run has shown its outcome, the
  // port is reset at once. While m_bBusy is clear within the steps (from a
  // transfer's end byte to its completion text) the reset is left pending
  // and made by the programming thread at the first safe point: as the
  // write ends (EndFlashWrite), or before another end byte would start a
  // new write (BeginFlashWrite). True once the port has been reset, now or
  // by the pending request; call again to learn it. Used by a front end
  // that stops ports for the operator (vantorel-cli's Ctrl-C).
  bool ResetWhenSafe();
  // Clears m_bBusy as a transfer's end byte is about to go: from here until
  // the completion text (or its time-out) the scanner writes its flash and
  // must not be switched off. Makes a pending ResetWhenSafe instead, so that
  // the end byte that follows fails and no new write begins. Called by the
  // update engines.
  void BeginFlashWrite();
  // Sets m_bBusy again: the flash write has ended, or did not begin after
  // all. Makes a pending ResetWhenSafe. Called by the update engines.
  void EndFlashWrite();
  // A status text from one of the port's threads. Once the port has been told
  // to stop the text is dropped: a thread that is only unwinding must not
  // cover the "Reset" the operator just caused with a stale step text.
  void ShowStatus(const std::string& text);
  // The panel's initialisation; run by the constructor.
  void OnInitDialog();

  // ---- connection members ----
  CPanelHost* m_pMainDlg = nullptr;
  std::atomic<CLogWin*> m_pLogWin{nullptr};
  std::atomic<bool> m_bLogEnabled{false};
  std::atomic<bool> m_bRxActive{false};
  unsigned m_nTimerId = 0;
  std::atomic<int> m_nLoaderVersion{0};
  std::atomic<int> m_nBoardVersion{0};
  // Family of the scanner this panel identified last (kNone before any).
  // Written by this panel's handshake only.
  std::atomic<ScannerFamily> m_nFamily{ScannerFamily::kNone};
  // Selects the operator text this panel's identification shows while it
  // waits: 0 power on, 1 logic device programmed, 3 cycle power.
  std::atomic<int> m_nReconnectPhase{0};
  std::atomic<uint32_t> m_dwStatusFlags{0};
  // The special block (serial number and the scanner's own data) read from
  // this panel's scanner during the current run; empty until it is read.
  // Written and read by the programming thread only (runs on a panel follow
  // each other), for the run's result record.
  std::vector<uint8_t> m_specialBlock;
  PortHandle m_hPort;
  char m_szPortName[12] = {};
  platform::LineSettings m_dcb{};
  platform::CommTimeouts m_timeouts{};
  std::thread::id m_dwRecvThreadId{};
  std::thread::id m_dwSendThreadId{};
  RingBuffer m_rxBuffer;
  std::atomic<uint32_t> m_bCts{0};
  std::atomic<uint32_t> m_bDsr{0};
  platform::LineSettings m_dcbSaved{};
  std::atomic<bool> m_bAbort{false};
  std::unique_ptr<platform::Event> m_hExitEvent;
  std::unique_ptr<platform::Event> m_hDataEvent;
  std::unique_ptr<platform::Event> m_hReceiveEvent;
  uint32_t m_dwCommMask = 0;
  std::atomic<bool> m_bBusy{false};
  char m_szLogFile[256] = {};
  // Guards m_szLogFile: the receiver renames the log when it rotates while
  // the log window reads the name.
  mutable std::mutex m_logPathMutex;
  // A copy of m_szLogFile for other threads.
  std::string GetLogFilePath() const;
  std::FILE* m_hLogFile = nullptr;
  // Guards the status text against Reset: Reset stops the port and shows
  // "Reset" as one step under it, and a thread's text (ShowStatus, the connect
  // thread's closing text) is written under it too. So an unwinding thread
  // never covers "Reset" with a stale step text, and a connect thread that
  // Reset ends always leaves its own closing text last.
  std::mutex m_resetMutex;
  // A ResetWhenSafe waits for the flash write to end; guarded by m_resetMutex.
  bool m_bResetPending = false;
  // ResetWhenSafe's reset has been made; guarded by m_resetMutex.
  bool m_bSafeResetDone = false;
  int m_nLogIndex = 0;
  uint32_t m_dwLogBytes = 0;
  std::atomic<bool> m_bRecvDone{true};
  std::atomic<bool> m_bSendDone{true};
  ProgressBar m_progress;
  platform::SyncString m_strStatus;
  uint16_t m_nPortIndex = 0;

  // ---- window side, as values a front end shows ----
  // Port button (control 1000): caption and enabled state.
  platform::SyncString m_strButtonCaption;
  std::atomic<bool> m_bButtonEnabled{true};
  // Called (on the changing thread) when the button is enabled or disabled.
  void SetButtonObserver(std::function<void(bool)> observer);
  void EnablePortButton(bool enable);

  // True once both port threads have ended (or none was started).
  bool ThreadsDone() const { return m_bRecvDone.load() && m_bSendDone.load(); }

  // The system error of the last failed open of the port (0 after a good open),
  // and why in the opener's words (empty after a good open).
  int m_nOpenError = 0;
  std::string m_strOpenError;

  // ---- line watch (link/line_watch.h) ----
  // The LineFault noted during the current run; cleared by Start.
  std::atomic<int> m_nLineFault{0};
  // The receiver looks for the loader's banner in what it reads, forwarded
  // or not, while a step streams a file or awaits its completion text.
  std::atomic<bool> m_bBannerWatch{false};
  // A step of the run is under way: DSR low, or changed since the step
  // began, is a restart of the scanner.
  std::atomic<bool> m_bStepWatch{false};
  // The port's count of DSR changes when the current step armed the watch
  // (kNoDsrCount when the port cannot count them).
  std::atomic<uint32_t> m_dwDsrChangesAtStep{0xFFFFFFFFu};
  // The run has shown its outcome: from here on a vanishing device is the
  // operator switching the scanner off, not a fault.
  std::atomic<bool> m_bOutcomeShown{false};
  // The UpdateStatus the last programming run ended with, set as it shows
  // its outcome (-1 while none has).
  std::atomic<int> m_nRunResult{-1};

 private:
  void Teardown();
  // Reset's own part under m_resetMutex (held by the caller).
  void ResetLocked();
  // Makes a pending ResetWhenSafe (m_resetMutex held); true when it did.
  bool PendingResetLocked();
  // Ends the threads of an earlier run before a new one starts: a receiver
  // left parked by a normally ended run (two receivers must never feed one
  // ring), and a programming thread still in its closing actions.
  void EndEarlierRun();
  void JoinThreads();
  // Closes the port: pending reads and writes on the port's threads fail at once.
  void ClosePort();
  // Starts a port thread; false (nothing started) when the system refuses.
  bool StartThread(std::thread& thread, std::thread::id& id, ProgrammingRoutine routine);
  void ReportOpenFailure();

  // m_dcbSaved holds the settings the port had before this program first
  // configured it; only those are restored at teardown.
  bool savedValid_ = false;
  // The name given was longer than m_szPortName holds: the cut name is shown
  // in captions but never opened, since it could name another port.
  bool nameTooLong_ = false;

  std::thread recvThread_;
  std::thread sendThread_;
  std::mutex buttonMutex_;  // guards buttonObserver_
  std::function<void(bool)> buttonObserver_;
};

// The only way bytes leave for the scanner. Returns once the bytes are written
// (held while the scanner holds CTS low); FALSE when the port is closed or fails.
bool WritePort(const PortHandle& port, const void* data, uint32_t length);
bool WritePort(const platform::PortPtr& port, const void* data, uint32_t length);

// Set by the main window when it closes, before it destroys the panels: the
// receivers then stop reporting failed reads.
extern std::atomic<bool> g_bClosing;
