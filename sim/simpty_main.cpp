// vantorel-simpty: serves one simulated scanner on a pseudo-terminal, so the
// program (or a test) can program it through the operating system's serial
// port code. Prints the slave device path on the first line of standard
// output, switches the scanner on and serves one run. The run is over when
// the closing key "x" arrives or, since the program sends "x" only after the
// scanner's lines dropped and a pseudo-terminal has none to drop, when the
// scanner has answered at least once and the line has been idle in the menu
// for --idle-off-ms. Then the scanner is switched off (the master closed: the
// program sees a hang-up), the report is written and the tool exits 0.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "scanner_sim.h"
#include "scanner_transport.h"
#include "srecord_check.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

const char kUsage[] =
    "usage: vantorel-simpty --family qz500|qz600|mv2 [options]\n"
    "  --loader-version A.B.C   loader version in the banner (3.x or later: MV2 menu)\n"
    "  --family-digit D         family digit in the banner\n"
    "  --board-version A.B      MV2 board version\n"
    "  --no-board-text          MV2 without the board text\n"
    "  --special-block HEX      the scanner's 64 special bytes, 128 hex digits\n"
    "  --store-has-data         the Image Store Area holds data\n"
    "  --store-question-always  ask the store question for every image block\n"
    "  --cpld-power-cycle       after the CPLD, wait for a power cycle (never comes on a pty)\n"
    "  --boot-ms N --flash-ms N --quiet-ms N --restart-ms N   timing, real ms\n"
    "  --idle-off-ms N          switch off after N ms idle in the menu (default 2000, 0: never)\n"
    "  faults: --silent --menu-delay-ms N --no-fpga-done --no-dsp-done --no-uim-menu\n"
    "          --no-write-flash-complete --dsp-ram-error --short-dumps N\n"
    "          --board-without-version --garbage\n"
    "  --report FILE            write what the scanner received after the run\n"
    "  --dump-dir DIR           write every transfer (COMPONENT-N.bin) and memory image (COMPONENT.srec)\n";

bool ParseInts(const std::string& text, int* values, int count) {
  size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t used = 0;
    try {
      values[i] = std::stoi(text.substr(pos), &used);
    } catch (...) {
      return false;
    }
    pos += used;
  }
  return pos == text.size();
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Hex(const uint8_t* data, size_t n) {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    out += pair;
  }
  return out;
}

constexpr scanner::Component kComponents[] = {
    scanner::Component::kCpld, scanner::Component::kFpga, scanner::Component::kDsp,
    scanner::Component::kUim,  scanner::Component::kRcp,  scanner::Component::kVtc,
    scanner::Component::kLdr};

void WriteReport(const scanner::ScannerSim& sim, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "banners " << sim.BannerCount() << "\n";
  out << "keys " << Printable(sim.KeysTyped()) << "\n";
  out << "dumps " << sim.DumpCount() << "\n";
  for (scanner::Component c : kComponents) {
    const auto transfers = sim.Transfers(c);
    const auto headers = sim.BlockHeaders(c);
    for (size_t i = 0; i < transfers.size(); ++i) {
      out << "transfer " << scanner::ComponentName(c) << " " << i + 1 << " " << transfers[i].size() << " bytes";
      if (i < headers.size()) out << " header \"" << Printable(headers[i]) << "\"";
      out << "\n";
    }
    const scanner::SparseMemory memory = sim.Memory(c);
    for (const auto& [first, end] : memory.Ranges()) {
      char range[64];
      std::snprintf(range, sizeof range, "%08llx-%08llx", static_cast<unsigned long long>(first),
                    static_cast<unsigned long long>(end));
      out << "memory " << scanner::ComponentName(c) << " " << range << "\n";
    }
  }
  const auto errors = sim.RecordErrors();
  out << "record-errors " << errors.size() << "\n";
  for (const auto& error : errors) {
    out << "record-error " << scanner::ComponentName(error.component) << " " << error.block << " "
        << error.text << "\n";
  }
  const auto block = sim.SpecialBlockReceived();
  out << "special-block-received " << (block ? Hex(block->data(), block->size()) : "none") << "\n";
}

void WriteDumpDir(const scanner::ScannerSim& sim, const std::string& dir) {
  for (scanner::Component c : kComponents) {
    const auto transfers = sim.Transfers(c);
    for (size_t i = 0; i < transfers.size(); ++i) {
      std::ofstream out(dir + "/" + scanner::ComponentName(c) + "-" + std::to_string(i + 1) + ".bin",
                        std::ios::binary);
      out.write(reinterpret_cast<const char*>(transfers[i].data()),
                static_cast<std::streamsize>(transfers[i].size()));
    }
    const scanner::SparseMemory memory = sim.Memory(c);
    if (!memory.Empty()) {
      std::ofstream out(dir + "/" + scanner::ComponentName(c) + ".srec", std::ios::binary);
      out << scanner::FormatSRecords(memory, scanner::ComponentName(c));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  scanner::ScannerConfig config;
  bool familyGiven = false;
  int idleOffMs = 2000;
  std::string reportPath;
  std::string dumpDir;
  config.cpldNeedsPowerCycle = false;

  auto fail = [](const std::string& why) {
    std::cerr << "vantorel-simpty: " << why << "\n" << kUsage;
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) return {};
      return argv[++i];
    };
    auto number = [&](int& target) {
      const std::string v = value();
      return ParseInts(v, &target, 1);
    };
    int versions[3];
    if (arg == "--family") {
      const std::string family = value();
      const auto keepTiming = config.timing;
      const auto keepFaults = config.faults;
      if (family == "qz500") {
        config = scanner::ScannerConfig::QZ500();
      } else if (family == "qz600") {
        config = scanner::ScannerConfig::QZ600();
      } else if (family == "mv2") {
        config = scanner::ScannerConfig::MV2();
      } else {
        return fail("unknown family '" + family + "'");
      }
      config.timing = keepTiming;
      config.faults = keepFaults;
      config.cpldNeedsPowerCycle = false;
      familyGiven = true;
    } else if (arg == "--loader-version") {
      if (!ParseInts(value(), versions, 3)) return fail("bad --loader-version");
      config.major = versions[0];
      config.minor = versions[1];
      config.patch = versions[2];
    } else if (arg == "--family-digit") {
      const std::string v = value();
      if (v.size() != 1) return fail("bad --family-digit");
      config.familyDigit = v[0];
    } else if (arg == "--board-version") {
      if (!ParseInts(value(), versions, 2)) return fail("bad --board-version");
      config.boardMajor = versions[0];
      config.boardMinor = versions[1];
    } else if (arg == "--no-board-text") {
      config.boardText = false;
    } else if (arg == "--special-block") {
      const std::string hex = value();
      if (hex.size() != 128 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return fail("--special-block needs 128 hex digits");
      }
      for (size_t b = 0; b < 64; ++b) {
        config.specialBlock[b] = static_cast<uint8_t>(std::stoul(hex.substr(2 * b, 2), nullptr, 16));
      }
    } else if (arg == "--store-has-data") {
      config.imageStoreHasData = true;
    } else if (arg == "--store-question-always") {
      config.askStoreEveryBlock = true;
    } else if (arg == "--cpld-power-cycle") {
      config.cpldNeedsPowerCycle = true;
    } else if (arg == "--boot-ms") {
      if (!number(config.timing.bootMs)) return fail("bad --boot-ms");
    } else if (arg == "--flash-ms") {
      if (!number(config.timing.flashWriteMs)) return fail("bad --flash-ms");
    } else if (arg == "--quiet-ms") {
      if (!number(config.timing.rawQuietMs)) return fail("bad --quiet-ms");
    } else if (arg == "--restart-ms") {
      if (!number(config.timing.restartMs)) return fail("bad --restart-ms");
    } else if (arg == "--idle-off-ms") {
      if (!number(idleOffMs)) return fail("bad --idle-off-ms");
    } else if (arg == "--silent") {
      config.faults.silent = true;
    } else if (arg == "--menu-delay-ms") {
      if (!number(config.faults.menuDelayMs)) return fail("bad --menu-delay-ms");
    } else if (arg == "--no-fpga-done") {
      config.faults.noFpgaDone = true;
    } else if (arg == "--no-dsp-done") {
      config.faults.noDspDone = true;
    } else if (arg == "--no-uim-menu") {
      config.faults.noUimMenu = true;
    } else if (arg == "--no-write-flash-complete") {
      config.faults.noWriteFlashComplete = true;
    } else if (arg == "--dsp-ram-error") {
      config.faults.dspRamError = true;
    } else if (arg == "--short-dumps") {
      if (!number(config.faults.shortDumps)) return fail("bad --short-dumps");
    } else if (arg == "--board-without-version") {
      config.faults.boardTextWithoutVersion = true;
    } else if (arg == "--garbage") {
      config.faults.garbage = true;
    } else if (arg == "--report") {
      reportPath = value();
      if (reportPath.empty()) return fail("--report needs a file");
    } else if (arg == "--dump-dir") {
      dumpDir = value();
      if (dumpDir.empty()) return fail("--dump-dir needs a folder");
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      return fail("unknown option '" + arg + "'");
    }
  }
  if (!familyGiven) return fail("--family is required");

  std::string slavePath;
  std::string error;
  std::unique_ptr<scanner::ScannerTransport> transport = scanner::OpenPtyTransport(slavePath, error);
  if (!transport) {
    std::cerr << "vantorel-simpty: " << error << "\n";
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  scanner::ScannerSim sim(std::move(transport), config);
  // Switched on before the path is told: the caller may type at once.
  sim.PowerOn();
  std::cout << slavePath << std::endl;  // one line, flushed: the caller waits for it

  for (;;) {
    if (g_stop) break;
    if (sim.KeysTyped().find('x') != std::string::npos) break;
    if (idleOffMs > 0 && sim.BannerCount() > 0 && sim.MillisecondsSinceTraffic() >= idleOffMs) {
      const scanner::LoaderState state = sim.State();
      if (state == scanner::LoaderState::kMenu || state == scanner::LoaderState::kAwaitingWakeUp ||
          state == scanner::LoaderState::kAwaitingPowerCycle) {
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  sim.PowerOff();
  if (!reportPath.empty()) WriteReport(sim, reportPath);
  if (!dumpDir.empty()) WriteDumpDir(sim, dumpDir);
  return 0;
}
