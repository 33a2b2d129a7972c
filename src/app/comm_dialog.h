// CCommDialog: one port panel, the composition root of a port. It owns the
// port's session (link/port_session.h: the line, its events and ring, the
// line watch and the traffic log) and the port's two threads, and implements
// the RunReporter those threads report to; what a front end shows is kept
// here as plain thread-safe values (status text, progress, button state, the
// identity of the scanner, the run's result).
//
// Created and destroyed by the main window (CProgrammerDlg) on the window
// thread; Start, Reset and the context menu commands also run there.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/panel_host.h"
#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/scanner_identity.h"
#include "link/update_status.h"
#include "platform/sync_string.h"

class CLogWin;

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

class CCommDialog final : public RunReporter {
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
  void OpenPort() { m_session.OpenPort(); }
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
  // The panel's initialisation; run by the constructor.
  void OnInitDialog();

  // ---- RunReporter: what the port's threads report ----
  // Once the port has been told to stop the text is dropped: a thread that
  // is only unwinding must not cover the "Reset" the operator just caused
  // with a stale step text.
  void ShowStatus(const std::string& text) override;
  void ShowClosingStatus(std::initializer_list<const char*> texts) override;
  void SetProgressRange(int low, int high) override { m_progress.SetRange(low, high); }
  void SetProgressPos(int pos) override { m_progress.SetPos(pos); }
  void ShowError(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowApiError(const std::string& text, int errorCode) override;
  void EnablePortButton(bool enable) override;
  // Clears m_bBusy as a transfer's end byte is about to go: from here until
  // the completion text (or its time-out) the scanner writes its flash and
  // must not be switched off. Makes a pending ResetWhenSafe instead, so that
  // the end byte that follows fails and no new write begins. Called by the
  // update engines.
  void BeginFlashWrite() override;
  // Sets m_bBusy again: the flash write has ended, or did not begin after
  // all. Makes a pending ResetWhenSafe. Called by the update engines.
  void EndFlashWrite() override;
  void ShowIdentity(const ScannerIdentity& identity) override;
  void ShowRunResult(int result) override { m_nRunResult.store(result); }

  // The identity of the scanner this panel identified last (all zero before
  // any); the next run starts from it.
  ScannerIdentity Identity() const;
  // A copy of the traffic log's file name.
  std::string GetLogFilePath() const { return m_session.GetLogFilePath(); }

  // ---- the port ----
  PortSession m_session;
  CPanelHost* m_pMainDlg = nullptr;
  uint16_t m_nPortIndex = 0;
  unsigned m_nTimerId = 0;
  // The log window open on this panel's traffic log (app/log_win.h).
  std::atomic<CLogWin*> m_pLogWin{nullptr};

  // ---- the port's threads ----
  std::thread::id m_dwRecvThreadId{};
  std::thread::id m_dwSendThreadId{};
  // Each set as the last act of its thread (true while none runs): after
  // that the panel may be released.
  std::atomic<bool> m_bRecvDone{true};
  std::atomic<bool> m_bSendDone{true};
  // True once both port threads have ended (or none was started).
  bool ThreadsDone() const { return m_bRecvDone.load() && m_bSendDone.load(); }

  // The context menu's Reset is offered (clear: Reset unavailable). Set as a
  // run starts; cleared from a transfer's end byte to its completion text,
  // while the scanner writes its flash (BeginFlashWrite, EndFlashWrite), and
  // when Start could not open the port. ResetWhenSafe resets at once only
  // while it is set (or once the run has shown its outcome).
  std::atomic<bool> m_bBusy{false};
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

  // ---- window side, as values a front end shows ----
  ProgressBar m_progress;
  platform::SyncString m_strStatus;
  // Port button (control 1000): caption and enabled state.
  platform::SyncString m_strButtonCaption;
  std::atomic<bool> m_bButtonEnabled{true};
  // Called (on the changing thread) when the button is enabled or disabled.
  void SetButtonObserver(std::function<void(bool)> observer);
  // The UpdateStatus the last programming run ended with, set as it shows
  // its outcome (-1 while none has).
  std::atomic<int> m_nRunResult{-1};

 private:
  void Teardown();
  // Reset's own part under m_resetMutex (held by the caller).
  void ResetLocked();
  // Makes a pending ResetWhenSafe (m_resetMutex held); true when it did.
  bool PendingResetLocked();
  // The flash write's bracket: m_bBusy is its opposite, and a ResetWhenSafe
  // waiting for either edge is made at it.
  void SetFlashWriting(bool writing);
  // Starts the receiver with both threads marked running; false (with the
  // port's box, both marked done) when the thread could not be made.
  bool StartReceiver();
  // Ends the threads of an earlier run before a new one starts: a receiver
  // left parked by a normally ended run (two receivers must never feed one
  // ring), and a programming thread still in its closing actions.
  void EndEarlierRun();
  void JoinThreads();
  // Starts a port thread that runs body and then sets done as its last
  // act; false (nothing started) when the system refuses.
  bool StartThread(std::thread& thread, std::thread::id& id, std::atomic<bool>& done,
                   std::function<void()> body);

  std::thread recvThread_;
  std::thread sendThread_;
  std::mutex buttonMutex_;  // guards buttonObserver_
  std::function<void(bool)> buttonObserver_;
  mutable std::mutex identityMutex_;  // guards identity_
  ScannerIdentity identity_;
};
