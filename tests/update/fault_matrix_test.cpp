// Faults on the line at every step of a run, for an MV2 and a QZ600 scanner:
// the device unplugged, the loader falling silent, a burst of garbage, the
// scanner restarting by itself, and the operator's Reset. Each cell runs a
// whole programming run against the loader simulator, which lets its fault
// strike at an exact byte of the dialogue, and asserts the run's result, that
// the port is given back, and that no "Done" is ever shown for firmware the
// scanner does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link/line_watch.h"
#include "platform/message_box.h"
#include "support/update_fixture.h"
#include "link/update_status.h"

namespace {

using scanner::Component;
using scanner::FaultPoint;
using scanner::LineFaultKind;
using scanner::ScannerConfig;
using updtest::FirmwareKit;
using updtest::UpdateRig;

enum class Step {
  kWakeUp,        // the first wake-up
  kRcpStream,     // in the middle of the RCP image
  kVtcBoundary,   // the end of the first VTC block, at its 64 KB boundary
  kLogicStream,   // in the middle of the FPGA (MV2) or CPLD (QZ600) file
  kLogicEndByte,  // at the end byte of that file
  kDump,          // the dump of the special block before the loader update
  kLdrStream,     // in the middle of the loader image
  kClosingWait,   // after the outcome, while the run waits for the switch-off
};

const char* StepName(Step step) {
  switch (step) {
    case Step::kWakeUp: return "WakeUp";
    case Step::kRcpStream: return "RcpStream";
    case Step::kVtcBoundary: return "VtcBoundary";
    case Step::kLogicStream: return "LogicStream";
    case Step::kLogicEndByte: return "LogicEndByte";
    case Step::kDump: return "Dump";
    case Step::kLdrStream: return "LdrStream";
    case Step::kClosingWait: return "ClosingWait";
  }
  return "?";
}

// Transfers in the order the loader takes them: the RCP image, two VTC
// blocks, the logic file, the loader image.
constexpr int kRcpTransfer = 1;
constexpr int kFirstVtcTransfer = 2;
constexpr int kLogicTransfer = 4;
constexpr int kLdrTransfer = 5;

scanner::StrikeAt StrikeFor(Step step, LineFaultKind kind) {
  scanner::StrikeAt at;
  at.kind = kind;
  switch (step) {
    case Step::kWakeUp:
      at.point = FaultPoint::kWakeUp;
      break;
    case Step::kRcpStream:
      at = {kind, FaultPoint::kStream, kRcpTransfer, 3000, 1};
      break;
    case Step::kVtcBoundary:
      at = {kind, FaultPoint::kEndByte, kFirstVtcTransfer, 0, 1};
      break;
    case Step::kLogicStream:
      at = {kind, FaultPoint::kStream, kLogicTransfer, 3000, 1};
      break;
    case Step::kLogicEndByte:
      at = {kind, FaultPoint::kEndByte, kLogicTransfer, 0, 1};
      break;
    case Step::kDump:
      at = {kind, FaultPoint::kDump, 0, 0, 1};
      break;
    case Step::kLdrStream:
      at = {kind, FaultPoint::kStream, kLdrTransfer, 2000, 1};
      break;
    case Step::kClosingWait:
      at.kind = LineFaultKind::kNone;  // struck by the test once the outcome is shown
      break;
  }
  return at;
}

struct Cell {
  bool mv2;
  Step step;
};

void PrintTo(const Cell& c, std::ostream* os) { *os << (c.mv2 ? "MV2_" : "QZ600_") << StepName(c.step); }

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  return std::string(info.param.mv2 ? "MV2_" : "QZ600_") + StepName(info.param.step);
}

std::vector<Cell> AllCells() {
  std::vector<Cell> cells;
  for (bool mv2 : {true, false}) {
    for (Step step : {Step::kWakeUp, Step::kRcpStream, Step::kVtcBoundary, Step::kLogicStream,
                      Step::kLogicEndByte, Step::kDump, Step::kLdrStream, Step::kClosingWait}) {
      cells.push_back({mv2, step});
    }
  }
  return cells;
}

const char* LogicName(bool mv2) { return mv2 ? "FPGA" : "CPLD"; }

// The component whose step the fault strikes (the dump belongs to the loader update).
const char* ComponentOf(const Cell& c) {
  switch (c.step) {
    case Step::kRcpStream: return "RCP";
    case Step::kVtcBoundary: return "VTC";
    case Step::kLogicStream:
    case Step::kLogicEndByte: return LogicName(c.mv2);
    case Step::kDump:
    case Step::kLdrStream: return "LDR";
    default: return "";
  }
}

// Patience for a run to end once its fault struck. A run that ran out a
// step's own time-out instead (20 s and more) or retried a dead device would
// exceed it; a run that ends on the fault takes milliseconds.
constexpr int kEndAfterFaultMs = 10000;

// One run of a cell: firmware for every step, a quick simulated scanner with
// the fault placed, the test as the operator.
class MatrixRun {
 public:
  MatrixRun(const Cell& cell, LineFaultKind kind) : cell_(cell), rig_(Config(cell, kind)) {
    CProgrammerDlg& settings = rig_.Settings();
    settings.m_bPermitLoaderOverwrite = true;
    rcp_ = kit_.Rcp(cell.mv2 ? "RCPMV2 app" : "QZ6 app");
    vtc_ = kit_.Vtc();
    logic_ = kit_.Raw(cell.mv2 ? "logic.fpga" : "logic.pld");
    ldr_ = kit_.Ldr(cell.mv2);
    if (cell.mv2) {
      settings.m_strRcpFileMV2.Set(rcp_);
      settings.m_strVtcFileMV2.Set(vtc_);
      settings.m_strFpgaFileMV2.Set(logic_);
      settings.m_strLdrFileMV2.Set(ldr_);
    } else {
      settings.m_strRcpFileQZ6.Set(rcp_);
      settings.m_strVtcFileQZ6.Set(vtc_);
      settings.m_strCpldFileQZ6.Set(logic_);
      settings.m_strLdrFileQZ6.Set(ldr_);
    }
  }

  static ScannerConfig Config(const Cell& cell, LineFaultKind kind) {
    ScannerConfig config = cell.mv2 ? ScannerConfig::MV2() : ScannerConfig::QZ600();
    config.timing.bootMs = 5;
    config.timing.flashWriteMs = 20;
    config.timing.restartMs = 50;
    config.timing.rawQuietMs = 100;
    config.faults.strike = StrikeFor(cell.step, kind);
    return config;
  }

  // Presses the port button and plays the operator until the outcome text,
  // until untilWhen holds (true), or until patience runs out (false).
  bool RunUntil(const std::function<bool()>& untilWhen, int patienceMs = updtest::kRunPatienceMs) {
    if (!started_) {
      rig_.panel->Start();
      started_ = true;
    }
    return linktest::WaitUntil(
        [&] {
          Operate();
          return (untilWhen && untilWhen()) || Outcome() != "";
        },
        patienceMs);
  }

  // The operator: switches the scanner on when asked and cycles its power
  // when asked.
  void Operate() {
    if (!on_ && rig_.StatusSeen("Turn scanner power on")) {
      rig_.sim.PowerOn();
      on_ = true;
    }
    if (rig_.CycleRequests() > cycles_) {
      rig_.sim.PowerOff();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      rig_.sim.PowerOn();
      ++cycles_;
    }
  }

  std::string Outcome() const {
    if (rig_.StatusSeen(updtest::kDoneText)) return updtest::kDoneText;
    if (rig_.StatusSeen(updtest::kFailedText)) return updtest::kFailedText;
    return "";
  }

  // The operator switches the scanner off; the panel must give the port back.
  bool PortGivenBack() {
    rig_.sim.PowerOff();
    return linktest::WaitUntil([&] {
      const std::vector<std::string> shown = rig_.Statuses();
      return rig_.panel->m_bButtonEnabled.load() && !shown.empty() &&
             shown.back() == "Turn scanner power off";
    });
  }

  // Every status shown, for a failure message.
  std::string History() const {
    std::string text;
    for (const std::string& s : rig_.Statuses()) text += s + "\n";
    return text;
  }

  // What reached the scanner is the firmware of each step shown as done.
  void ExpectDoneOnlyForFirmwareHeld() {
    if (rig_.StatusSeen("RCP Download Complete")) {
      EXPECT_TRUE(updtest::FirmwareDir::SameData(
          rcp_, kit_.dir.Assembled(rig_.sim, Component::kRcp, "rcp.sim")));
    }
    if (rig_.StatusSeen("VTC Download Complete")) {
      EXPECT_TRUE(updtest::FirmwareDir::SameData(
          vtc_, kit_.dir.Assembled(rig_.sim, Component::kVtc, "vtc.sim")));
    }
    // The CPLD awaits no completion text: the scanner may still be taking
    // the last bytes the program sent when the status shows.
    if (rig_.StatusSeen("PLD Done")) {
      EXPECT_TRUE(linktest::WaitUntil([&] { return LogicHeld(Component::kCpld); }));
    }
    if (rig_.StatusSeen("LDR Done")) {
      EXPECT_TRUE(LoaderHeld());
    }
    if (rig_.StatusSeen(updtest::kDoneText)) {
      EXPECT_TRUE(updtest::FirmwareDir::SameData(
          rcp_, kit_.dir.Assembled(rig_.sim, Component::kRcp, "rcp2.sim")));
      EXPECT_TRUE(updtest::FirmwareDir::SameData(
          vtc_, kit_.dir.Assembled(rig_.sim, Component::kVtc, "vtc2.sim")));
      EXPECT_TRUE(LogicHeld(cell_.mv2 ? Component::kFpga : Component::kCpld));
      EXPECT_TRUE(LoaderHeld());
    }
  }

  // The boxes of the run, texts only.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& box : rig_.boxes.Boxes()) texts.push_back(box.text);
    return texts;
  }

  int Result() const { return rig_.panel->m_nRunResult.load(); }
  // Wake-up characters the scanner received so far.
  size_t WakeUps() const {
    const std::vector<uint8_t> got = rig_.sim.Received();
    return static_cast<size_t>(std::count(got.begin(), got.end(), '*'));
  }

  UpdateRig& rig() { return rig_; }
  const Cell& cell() const { return cell_; }

 private:
  bool LogicHeld(Component component) const {
    const auto transfers = rig_.sim.Transfers(component);
    return !transfers.empty() &&
           std::string(transfers.back().begin(), transfers.back().end()) ==
               updtest::FirmwareDir::Read(logic_);
  }
  bool LoaderHeld() const {
    bool complete = false;
    const auto held = rig_.sim.ReadMemory(Component::kLdr, cell_.mv2 ? 0x10000 : 0x4000, 4000,
                                          &complete);
    return complete && held == updtest::Pattern(4000, 14);
  }

  Cell cell_;
  FirmwareKit kit_;
  UpdateRig rig_;
  std::string rcp_, vtc_, logic_, ldr_;
  bool started_ = false;
  bool on_ = false;
  int cycles_ = 0;
};

// ---------------------------------------------------------------- unplug

class UnplugMatrix : public ::testing::TestWithParam<Cell> {};

// The device vanishes: the run ends at once with UPD_LINK_DOWN and one box
// saying so, and the port is free. After the outcome it is the expected
// power-off: no box.
TEST_P(UnplugMatrix, EndsAtOnceWithLinkDown) {
  const Cell& c = GetParam();
  MatrixRun run(c, LineFaultKind::kUnplug);
  if (c.step == Step::kClosingWait) {
    ASSERT_TRUE(run.RunUntil({}));
    ASSERT_EQ(run.Outcome(), updtest::kDoneText);
    run.rig().sim.Strike(LineFaultKind::kUnplug);
    EXPECT_TRUE(run.PortGivenBack());
    EXPECT_EQ(run.Result(), UPD_OK);
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{});
  } else {
    ASSERT_TRUE(run.RunUntil([&] { return run.rig().sim.Struck(); }));
    ASSERT_TRUE(run.RunUntil({}, kEndAfterFaultMs)) << "the run did not end on the unplug";
    EXPECT_EQ(run.Outcome(), updtest::kFailedText);
    EXPECT_EQ(run.Result(), UPD_LINK_DOWN);
    EXPECT_TRUE(run.PortGivenBack());
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{kDeviceGoneText});
    // The dead handle is let go: the next press opens the device afresh.
    EXPECT_FALSE(run.rig().panel->m_session.m_hPort.IsOpen());
  }
  run.ExpectDoneOnlyForFirmwareHeld();
}

INSTANTIATE_TEST_SUITE_P(Steps, UnplugMatrix, ::testing::ValuesIn(AllCells()), CellName);

// ---------------------------------------------------------------- restart

class RestartMatrix : public ::testing::TestWithParam<Cell> {};

// The scanner restarts by itself: a restart in the middle of a step fails
// that step with "Scanner restarted during <component> update", whatever the
// fresh loader makes of the rest of the stream. A restart where the run waits
// for the scanner anyway (the wake-up, the logic device's own restart) is
// harmless, and one after the outcome is the switch-off.
TEST_P(RestartMatrix, FailsTheStepItStrikes) {
  const Cell& c = GetParam();
  MatrixRun run(c, LineFaultKind::kRestart);
  const bool harmless = c.step == Step::kWakeUp || c.step == Step::kClosingWait ||
                        (c.step == Step::kLogicEndByte && !c.mv2);
  if (c.step == Step::kClosingWait) {
    ASSERT_TRUE(run.RunUntil({}));
    ASSERT_EQ(run.Outcome(), updtest::kDoneText);
    run.rig().sim.Strike(LineFaultKind::kRestart);
  } else {
    ASSERT_TRUE(run.RunUntil([&] { return run.rig().sim.Struck(); }));
    ASSERT_TRUE(run.RunUntil({}, harmless ? updtest::kRunPatienceMs : kEndAfterFaultMs));
  }
  if (harmless) {
    EXPECT_EQ(run.Outcome(), updtest::kDoneText);
    EXPECT_EQ(run.Result(), UPD_OK);
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{});
  } else {
    EXPECT_EQ(run.Outcome(), updtest::kFailedText) << run.History();
    EXPECT_EQ(run.Result(), UPD_LINK_DOWN);
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{std::string("Scanner restarted during ") +
                                                    ComponentOf(c) + " update"});
  }
  EXPECT_TRUE(run.PortGivenBack());
  run.ExpectDoneOnlyForFirmwareHeld();
}

INSTANTIATE_TEST_SUITE_P(Steps, RestartMatrix, ::testing::ValuesIn(AllCells()), CellName);

// ---------------------------------------------------------------- silence

class SilenceMatrix : public ::testing::TestWithParam<Cell> {};

// The loader falls silent: the step fails at its own time-out (run quickly:
// the time scale drops once the loader is silent). Where the run waits for
// the scanner to come up (the wake-up, the restart after the CPLD) it waits
// on, and the operator's Reset ends it.
TEST_P(SilenceMatrix, FailsAtTheStepsTimeOut) {
  const Cell& c = GetParam();
  MatrixRun run(c, LineFaultKind::kSilence);
  if (c.step == Step::kClosingWait) {
    ASSERT_TRUE(run.RunUntil({}));
    ASSERT_EQ(run.Outcome(), updtest::kDoneText);
    run.rig().sim.Strike(LineFaultKind::kSilence);
    EXPECT_TRUE(run.PortGivenBack());
    EXPECT_EQ(run.Result(), UPD_OK);
    run.ExpectDoneOnlyForFirmwareHeld();
    return;
  }
  const bool waitsForScanner =
      c.step == Step::kWakeUp || (!c.mv2 && (c.step == Step::kLogicStream ||
                                             c.step == Step::kLogicEndByte));
  ASSERT_TRUE(run.RunUntil([&] { return run.rig().sim.Struck(); }));
  if (waitsForScanner) {
    // Two more wake-up attempts, unanswered, and no outcome.
    const size_t before = run.WakeUps();
    ASSERT_TRUE(run.RunUntil([&] { return run.WakeUps() >= before + 8; }));
    EXPECT_EQ(run.Outcome(), "");
    run.rig().panel->Reset();
    EXPECT_TRUE(linktest::WaitUntil([&] { return run.rig().panel->ThreadsDone(); }));
    EXPECT_EQ(run.Result(), -1);
  } else {
    platform::SetTimeScale(0.005);
    ASSERT_TRUE(run.RunUntil({}));
    EXPECT_EQ(run.Outcome(), updtest::kFailedText);
    EXPECT_EQ(run.Result(), UPD_TIMEOUT);
    EXPECT_FALSE(run.Boxes().empty());
    EXPECT_TRUE(run.PortGivenBack());
  }
  run.ExpectDoneOnlyForFirmwareHeld();
}

INSTANTIATE_TEST_SUITE_P(Steps, SilenceMatrix, ::testing::ValuesIn(AllCells()), CellName);

// ---------------------------------------------------------------- garbage

class GarbageMatrix : public ::testing::TestWithParam<Cell> {};

// A burst of noise on the line, then the loader carries on: the run succeeds
// with every component written.
TEST_P(GarbageMatrix, RunStillSucceeds) {
  const Cell& c = GetParam();
  MatrixRun run(c, LineFaultKind::kGarbage);
  ASSERT_TRUE(run.RunUntil({}));
  ASSERT_EQ(run.Outcome(), updtest::kDoneText);
  if (c.step == Step::kClosingWait) {
    run.rig().sim.Strike(LineFaultKind::kGarbage);
  } else {
    EXPECT_TRUE(run.rig().sim.Struck());
  }
  EXPECT_EQ(run.Result(), UPD_OK);
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{});
  EXPECT_TRUE(run.PortGivenBack());
  run.ExpectDoneOnlyForFirmwareHeld();
}

INSTANTIATE_TEST_SUITE_P(Steps, GarbageMatrix, ::testing::ValuesIn(AllCells()), CellName);

// ---------------------------------------------------------------- abort

class AbortMatrix : public ::testing::TestWithParam<Cell> {};

// The operator's Reset in the step (the loader stops answering there, so the
// run lingers in it): the run ends quietly, without an outcome, and the
// port's threads end.
TEST_P(AbortMatrix, ResetEndsTheRunQuietly) {
  const Cell& c = GetParam();
  MatrixRun run(c, LineFaultKind::kSilence);
  if (c.step == Step::kClosingWait) {
    ASSERT_TRUE(run.RunUntil({}));
    ASSERT_EQ(run.Outcome(), updtest::kDoneText);
  } else {
    ASSERT_TRUE(run.RunUntil([&] { return run.rig().sim.Struck(); }));
  }
  const bool doneBefore = run.Outcome() == updtest::kDoneText;
  run.rig().panel->Reset();
  EXPECT_TRUE(linktest::WaitUntil([&] { return run.rig().panel->ThreadsDone(); }));
  EXPECT_TRUE(run.rig().StatusSeen("Reset"));
  if (!doneBefore) {
    EXPECT_EQ(run.Outcome(), "");
    EXPECT_EQ(run.Result(), -1);
  }
  run.ExpectDoneOnlyForFirmwareHeld();
}

INSTANTIATE_TEST_SUITE_P(Steps, AbortMatrix, ::testing::ValuesIn(AllCells()), CellName);

}  // namespace
