// The failure paths of a programming run, each one case of a table: a whole
// run on a sim line against the loader simulator with a fault or a setting
// that makes one step fail or decline, checked by the run's outcome, the
// boxes shown (caption, text, order) and every key typed at the loader.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "support/update_fixture.h"

namespace {

using platform::BoxKind;
using scanner::ScannerConfig;
using updtest::FirmwareKit;
using updtest::UpdateRig;

struct Box {
  BoxKind kind;
  std::string text;
};

const char* const kRcpStore =
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the rcp "
    "file can be downloaded.";
const char* const kVtcStore =
    "Data has been detected in the Image Store Area.\r\nYou must delete the data before the vtc "
    "file can be downloaded.";
const char* const kQZ600Dump = "7FFC0\r10000\r";

struct FailureCase {
  const char* name;
  ScannerConfig config;
  // Sets the files and options of the run.
  std::function<void(CProgrammerDlg&, const FirmwareKit&)> configure;
  std::string outcome;
  std::vector<Box> boxes;
  std::string keys;
  double stepTimeScale = 1.0;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

ScannerConfig With(ScannerConfig config, const std::function<void(ScannerConfig&)>& change) {
  change(config);
  return config;
}

std::vector<FailureCase> Cases() {
  using Dlg = CProgrammerDlg;
  using Kit = FirmwareKit;
  const std::string done = updtest::kDoneText;
  const std::string failed = updtest::kFailedText;
  return {
      // The Image Store Area holds data and the operator does not leave images.
      {"StoreNotEmptySinglePassRcpStopsTheRun",
       With(ScannerConfig::QZ600(), [](auto& c) { c.imageStoreHasData = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         d.m_strVtcFileQZ6.Set(k.Vtc());
       },
       failed, {{BoxKind::kWarning, kRcpStore}}, "1n"},
      {"StoreNotEmptyBlockModeRcpAndVtcGoOn",
       With(ScannerConfig::QZ500(), [](auto& c) { c.imageStoreHasData = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ500 app"));
         d.m_strVtcFileQZ6.Set(k.Vtc());
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       done, {{BoxKind::kWarning, kRcpStore}, {BoxKind::kWarning, kVtcStore}}, "1n1na"},
      {"StoreNotEmptyVtcGoesOn",
       With(ScannerConfig::QZ600(), [](auto& c) { c.imageStoreHasData = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strVtcFileQZ6.Set(k.Vtc());
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       done, {{BoxKind::kWarning, kVtcStore}}, "1n" + std::string(kQZ600Dump) + "a"},
      // Leaving images: every question is answered "y" without a box.
      {"LeaveImagesAnswersEveryQuestionYes",
       With(ScannerConfig::QZ600(),
            [](auto& c) {
              c.imageStoreHasData = true;
              c.askStoreEveryBlock = true;
            }),
       [](Dlg& d, const Kit& k) {
         d.m_bLeaveImages = true;
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         d.m_strVtcFileQZ6.Set(k.Vtc());
       },
       done, {}, "1y" "1y1y"},
      {"DspRamError",
       With(ScannerConfig::QZ600(), [](auto& c) { c.faults.dspRamError = true; }),
       [](Dlg& d, const Kit& k) { d.m_strDspFileQZ6.Set(k.Raw("code.dsp")); }, failed, {}, "9y"},
      // Completion texts that never come; the steps run on a short time scale.
      {"NoFpgaDone", With(ScannerConfig::MV2(), [](auto& c) { c.faults.noFpgaDone = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strFpgaFileMV2.Set(k.Raw("logic.fpga"));
         d.m_strUimFileMV2.Set(k.Raw("agent.uim"));
       },
       failed, {{BoxKind::kError, "No response"}}, "3", 0.1},
      {"NoDspDone", With(ScannerConfig::QZ600(), [](auto& c) { c.faults.noDspDone = true; }),
       [](Dlg& d, const Kit& k) { d.m_strDspFileQZ6.Set(k.Raw("code.dsp")); }, failed,
       {{BoxKind::kError, "DSP update failed"}}, "9y", 0.1},
      {"NoUimMenu", With(ScannerConfig::MV2(), [](auto& c) { c.faults.noUimMenu = true; }),
       [](Dlg& d, const Kit& k) { d.m_strUimFileMV2.Set(k.Raw("agent.uim")); }, failed,
       {{BoxKind::kError, "UIM update failed"}}, "8", 0.1},
      {"NoWriteFlashCompleteForRcp",
       With(ScannerConfig::QZ600(), [](auto& c) { c.faults.noWriteFlashComplete = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         d.m_strVtcFileQZ6.Set(k.Vtc());
       },
       failed, {{BoxKind::kError, "RCP update failed"}}, "1", 0.1},
      {"NoWriteFlashCompleteForVtcBlock",
       With(ScannerConfig::MV2(), [](auto& c) { c.faults.noWriteFlashComplete = true; }),
       [](Dlg& d, const Kit& k) { d.m_strVtcFileMV2.Set(k.Vtc()); }, failed,
       {{BoxKind::kError, "VTC update failed"}}, "1", 0.1},
      {"NoWriteFlashCompleteForLoader",
       With(ScannerConfig::QZ500(), [](auto& c) { c.faults.noWriteFlashComplete = true; }),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       failed, {{BoxKind::kError, "LDR update failed"}}, "a", 0.1},
      // The loader is not overwritten without permission.
      {"LoaderWithoutPermission", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strLdrFileQZ6.Set(k.Ldr(false)); }, failed,
       {{BoxKind::kWarning, "Missing permission to overwrite Loader"}}, ""},
      // RCP files built for another family are refused before anything is typed.
      {"Mv2RefusesQZ6Rcp", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileMV2.Set(k.Rcp("QZ6 app"));
         d.m_strVtcFileMV2.Set(k.Vtc());
       },
       failed,
       {{BoxKind::kWarning,
         "ZEV QZ600/700 Vantorel cannot update an QZ7,QZ6-NextGen scanner with this firmware."}},
       ""},
      {"QZ600RefusesMv2Rcp", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Rcp("RCPMV2 app")); }, failed,
       {{BoxKind::kWarning,
         "ZEV QZ600/700 Vantorel cannot update an QZ600 scanner with this firmware."}},
       ""},
      {"QZ500RefusesQZ6Rcp", ScannerConfig::QZ500(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app")); }, failed,
       {{BoxKind::kWarning,
         "ZEV QZ600/700 Vantorel cannot update an QZ500 scanner with this firmware."}},
       ""},
      // The special block must arrive whole within three dumps.
      {"ShortDumpThreeTimes",
       With(ScannerConfig::QZ600(), [](auto& c) { c.faults.shortDumps = 3; }),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       failed, {{BoxKind::kError, "Link or Receive error"}},
       std::string(kQZ600Dump) + kQZ600Dump + kQZ600Dump},
      {"ShortDumpTwiceThenWhole",
       With(ScannerConfig::QZ600(), [](auto& c) { c.faults.shortDumps = 2; }),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       done, {}, std::string(kQZ600Dump) + kQZ600Dump + kQZ600Dump + "a"},
      {"OldLoaderDumpsWithKey4",
       With(ScannerConfig::QZ600(),
            [](auto& c) {
              c.major = 1;
              c.minor = 1;
              c.patch = 0;
            }),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Ldr(false));
         d.m_bPermitLoaderOverwrite = true;
       },
       done, {}, "4FFC0\r10000\ra"},
      {"PreserveOffSkipsTheDump", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileMV2.Set(k.Ldr(true));
         d.m_bPermitLoaderOverwrite = true;
         d.m_bPreserveSerialNumber = false;
       },
       done, {}, "a"},
      // Files that are missing.
      {"MissingRcp", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Missing("app.rcp")); }, failed,
       {{BoxKind::kError, "ReadHdrStr : CreateFile"},
        {BoxKind::kWarning,
         "ZEV QZ600/700 Vantorel cannot update an QZ600 scanner with this firmware."}},
       ""},
      {"MissingVtc", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strVtcFileQZ6.Set(k.Missing("data.vtc")); }, failed,
       {{BoxKind::kError, "ReadRCPFile : CreateFile"},
        {BoxKind::kError, "VTC Update: Read file failed"}},
       ""},
      {"MissingFpga", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) { d.m_strFpgaFileMV2.Set(k.Missing("logic.fpga")); }, failed,
       {{BoxKind::kError, "SendFile : CreateFile"}}, "3"},
      {"MissingCpld", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strCpldFileQZ6.Set(k.Missing("logic.pld")); }, failed,
       {{BoxKind::kError, "SendFile : CreateFile"}}, "31"},
      {"MissingLoaderKeptBlock", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Missing("boot.ldr"));
         d.m_bPermitLoaderOverwrite = true;
       },
       failed,
       {{BoxKind::kError, "ReadWholeFile : CreateFile"},
        {BoxKind::kError, "Loader Update: Read file failed"}},
       std::string(kQZ600Dump) + "a"},
      {"MissingLoaderSentAsFile", ScannerConfig::QZ500(),
       [](Dlg& d, const Kit& k) {
         d.m_strLdrFileQZ6.Set(k.Missing("boot.ldr"));
         d.m_bPermitLoaderOverwrite = true;
       },
       failed,
       {{BoxKind::kError, "SendFile : CreateFile"}, {BoxKind::kError, "Loader Update: Send failed"}},
       "a"},
      // Images without the records that frame a download are refused before
      // the loader menu is opened.
      {"SinglePassRcpWithoutCountRecord", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Without(k.Rcp("QZ6 app"), '5')); },
       failed,
       {{BoxKind::kError, "RCP Update: The file lacks its header, count or termination record"}},
       ""},
      {"VtcWithoutTerminationRecord", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) { d.m_strVtcFileMV2.Set(k.Without(k.Vtc(), '7')); }, failed,
       {{BoxKind::kError, "VTC Update: The file lacks its header or termination record"}}, ""},
      {"BlockModeRcpNeedsNoCountRecord", ScannerConfig::QZ500(),
       [](Dlg& d, const Kit& k) { d.m_strRcpFileQZ6.Set(k.Without(k.Rcp("QZ500 app"), '5')); },
       done, {}, "1"},
  };
}

class SequenceFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SequenceFailureTest, EndsWithItsOutcomeBoxesAndKeys) {
  const FailureCase& c = GetParam();
  FirmwareKit kit;
  UpdateRig rig(c.config);
  c.configure(rig.Settings(), kit);
  rig.stepTimeScale = c.stepTimeScale;

  ASSERT_EQ(rig.Run(), c.outcome);
  EXPECT_EQ(rig.sim.KeysTyped(), c.keys);
  const std::vector<platform::RecordedBox> boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), c.boxes.size()) << (boxes.empty() ? "" : boxes.front().text);
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].kind, c.boxes[i].kind) << i;
    EXPECT_EQ(boxes[i].caption,
              c.boxes[i].kind == BoxKind::kError ? "COM3: Error" : "COM3: Warning")
        << i;
    EXPECT_EQ(boxes[i].text, c.boxes[i].text) << i;
  }
  EXPECT_TRUE(rig.sim.RecordErrors().empty());
  // Whatever the outcome, the operator gets the panel back.
  EXPECT_TRUE(rig.SwitchOff());
}

INSTANTIATE_TEST_SUITE_P(Runs, SequenceFailureTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
