// What a run's result record says of each component: written (with the
// SHA-256 of exactly what the scanner received), declined by the loader,
// failed, or not reached after a failure; and a raw file cut on the disk
// while it is sent, which must neither change what the scanner gets nor the
// record of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "firmware/sha256.h"
#include "support/update_fixture.h"

namespace {

using scanner::Component;
using scanner::ScannerConfig;
using updtest::FirmwareDir;
using updtest::FirmwareKit;
using updtest::UpdateRig;

// One entry of the record's components column.
struct Listed {
  std::string name;
  std::string file;
  std::string outcome;
  std::string sha256;  // empty when none is given
};

std::vector<Listed> Components(const std::vector<std::string>& fields) {
  std::vector<Listed> listed;
  if (fields.size() < 7) return listed;
  const std::string& column = fields[6];
  const std::regex entry(
      "([A-Z]+)=(.*) \\([0-9]+ bytes, (written|declined|failed|not reached)"
      "(, sha256 ([0-9a-f]{64}))?\\)");
  size_t at = 0;
  while (at <= column.size() && !column.empty()) {
    size_t end = column.find("; ", at);
    if (end == std::string::npos) end = column.size();
    std::smatch m;
    const std::string text = column.substr(at, end - at);
    if (!std::regex_match(text, m, entry)) {
      ADD_FAILURE() << "not a component: " << text;
      return {};
    }
    listed.push_back({m[1], m[2], m[3], m[5]});
    at = end + 2;
  }
  return listed;
}

std::string Digest(const std::vector<uint8_t>& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

// Every component written: each digest is that of the bytes the scanner
// received (the loader's after the special block was spliced in; an image's
// its data bytes, whatever blocks they went in).
TEST(RunRecordTest, EachWrittenComponentCarriesTheDigestOfWhatTheScannerGot) {
  FirmwareDir dir;
  UpdateRig rig(ScannerConfig::MV2());
  CProgrammerDlg& settings = rig.Settings();
  const auto rcpBytes = updtest::Pattern(9000, 21);
  const auto vtcBytes = updtest::Pattern(70000, 22);  // goes in three blocks
  const auto fpga = updtest::Pattern(5000, 23, false);
  const auto uim = updtest::Pattern(3000, 24, false);
  settings.m_strRcpFileMV2.Set(dir.SRecords("app.rcp", rcpBytes, 0x10, "RCPMV2 app"));
  settings.m_strVtcFileMV2.Set(dir.SRecords("data.vtc", vtcBytes, 0xF010, "VTC image"));
  settings.m_strFpgaFileMV2.Set(dir.WriteBytes("logic.fpga", fpga));
  settings.m_strUimFileMV2.Set(dir.WriteBytes("agent.uim", uim));
  settings.m_strLdrFileMV2.Set(dir.SRecords("boot.ldr", updtest::Pattern(4000, 25), 0x10000, "LDR"));
  settings.m_bPermitLoaderOverwrite = true;

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  ASSERT_TRUE(rig.SwitchOff());
  const std::vector<Listed> listed = Components(rig.RecordFields());
  ASSERT_EQ(listed.size(), 5u);
  for (const Listed& l : listed) EXPECT_EQ(l.outcome, "written") << l.name;

  ASSERT_EQ(rig.sim.BlockCount(Component::kVtc), 3u);
  ASSERT_EQ(rig.sim.BlockCount(Component::kLdr), 1u);
  EXPECT_TRUE(rig.sim.SpecialBlockReceived().has_value());
  EXPECT_EQ(listed[0].sha256, Digest(rcpBytes));
  EXPECT_EQ(listed[1].sha256, Digest(vtcBytes));
  EXPECT_EQ(listed[2].sha256, Digest(rig.sim.Transfers(Component::kFpga).at(0)));
  EXPECT_EQ(listed[2].sha256, Digest(fpga));
  EXPECT_EQ(listed[3].sha256, Digest(rig.sim.Transfers(Component::kUim).at(0)));
  EXPECT_EQ(listed[4].sha256, Digest(rig.sim.Transfers(Component::kLdr).at(0)));
  // The splice changed the image: the digest is not the file's.
  const std::string ldrFile = FirmwareDir::Read(settings.m_strLdrFileMV2.Get());
  EXPECT_NE(listed[4].sha256, Sha256Hex(ldrFile.data(), ldrFile.size()));
}

struct OutcomeCase {
  const char* name;
  ScannerConfig config;
  std::function<void(CProgrammerDlg&, const FirmwareKit&)> configure;
  std::string outcome;
  std::vector<std::pair<std::string, std::string>> listed;  // name, outcome
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

ScannerConfig StoreHoldsData(ScannerConfig config) {
  config.imageStoreHasData = true;
  return config;
}

std::vector<OutcomeCase> OutcomeCases() {
  using Dlg = CProgrammerDlg;
  using Kit = FirmwareKit;
  return {
      // The loader declines the VTC; the run goes on and succeeds, but the
      // VTC was never written.
      {"DeclinedVtc", StoreHoldsData(ScannerConfig::QZ600()),
       [](Dlg& d, const Kit& k) {
         d.m_strVtcFileQZ6.Set(k.Vtc());
         d.m_strDspFileQZ6.Set(k.Raw("code.dsp"));
       },
       updtest::kDoneText, {{"VTC", "declined"}, {"DSP", "written"}}},
      // A declined single-pass RCP stops the run.
      {"DeclinedRcpStopsTheRun", StoreHoldsData(ScannerConfig::QZ600()),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         d.m_strVtcFileQZ6.Set(k.Vtc());
       },
       updtest::kFailedText, {{"RCP", "declined"}, {"VTC", "not reached"}}},
      {"FailedStepAndTheStepsAfterIt", ScannerConfig::MV2(),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileMV2.Set(k.Rcp("RCPMV2 app"));
         d.m_strFpgaFileMV2.Set(k.Missing("logic.fpga"));
         d.m_strUimFileMV2.Set(k.Raw("agent.uim"));
         d.m_strLdrFileMV2.Set(k.Ldr(true));
         d.m_bPermitLoaderOverwrite = true;
       },
       updtest::kFailedText,
       {{"RCP", "written"}, {"FPGA", "failed"}, {"UIM", "not reached"}, {"LDR", "not reached"}}},
      // The sequence refuses an RCP image built for another family.
      {"RefusedRcp", ScannerConfig::QZ500(),
       [](Dlg& d, const Kit& k) {
         d.m_strRcpFileQZ6.Set(k.Rcp("QZ6 app"));
         d.m_strCpldFileQZ6.Set(k.Raw("logic.pld"));
       },
       updtest::kFailedText, {{"RCP", "failed"}, {"CPLD", "not reached"}}},
      {"LoaderWithoutPermission", ScannerConfig::QZ600(),
       [](Dlg& d, const Kit& k) { d.m_strLdrFileQZ6.Set(k.Ldr(false)); },
       updtest::kFailedText, {{"LDR", "failed"}}},
  };
}

class RunRecordOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(RunRecordOutcome, ListsWhatBecameOfEachComponent) {
  const OutcomeCase& c = GetParam();
  FirmwareKit kit;
  UpdateRig rig(c.config);
  c.configure(rig.Settings(), kit);

  ASSERT_EQ(rig.Run(), c.outcome);
  ASSERT_TRUE(rig.SwitchOff());
  const std::vector<Listed> listed = Components(rig.RecordFields());
  ASSERT_EQ(listed.size(), c.listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(listed[i].name, c.listed[i].first) << i;
    EXPECT_EQ(listed[i].outcome, c.listed[i].second) << listed[i].name;
    // Only what was written has a digest.
    EXPECT_EQ(listed[i].sha256.empty(), listed[i].outcome != "written") << listed[i].name;
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, RunRecordOutcome, ::testing::ValuesIn(OutcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The raw file is cut to a quarter on the disk as soon as its transfer has
// begun: the scanner still gets the whole file as it was when the step took
// it, and the record names what it got.
TEST(RawFileTest, AFileCutDuringItsTransferChangesNothingSent) {
  FirmwareDir dir;
  UpdateRig rig(ScannerConfig::MV2());
  const auto fpga = updtest::Pattern(20000, 26, false);
  const std::string path = dir.WriteBytes("logic.fpga", fpga);
  rig.Settings().m_strFpgaFileMV2.Set(path);
  bool cut = false;
  rig.onStatus = [&](const std::string& text) {
    if (!cut && text.rfind("FPGA ", 0) == 0) {
      std::filesystem::resize_file(path, fpga.size() / 4);
      cut = true;
    }
  };

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  ASSERT_TRUE(rig.SwitchOff());
  EXPECT_TRUE(cut);
  ASSERT_EQ(rig.sim.BlockCount(Component::kFpga), 1u);
  EXPECT_EQ(rig.sim.Transfers(Component::kFpga)[0], fpga);
  const std::vector<Listed> listed = Components(rig.RecordFields());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].outcome, "written");
  EXPECT_EQ(listed[0].sha256, Digest(fpga));
  EXPECT_EQ(rig.RecordFields()[6].find("(20000 bytes, "), path.size() + 6) << rig.RecordFields()[6];
}

}  // namespace
