// vantorel-cli: the headless front end for production lines and scripts.
//
// It loads the station's settings from ZANDRIC.INI the way the main window
// does, makes one port panel per port named on the command line, presses every
// port button at once and reports each panel's status line and every message
// box as text lines, until every programming run has ended. The main program
// (main.cpp) only hands over the arguments and the streams; everything else
// lives here so the tests can drive it in-process.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "update/run_record.h"

class CCommDialog;
class CProgrammerDlg;

namespace vtcli {

// Exit codes of the program.
constexpr int kExitOk = 0;      // every run ended with result 0
constexpr int kExitFailed = 1;  // a run failed, was aborted or could not start
constexpr int kExitUsage = 2;   // the command line was not understood

// A port named on the command line and where it leads in the port table.
// COMn (n = 1..20) is the RS-232 port of row n-1; ZEVn (n = 0..19) is the USB
// port of row n, whose panel is named by its device path \\.\ZEVn and
// identifies the scanner on its own as soon as it exists.
struct PortSpec {
  std::string name;       // canonical form: COM3, ZEV2 (the lines are prefixed with it)
  int row = 0;            // row in g_portTable
  bool usb = false;       // a port of the scanners' USB driver
  std::string panelName;  // the panel's m_szPortName: COM3 or \\.\ZEV2
};

// Accepts COMn and ZEVn in any letter case, n in range, written without
// leading zeros or signs. False for anything else.
bool ParsePortName(const std::string& text, PortSpec& out);

struct Arguments {
  bool demo = false;
  bool help = false;
  bool check = false;      // --check: the pre-flight of ZANDRIC.INI
  std::string checkImage;  // --check-image FILE: the pre-flight of one image
  bool initDb = false;     // --init-db: create the results database's tables
  bool sync = false;       // --sync: send the runs the database has not confirmed
  bool report = false;     // --report: runs per family and day, failures, serial blocks
  std::string since;       // --since DATE (YYYY-MM-DD): report runs from that day on
  std::string station;     // --station NAME: report one station's runs
  std::string html;        // --html FILE: the report as one page
  std::vector<PortSpec> ports;
};

// Parses the arguments after the program name. Returns an empty string on
// success, else the reason for the usage error.
std::string ParseArguments(const std::vector<std::string>& args, Arguments& out);

// The usage text (several lines, each ending in a line feed).
std::string UsageText();

// A message text as one output line: every run of CR and LF becomes one space,
// trailing blanks are dropped.
std::string OneLine(const std::string& text);

// The text output of the program. Every line goes out whole under one lock, so
// lines written by the port threads never interleave. On a terminal it also
// keeps one progress bar per port below the lines.
class Console {
 public:
  // out is not owned. drawProgress: keep progress bars (only for a terminal).
  Console(std::FILE* out, bool drawProgress);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void Line(const std::string& text);
  // Called with every line once it is printed, on the printing thread and
  // under the console's lock (so it must not print). Set it before any line
  // is printed; a test follows the output with it.
  void SetLineObserver(std::function<void(const std::string&)> observer);
  // Adds a progress bar for a port; returns its index.
  int AddBar(const std::string& name);
  // Sets a bar to pos within low..high. Redraws only when the shown figure moves.
  void SetProgress(int bar, int pos, int low, int high);
  // Removes the bars from the screen (the end of the run).
  void EndBars();

 private:
  struct Bar {
    std::string name;
    int permille = 0;
  };
  void EraseBarsLocked();
  void DrawBarsLocked();

  std::FILE* out_;
  const bool drawProgress_;
  std::mutex mutex_;  // guards the stream, bars_ and barsShown_
  std::vector<Bar> bars_;
  int barsShown_ = 0;  // bar lines currently on the screen below the text
  std::function<void(const std::string&)> lineObserver_;
};

// The message sink of the program: prints every box as one line
// "CAPTION: text" and answers it at once, so no run ever waits for a box.
// A caption that already ends in ": " (the notices) is not given a second one.
class PrintingMessageSink : public platform::MessageSink {
 public:
  explicit PrintingMessageSink(Console& console) : console_(console) {}
  void Show(platform::BoxKind kind, const std::string& caption, const std::string& text) override;
  void Beep(uint32_t type) override;

 private:
  Console& console_;
};

// Installs a sink for the lifetime of the object, then restores the one before.
class ScopedMessageSink {
 public:
  explicit ScopedMessageSink(platform::MessageSink* sink);
  ~ScopedMessageSink();
  ScopedMessageSink(const ScopedMessageSink&) = delete;
  ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

 private:
  platform::MessageSink* previous_;
};

// The status texts that end a run and ask for the scanner to be switched off.
inline constexpr const char* kDoneText =
    "Programming Done. Please exit Vantorel before turning scanner power off.";
inline constexpr const char* kFailedText = "Programming sequence failed!";
// The status with which a run gives the panel back once the scanner is off.
inline constexpr const char* kReleasedText = "Turn scanner power off";

// Prepares the main window's settings as its initialisation does: the program
// folder, cleared port table rows, the pre-load values, g_bClosing cleared,
// then LoadSettings. appDir is the folder that holds ZANDRIC.INI.
void LoadStationSettings(CProgrammerDlg& dlg, const std::string& appDir);

// The station: the port panels of one invocation and their runs.
//
// Each panel's status line is printed on every change; when a run reports its
// outcome the station notes whether it succeeded and prints that it now waits
// for the scanner to be switched off. A run is over when its programming
// thread has ended, or when it has given the panel back after the scanner
// went off ("Turn scanner power off"): the closing key it then types is held
// by the switched-off scanner's CTS until the station's teardown closes the
// port.
class Station {
 public:
  // Called on the writing thread after a status line was printed.
  using StatusListener = std::function<void(size_t port, const std::string& status)>;

  Station(CProgrammerDlg& dlg, Console& console);
  // Sets g_bClosing and destroys the panels, which ends every connection and
  // waits for the port threads. The settings are not written back.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Call before AddPort.
  void SetStatusListener(StatusListener listener);
  // Claims the port's table row and makes its panel. A USB panel opens its
  // port and starts identifying the scanner at once.
  void AddPort(const PortSpec& spec);
  size_t PortCount() const { return ports_.size(); }
  CCommDialog* Panel(size_t port) const;
  const PortSpec& Spec(size_t port) const;
  // True once the port's run has reported success and was not reset.
  bool Succeeded(size_t port) const;
  // The summary table of the runs: a heading, one row per port (family,
  // result code, seconds, outcome; "-" for a port whose programming never
  // began), then the totals. No row holds "name: ", so the table is never
  // taken for a port's status line or a box.
  std::vector<std::string> Summary() const;

  // Presses the port button of every RS-232 panel. A USB panel's button is
  // pressed by Run as soon as its scanner is identified.
  void StartAll();
  // Waits until every run has ended. interrupts counts the operator's stop
  // requests (Ctrl-C). The first resets every panel still running; a panel
  // whose scanner writes its flash (m_bBusy clear within the steps, from a
  // transfer's end byte to its completion text) is reset only once the
  // write has ended, and says so ("PORT: stopping after the flash write
  // (leave the scanner on)"), since a scanner switched off then may be
  // ruined. The second stops waiting at once, with a warning for every port
  // still writing flash. Returns kExitOk when every run ended with result 0,
  // else kExitFailed (also after an interrupt).
  int Run(const std::atomic<int>* interrupts);

 private:
  enum class Phase { kConnecting, kRunning, kEnded };
  struct Port {
    PortSpec spec;
    std::unique_ptr<CCommDialog> panel;
    int bar = -1;
    Phase phase = Phase::kRunning;
    // The outcome text seen on the status line: 0 none, 1 done, 2 failed.
    std::atomic<int> outcome{0};
    // The panel was given back after the outcome ("Turn scanner power off").
    std::atomic<bool> released{false};
    std::mutex lastMutex;  // guards last
    std::string last;      // the status line printed last
    bool printedAny = false;
    bool reset = false;  // the station has reset the panel
    // An interrupt found the scanner writing its flash: the panel resets the
    // port once the write has ended. Used by Run only.
    bool stopping = false;
    mutable std::mutex recordMutex;  // guards record
    std::optional<RunRecord> record;  // the last run's record, once its outcome is known
  };

  // Called on the panel's threads: port is the Port itself, index its place
  // in ports_ for the listener.
  void OnStatus(Port& port, size_t index, const std::string& status);
  void OnRunRecorded(CCommDialog* panel, const RunRecord& record);
  void Press(Port& port);
  // The port's scanner may be writing its flash: switching it off or
  // resetting its panel now could ruin it.
  bool WritesFlash(const Port& port) const;
  // The operator's stop for one port: resets it, or, while its scanner
  // writes its flash, leaves the reset to the panel for the write's end and
  // says so once. Called at every look until the port has been reset.
  void Stop(Port& port);

  CProgrammerDlg& dlg_;
  Console& console_;
  StatusListener listener_;
  std::vector<std::unique_ptr<Port>> ports_;
  // The panels and their ports, for the run observer's look-up on the port
  // threads; filled by AddPort before the panel's first run. It names the
  // Port itself: ports_ may move while a later port is added.
  struct PanelOwner {
    CCommDialog* panel;
    Port* port;
  };
  std::mutex panelsMutex_;  // guards panels_
  std::vector<PanelOwner> panels_;
};

// Where the process's streams and the interrupt request come from.
struct Environment {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool terminal = false;                       // out is a terminal: draw progress bars
  const std::atomic<int>* interrupts = nullptr;  // counted by the signal handler
  // Set while a station waits for its runs (Station::Run): it answers a
  // second interrupt itself, warning about scanners that still write their
  // flash before it leaves, so the signal handler then leaves only at a
  // third. At any other time the handler leaves at the second.
  std::atomic<bool>* stationWaiting = nullptr;
  std::string currentDir;                        // the program folder for ZANDRIC.INI
};

// Sets env.stationWaiting for its lifetime (nothing when there is none).
class ScopedStationWaiting {
 public:
  explicit ScopedStationWaiting(const Environment& env) : flag_(env.stationWaiting) {
    if (flag_ != nullptr) flag_->store(true);
  }
  ~ScopedStationWaiting() {
    if (flag_ != nullptr) flag_->store(false);
  }
  ScopedStationWaiting(const ScopedStationWaiting&) = delete;
  ScopedStationWaiting& operator=(const ScopedStationWaiting&) = delete;

 private:
  std::atomic<bool>* flag_;
};

// Programs the named ports with the settings of ZANDRIC.INI in env.currentDir.
int RunPorts(const std::vector<PortSpec>& ports, const Environment& env);

// The pre-flight check of ZANDRIC.INI in env.currentDir (imagePath empty) or
// of one image file: prints the report, then "check: ..." with the count of
// problems. kExitOk when none was found, else kExitFailed.
int RunCheck(const std::string& imagePath, const Environment& env);

// The whole program: arguments after the program name.
int Main(const std::vector<std::string>& args, const Environment& env);

}  // namespace vtcli
