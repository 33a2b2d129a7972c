#include "cli_app.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/preflight.h"
#include "app/programmer_dlg.h"
#include "app/result_log.h"
#include "app/results_db.h"
#include "link/comm_dialog.h"
#include "ports/comm_sport.h"

#include "demo.h"
#include "results_cli.h"

namespace vtcli {

namespace {

// How often the station looks at its panels' finished flags (real time).
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr int kBarWidth = 30;

// Reads the decimal number n from text (digits only, no leading zero unless
// the number is 0); false when text is not such a number within lo..hi.
bool ParseIndex(const std::string& text, int lo, int hi, int& n) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  if (text.size() > 1 && text[0] == '0') return false;
  n = std::stoi(text);
  return n >= lo && n <= hi;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool ParsePortName(const std::string& text, PortSpec& out) {
  if (text.size() < 4) return false;
  const std::string prefix = Upper(text.substr(0, 3));
  const std::string digits = text.substr(3);
  int n = 0;
  if (prefix == "COM" && ParseIndex(digits, 1, kPortTableRows, n)) {
    out.name = "COM" + std::to_string(n);
    out.row = n - 1;
    out.usb = false;
    out.panelName = out.name;
    return true;
  }
  if (prefix == "ZEV" && ParseIndex(digits, 0, kPortTableRows - 1, n)) {
    out.name = "ZEV" + std::to_string(n);
    out.row = n;
    out.usb = true;
    out.panelName = "\\\\.\\" + out.name;
    return true;
  }
  return false;
}

std::string ParseArguments(const std::vector<std::string>& args, Arguments& out) {
  out = Arguments{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--demo") {
      out.demo = true;
      continue;
    }
    if (arg == "--check") {
      out.check = true;
      continue;
    }
    if (arg == "--check-image") {
      if (!out.checkImage.empty()) return "--check-image given twice";
      if (i + 1 >= args.size() || args[i + 1].empty()) return "--check-image needs a file name";
      out.checkImage = args[++i];
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      out.help = true;
      continue;
    }
    if (arg == "--init-db" || arg == "--sync" || arg == "--report") {
      (arg == "--init-db" ? out.initDb : arg == "--sync" ? out.sync : out.report) = true;
      continue;
    }
    if (arg == "--since" || arg == "--station" || arg == "--html") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return arg + " needs a value";
      (arg == "--since" ? out.since : arg == "--station" ? out.station : out.html) = args[++i];
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return "unknown option " + arg;
    PortSpec spec;
    if (!ParsePortName(arg, spec)) {
      return "not a port name: " + arg + " (COM1 to COM20 or ZEV0 to ZEV19)";
    }
    // COMn and ZEV(n-1) share a table row: one panel per row.
    for (const PortSpec& other : out.ports) {
      if (other.row == spec.row) {
        return other.name == spec.name ? "port named twice: " + spec.name
                                       : "ports " + other.name + " and " + spec.name +
                                             " share one row of the port table";
      }
    }
    out.ports.push_back(spec);
  }
  if (out.help) return "";
  const int modes = (out.demo ? 1 : 0) + (out.check ? 1 : 0) + (out.checkImage.empty() ? 0 : 1) +
                    (out.initDb ? 1 : 0) + (out.sync ? 1 : 0) + (out.report ? 1 : 0);
  if (modes > 1) {
    return "--demo, --check, --check-image, --init-db, --sync and --report exclude each other";
  }
  if (!out.report && (!out.since.empty() || !out.station.empty() || !out.html.empty())) {
    return "--since, --station and --html belong to --report";
  }
  if ((out.initDb || out.sync || out.report) && !out.ports.empty()) {
    return "the results database commands take no port names";
  }
  if (out.demo && !out.ports.empty()) return "--demo takes no port names";
  if ((out.check || !out.checkImage.empty()) && !out.ports.empty()) return "a check takes no port names";
  if (modes == 0 && out.ports.empty()) return "no port named";
  return "";
}

std::string UsageText() {
  return "usage: vantorel-cli PORT...\n"
         "       vantorel-cli --demo\n"
         "       vantorel-cli --check\n"
         "       vantorel-cli --check-image FILE\n"
         "       vantorel-cli --init-db | --sync\n"
         "       vantorel-cli --report [--since YYYY-MM-DD] [--station NAME] [--html FILE]\n"
         "Programs the scanners on the named ports (COM1..COM20, ZEV0..ZEV19) with the\n"
         "firmware that ZANDRIC.INI in the current folder names, all at once.\n"
         "--demo programs three simulated scanners with generated sample firmware.\n"
         "--check reads every firmware file ZANDRIC.INI names as a run would and reports\n"
         "each problem as FILE:LINE: text; --check-image does the same for one image.\n"
         "--init-db creates the tables of the results database ([Results] Connection=);\n"
         "--sync sends the runs of results.csv the database has not confirmed yet;\n"
         "--report summarises the runs, from the database or else from results.csv.\n"
         "Exit code: 0 all runs succeeded (no problem found), 1 a run failed or was\n"
         "interrupted (a problem was found), 2 usage error.\n";
}

std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  bool inBreak = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!inBreak) line += ' ';
      inBreak = true;
    } else {
      line += c;
      inBreak = false;
    }
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

// ---------------------------------------------------------------- Console

Console::Console(std::FILE* out, bool drawProgress) : out_(out), drawProgress_(drawProgress) {}

Console::~Console() { EndBars(); }

void Console::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  EraseBarsLocked();
  std::fputs(text.c_str(), out_);
  std::fputc('\n', out_);
  DrawBarsLocked();
  std::fflush(out_);
  if (lineObserver_) lineObserver_(text);
}

void Console::SetLineObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  lineObserver_ = std::move(observer);
}

int Console::AddBar(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  bars_.push_back(Bar{name, 0});
  return static_cast<int>(bars_.size()) - 1;
}

void Console::SetProgress(int bar, int pos, int low, int high) {
  if (!drawProgress_) return;
  int permille = 0;
  if (high > low) permille = static_cast<int>((static_cast<int64_t>(pos) - low) * 1000 / (high - low));
  permille = std::clamp(permille, 0, 1000);
  std::lock_guard<std::mutex> lock(mutex_);
  if (bar < 0 || bar >= static_cast<int>(bars_.size())) return;
  // Redraw only when the shown percentage moves: the senders update after
  // every block, far more often than a terminal needs.
  if (bars_[bar].permille / 10 == permille / 10) {
    bars_[bar].permille = permille;
    return;
  }
  bars_[bar].permille = permille;
  EraseBarsLocked();
  DrawBarsLocked();
  std::fflush(out_);
}

void Console::EndBars() {
  std::lock_guard<std::mutex> lock(mutex_);
  EraseBarsLocked();
  bars_.clear();
  std::fflush(out_);
}

void Console::EraseBarsLocked() {
  if (barsShown_ == 0) return;
  // Up to the first bar line, then clear to the end of the screen.
  std::fprintf(out_, "\x1b[%dA\r\x1b[J", barsShown_);
  barsShown_ = 0;
}

void Console::DrawBarsLocked() {
  if (!drawProgress_) return;
  for (const Bar& bar : bars_) {
    const int filled = bar.permille * kBarWidth / 1000;
    std::string line = bar.name;
    line.resize(std::max<size_t>(line.size(), 5), ' ');
    line += " [";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    line += "] ";
    line += std::to_string(bar.permille / 10) + "%";
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
  }
  barsShown_ = static_cast<int>(bars_.size());
}

// ---------------------------------------------------------------- message boxes

void PrintingMessageSink::Show(platform::BoxKind, const std::string& caption,
                               const std::string& text) {
  // The notices' caption is "<port>: " already; do not print "COM1: : text".
  std::string head = caption;
  while (!head.empty() && head.back() == ' ') head.pop_back();
  if (!head.empty() && head.back() == ':') head.pop_back();
  console_.Line(head + ": " + OneLine(text));
}

void PrintingMessageSink::Beep(uint32_t) {
  // The beep only draws an operator's eye to a panel; the status line that
  // comes with it is printed already.
}

ScopedMessageSink::ScopedMessageSink(platform::MessageSink* sink)
    : previous_(platform::CurrentMessageSink()) {
  platform::InstallMessageSink(sink);
}

ScopedMessageSink::~ScopedMessageSink() { platform::InstallMessageSink(previous_); }

// ---------------------------------------------------------------- settings

void LoadStationSettings(CProgrammerDlg& dlg, const std::string& appDir) {
  std::string dir = appDir;
  // As the main window keeps it: one trailing separator goes, and a folder
  // name that does not fit would be cut into another folder's name, where
  // "." names the same folder.
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  if (dir.size() >= sizeof dlg.m_szAppDir) dir = ".";
  std::snprintf(dlg.m_szAppDir, sizeof dlg.m_szAppDir, "%s", dir.c_str());
  for (COMM_SPORT& row : g_portTable) row = COMM_SPORT{};
  g_nPortCount = 0;
  g_nStartPortCount = 0;
  dlg.SetPreloadDefaults();
  g_bClosing = false;
  dlg.LoadSettings();
}

// ---------------------------------------------------------------- station

Station::Station(CProgrammerDlg& dlg, Console& console) : dlg_(dlg), console_(console) {
  dlg_.SetRunObserver([this](CCommDialog* panel, const RunRecord& record) { OnRunRecorded(panel, record); });
}

Station::~Station() {
  // Runs cut short by the closing below are still recorded in the file.
  dlg_.SetRunObserver({});
  // As the main window's shutdown, without SaveSettings: a batch run leaves
  // the operator's ZANDRIC.INI as it found it.
  g_bClosing = true;
  for (auto& port : ports_) {
    port->panel.reset();
    COMM_SPORT& row = g_portTable[port->spec.row];
    row.pPanel = nullptr;
    row.bInUse = 0;
  }
  console_.EndBars();
}

void Station::SetStatusListener(StatusListener listener) { listener_ = std::move(listener); }

void Station::AddPort(const PortSpec& spec) {
  // The observers below run on the panel's threads while later ports are
  // added, which may move ports_: they hold the Port itself (it never moves)
  // and its index, never an element of ports_.
  const size_t index = ports_.size();
  auto port = std::make_unique<Port>();
  port->spec = spec;
  port->phase = spec.usb ? Phase::kConnecting : Phase::kRunning;
  port->bar = console_.AddBar(spec.name);
  Port* raw = port.get();
  ports_.push_back(std::move(port));

  COMM_SPORT& row = g_portTable[spec.row];
  row.bInUse = 1;
  row.bUsb = spec.usb ? 1 : 0;
  // A USB panel starts its connect thread inside the constructor; its first
  // status lines are caught up below.
  raw->panel = std::make_unique<CCommDialog>(static_cast<uint16_t>(spec.row + 1),
                                             spec.panelName.c_str(), &dlg_);
  row.pPanel = raw->panel.get();
  {
    std::lock_guard<std::mutex> lock(panelsMutex_);
    panels_.push_back(PanelOwner{raw->panel.get(), raw});
  }
  ++g_nPortCount;
  CCommDialog* panel = raw->panel.get();
  panel->m_strStatus.SetObserver([this, raw, index](const std::string& s) { OnStatus(*raw, index, s); });
  panel->m_progress.SetObserver([this, raw, panel](int pos) {
    console_.SetProgress(raw->bar, pos, panel->m_progress.GetLow(), panel->m_progress.GetHigh());
  });
  OnStatus(*raw, index, panel->m_strStatus.Get());
}

CCommDialog* Station::Panel(size_t port) const { return ports_.at(port)->panel.get(); }

const PortSpec& Station::Spec(size_t port) const { return ports_.at(port)->spec; }

bool Station::Succeeded(size_t port) const {
  const Port& p = *ports_.at(port);
  return p.outcome.load() == 1 && !p.reset;
}

void Station::OnRunRecorded(CCommDialog* panel, const RunRecord& record) {
  Port* port = nullptr;
  {
    std::lock_guard<std::mutex> lock(panelsMutex_);
    const auto at = std::find_if(panels_.begin(), panels_.end(),
                                 [panel](const PanelOwner& owner) { return owner.panel == panel; });
    if (at == panels_.end()) return;
    port = at->port;
  }
  std::lock_guard<std::mutex> lock(port->recordMutex);
  port->record = record;
}

std::vector<std::string> Station::Summary() const {
  auto row = [](const std::string& port, const std::string& family, const std::string& result,
                const std::string& seconds, const std::string& outcome) {
    char text[160];
    std::snprintf(text, sizeof text, "%-6s %-7s %6s %8s  ", port.c_str(), family.c_str(),
                  result.c_str(), seconds.c_str());
    return text + outcome;
  };
  std::vector<std::string> lines;
  lines.push_back(row("port", "family", "result", "seconds", "outcome"));
  int done = 0, failed = 0, none = 0;
  for (const auto& holder : ports_) {
    std::optional<RunRecord> record;
    {
      std::lock_guard<std::mutex> lock(holder->recordMutex);
      record = holder->record;
    }
    if (!record) {
      ++none;
      lines.push_back(row(holder->spec.name, "-", "-", "-", "programming never began"));
      continue;
    }
    if (record->result == 0 && !holder->reset) {
      ++done;
    } else {
      ++failed;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", record->durationMs / 1000.0);
    lines.push_back(row(holder->spec.name, FamilyText(record->family),
                        std::to_string(record->result), seconds, record->outcome));
  }
  lines.push_back(std::to_string(ports_.size()) + (ports_.size() == 1 ? " port, " : " ports, ") +
                  std::to_string(done) + " programmed, " + std::to_string(failed) + " failed, " +
                  std::to_string(none) + " never began");
  return lines;
}

void Station::OnStatus(Port& port, size_t index, const std::string& status) {
  {
    // Only changes are printed; the catch-up after construction may repeat
    // the text the observer has just printed.
    std::lock_guard<std::mutex> lock(port.lastMutex);
    if (port.printedAny && port.last == status) return;
    port.printedAny = true;
    port.last = status;
    std::string line = port.spec.name + ":";
    if (!status.empty()) line += " " + OneLine(status);
    console_.Line(line);
    if (status == kDoneText || status == kFailedText) {
      port.outcome = status == kDoneText ? 1 : 2;
      // The programming thread ends only when CTS or DSR drops.
      console_.Line(port.spec.name + ": waiting for the scanner to be switched off");
    } else if (status == kReleasedText && port.outcome.load() != 0) {
      port.released = true;
    }
  }
  if (listener_) listener_(index, status);
}

void Station::Press(Port& port) {
  port.phase = Phase::kRunning;
  port.outcome = 0;
  port.released = false;
  port.panel->Start();
}

void Station::StartAll() {
  for (auto& port : ports_) {
    if (port->phase == Phase::kRunning) Press(*port);
  }
}

bool Station::WritesFlash(const Port& port) const {
  const CCommDialog& panel = *port.panel;
  // Inside the steps of a run, m_bBusy is clear from a transfer's end byte
  // until its completion text (or its time-out): the loader writes its flash,
  // or the scanner restarts with new logic. The desktop offers no Reset then.
  return port.phase == Phase::kRunning && !port.reset && !panel.m_bAbort.load() &&
         !panel.m_bBusy.load() && !panel.m_bOutcomeShown.load() && !panel.m_bSendDone.load();
}

void Station::Stop(Port& port) {
  CCommDialog& panel = *port.panel;
  if (port.phase != Phase::kRunning) {
    // A USB panel still identifying its scanner: nothing is being written.
    port.reset = true;
    panel.Reset();
    return;
  }
  // At once, unless the scanner writes its flash: then the programming
  // thread resets the port as the write ends, before the run goes on.
  if (panel.ResetWhenSafe()) {
    port.reset = true;
  } else if (!port.stopping) {
    port.stopping = true;
    console_.Line(port.spec.name + ": stopping after the flash write (leave the scanner on)");
  }
}

int Station::Run(const std::atomic<int>* interrupts) {
  int seen = 0;
  bool failed = false;
  for (;;) {
    const int requests = interrupts != nullptr ? interrupts->load() : 0;
    if (requests > seen) {
      seen = requests;
      console_.Line(seen == 1 ? "interrupted: ending every run"
                              : "interrupted again: leaving at once");
    }
    // A second request leaves without waiting for anything. The teardown
    // closes every port; a loader that writes its flash has every byte of it
    // and finishes on its own, but only if its scanner stays on.
    if (seen >= 2) {
      for (auto& holder : ports_) {
        if (WritesFlash(*holder)) {
          console_.Line(holder->spec.name +
                        ": flash write in progress: leave the scanner on until it ends");
        }
      }
      failed = true;
      break;
    }
    bool allEnded = true;
    for (auto& holder : ports_) {
      Port& port = *holder;
      CCommDialog& panel = *port.panel;
      // The operator's stop ends every run at its next safe point: at once
      // while it waits for power or for the switch-off, or as soon as a flash
      // write under way has ended (a pending stop is looked at again until
      // the panel has made it). The scanner's firmware is written again by
      // the next run.
      if (seen >= 1 && !port.reset && port.phase != Phase::kEnded && !panel.m_bSendDone.load()) {
        Stop(port);
      }
      // A pending stop that the programming thread made just before it ended.
      if (port.stopping && panel.m_bAbort.load()) port.reset = true;
      switch (port.phase) {
        case Phase::kConnecting:
          // The USB panel's connect thread has ended; the identified bit tells
          // whether it found the scanner.
          if (panel.m_bSendDone.load()) {
            if (seen == 0 && (panel.m_dwStatusFlags.load() & kScannerIdentified) != 0) {
              Press(port);
            } else {
              port.phase = Phase::kEnded;
              failed = true;
            }
          }
          break;
        case Phase::kRunning:
          // The run is over once the panel is given back to the operator: the
          // closing key that follows is held while the switched-off scanner
          // holds CTS low, until the teardown closes the port.
          if (panel.m_bSendDone.load() || port.released.load()) {
            port.phase = Phase::kEnded;
            if (port.outcome.load() != 1 || port.reset) failed = true;
          }
          break;
        case Phase::kEnded:
          break;
      }
      if (port.phase != Phase::kEnded) allEnded = false;
    }
    if (allEnded) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  console_.EndBars();
  return failed || seen > 0 ? kExitFailed : kExitOk;
}

// ---------------------------------------------------------------- program

int RunPorts(const std::vector<PortSpec>& ports, const Environment& env) {
  Console console(env.out, env.terminal);
  PrintingMessageSink sink(console);
  ScopedMessageSink installed(&sink);

  if (!std::filesystem::exists(std::filesystem::path(env.currentDir) / "ZANDRIC.INI")) {
    std::fprintf(env.err, "vantorel-cli: no ZANDRIC.INI in %s: no firmware is configured\n",
                 env.currentDir.c_str());
  }
  CProgrammerDlg dlg;
  LoadStationSettings(dlg, env.currentDir);
  dlg.StartResultsDb();
  int result = kExitFailed;
  {
    Station station(dlg, console);
    for (const PortSpec& spec : ports) station.AddPort(spec);
    station.StartAll();
    {
      ScopedStationWaiting waiting(env);
      result = station.Run(env.interrupts);
    }
    for (const std::string& line : station.Summary()) console.Line(line);
  }
  if (CResultsUploader* uploader = dlg.GetResultsUploader()) {
    uploader->Stop(true);
    console.Line(dlg.GetResultsDbStatus());
  }
  return result;
}

int RunCheck(const std::string& imagePath, const Environment& env) {
  const CheckReport report =
      imagePath.empty() ? CheckStation(env.currentDir) : CheckImageFile(imagePath);
  std::string text;
  for (const std::string& line : report.lines) text += line + "\n";
  const std::string files = std::to_string(report.files) + (report.files == 1 ? " file" : " files");
  text += "check: " + files + ", " +
          (report.problems == 0 ? std::string("no problems")
                                : std::to_string(report.problems) +
                                      (report.problems == 1 ? " problem" : " problems")) +
          "\n";
  std::fputs(text.c_str(), env.out);
  std::fflush(env.out);
  return report.problems == 0 ? kExitOk : kExitFailed;
}

int Main(const std::vector<std::string>& args, const Environment& env) {
  Arguments parsed;
  const std::string error = ParseArguments(args, parsed);
  if (!error.empty()) {
    std::fprintf(env.err, "vantorel-cli: %s\n%s", error.c_str(), UsageText().c_str());
    return kExitUsage;
  }
  if (parsed.help) {
    std::fputs(UsageText().c_str(), env.out);
    return kExitOk;
  }
  if (parsed.demo) return RunDemo(DemoOptions{}, env);
  if (parsed.check) return RunCheck("", env);
  if (!parsed.checkImage.empty()) return RunCheck(parsed.checkImage, env);
  if (parsed.initDb) return RunInitDb(env);
  if (parsed.sync) return RunSync(env);
  if (parsed.report) return RunReport(parsed, env);
  return RunPorts(parsed.ports, env);
}

}  // namespace vtcli
