// Runs interrupted in the middle of a transfer, one case per engine: the
// operator's Reset (the run ends quietly, without an outcome text and
// without the closing key) and a scanner that vanishes from the line (the
// run ends with its failure text and gives the panel back, without hanging).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <ostream>
#include <string>
#include <vector>

#include "link/handshake.h"
#include "link/line_watch.h"
#include "platform/message_box.h"
#include "support/update_fixture.h"

namespace {

using scanner::LoaderState;
using scanner::ScannerConfig;
using updtest::FirmwareKit;
using updtest::UpdateRig;

enum class Interruption { kReset, kUnplug };

struct InterruptCase {
  const char* name;
  ScannerConfig config;
  std::function<void(CProgrammerDlg&, const FirmwareKit&)> configure;
  std::string keysBefore;  // typed before the transfer that is interrupted
  std::vector<std::string> boxes;
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

std::vector<InterruptCase> Cases() {
  using Dlg = CProgrammerDlg;
  using Kit = FirmwareKit;
  auto permit = [](Dlg& d) { d.m_bPermitLoaderOverwrite = true; };
  return {
      {"Rcp", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app")); }, "1", {}},
      {"Vtc", ScannerConfig::MV2(), [](Dlg& d, const Kit& k) { d.m_strVtcFileMV2.Set(k.Vtc()); },
       "1", {}},
      {"Fpga", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) { d.m_strFpgaFileMV2.Set(k.Raw("logic.fpga")); }, "3", {}},
      {"Uim", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) { d.m_strUimFileMV2.Set(k.Raw("agent.uim")); }, "8", {}},
      {"Cpld", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strCpldFileQZ6.Set(k.Raw("logic.pld")); }, "31", {}},
      {"Dsp", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strDspFileQZ6.Set(k.Raw("code.dsp")); }, "9y", {}},
      {"LoaderWithKeptBlock", ScannerConfig::QZ600(),
       [permit](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         permit(d);
       },
       "7FFC0\r10000\ra", {"Loader Update: Send failed"}},
      {"LoaderAsFile", ScannerConfig::QZ500(),
       [permit](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         permit(d);
       },
       "a", {"Loader Update: Send failed"}},
  };
}

std::vector<std::string> Texts(const platform::MessageRecorder& boxes, platform::BoxKind kind) {
  std::vector<std::string> texts;
  for (const auto& box : boxes.Boxes()) {
    if (box.kind == kind) texts.push_back(box.text);
  }
  return texts;
}

// Holds the program's writes (CTS low) once the keys before the transfer
// have been typed, and tells when the engine has begun the transfer: it stops
// collecting the loader's output just before its first write, which then
// waits for CTS. The interruption then meets the engine inside the transfer.
// The scanner answers every key late, so the hold comes before the answer.
ScannerConfig Slow(ScannerConfig config) {
  config.faults.menuDelayMs = 300;
  return config;
}

class TransferCatcher {
 public:
  TransferCatcher(UpdateRig& rig, std::string keysBefore)
      : rig_(rig), keysBefore_(std::move(keysBefore)) {}

  bool InTransfer() {
    if (!held_) {
      if (rig_.sim.KeysTyped() == keysBefore_) {
        rig_.line->SetCts(false);
        held_ = true;
      }
      return false;
    }
    if (rig_.panel->m_session.m_bRxActive.load()) return false;
    // Let the engine reach its held write.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
  }

 private:
  UpdateRig& rig_;
  std::string keysBefore_;
  bool held_ = false;
};

class ResetMidTransferTest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(ResetMidTransferTest, EndsQuietlyWithoutClosingKey) {
  const InterruptCase& c = GetParam();
  FirmwareKit kit;
  UpdateRig rig(Slow(c.config));
  c.configure(rig.Settings(), kit);

  TransferCatcher catcher(rig, c.keysBefore);
  ASSERT_EQ(rig.Run([&] { return catcher.InTransfer(); }), "Reset");
  EXPECT_EQ(Texts(rig.boxes, platform::BoxKind::kError), c.boxes);
  EXPECT_EQ(Texts(rig.boxes, platform::BoxKind::kNotice),
            std::vector<std::string>{"Turn scanner power off"});
  EXPECT_EQ(rig.boxes.Boxes().size(), c.boxes.size() + 1);
  EXPECT_FALSE(rig.StatusSeen(updtest::kFailedText));
  EXPECT_FALSE(rig.StatusSeen(updtest::kDoneText));
  // Nothing was typed after the transfer began: no closing "x".
  EXPECT_EQ(rig.sim.KeysTyped(), c.keysBefore);
  EXPECT_EQ(rig.sim.State(), LoaderState::kReceiving);
  EXPECT_FALSE(rig.panel->m_bButtonEnabled.load());
  EXPECT_EQ(rig.panel->m_session.m_nReconnectPhase.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, ResetMidTransferTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

class UnplugMidTransferTest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(UnplugMidTransferTest, FailsTheRunAndReleasesThePanel) {
  const InterruptCase& c = GetParam();
  FirmwareKit kit;
  UpdateRig rig(Slow(c.config));
  c.configure(rig.Settings(), kit);

  TransferCatcher catcher(rig, c.keysBefore);
  bool unplugged = false;
  const std::string outcome = rig.Run([&] {
    if (!unplugged && catcher.InTransfer()) {
      rig.sim.Unplug();
      unplugged = true;
    }
    return false;
  });
  ASSERT_EQ(outcome, updtest::kFailedText);
  EXPECT_EQ(rig.sim.State(), LoaderState::kUnplugged);
  // The lines of a port that is gone cannot be read: the panel is given back
  // without waiting for the scanner to be switched off.
  EXPECT_TRUE(linktest::WaitUntil([&] {
    return rig.StatusSeen("Turn scanner power off") && rig.panel->m_bButtonEnabled.load() &&
           rig.panel->m_bSendDone.load();
  }));
  // One box says the device is gone; no engine adds its own, and the
  // receiver does not report the read the vanished device failed.
  EXPECT_EQ(Texts(rig.boxes, platform::BoxKind::kError),
            std::vector<std::string>{kDeviceGoneText});
  EXPECT_EQ(rig.boxes.Boxes().size(), 1u);
  EXPECT_EQ(rig.panel->m_nRunResult.load(), UPD_LINK_DOWN);
}

INSTANTIATE_TEST_SUITE_P(Engines, UnplugMidTransferTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
