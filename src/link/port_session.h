// PortSession: what one open line to a scanner needs, for the port's threads
// to share: the port and its fixed line settings, the three hand-over events,
// the receive ring, the stop request, the line watch's state, the modem line
// copies, the reconnect phase and the traffic log. The receiver, the
// handshake, the waits, the line watch, the traffic log, the engine frame and
// the engines all work on a session; what they report goes to a RunReporter.
//
// Owned by the port panel (CCommDialog), which opens it, starts the threads
// on it and ends them.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "link/ring_buffer.h"
#include "platform/event.h"
#include "platform/serial_port.h"

class RunReporter;

// The port handle shared by the port's threads and the window thread. A copy
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

class PortSession {
 public:
  // Keeps the port's name (a name longer than m_szPortName holds is cut for
  // captions and never opened) and creates the events. logFolder gives the
  // folder the traffic logs go into, asked each time a log file is made.
  PortSession(const char* portName, std::function<std::string()> logFolder);
  ~PortSession();
  PortSession(const PortSession&) = delete;
  PortSession& operator=(const PortSession&) = delete;

  // Opens (if needed) and configures the port; creates missing events. A
  // port that does not take the fixed line settings is reported.
  void OpenPort();
  // Shows why the last OpenPort failed, in the opener's words.
  void ReportOpenFailure() const;
  // Closes the port: pending reads and writes on the port's threads fail at once.
  void ClosePort();
  // Gives the port back the settings it had before this program first
  // configured it (teardown).
  void RestoreLineSettings();
  // A copy of m_szLogFile for other threads.
  std::string GetLogFilePath() const;
  // Closes the traffic log's file (teardown, after the receiver has ended).
  void CloseLog();
  // The folder the traffic logs go into.
  std::string LogFolder() const { return logFolder_ ? logFolder_() : std::string(); }

  // ---- the line ----
  char m_szPortName[12] = {};
  PortHandle m_hPort;
  platform::LineSettings m_dcb{};
  platform::CommTimeouts m_timeouts{};
  // The settings the port had before this program first configured it;
  // valid once the first OpenPort read them.
  platform::LineSettings m_dcbSaved{};
  uint32_t m_dwCommMask = 0;
  // The system error of the last failed open of the port (0 after a good
  // open), and why in the opener's words (empty after a good open).
  int m_nOpenError = 0;
  std::string m_strOpenError;
  // The modem lines as last read (CTS, DSR).
  std::atomic<uint32_t> m_bCts{0};
  std::atomic<uint32_t> m_bDsr{0};

  // ---- hand-over between the receiver and the waits ----
  RingBuffer m_rxBuffer;
  // Set to end the port's threads (Reset, teardown, a new run taking over).
  std::unique_ptr<platform::Event> m_hExitEvent;
  // Set by the receiver for every block it puts in the ring.
  std::unique_ptr<platform::Event> m_hDataEvent;
  // The receive gate: the receiver reads only while it is set.
  std::unique_ptr<platform::Event> m_hReceiveEvent;
  // The port has been told to stop; every loop of its threads looks at it.
  std::atomic<bool> m_bAbort{false};
  // Receive forwarding: while clear the receiver drops what it reads.
  std::atomic<bool> m_bRxActive{false};
  // Selects the operator text the identification shows while it waits:
  // 0 power on, 1 logic device programmed, 3 cycle power.
  std::atomic<int> m_nReconnectPhase{0};

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

  // ---- traffic log (link/traffic_log.h) ----
  // Received blocks are logged; set once the log file is open.
  std::atomic<bool> m_bLogEnabled{false};
  // The open log file; written by the receiver (and by Start while the
  // receiver is parked).
  std::FILE* m_hLogFile = nullptr;
  char m_szLogFile[256] = {};
  // Guards m_szLogFile: the receiver renames the log when it rotates while
  // the log window reads the name.
  mutable std::mutex m_logPathMutex;
  int m_nLogIndex = 0;
  uint32_t m_dwLogBytes = 0;

 private:
  // Creates whichever of the three events does not exist yet; a failure is
  // the port's box.
  void CreateMissingEvents();
  std::function<std::string()> logFolder_;
  // m_dcbSaved holds the settings to restore.
  bool savedValid_ = false;
  // The name given was longer than m_szPortName holds.
  bool nameTooLong_ = false;
};

// The only way bytes leave for the scanner. Returns once the bytes are written
// (held while the scanner holds CTS low); FALSE when the port is closed or fails.
bool WritePort(const PortHandle& port, const void* data, uint32_t length);
bool WritePort(const platform::PortPtr& port, const void* data, uint32_t length);

// Set by the main window when it closes, before it destroys the panels: the
// receivers then stop reporting failed reads.
extern std::atomic<bool> g_bClosing;
