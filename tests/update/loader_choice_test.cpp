// The MV2 loader file chosen by the scanner's board version: boards before
// 5.0 take [MV2] LDR_PRE_5_0 when one is configured, every other board the
// [MV2] LDR file.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/update_fixture.h"

namespace {

using scanner::Component;
using scanner::ScannerConfig;

struct ChoiceCase {
  const char* name;
  int boardMajor, boardMinor;
  bool preConfigured;
  bool expectPre;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class LoaderChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(LoaderChoiceTest, WritesTheLoaderForTheBoard) {
  const ChoiceCase& c = GetParam();
  updtest::FirmwareDir dir;
  ScannerConfig config = ScannerConfig::MV2();
  config.boardMajor = c.boardMajor;
  config.boardMinor = c.boardMinor;
  updtest::UpdateRig rig(config);

  const auto current = updtest::Pattern(3000, 21);
  const auto older = updtest::Pattern(3000, 22);
  CProgrammerDlg& settings = rig.Settings();
  settings.m_bPermitLoaderOverwrite = true;
  settings.m_strLdrFileMV2.Set(dir.SRecords("current.ldr", current, 0x10000, "LDR"));
  if (c.preConfigured) {
    settings.m_strLdrPre50FileMV2.Set(dir.SRecords("older.ldr", older, 0x10000, "LDR"));
  }

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  EXPECT_EQ(rig.panel->Identity().boardVersion, c.boardMajor * 10 + c.boardMinor);
  EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, 0x10000, 3000), c.expectPre ? older : current);
  EXPECT_TRUE(rig.SwitchOff());
}

INSTANTIATE_TEST_SUITE_P(Boards, LoaderChoiceTest,
                         ::testing::Values(ChoiceCase{"Board49", 4, 9, true, true},
                                           ChoiceCase{"Board50", 5, 0, true, false},
                                           ChoiceCase{"Board49WithoutOlderLoader", 4, 9, false,
                                                      false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
