// The whole station at line rate: port panels, their receivers and
// programming threads, on simulated lines paced at 57600 bit/s (5760 bytes/s)
// with a loader simulator on every line, all in one process, driven through
// the station's public run (panels, port buttons, status lines) as the
// headless front end does. A simulated operator at every scanner switches it
// on, cycles it and switches it off the moment the panel asks, so operator
// time never counts.
//
// Tables (each a ratio within one run):
//   scale     N = 1, 4, 8, 20 MV2 scanners at once: line share of the file
//             transfers, each port's time against one port alone, CPU per
//             busy port; then the CPU of 20 idle panels.
//   sequence  a whole MV2 and a whole QZ600 sequence with the demo firmware,
//             step by step, against the ideal (bytes on the wire / 5760 plus
//             the simulated loader's own delays and the wake-up pacing).
//   latency   for every prompt of both sequences: from the last byte of the
//             awaited text arriving to the program's next action.
// --csv FILE writes each port's transfer throughput over time at the largest
// N (tools/plot-throughput draws it).
//
// Run by tools/bench; not part of the test suite.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/programmer_dlg.h"
#include "bench_operator.h"
#include "cli_app.h"
#include "demo_firmware.h"
#include "app/comm_dialog.h"
#include "platform/sim/sim_line.h"
#include "scanner_sim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::sim::SimLine;

constexpr uint32_t kLineBitsPerSecond = 57600;
constexpr double kLineBytesPerSecond = kLineBitsPerSecond / 10.0;
// The near end's transmit buffer (16 bytes) that the sim line fills ahead of
// the wire: a chunk is taken this long before its last bit leaves.
constexpr double kTransmitBufferSeconds = 16 / kLineBytesPerSecond;
// The handshake's wake-up: four "*", each followed by a 32 ms pause.
constexpr size_t kWakeUpsPerAttempt = 4;
constexpr double kWakeUpPacingSeconds = kWakeUpsPerAttempt * 0.032;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---------------------------------------------------------------- CPU time

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto tv = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return tv(usage.ru_utime) + tv(usage.ru_stime);
}

// CPU time of each thread of the process (Linux: the scheduler's nanosecond
// count); empty where the system does not tell.
std::map<std::string, double> ThreadCpuSeconds() {
  std::map<std::string, double> threads;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream in(entry.path() / "schedstat");
    double ns = 0;
    if (in >> ns) threads[entry.path().filename().string()] = ns / 1e9;
  }
  return threads;
}

// ---------------------------------------------------------------- the wire

// One direction of a line as it was timed: the bytes and, for each chunk, its
// time (seconds from the run's start) and the byte count up to its end.
struct Direction {
  std::string bytes;
  std::vector<std::pair<double, size_t>> chunks;

  double TimeOfByte(size_t index) const {
    auto it = std::upper_bound(chunks.begin(), chunks.end(), index,
                               [](size_t i, const auto& chunk) { return i < chunk.second; });
    return it == chunks.end() ? chunks.back().first : it->first;
  }
  // The first byte that arrived after time t.
  size_t FirstByteAfter(double t) const {
    auto it = std::upper_bound(chunks.begin(), chunks.end(), t,
                               [](double time, const auto& chunk) { return time < chunk.first; });
    if (it == chunks.end()) return bytes.size();
    return it == chunks.begin() ? 0 : std::prev(it)->second;
  }
  size_t BytesBetween(double from, double to) const {
    size_t n = 0, before = 0;
    for (const auto& [t, end] : chunks) {
      if (t >= from && t < to) n += end - before;
      before = end;
    }
    return n;
  }
};

// Both directions of one line, recorded by the line's monitor.
class WireRecord {
 public:
  void Attach(SimLine& line, Clock::time_point epoch) {
    line.SetMonitor([this, epoch](SimLine::Direction d, const uint8_t* bytes, size_t n,
                                  Clock::time_point when) {
      std::lock_guard<std::mutex> lock(mutex_);
      Direction& dir = d == SimLine::Direction::kToFar ? toScanner_ : toProgram_;
      dir.bytes.append(reinterpret_cast<const char*>(bytes), n);
      dir.chunks.emplace_back(Seconds(when - epoch), dir.bytes.size());
    });
  }
  Direction ToScanner() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return toScanner_;
  }
  Direction ToProgram() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return toProgram_;
  }

 private:
  mutable std::mutex mutex_;  // guards both directions
  Direction toScanner_;
  Direction toProgram_;
};

// ---------------------------------------------------------------- firmware

struct Firmware {
  std::string folder;  // holds ZANDRIC.INI
};

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

// The MV2 sequence with files of a fixed size, large enough that streaming
// dominates a run: RCP and VTC images of imageKb each (about 2.7 bytes on the
// wire per data byte), an FPGA file of 2 * imageKb, a UIM agent of imageKb
// and a small loader image.
bool WriteScaleFirmware(const fs::path& folder, size_t imageKb) {
  using vtdemo::SampleBytes;
  using vtdemo::SRecordImage;
  const size_t kb = 1024;
  const auto raw = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  bool ok = WriteText(folder / "rcp.s19", SRecordImage("RCPMV2 bench image", 0x00040000,
                                                        SampleBytes(imageKb * kb, 31))) &&
            WriteText(folder / "vtc.s19", SRecordImage("VTC MV2 bench image", 0x00060000,
                                                        SampleBytes(imageKb * kb, 32))) &&
            WriteText(folder / "fpga.bin", raw(SampleBytes(2 * imageKb * kb, 33))) &&
            WriteText(folder / "uim.bin", raw(SampleBytes(imageKb * kb, 34))) &&
            WriteText(folder / "ldr.s19", SRecordImage("MV2 loader bench image", 0x0001E000,
                                                        SampleBytes(2 * kb, 35)));
  std::string ini = "[Common]\nPermitLoaderOverwrite=y\nPreserveSerialNumber=y\nLeaveImages=n\n"
                    "IncludeSetupMenu=n\n[MV2]\nBaudRate=57600\n";
  for (const char* key : {"RCP", "VTC", "FPGA", "UIM", "LDR", "LDR_PRE_5_0"}) {
    const char* file = std::strcmp(key, "RCP") == 0    ? "rcp.s19"
                       : std::strcmp(key, "VTC") == 0  ? "vtc.s19"
                       : std::strcmp(key, "FPGA") == 0 ? "fpga.bin"
                       : std::strcmp(key, "UIM") == 0  ? "uim.bin"
                                                       : "ldr.s19";
    ini += std::string(key) + "=" + (folder / file).string() + "\n";
  }
  return ok && WriteText(folder / "ZANDRIC.INI", ini);
}

// ---------------------------------------------------------------- one run

struct PortRun {
  std::string name;
  std::shared_ptr<SimLine> line;
  std::unique_ptr<scanner::ScannerSim> scanner;
  WireRecord wire;
  std::mutex mutex;  // guards the members below
  std::vector<std::pair<double, std::string>> statuses;
  std::vector<double> powerOns;
  std::optional<double> done;
  bool failed = false;
};

struct RunFigures {
  size_t ports = 0;
  double wall = 0;          // start to the last outcome
  double cpu = 0;           // process CPU over that time
  double stationCpu = -1;   // CPU of the threads the station started (-1: unknown)
  double scannerCpu = -1;   // CPU of the simulated scanners' threads
  std::vector<std::unique_ptr<PortRun>> runs;
  bool allDone = false;
};

// Runs one station of n ports, each with a scanner made by config, until
// every run reported its outcome. idleSeconds > 0: afterwards, with every
// scanner switched off and gone, measures the CPU of the idle panels for that
// long (stored in idleCpu).
RunFigures RunStation(const std::string& folder, size_t n, scanner::ScannerConfig (*config)(),
                      double idleSeconds = 0, double* idleCpu = nullptr) {
  RunFigures figures;
  figures.ports = n;
  auto& registry = platform::sim::SimPortRegistry::Instance();
  registry.Clear();
  const Clock::time_point epoch = Clock::now();
  for (size_t i = 0; i < n; ++i) {
    auto run = std::make_unique<PortRun>();
    run->name = "COM" + std::to_string(i + 1);
    run->line = SimLine::Create();
    run->line->SetPacing(kLineBitsPerSecond);
    run->wire.Attach(*run->line, epoch);
    registry.Add(run->name, run->line);
    run->scanner = std::make_unique<scanner::ScannerSim>(run->line, config());
    figures.runs.push_back(std::move(run));
  }
  registry.InstallAsOpener();

  std::FILE* quiet = std::fopen("/dev/null", "w");
  vtcli::Console console(quiet, false);
  vtcli::Console errors(stderr, false);
  vtcli::PrintingMessageSink sink(errors);
  vtcli::ScopedMessageSink installed(&sink);
  CProgrammerDlg dlg;
  vtcli::LoadStationSettings(dlg, folder);

  std::set<std::string> threadsBefore;
  for (const auto& [tid, cpu] : ThreadCpuSeconds()) threadsBefore.insert(tid);
  const std::string mainThread = std::to_string(static_cast<long>(getpid()));

  std::atomic<size_t> outcomes{0};
  std::mutex endMutex;  // guards endCpu, endThreads, endTime
  double endCpu = 0, endTime = 0;
  std::map<std::string, double> endThreads;
  const double startCpu = ProcessCpuSeconds();
  const auto startThreads = ThreadCpuSeconds();
  {
    vtcli::Station station(dlg, console);
    station.SetStatusListener([&](size_t port, const std::string& status) {
      PortRun& run = *figures.runs[port];
      const double now = Seconds(Clock::now() - epoch);
      bool outcome = false;
      {
        std::lock_guard<std::mutex> lock(run.mutex);
        run.statuses.emplace_back(now, status);
        if (status == vtcli::kDoneText || status == vtcli::kFailedText) {
          outcome = !run.done.has_value();
          run.done = now;
          run.failed = status == vtcli::kFailedText;
        }
        if (status == vtcli::kPowerOnText || status == vtcli::kCycleText) run.powerOns.push_back(now);
      }
      // The operator, with no reaction time.
      if (status == vtcli::kPowerOnText) {
        run.scanner->PowerOn();
      } else if (status == vtcli::kCycleText) {
        run.scanner->PowerOff();
        run.scanner->PowerOn();
      } else if (outcome) {
        if (outcomes.fetch_add(1) + 1 == n) {
          std::lock_guard<std::mutex> lock(endMutex);
          endCpu = ProcessCpuSeconds();
          endTime = now;
          endThreads = ThreadCpuSeconds();
        }
        run.scanner->PowerOff();
      }
    });
    for (size_t i = 0; i < n; ++i) {
      vtcli::PortSpec spec;
      vtcli::ParsePortName(figures.runs[i]->name, spec);
      station.AddPort(spec);
    }
    station.StartAll();
    station.Run(nullptr);

    {
      std::lock_guard<std::mutex> lock(endMutex);
      figures.wall = endTime;
      figures.cpu = endCpu - startCpu;
      figures.allDone = outcomes.load() == n;
      if (!endThreads.empty()) {
        double station = 0, scanners = 0;
        for (const auto& [tid, cpu] : endThreads) {
          const auto before = startThreads.find(tid);
          const double used = cpu - (before != startThreads.end() ? before->second : 0);
          if (!threadsBefore.count(tid)) {
            station += used;
          } else if (tid != mainThread) {
            scanners += used;
          }
        }
        figures.stationCpu = station;
        figures.scannerCpu = scanners;
      }
    }

    if (idleSeconds > 0 && idleCpu != nullptr) {
      // Every panel now has its port open and its receiver parked at the
      // gate; the programming threads wait for the switched-off scanners.
      for (auto& run : figures.runs) run->scanner.reset();
      const double before = ProcessCpuSeconds();
      std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
      *idleCpu = ProcessCpuSeconds() - before;
    }
  }
  for (auto& run : figures.runs) run->scanner.reset();
  registry.Clear();
  platform::InstallPortOpener({});
  if (quiet != nullptr) std::fclose(quiet);
  return figures;
}

// CPU of n panels whose port buttons were pressed while every scanner stays
// switched off: each programming thread is held at its first wake-up write,
// each receiver reads its line in slices.
double WaitingPanelsCpu(const std::string& folder, size_t n, double seconds) {
  auto& registry = platform::sim::SimPortRegistry::Instance();
  registry.Clear();
  std::vector<std::shared_ptr<SimLine>> lines;
  for (size_t i = 0; i < n; ++i) {
    lines.push_back(SimLine::Create());
    registry.Add("COM" + std::to_string(i + 1), lines.back());
  }
  registry.InstallAsOpener();
  std::FILE* quiet = std::fopen("/dev/null", "w");
  vtcli::Console console(quiet, false);
  vtcli::PrintingMessageSink sink(console);
  vtcli::ScopedMessageSink installed(&sink);
  CProgrammerDlg dlg;
  vtcli::LoadStationSettings(dlg, folder);
  double used = 0;
  {
    vtcli::Station station(dlg, console);
    for (size_t i = 0; i < n; ++i) {
      vtcli::PortSpec spec;
      vtcli::ParsePortName("COM" + std::to_string(i + 1), spec);
      station.AddPort(spec);
    }
    station.StartAll();
    // Let the threads settle at their waits before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    used = ProcessCpuSeconds() - before;
  }
  registry.Clear();
  platform::InstallPortOpener({});
  if (quiet != nullptr) std::fclose(quiet);
  return used;
}

// ---------------------------------------------------------------- the dialogue

// What the program wrote, cut into the dialogue's pieces.
struct Token {
  enum Kind { kWakeUp, kKey, kAddress, kTransfer } kind;
  size_t begin = 0, end = 0;  // bytes [begin, end) of the program's direction
  char key = 0;
  std::string transfer;       // kTransfer: "RCP", "VTC", "FPGA", "UIM", "CPLD", "DSP", "LDR"
};

// The text of an S-record image's header record, decoded.
std::string HeaderText(const std::string& bytes, size_t begin) {
  if (bytes.compare(begin, 2, "S0") != 0) return {};
  std::string text;
  for (size_t i = begin + 8; i + 3 < bytes.size() && bytes[i] != '\r'; i += 2) {
    text += static_cast<char>(std::strtol(bytes.substr(i, 2).c_str(), nullptr, 16));
  }
  return text;
}

std::vector<Token> CutDialogue(const std::string& bytes, bool mv2) {
  std::vector<Token> tokens;
  std::string pending;  // the transfer the last key opened
  char lastKey = 0;
  int addressesDue = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    Token t{};
    t.begin = i;
    if (!pending.empty()) {
      const size_t ff = bytes.find('\xFF', i);
      t.kind = Token::kTransfer;
      t.end = ff == std::string::npos ? bytes.size() : ff + 1;
      t.transfer = pending;
      if (pending == "image") t.transfer = HeaderText(bytes, i).find("VTC") != std::string::npos ? "VTC" : "RCP";
      pending.clear();
    } else if (bytes[i] == '*') {
      // One attempt of the handshake types four: each burst is a token of its
      // own, so every attempt's pacing is seen (and an unanswered one is not
      // taken for a need of the loader).
      t.kind = Token::kWakeUp;
      while (i < bytes.size() && bytes[i] == '*' && i - t.begin < kWakeUpsPerAttempt) ++i;
      t.end = i;
    } else if (addressesDue > 0) {
      t.kind = Token::kAddress;
      const size_t cr = bytes.find('\r', i);
      t.end = cr == std::string::npos ? bytes.size() : cr + 1;
      --addressesDue;
    } else {
      t.kind = Token::kKey;
      t.key = bytes[i];
      t.end = i + 1;
      switch (t.key) {
        case '1': pending = (!mv2 && lastKey == '3') ? "CPLD" : "image"; break;
        case '3': if (mv2) pending = "FPGA"; break;
        case '8': pending = "UIM"; break;
        case 'y': if (lastKey == '9') pending = "DSP"; break;
        case 'a': pending = "LDR"; break;
        case '4': case '7': addressesDue = 2; break;
        default: break;
      }
      lastKey = t.key;
    }
    i = t.end;
    tokens.push_back(t);
  }
  return tokens;
}

// What the program awaits after a token: every text of a pair, or a start
// text and the end text after it.
struct Awaited {
  std::string label;
  std::vector<std::string> texts;
  bool between = false;
};

std::optional<Awaited> AwaitedAfter(const std::vector<Token>& tokens, size_t k,
                                    const std::string& sent, bool mv2, bool boardText) {
  const Token& t = tokens[k];
  const char prevKey = [&] {
    for (size_t j = k; j-- > 0;) {
      if (tokens[j].kind == Token::kKey) return tokens[j].key;
    }
    return '\0';
  }();
  switch (t.kind) {
    case Token::kWakeUp:
      if (mv2 && boardText) return Awaited{"wake-up: board text", {"Board", "Loader"}, true};
      return Awaited{"wake-up: banner", {"QZ", "Build"}, true};
    case Token::kKey:
      switch (t.key) {
        case '1':
          if (!mv2 && prevKey == '3') return Awaited{"CPLD execute", {"Execute", "receive"}};
          return Awaited{"image prompt", {"receive", "send"}};
        case '3':
          if (mv2) return Awaited{"FPGA prompt", {"FPGA Update", "abort"}};
          return Awaited{"CPLD menu", {"CPLD update menu", "Execute"}};
        case '8': return Awaited{"UIM prompt", {"UIM Agent Update", "abort"}};
        case '9': return Awaited{"DSP question", {"Programming DSP Flash"}};
        case 'y': return Awaited{"DSP ready", {"Ready", "receive"}};
        case 'a': return Awaited{"loader prompt", {"Special", "receive"}};
        case '4': case '7': return Awaited{"dump prompt", {"Dump", "0x1234abcd"}};
        default: return std::nullopt;
      }
    case Token::kAddress: {
      // The first address is answered by the end address prompt; the second
      // by the dump, read between the start address and the end address.
      const bool first = k > 0 && tokens[k - 1].kind == Token::kKey;
      if (first) return Awaited{"end address prompt", {"End Address", "0xabcd1234"}};
      const Token& start = tokens[k - 1];
      std::string from = sent.substr(start.begin, start.end - start.begin - 1);
      for (char& c : from) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      char to[16];
      std::snprintf(to, sizeof to, "%08lx",
                    std::strtoul(sent.substr(t.begin, t.end - t.begin - 1).c_str(), nullptr, 16));
      return Awaited{"dump text", {from, to}, true};
    }
    case Token::kTransfer:
      if (t.transfer == "FPGA") return Awaited{"FPGA done", {"Done!"}};
      if (t.transfer == "UIM") return Awaited{"UIM stored, menu", {"Loader menu"}};
      if (t.transfer == "DSP") return Awaited{"DSP done", {"DONE"}};
      if (t.transfer == "CPLD") return std::nullopt;  // the scanner restarts; nothing awaited
      return Awaited{t.transfer + " flash written", {"Write flash complete"}};
  }
  return std::nullopt;
}

// Index just past the byte that completes what is awaited, searching the
// loader's output from index from; npos when it never came.
size_t CompletionIndex(const std::string& out, size_t from, const Awaited& awaited) {
  if (awaited.between) {
    const size_t start = out.find(awaited.texts[0], from);
    if (start == std::string::npos) return std::string::npos;
    const size_t end = out.find(awaited.texts[1], start + awaited.texts[0].size());
    return end == std::string::npos ? end : end + awaited.texts[1].size();
  }
  size_t last = 0;
  for (const std::string& text : awaited.texts) {
    const size_t at = out.find(text, from);
    if (at == std::string::npos) return std::string::npos;
    last = std::max(last, at + text.size());
  }
  return last;
}

struct Latency {
  std::string step;
  std::string what;
  double seconds = 0;
};

struct Step {
  std::string name;
  double start = 0, end = 0;
  size_t bytes = 0;         // both directions
  double loaderDelays = 0;  // the simulated loader's own waits and the wake-up pacing
};

struct Dialogue {
  std::vector<Latency> latencies;
  std::vector<Step> steps;
  double transferBytes = 0, transferSeconds = 0;
};

// Reads one port's run: the prompt latencies, the steps and the transfers.
Dialogue ReadDialogue(PortRun& run, const scanner::ScannerConfig& config) {
  Dialogue d;
  const Direction sent = run.wire.ToScanner();
  const Direction heard = run.wire.ToProgram();
  const bool mv2 = config.IsMv2();
  const std::vector<Token> tokens = CutDialogue(sent.bytes, mv2);
  double done = 0;
  std::vector<double> powerOns;
  {
    std::lock_guard<std::mutex> lock(run.mutex);
    done = run.done.value_or(0);
    powerOns = run.powerOns;
  }
  const double firstTime = sent.chunks.empty() ? 0 : sent.chunks.front().first;
  const double begin = powerOns.empty() ? firstTime : powerOns.front();
  auto timeOf = [&](const Token& t) { return sent.TimeOfByte(t.begin); };
  auto lastTimeOf = [&](const Token& t) { return sent.TimeOfByte(t.end - 1); };

  // Steps: each begins with the key that opens it.
  d.steps.push_back({"connect (power on, wake-up, banner)", begin, 0, 0, 0});
  std::map<std::string, int> blocks;
  char prevKey = 0;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind == Token::kKey && t.key == 'x') break;  // the run is over
    std::string name;
    if (t.kind == Token::kKey) {
      if (t.key == '1' && !(!mv2 && prevKey == '3')) {
        for (size_t j = k + 1; j < tokens.size(); ++j) {
          if (tokens[j].kind == Token::kTransfer) {
            name = tokens[j].transfer + " block " + std::to_string(++blocks[tokens[j].transfer]);
            break;
          }
        }
      } else if (t.key == '3') {
        name = mv2 ? "FPGA" : "CPLD (with restart and reconnects)";
      } else if (t.key == '8') {
        name = "UIM agent";
      } else if (t.key == '9') {
        name = "DSP";
      } else if (t.key == '7' || t.key == '4') {
        name = "LDR (dump, special block, image)";
      }
      prevKey = t.key;
    }
    if (!name.empty()) {
      d.steps.back().end = timeOf(t);
      d.steps.push_back({name, timeOf(t), 0, 0, 0});
    }
    Step& step = d.steps.back();
    if (t.kind == Token::kWakeUp) {
      // The loader answers the first "*": its banner overlaps the pacing. An
      // attempt the loader never answered (it was restarting) is no part of
      // the ideal: what it costs beyond the wire is the program's overhead.
      const double answered = static_cast<double>(heard.BytesBetween(
                                  timeOf(t), timeOf(t) + kWakeUpPacingSeconds)) /
                              kLineBytesPerSecond;
      if (answered > 0) step.loaderDelays += std::max(0.0, kWakeUpPacingSeconds - answered);
    }
    if (t.kind == Token::kTransfer) {
      if (t.transfer == "CPLD") {
        step.loaderDelays += config.timing.restartMs / 1000.0;
      } else {
        step.loaderDelays += config.timing.flashWriteMs / 1000.0;
      }
      // A raw file's end byte is known to the loader only after its quiet.
      if (t.transfer == "FPGA" || t.transfer == "UIM" || t.transfer == "DSP") {
        step.loaderDelays += config.timing.rawQuietMs / 1000.0;
      }
      const double seconds = lastTimeOf(t) + kTransmitBufferSeconds - timeOf(t);
      d.transferBytes += static_cast<double>(t.end - t.begin);
      d.transferSeconds += seconds;
    }
  }
  d.steps.back().end = done;
  for (Step& step : d.steps) {
    step.bytes = sent.BytesBetween(step.start, step.end) + heard.BytesBetween(step.start, step.end);
    for (double on : powerOns) {
      if (on >= step.start && on < step.end) step.loaderDelays += config.timing.bootMs / 1000.0;
    }
  }

  // Latencies: from the byte that completes what a wait awaits to the
  // program's next action (its next write, or the outcome on the status line).
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    const auto awaited = AwaitedAfter(tokens, k, sent.bytes, mv2, config.boardText);
    if (!awaited) continue;
    const double written = t.kind == Token::kWakeUp ? timeOf(t) : lastTimeOf(t);
    // The wait itself starts after the wake-up's last pause.
    const double waitFrom = t.kind == Token::kWakeUp ? lastTimeOf(t) + 0.032 : written;
    const size_t at = CompletionIndex(heard.bytes, heard.FirstByteAfter(written), *awaited);
    const bool last =
        k + 1 >= tokens.size() || (tokens[k + 1].kind == Token::kKey && tokens[k + 1].key == 'x');
    const double next = last ? done : timeOf(tokens[k + 1]);
    std::string step;
    for (const Step& s : d.steps) {
      if (s.start <= written + 1e-9) step = s.name;
    }
    Latency latency{step, awaited->label, -1};
    if (at != std::string::npos) {
      const double arrived = heard.TimeOfByte(at - 1);
      if (arrived <= next) latency.seconds = next - std::max(arrived, waitFrom);
    }
    d.latencies.push_back(latency);
  }
  return d;
}

// ---------------------------------------------------------------- tables

void PrintScale(const std::vector<RunFigures>& runs, double idleParked, double idleWaiting,
                double idleSeconds) {
  std::printf("\n## Scale: the MV2 sequence on N ports at once (fixed-size firmware)\n\n");
  std::printf("| N | transfer line share | whole run line share | port time / alone (mean, max) "
              "| CPU per busy port: process | station threads | simulated scanners |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
  double alone = 0;
  for (const RunFigures& r : runs) {
    double bytes = 0, seconds = 0, sent = 0, sum = 0, worst = 0;
    size_t measured = 0;
    for (const auto& run : r.runs) {
      const Dialogue d = ReadDialogue(*run, scanner::ScannerConfig::MV2());
      bytes += d.transferBytes;
      seconds += d.transferSeconds;
      sent += static_cast<double>(run->wire.ToScanner().bytes.size());
      std::lock_guard<std::mutex> lock(run->mutex);
      if (run->done && !run->powerOns.empty()) {
        const double t = *run->done - run->powerOns.front();
        sum += t;
        worst = std::max(worst, t);
        ++measured;
      }
    }
    const double mean = measured ? sum / measured : 0;
    if (r.ports == 1) alone = mean;
    const double n = static_cast<double>(r.ports);
    auto perPort = [&](double cpu) {
      char text[32];
      if (cpu < 0) return std::string("-");
      std::snprintf(text, sizeof text, "%.2f%%", 100.0 * cpu / n / r.wall);
      return std::string(text);
    };
    std::printf("| %zu%s | %.4f | %.4f | %.3f, %.3f | %s | %s | %s |\n", r.ports,
                r.allDone ? "" : " (runs failed)", seconds > 0 ? bytes / kLineBytesPerSecond / seconds : 0,
                sent / (n * kLineBytesPerSecond * r.wall), alone > 0 ? mean / alone : 0,
                alone > 0 ? worst / alone : 0, perPort(r.cpu).c_str(), perPort(r.stationCpu).c_str(),
                perPort(r.scannerCpu).c_str());
  }
  std::printf("\nIdle: 20 panels after their runs (ports open, receivers parked): %.3f%% of a core "
              "over %.0f s.\n",
              100.0 * idleParked / idleSeconds, idleSeconds);
  std::printf("Idle: 20 panels waiting for their scanners to be switched on: %.3f%% of a core "
              "over %.0f s.\n",
              100.0 * idleWaiting / idleSeconds, idleSeconds);
}

void PrintSequence(const char* model, const Dialogue& d, double wall) {
  std::printf("\n## Whole sequence: %s (demo firmware, one port)\n\n", model);
  std::printf("| step | wall s | bytes on the wire | ideal s | overhead s | wall / ideal |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  double ideal = 0;
  for (const Step& s : d.steps) {
    const double i = static_cast<double>(s.bytes) / kLineBytesPerSecond + s.loaderDelays;
    ideal += i;
    const double w = s.end - s.start;
    std::printf("| %s | %.3f | %zu | %.3f | %.3f | %.3f |\n", s.name.c_str(), w, s.bytes, i, w - i,
                i > 0 ? w / i : 0);
  }
  std::printf("| **whole sequence** | %.3f | | %.3f | %.3f | **%.3f** |\n", wall, ideal, wall - ideal,
              ideal > 0 ? wall / ideal : 0);
}

void PrintLatency(const char* model, const Dialogue& d) {
  std::printf("\n## Prompt latency: %s (last awaited byte arrived -> program's next action)\n\n", model);
  std::printf("| step | awaited | ms |\n|---|---|---:|\n");
  for (const Latency& l : d.latencies) {
    if (l.seconds < 0) {
      std::printf("| %s | %s | not matched |\n", l.step.c_str(), l.what.c_str());
    } else {
      std::printf("| %s | %s | %.1f |\n", l.step.c_str(), l.what.c_str(), 1000.0 * l.seconds);
    }
  }
}

// Each port's transfer throughput over time, in half-second bins.
void WriteThroughputCsv(const std::string& path, const RunFigures& r) {
  std::ofstream out(path, std::ios::trunc);
  out << "port,time_s,bytes_per_s\n";
  constexpr double kBin = 0.5;
  for (const auto& run : r.runs) {
    const Direction sent = run->wire.ToScanner();
    std::vector<double> bins(static_cast<size_t>(r.wall / kBin) + 2, 0);
    size_t before = 0;
    for (const auto& [t, end] : sent.chunks) {
      const auto bin = static_cast<size_t>(t / kBin);
      if (bin < bins.size()) bins[bin] += static_cast<double>(end - before);
      before = end;
    }
    for (size_t b = 0; b < bins.size(); ++b) {
      out << run->name << "," << (b + 0.5) * kBin << "," << bins[b] / kBin << "\n";
    }
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: station_bench [--tables scale,sequence,latency] [--ports 1,4,8,20]\n"
               "                     [--image-kb 12] [--idle-seconds 10] [--csv FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tables = "scale,sequence,latency";
  std::vector<size_t> portCounts = {1, 4, 8, 20};
  size_t imageKb = 12;
  double idleSeconds = 10;
  std::string csv;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string value = argv[++i];
    if (arg == "--tables") {
      tables = value;
    } else if (arg == "--ports") {
      portCounts.clear();
      for (size_t at = 0; at < value.size();) {
        size_t comma = value.find(',', at);
        if (comma == std::string::npos) comma = value.size();
        portCounts.push_back(std::strtoul(value.substr(at, comma - at).c_str(), nullptr, 10));
        at = comma + 1;
      }
    } else if (arg == "--image-kb") {
      imageKb = std::strtoul(value.c_str(), nullptr, 10);
    } else if (arg == "--idle-seconds") {
      idleSeconds = std::strtod(value.c_str(), nullptr);
    } else if (arg == "--csv") {
      csv = value;
    } else {
      return Usage();
    }
  }
  for (size_t n : portCounts) {
    if (n < 1 || n > 20) return Usage();
  }

  const fs::path folder = fs::temp_directory_path() / ("vantorel-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "scale");
  fs::create_directories(folder / "demo");
  vtdemo::DemoFiles demo;
  std::string error;
  if (!WriteScaleFirmware(folder / "scale", imageKb) ||
      !vtdemo::WriteDemoFiles((folder / "demo").string(), demo, error)) {
    std::fprintf(stderr, "station_bench: cannot write the firmware under %s %s\n",
                 folder.string().c_str(), error.c_str());
    return 1;
  }
  std::printf("# Station bench: simulated scanners on lines paced at %u bit/s (%.0f bytes/s)\n",
              kLineBitsPerSecond, kLineBytesPerSecond);
  bool failed = false;

  if (tables.find("scale") != std::string::npos) {
    std::vector<RunFigures> runs;
    double idleParked = 0;
    for (size_t n : portCounts) {
      const bool last = n == portCounts.back();
      runs.push_back(RunStation((folder / "scale").string(), n, &scanner::ScannerConfig::MV2,
                                last ? idleSeconds : 0, last ? &idleParked : nullptr));
      failed |= !runs.back().allDone;
      std::fprintf(stderr, "station_bench: %zu ports done in %.1f s\n", n, runs.back().wall);
    }
    const double idleWaiting = WaitingPanelsCpu((folder / "scale").string(), 20, idleSeconds);
    PrintScale(runs, idleParked, idleWaiting, idleSeconds);
    if (!csv.empty() && !runs.empty()) WriteThroughputCsv(csv, runs.back());
  }

  if (tables.find("sequence") != std::string::npos || tables.find("latency") != std::string::npos) {
    struct Model {
      const char* name;
      scanner::ScannerConfig (*config)();
    };
    for (const Model& model : {Model{"MV2", &scanner::ScannerConfig::MV2},
                               Model{"QZ600", &scanner::ScannerConfig::QZ600}}) {
      RunFigures r = RunStation((folder / "demo").string(), 1, model.config);
      failed |= !r.allDone;
      PortRun& run = *r.runs.front();
      const Dialogue d = ReadDialogue(run, model.config());
      double wall = 0;
      {
        std::lock_guard<std::mutex> lock(run.mutex);
        if (run.done && !run.powerOns.empty()) wall = *run.done - run.powerOns.front();
      }
      if (tables.find("sequence") != std::string::npos) PrintSequence(model.name, d, wall);
      if (tables.find("latency") != std::string::npos) PrintLatency(model.name, d);
    }
  }

  std::error_code ec;
  fs::remove_all(folder, ec);
  if (failed) std::fprintf(stderr, "station_bench: a run did not end with Programming Done\n");
  return failed ? 1 : 0;
}
