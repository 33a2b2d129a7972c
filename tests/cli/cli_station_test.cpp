// The station of vantorel-cli on simulated scanners: one panel per named
// port, every button pressed at once, every status change and box printed,
// the exit code from the runs' outcomes, and the operator's INI left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

#include "app/comm_dialog.h"
#include "loader_texts.h"
#include "ports/comm_sport.h"
#include "support/cli_station.h"
#include "support/link_fixture.h"

namespace clitest {
namespace {

using vtcli::kDoneText;
using vtcli::kExitFailed;
using vtcli::kExitOk;
using vtcli::kFailedText;

class CliStation : public StationFixture {};

TEST_F(CliStation, ProgramsAQz600ThroughEveryStep) {
  AddScanner("COM1", "QZ600", scanner::ScannerConfig::QZ600());
  const std::string iniBefore = ReadFile(files.ini);
  ASSERT_EQ(RunStation({"COM1"}), kExitOk) << out.Text();
  const std::vector<std::string> lines = out.Lines();
  EXPECT_TRUE(InOrder(lines, {
                                 "COM1: Turn scanner power off",
                                 "COM1: Turn scanner power on",
                                 "COM1: operator switches the QZ600 on",
                                 "COM1: Connected",
                                 "COM1: RCP Download Complete",
                                 "COM1: VTC Download Complete",
                                 "COM1: PLD programming!  Wait for auto-connect",
                                 "COM1: Please cycle scanner power to continue!",
                                 "COM1: LDR Done",
                                 std::string("COM1: ") + kDoneText,
                                 "COM1: waiting for the scanner to be switched off",
                                 "COM1: operator switches the QZ600 off",
                                 "COM1: Turn scanner power off",
                             }))
      << out.Text();
  // A batch run leaves the operator's settings file as it was.
  EXPECT_EQ(ReadFile(files.ini), iniBefore);
}

TEST_F(CliStation, ProgramsAnMv2) {
  AddScanner("COM2", "MV2", scanner::ScannerConfig::MV2());
  ASSERT_EQ(RunStation({"COM2"}), kExitOk) << out.Text();
  EXPECT_TRUE(InOrder(out.Lines(), {
                                       "COM2: Connected",
                                       "COM2: RCP Download Complete",
                                       "COM2: VTC Download Complete",
                                       "COM2: LDR Done",
                                       std::string("COM2: ") + kDoneText,
                                   }))
      << out.Text();
}

// A QZ500 takes no RCP image with the QZ6 tag: the refusal is a failed run.
TEST_F(CliStation, RefusedFirmwareFailsTheRun) {
  AddScanner("COM1", "QZ500", scanner::ScannerConfig::QZ500());
  ASSERT_EQ(RunStation({"COM1"}), kExitFailed) << out.Text();
  const std::vector<std::string> lines = out.Lines();
  EXPECT_TRUE(InOrder(lines, {
                                 "COM1: Warning: ZEV QZ600/700 Vantorel cannot update an QZ500 "
                                 "scanner with this firmware.",
                                 std::string("COM1: ") + kFailedText,
                                 "COM1: waiting for the scanner to be switched off",
                                 "COM1: operator switches the QZ500 off",
                             }))
      << out.Text();
  EXPECT_EQ(IndexOf(lines, std::string("COM1: ") + kDoneText), -1);
}

TEST_F(CliStation, OneFailedPortFailsTheWholeRun) {
  AddScanner("COM1", "QZ600", scanner::ScannerConfig::QZ600());
  AddScanner("COM2", "QZ500", scanner::ScannerConfig::QZ500());
  ASSERT_EQ(RunStation({"COM1", "COM2"}), kExitFailed) << out.Text();
  const std::vector<std::string> lines = out.Lines();
  EXPECT_NE(IndexOf(lines, std::string("COM1: ") + kDoneText), -1) << out.Text();
  EXPECT_NE(IndexOf(lines, std::string("COM2: ") + kFailedText), -1) << out.Text();
}

TEST_F(CliStation, MissingPermissionForTheLoaderFailsTheRun) {
  WriteIni("[MV2]\nLDR=" + files.mv2Ldr + "\n");
  AddScanner("COM1", "MV2", scanner::ScannerConfig::MV2());
  ASSERT_EQ(RunStation({"COM1"}), kExitFailed) << out.Text();
  EXPECT_TRUE(InOrder(out.Lines(), {
                                       "COM1: Connected",
                                       "COM1: Warning: Missing permission to overwrite Loader",
                                       std::string("COM1: ") + kFailedText,
                                   }))
      << out.Text();
}

// A USB scanner is identified by its panel's connect thread first; the
// station presses the button once that has found the scanner.
TEST_F(CliStation, UsbPortConnectsThenPrograms) {
  AddScanner("ZEV0", "MV2", scanner::ScannerConfig::MV2());
  ASSERT_EQ(RunStation({"ZEV0"}), kExitOk) << out.Text();
  EXPECT_TRUE(InOrder(out.Lines(), {
                                       "ZEV0: Turn scanner power on",
                                       "ZEV0: Connected",
                                       "ZEV0: Click USB COM button to start programming.",
                                       "ZEV0: RCP Download Complete",
                                       std::string("ZEV0: ") + kDoneText,
                                   }))
      << out.Text();
}

// Each USB panel's connect thread prints its status lines while the station
// still adds the next ports: the scanners are on from the start, so the
// first ones are identified while the later panels are made. The lines of
// every port come out under its own name, whatever the station did
// meanwhile (the TSan pass watches the port list for the connect threads'
// reads).
TEST_F(CliStation, FourUsbPortsConnectWhileThePortsAreAdded) {
  const std::vector<std::string> names = {"ZEV0", "ZEV1", "ZEV2", "ZEV3"};
  for (const std::string& name : names) {
    AddScanner(name, "MV2", scanner::ScannerConfig::MV2());
    scanners.back()->sim->PowerOn();
  }
  ASSERT_EQ(RunStation(names), kExitOk) << out.Text();
  const std::vector<std::string> lines = out.Lines();
  for (const std::string& name : names) {
    EXPECT_TRUE(InOrder(lines, {
                                   name + ": Connected",
                                   name + ": Click USB COM button to start programming.",
                                   name + ": " + kDoneText,
                               }))
        << name << "\n"
        << out.Text();
  }
  ASSERT_EQ(summary.size(), names.size() + 2);
  EXPECT_EQ(summary.back(), "4 ports, 4 programmed, 0 failed, 0 never began");
}

TEST_F(CliStation, InterruptResetsTheWaitingPorts) {
  AddScanner("COM1", "QZ600", scanner::ScannerConfig::QZ600());
  AddScanner("COM3", "QZ600", scanner::ScannerConfig::QZ600());
  std::atomic<int> interrupts{1};
  // Nobody switches the scanners on: both panels wait for power when the
  // interrupt is seen, and both are busy.
  ASSERT_EQ(RunStation({"COM1", "COM3"}, false, &interrupts), kExitFailed) << out.Text();
  const std::vector<std::string> lines = out.Lines();
  EXPECT_NE(IndexOf(lines, "interrupted: ending every run"), -1) << out.Text();
  for (const char* port : {"COM1", "COM3"}) {
    SCOPED_TRACE(port);
    EXPECT_TRUE(InOrder(lines, {std::string(port) + ": Reset",
                                std::string(port) + ": Turn scanner power off"}))
        << out.Text();
  }
}

constexpr const char* kInterrupted = "interrupted: ending every run";
constexpr const char* kInterruptedAgain = "interrupted again: leaving at once";

// The lines after the first interrupt, so a case can say what it never printed.
std::vector<std::string> AfterInterrupt(const std::vector<std::string>& lines) {
  const int at = IndexOf(lines, kInterrupted);
  if (at < 0) return {};
  return std::vector<std::string>(lines.begin() + at, lines.end());
}

// One Ctrl-C ends the run at its next safe point: at once while it waits (for
// power, for the switch-off), but not while the scanner writes its flash or
// restarts with new logic (from the end byte on, until the completion text).
// The scanner here stays in each step for minutes, so only the interrupts
// can end the run: where one is not enough, a second leaves at once and
// says that the scanner must stay on.
struct InterruptCase {
  const char* name;
  bool configured;       // the demo's firmware, or nothing (straight to the outcome)
  bool switchOn;         // the operator switches the scanner on when asked
  bool writesFlash;      // the scanner writes its flash when the interrupt lands
  scanner::ScannerTiming timing;
  std::function<bool(const scanner::ScannerSim&, const std::vector<std::string>&)> landsWhen;
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class CliInterrupt : public StationFixture, public ::testing::WithParamInterface<InterruptCase> {};

bool Shown(const std::vector<std::string>& statuses, const std::string& text) {
  return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
}

scanner::ScannerTiming Lasting(int scanner::ScannerTiming::*field) {
  scanner::ScannerTiming timing;
  timing.*field = 10 * 60 * 1000;
  return timing;
}

TEST_P(CliInterrupt, CtrlCEndsTheRunAtItsNextSafePoint) {
  const InterruptCase& c = GetParam();
  scanner::ScannerConfig config = scanner::ScannerConfig::QZ600();
  config.timing = c.timing;
  AddScanner("COM1", "QZ600", config);
  if (!c.configured) WriteIni("");
  scanner::ScannerSim& sim = *scanners.back()->sim;

  std::atomic<int> interrupts{0};
  std::mutex mutex;  // guards statuses
  std::vector<std::string> statuses;
  std::atomic<bool> stationDone{false};
  int result = -1;
  std::thread station([&] {
    result = RunStation({"COM1"}, false, &interrupts, [&](size_t, const std::string& status) {
      if (c.switchOn && status == "Turn scanner power on") sim.PowerOn();
      std::lock_guard<std::mutex> lock(mutex);
      statuses.push_back(status);
    });
    stationDone = true;
  });
  // The interrupt lands once the run is in the step of the case.
  EXPECT_TRUE(linktest::WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return c.landsWhen(sim, statuses);
      },
      linktest::kPatienceMs));
  interrupts = 1;
  if (c.writesFlash) {
    // The reset waits for a write that lasts minutes: once the station has
    // said so, the second Ctrl-C leaves.
    EXPECT_TRUE(linktest::WaitUntil(
        [&] { return WasPrinted("COM1: stopping after the flash write (leave the scanner on)"); },
        linktest::kPatienceMs));
    interrupts = 2;
  }
  const bool ended = linktest::WaitUntil([&] { return stationDone.load(); }, linktest::kPatienceMs);
  if (!ended) sim.PowerOff();  // lets a run that ignored the interrupt end, so the test ends
  station.join();
  ASSERT_TRUE(ended) << out.Text();
  EXPECT_EQ(result, kExitFailed);
  const std::vector<std::string> lines = out.Lines();
  if (!c.writesFlash) {
    EXPECT_TRUE(InOrder(lines, {kInterrupted, "COM1: Reset"})) << out.Text();
    return;
  }
  EXPECT_TRUE(InOrder(lines, {kInterrupted,
                              "COM1: stopping after the flash write (leave the scanner on)",
                              kInterruptedAgain,
                              "COM1: flash write in progress: leave the scanner on until it ends"}))
      << out.Text();
  for (const std::string& line : AfterInterrupt(lines)) {
    EXPECT_NE(line, "COM1: Turn scanner power off") << out.Text();
    EXPECT_NE(line, "COM1: Reset") << out.Text();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CliInterrupt,
    ::testing::Values(
        InterruptCase{"WaitingForPower", true, false, false, {},
                      [](const auto&, const auto& s) { return Shown(s, "Turn scanner power on"); }},
        InterruptCase{"WritingFlash", true, true, true, Lasting(&scanner::ScannerTiming::flashWriteMs),
                      [](const auto& sim, const auto&) {
                        return sim.State() == scanner::LoaderState::kWritingFlash;
                      }},
        InterruptCase{"CpldRestart", true, true, true, Lasting(&scanner::ScannerTiming::restartMs),
                      [](const auto&, const auto& s) {
                        return Shown(s, "PLD programming!  Wait for auto-connect");
                      }},
        InterruptCase{"WaitingForSwitchOff", false, true, false, {},
                      [](const auto&, const auto& s) { return Shown(s, kDoneText); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C while the loader writes the flash of each kind of transfer: the
// simulator holds that write until the test releases it, so the order of
// interrupt, write and reset is the test's, not the clock's.
struct FlashWriteCase {
  const char* name;
  const char* model;
  scanner::ScannerConfig config;
  scanner::Component component;  // whose flash write the interrupt lands in
  const char* completion;        // the loader's text once that write is over
};

void PrintTo(const FlashWriteCase& c, std::ostream* os) { *os << c.name; }

// Every transfer the scanner took up to its end byte, of any component.
size_t TransfersTaken(const scanner::ScannerSim& sim) {
  size_t taken = 0;
  for (auto component : {scanner::Component::kCpld, scanner::Component::kFpga,
                         scanner::Component::kDsp, scanner::Component::kUim,
                         scanner::Component::kRcp, scanner::Component::kVtc,
                         scanner::Component::kLdr}) {
    taken += sim.BlockCount(component);
  }
  return taken;
}

class CliFlashWrite : public StationFixture, public ::testing::WithParamInterface<FlashWriteCase> {
 protected:
  static constexpr const char* kStopping =
      "COM1: stopping after the flash write (leave the scanner on)";

  // Runs the station on its own thread, with the bench operator, until the
  // loader holds the flash write of the case; then the first Ctrl-C lands,
  // and returns once the station has answered it.
  void RunUntilTheFirstCtrlCIsAnswered() {
    const FlashWriteCase& c = GetParam();
    AddScanner("COM1", c.model, c.config);
    sim_ = scanners.back()->sim.get();
    sim_->HoldFlashWrite(c.component);
    station_ = std::thread([this] {
      result_ = RunStation({"COM1"}, true, &interrupts_);
      stationDone_ = true;
    });
    ASSERT_TRUE(linktest::WaitUntil([&] { return sim_->HoldingFlashWrite(); }, linktest::kPatienceMs));
    transfersAtTheInterrupt_ = TransfersTaken(*sim_);
    interrupts_ = 1;
    ASSERT_TRUE(linktest::WaitUntil([&] { return WasPrinted(kStopping) || stationDone_.load(); },
                                    linktest::kPatienceMs));
    ASSERT_TRUE(WasPrinted(kStopping));
  }

  // Lets the station end, whatever the test saw.
  bool Finish() {
    const bool ended = linktest::WaitUntil([&] { return stationDone_.load(); }, linktest::kPatienceMs);
    if (!ended) interrupts_ = 2;
    sim_->ReleaseFlashWrite();
    if (station_.joinable()) station_.join();
    return ended;
  }

  void TearDown() override {
    if (station_.joinable()) Finish();
    StationFixture::TearDown();
  }

  scanner::ScannerSim* sim_ = nullptr;
  std::atomic<int> interrupts_{0};
  std::atomic<bool> stationDone_{false};
  int result_ = -1;
  size_t transfersAtTheInterrupt_ = 0;
  std::thread station_;
};

TEST_P(CliFlashWrite, TheFirstCtrlCResetsThePortOnceTheWriteHasEnded) {
  RunUntilTheFirstCtrlCIsAnswered();
  if (HasFatalFailure()) return;
  // Told, and waiting: nothing tells the operator to switch the scanner off
  // while it writes.
  for (const std::string& line : AfterInterrupt(Printed())) {
    EXPECT_NE(line, "COM1: Turn scanner power off");
    EXPECT_NE(line, "COM1: Reset");
  }
  EXPECT_TRUE(sim_->HoldingFlashWrite());

  sim_->ReleaseFlashWrite();
  ASSERT_TRUE(Finish()) << out.Text();
  EXPECT_EQ(result_, kExitFailed);
  const std::vector<std::string> lines = out.Lines();
  EXPECT_TRUE(InOrder(lines, {kInterrupted, kStopping, "COM1: Reset", "COM1: Turn scanner power off"}))
      << out.Text();
  EXPECT_EQ(IndexOf(lines, kInterruptedAgain), -1);
  // The write ran to its end, and the reset came before any further
  // transfer reached its end byte: no flash write began after the Ctrl-C.
  EXPECT_NE(sim_->Output().find(GetParam().completion), std::string::npos);
  EXPECT_EQ(TransfersTaken(*sim_), transfersAtTheInterrupt_);
}

TEST_P(CliFlashWrite, ASecondCtrlCLeavesAtOnceAndSaysToLeaveTheScannerOn) {
  RunUntilTheFirstCtrlCIsAnswered();
  if (HasFatalFailure()) return;
  interrupts_ = 2;
  // The write is still held: only the second interrupt can end the station.
  ASSERT_TRUE(linktest::WaitUntil([&] { return stationDone_.load(); }, linktest::kPatienceMs));
  EXPECT_TRUE(sim_->HoldingFlashWrite());
  ASSERT_TRUE(Finish());
  EXPECT_EQ(result_, kExitFailed);
  const std::vector<std::string> lines = out.Lines();
  EXPECT_TRUE(InOrder(lines, {kInterrupted, kStopping, kInterruptedAgain,
                              "COM1: flash write in progress: leave the scanner on until it ends"}))
      << out.Text();
  // Not even as the teardown cuts the wait for the completion text short.
  for (const std::string& line : AfterInterrupt(lines)) {
    EXPECT_NE(line, "COM1: Turn scanner power off") << out.Text();
    EXPECT_NE(line, "COM1: Reset") << out.Text();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, CliFlashWrite,
    ::testing::Values(
        FlashWriteCase{"RcpImage", "QZ600", scanner::ScannerConfig::QZ600(), scanner::Component::kRcp,
                       scanner::texts::kFlashComplete},
        // After the logic device's restart and the power cycle.
        FlashWriteCase{"DspCode", "QZ600", scanner::ScannerConfig::QZ600(), scanner::Component::kDsp,
                       scanner::texts::kDspDone},
        // The FPGA engine leaves m_bBusy clear: the stop comes before the UIM
        // agent's end byte.
        FlashWriteCase{"FpgaThenUimAgent", "MV2", scanner::ScannerConfig::MV2(),
                       scanner::Component::kFpga, scanner::texts::kFpgaDone},
        FlashWriteCase{"Loader", "MV2", scanner::ScannerConfig::MV2(), scanner::Component::kLdr,
                       scanner::texts::kFlashComplete}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliStation, PanelsLeaveThePortTable) {
  AddScanner("COM5", "MV2", scanner::ScannerConfig::MV2());
  WriteIni("");
  ASSERT_EQ(RunStation({"COM5"}), kExitOk) << out.Text();
  // Nothing configured: the run connects and reports success.
  EXPECT_NE(IndexOf(out.Lines(), std::string("COM5: ") + kDoneText), -1) << out.Text();
  for (const COMM_SPORT& row : g_portTable) {
    EXPECT_EQ(row.pPanel, nullptr);
    EXPECT_EQ(row.bInUse, 0);
  }
  EXPECT_TRUE(g_bClosing.load());
}

// The program's own path: settings from the folder, boxes and status lines
// on the given stream. Without ZANDRIC.INI nothing is configured, which is
// said on the error stream.
TEST_F(CliStation, RunPortsWarnsWithoutASettingsFile) {
  AddScanner("COM2", "QZ600", scanner::ScannerConfig::QZ600());
  ScratchDir empty;
  CapturedStream err;
  std::atomic<int> interrupts{1};
  vtcli::Environment env;
  env.out = out.File();
  env.err = err.File();
  env.currentDir = empty.Path();
  env.interrupts = &interrupts;
  vtcli::PortSpec spec;
  ASSERT_TRUE(vtcli::ParsePortName("COM2", spec));
  EXPECT_EQ(vtcli::RunPorts({spec}, env), kExitFailed);
  EXPECT_EQ(err.Text(), "vantorel-cli: no ZANDRIC.INI in " + empty.Path() +
                            ": no firmware is configured\n");
  EXPECT_TRUE(InOrder(out.Lines(), {"COM2: Turn scanner power off", "COM2: Reset",
                                    "COM2: Turn scanner power off"}))
      << out.Text();
  EXPECT_FALSE(fs::exists(empty / "ZANDRIC.INI"));
}

// The settings are prepared as the main window's initialisation prepares
// them, whatever an earlier station left behind.
TEST(CliSettings, LoadedLikeTheMainWindow) {
  ScratchDir dir;
  WriteFile(dir / "ZANDRIC.INI", "[Common]\nPermitLoaderOverwrite=y\nCOM2=LOG\n");
  g_portTable[5].bInUse = 1;
  g_portTable[5].bLog = 1;
  g_bClosing = true;
  CProgrammerDlg dlg;
  dlg.m_bPreserveSerialNumber = false;
  dlg.m_strRcpFileMV2.Set("left over");
  vtcli::LoadStationSettings(dlg, dir.Path() + "/");
  EXPECT_EQ(std::string(dlg.m_szAppDir), dir.Path());
  EXPECT_TRUE(dlg.m_bPermitLoaderOverwrite.load());
  EXPECT_TRUE(dlg.m_bPreserveSerialNumber.load());
  EXPECT_EQ(dlg.m_strRcpFileMV2.Get(), "");
  EXPECT_EQ(dlg.m_nBaudQZ6.load(), 57600);
  EXPECT_EQ(g_portTable[1].bLog, 1);
  EXPECT_EQ(g_portTable[5].bInUse, 0);
  EXPECT_EQ(g_portTable[5].bLog, 0);
  EXPECT_FALSE(g_bClosing.load());
  for (COMM_SPORT& row : g_portTable) row = COMM_SPORT{};
}

}  // namespace
}  // namespace clitest
