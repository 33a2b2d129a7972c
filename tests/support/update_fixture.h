// Test helpers for the update engines and the programming sequence: firmware
// files made with srec_cat in a scratch folder, and a rig that puts the
// scanner loader simulator on the far end of a panel's sim line and acts as
// the operator of a whole run (power on when asked, power cycle when asked,
// power off at the end), recording every status text the run shows.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "csv_reader.h"
#include "link_fixture.h"
#include "scanner_sim.h"
#include "srecord_check.h"
#include "srec_tools.h"
#include "status_trail.h"

namespace updtest {

namespace fs = std::filesystem;

// Long enough for a whole run with every component under ThreadSanitizer on
// a loaded machine; never part of what a test asserts.
constexpr int kRunPatienceMs = 120000;

inline constexpr const char* kDoneText =
    "Programming Done. Please exit Vantorel before turning scanner power off.";
inline constexpr const char* kFailedText = "Programming sequence failed!";
inline constexpr const char* kCycleText = "Please cycle scanner power to continue!";

// Bytes of a pseudo-random pattern. Raw firmware files are made without 0xFF:
// the simulated loader ends a raw transfer at a 0xFF followed by a pause, and
// a loaded test machine could pause there.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed, bool withFF = true) {
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
    if (!withFF && b == 0xFF) b = 0x5A;
  }
  return bytes;
}

// A fresh folder of firmware files, removed at the end.
class FirmwareDir {
 public:
  FirmwareDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("vt_upd_" + std::to_string(std::random_device{}()) + "_" + std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~FirmwareDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  FirmwareDir(const FirmwareDir&) = delete;
  FirmwareDir& operator=(const FirmwareDir&) = delete;

  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
  }
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return Write(name, std::string(bytes.begin(), bytes.end()));
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // An S-record image of bytes at address: header record, S3 records of 32
  // bytes packed from address on (so a record straddles every 64 KB boundary
  // that address and 32-byte steps do not meet), the count record and an S7
  // record, lines ending in CR LF.
  std::string SRecords(const std::string& name, const std::vector<uint8_t>& bytes, uint32_t address,
                       const std::string& header) const {
    if (!vttest::HaveSrecTools()) return Write(name, vttest::SRecordImage(bytes, address, header, "\r\n"));
    const std::string bin = WriteBytes(name + ".bin", bytes);
    const std::string path = PathOf(name);
    char offset[32];
    std::snprintf(offset, sizeof offset, "0x%X", address);
    const std::string command = "srec_cat '" + bin + "' -binary -offset " + offset + " -o '" +
                                path +
                                "' -motorola -address-length=4 -obs=32 -output-block-packing "
                                "-execution-start-address=0 -crlf -header '" +
                                header + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "srec_cat failed: " << command;
    return path;
  }

  // True when the data of the two S-record files is the same (srec_cmp).
  static bool SameData(const std::string& a, const std::string& b) { return vttest::SameSRecordData(a, b); }

  // Writes the memory the scanner assembled for a component as S-records.
  std::string Assembled(const scanner::ScannerSim& sim, scanner::Component component,
                        const std::string& name) const {
    return Write(name, scanner::FormatSRecords(sim.Memory(component), "sim"));
  }

 private:
  fs::path path_;
};

// Small firmware files for the runs of the failure cases: images laid out so
// that VTC goes in two blocks, raw files without 0xFF, loaders below the
// special block of their family.
class FirmwareKit {
 public:
  std::string Rcp(const std::string& header) const {
    return dir.SRecords("app" + std::to_string(++serial_) + ".rcp", Pattern(6000, 11), 0x10, header);
  }
  std::string Vtc() const {
    return dir.SRecords("data" + std::to_string(++serial_) + ".vtc", Pattern(6000, 12), 0xF010,
                        "VTC image");
  }
  std::string Raw(const std::string& name, size_t size = 6000) const {
    return dir.WriteBytes(name, Pattern(size, 13, false));
  }
  std::string Ldr(bool mv2) const {
    return dir.SRecords("boot" + std::to_string(++serial_) + ".ldr", Pattern(4000, 14),
                        mv2 ? 0x10000 : 0x4000, "LDR");
  }
  std::string Missing(const std::string& name) const { return dir.PathOf("missing_" + name); }
  // A copy of an S-record file without its records of one type.
  std::string Without(const std::string& path, char type) const {
    std::istringstream in(FirmwareDir::Read(path));
    std::string out, line;
    while (std::getline(in, line)) {
      if (line.size() >= 2 && line[0] == 'S' && line[1] == type) continue;
      out += line + "\n";
    }
    return dir.Write("without" + std::to_string(++serial_), out);
  }

  FirmwareDir dir;

 private:
  mutable int serial_ = 0;
};

// A panel on a sim line with the scanner loader simulator behind it.
class UpdateRig : public linktest::LinkRig {
 public:
  explicit UpdateRig(const scanner::ScannerConfig& config)
      : sim(line, config), previousScale_(platform::TimeScale()) {
    CreatePanel();
    panel->m_strStatus.SetObserver([this](const std::string& text) {
      trail_.Add(text);
      if (onStatus) onStatus(text);
    });
  }
  ~UpdateRig() {
    // The panel's threads may still write the status; they end here, before
    // the history they write into goes.
    DestroyPanel();
    platform::SetTimeScale(previousScale_);
  }

  // One press of the port button, with the test as the operator: switches
  // the scanner on when asked, cycles its power when asked, and stops at the
  // run's outcome text, which it returns ("" when none came in time). When
  // abortWhen becomes true, the panel's Reset is used instead and "Reset" is
  // returned once the port's threads have ended.
  std::string Run(const std::function<bool()>& abortWhen = {}, int patienceMs = kRunPatienceMs) {
    panel->Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    int cyclesDone = 0;
    bool scaled = false;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!everOn_ && StatusSeen("Turn scanner power on")) {
        sim.PowerOn();
        everOn_ = true;
      }
      // The handshake keeps its own pace; the steps after it run on the
      // step time scale, so their long silences pass quickly.
      if (!scaled && stepTimeScale != 1.0 && StatusSeen("Connected")) {
        platform::SetTimeScale(stepTimeScale);
        scaled = true;
      }
      if (CycleRequests() > cyclesDone) {
        sim.PowerOff();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        sim.PowerOn();
        ++cyclesDone;
      }
      if (abortWhen && abortWhen()) {
        panel->Reset();
        if (!linktest::WaitUntil([&] { return panel->ThreadsDone(); }, patienceMs)) return "";
        return "Reset";
      }
      if (StatusSeen(kDoneText)) return kDoneText;
      if (StatusSeen(kFailedText)) return kFailedText;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return "";
  }

  // The operator switches the scanner off after the outcome; the panel then
  // asks for exactly that and gives the port button back.
  bool SwitchOff() {
    sim.PowerOff();
    return linktest::WaitUntil(
        [&] { return StatusSeen("Turn scanner power off") && panel->m_bButtonEnabled.load(); },
        kRunPatienceMs);
  }

  std::vector<std::string> Statuses() const { return trail_.All(); }
  bool StatusSeen(const std::string& text) const { return trail_.Seen(text); }
  // True when the texts were shown in this order (others may lie between).
  bool StatusesInOrder(const std::vector<std::string>& texts) const { return trail_.InOrder(texts); }
  int CycleRequests() const { return trail_.Count(kCycleText); }

  // Settings of a run: every path empty and the options at their defaults
  // until a test sets them.
  CProgrammerDlg& Settings() { return mainDlg; }

  // The run's result record (results.csv in the program folder) as its
  // fields; empty until the run has recorded its outcome.
  std::vector<std::string> RecordFields() const {
    std::ifstream in(appDir / "results.csv", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const size_t end = all.rfind("\r\n", all.size() >= 2 ? all.size() - 3 : 0);
    if (all.empty() || end == std::string::npos) return {};
    return testsupport::CsvFields(all.substr(end + 2, all.size() - end - 4));
  }

  scanner::ScannerSim sim;
  // Called with every status text as it is set, on the thread that sets it
  // (the run's own): a test's way to act at an exact moment of a run. Set
  // before Run.
  std::function<void(const std::string&)> onStatus;
  // The process time scale for the steps of a run (set once the scanner is
  // connected, restored when the rig goes).
  double stepTimeScale = 1.0;

 private:
  double previousScale_;
  StatusTrail trail_;
  bool everOn_ = false;
};

}  // namespace updtest
