#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "app/ini_file.h"
#include "app/programmer_dlg.h"
#include "platform/serial_port.h"
#include "support/app_fixture.h"

namespace {

using apptest::kSep;
using apptest::ReadFile;
using apptest::SettingsFixture;
using apptest::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class LoadSettingsTest : public SettingsFixture {};

TEST_F(LoadSettingsTest, WithoutFileEveryDefaultApplies) {
  dlg.LoadSettings();
  EXPECT_FALSE(dlg.m_bPermitLoaderOverwrite);
  EXPECT_TRUE(dlg.m_bPreserveSerialNumber);
  EXPECT_FALSE(dlg.m_bLeaveImages);
  EXPECT_FALSE(dlg.m_bIncludeSetupMenu);
  EXPECT_EQ(dlg.m_nBaudQZ6, 57600);
  EXPECT_EQ(dlg.m_nBaudMV2, 57600);
  EXPECT_EQ(dlg.m_strLogPath.Get(), "");
  EXPECT_EQ(dlg.m_strRcpFileQZ6.Get(), "");
  for (const COMM_SPORT& row : g_portTable) EXPECT_EQ(row.bLog, 0);
  EXPECT_TRUE(boxes.Boxes().empty());
}

struct OptionCase {
  const char* line;  // in [Common]
  std::atomic<bool> CProgrammerDlg::*member;
  bool expected;
};

TEST_F(LoadSettingsTest, OptionIsOffOnlyForN) {
  const OptionCase cases[] = {
      {"PermitLoaderOverwrite=N", &CProgrammerDlg::m_bPermitLoaderOverwrite, false},
      {"PermitLoaderOverwrite=n", &CProgrammerDlg::m_bPermitLoaderOverwrite, false},
      {"PermitLoaderOverwrite=no", &CProgrammerDlg::m_bPermitLoaderOverwrite, true},
      {"PermitLoaderOverwrite=", &CProgrammerDlg::m_bPermitLoaderOverwrite, true},
      {"PermitLoaderOverwrite=0", &CProgrammerDlg::m_bPermitLoaderOverwrite, true},
      {"permitloaderoverwrite=y", &CProgrammerDlg::m_bPermitLoaderOverwrite, true},
      {"PreserveSerialNumber=N", &CProgrammerDlg::m_bPreserveSerialNumber, false},
      {"PreserveSerialNumber=x", &CProgrammerDlg::m_bPreserveSerialNumber, true},
      {"LeaveImages=Y", &CProgrammerDlg::m_bLeaveImages, true},
      {"LeaveImages=N", &CProgrammerDlg::m_bLeaveImages, false},
      {"IncludeSetupMenu=yes", &CProgrammerDlg::m_bIncludeSetupMenu, true},
      {"IncludeSetupMenu=n", &CProgrammerDlg::m_bIncludeSetupMenu, false},
  };
  for (const OptionCase& c : cases) {
    WriteIni(std::string("[Common]\n") + c.line + "\n");
    dlg.SetPreloadDefaults();
    dlg.LoadSettings();
    EXPECT_EQ((dlg.*c.member).load(), c.expected) << c.line;
  }
}

TEST_F(LoadSettingsTest, OnlyComKeysWithLogSwitchTheirRowOn) {
  WriteIni(
      "[Common]\n"
      "COM1=LOG\n"
      "COM5=log\n"
      "COM6=yes\n"
      "COM7=LOGGING\n"
      "COM20=Log\n"
      "COM21=LOG\n"
      "COM0=LOG\n");
  dlg.LoadSettings();
  std::vector<int> logged;
  for (int i = 0; i < kPortTableRows; ++i) {
    if (g_portTable[i].bLog) logged.push_back(i);
  }
  EXPECT_THAT(logged, ElementsAre(0, 4, 19));
}

TEST_F(LoadSettingsTest, LogPathLosesLeadingBlanksAndOneTrailingSeparatorAndIsCreated) {
  std::string logs = dir / "Logs";
  for (const std::string& line : {"LogPath=   " + logs + kSep,            // blanks as typed
                                  "LogPath=\"   " + logs + kSep + "\"",   // blanks kept by quotes
                                  "LogPath=" + logs + kSep + kSep}) {     // only one is removed
    std::filesystem::remove_all(logs);
    WriteIni("[Common]\n" + line + "\n");
    dlg.SetPreloadDefaults();
    dlg.LoadSettings();
    std::string expected = line.back() == kSep && line[line.size() - 2] == kSep ? logs + kSep : logs;
    EXPECT_EQ(dlg.m_strLogPath.Get(), expected) << line;
    EXPECT_TRUE(std::filesystem::is_directory(logs)) << line;
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(LoadSettingsTest, LogPathOfBlanksIsTreatedAsEmpty) {
  WriteIni("[Common]\nLogPath=\"   \"\n");
  auto before = std::distance(std::filesystem::directory_iterator(dir.Path()),
                              std::filesystem::directory_iterator());
  dlg.LoadSettings();
  EXPECT_EQ(dlg.m_strLogPath.Get(), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            before);
}

TEST_F(LoadSettingsTest, LogFolderIsCreatedOneLevelOnlyAndFailureIsSilent) {
  std::string deep = dir / ("missing" + std::string(1, kSep) + "Logs");
  WriteIni("[Common]\nLogPath=" + deep + "\n");
  dlg.LoadSettings();
  EXPECT_EQ(dlg.m_strLogPath.Get(), deep);
  EXPECT_FALSE(std::filesystem::exists(deep));
  EXPECT_TRUE(boxes.Boxes().empty());
}

struct BaudCase {
  const char* ini;
  int qz6;
  int mv2;
};

TEST_F(LoadSettingsTest, BaudRateIsTheLeadingNumberOfBaudRate) {
  const BaudCase cases[] = {
      {"[QZ6]\nBaudRate=fast\n", 0, 57600},
      {"[QZ6]\nBaudRate=38400x\n[MV2]\nBaudRate=28800\n", 38400, 28800},
      {"[QZ6]\nBaudRate=9600\n", 9600, 57600},            // not validated here
      {"[QZ6]\nBaud=38400\n[MV2]\nBaud=28800\n", 57600, 57600},  // written key is not read
      {"[MV2]\nBaudRate=\n", 57600, 0},
  };
  for (const BaudCase& c : cases) {
    WriteIni(c.ini);
    dlg.SetPreloadDefaults();
    dlg.LoadSettings();
    EXPECT_EQ(dlg.m_nBaudQZ6, c.qz6) << c.ini;
    EXPECT_EQ(dlg.m_nBaudMV2, c.mv2) << c.ini;
  }
}

TEST_F(LoadSettingsTest, ExistingFilesAreTakenMissingOnesReportedInLoadingOrder) {
  std::string rcp = MakeFile("rcp.run");
  std::string fpga = MakeFile("fpga.srec");
  std::string gone = dir / "gone";
  WriteIni("[MV2]\nUIM=" + gone + "6\nFPGA=" + fpga + "\nVTC=" + gone + "5\nLDR=" + gone +
           "4\nLDR_PRE_5_0=" + gone + "3\nRCP=\n" +
           "[QZ6]\nDSP=" + gone + "2\nCPLD=" + gone + "1\nVTC=\nLDR=" + gone + "0\nRCP=" + rcp +
           "\n");
  dlg.LoadSettings();
  EXPECT_EQ(dlg.m_strRcpFileQZ6.Get(), rcp);
  EXPECT_EQ(dlg.m_strFpgaFileMV2.Get(), fpga);
  for (const platform::SyncString* s :
       {&dlg.m_strLdrFileQZ6, &dlg.m_strVtcFileQZ6, &dlg.m_strCpldFileQZ6, &dlg.m_strDspFileQZ6,
        &dlg.m_strRcpFileMV2, &dlg.m_strLdrPre50FileMV2, &dlg.m_strLdrFileMV2,
        &dlg.m_strVtcFileMV2, &dlg.m_strUimFileMV2}) {
    EXPECT_EQ(s->Get(), "");
  }
  // QZ6: RCP, LDR, VTC, CPLD, DSP; MV2: RCP, LDR_PRE_5_0, LDR, VTC, FPGA, UIM.
  EXPECT_THAT(boxes.Texts(),
              ElementsAre("File " + gone + "0 not found", "File " + gone + "1 not found",
                          "File " + gone + "2 not found", "File " + gone + "3 not found",
                          "File " + gone + "4 not found", "File " + gone + "5 not found",
                          "File " + gone + "6 not found"));
  for (const platform::RecordedBox& box : boxes.Boxes()) {
    EXPECT_EQ(box.kind, platform::BoxKind::kInfo);
  }
}

TEST_F(LoadSettingsTest, OverlongPathIsCutTo259AndTheCutNameIsTested) {
  std::string stem = dir.Path() + kSep;
  std::string cut = stem + std::string(259 - stem.size(), 'r');
  ASSERT_EQ(cut.size(), 259u);
  WriteFile(cut, "x");
  std::string value = cut + std::string(300 - cut.size(), 'z');
  std::string cutMissing = stem + std::string(259 - stem.size(), 'q');
  WriteIni("[QZ6]\nRCP=" + value + "\nLDR=" + cutMissing + "qqqqqqqqqqqqqqq\n");
  dlg.LoadSettings();
  EXPECT_EQ(dlg.m_strRcpFileQZ6.Get(), cut);
  EXPECT_EQ(dlg.m_strLdrFileQZ6.Get(), "");
  EXPECT_THAT(boxes.Texts(), ElementsAre("File " + cutMissing + " not found"));
}

TEST_F(LoadSettingsTest, PortsSectionDecidesWhereNamesLead) {
  WriteIni("[Ports]\ncom1=/dev/ttyUSB7\nZEV0=/dev/serial/by-id/zev-scanner\n");
  dlg.LoadSettings();
  EXPECT_EQ(platform::DevicePathFor("COM1"), "/dev/ttyUSB7");
  EXPECT_EQ(platform::DevicePathFor("\\\\.\\zev0"), "/dev/serial/by-id/zev-scanner");
  EXPECT_EQ(platform::DevicePathFor("COM3"), "/dev/ttyS2");
  // A later start without the section forgets the map.
  WriteIni("[Common]\n");
  dlg.LoadSettings();
  EXPECT_EQ(platform::DevicePathFor("COM1"), "/dev/ttyS0");
}

class SaveSettingsTest : public SettingsFixture {};

TEST_F(SaveSettingsTest, WritesEveryKeyInItsSectionAndKeepsTheRest) {
  WriteIni(
      "; station settings, edited by hand\n"
      "[Common]\n"
      "LastModTime=never\n"
      "COM2=yes\n"
      "COM7=LOG\n"
      "Operator=Anne\n"
      "\n"
      "[QZ6]\n"
      "; the rate the sheet reads\n"
      "BaudRate=57600\n");
  dlg.m_bPermitLoaderOverwrite = true;
  dlg.m_bPreserveSerialNumber = false;
  dlg.m_nBaudQZ6 = 38400;
  dlg.m_nBaudMV2 = 0;
  dlg.m_strRcpFileQZ6.Set("rcp.run");
  dlg.m_strLdrPre50FileMV2.Set("old.srec");
  dlg.m_strLogPath.Set(dir.Path());
  dlg.SaveSettings();

  std::string ini = ReadIni();
  EXPECT_THAT(ini, HasSubstr("; station settings, edited by hand\n[Common]\n"));
  EXPECT_THAT(ini, HasSubstr("COM2=yes\nCOM7=LOG\nOperator=Anne\n"));
  EXPECT_THAT(ini, HasSubstr("; the rate the sheet reads\nBaudRate=57600\nBaud=38400\n"));
  EXPECT_THAT(ini, HasSubstr(
                       "PermitLoaderOverwrite=y\nPreserveSerialNumber=n\nLeaveImages=n\n"
                       "IncludeSetupMenu=n\nLogPath=" + dir.Path() + "\n\n[QZ6]"));
  EXPECT_THAT(ini, HasSubstr("Baud=38400\nRCP=rcp.run\nLDR=\nVTC=\nCPLD=\nDSP=\n"));
  EXPECT_THAT(ini, HasSubstr("[MV2]\nBaud=0\nRCP=\nLDR_PRE_5_0=old.srec\nLDR=\nVTC=\nFPGA=\nUIM=\n"));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(ini, m, std::regex("LastModTime=(.*)\n")));
  EXPECT_TRUE(std::regex_match(m[1].str(),
                               std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")))
      << m[1].str();
  // Reading never takes "Baud": the next start reads BaudRate again.
  CProgrammerDlg next;
  std::snprintf(next.m_szAppDir, sizeof next.m_szAppDir, "%s", dlg.m_szAppDir);
  next.LoadSettings();
  EXPECT_EQ(next.m_nBaudQZ6, 57600);
  EXPECT_TRUE(next.m_bPermitLoaderOverwrite);
  EXPECT_FALSE(next.m_bPreserveSerialNumber);
}

TEST_F(SaveSettingsTest, OnlyOpenLoggingPanelsWriteTheirLogSwitch) {
  WriteIni("[Common]\nCOM1=yes\nCOM4=LOG\n");
  dlg.m_strLogPath.Set(dir.Path());
  g_portTable[0].bInUse = 1;
  g_portTable[2].bInUse = 1;
  g_portTable[2].bLog = 1;  // panel COM3 logs
  g_portTable[5].bLog = 1;  // requested, but no panel
  {
    CCommDialog com1(1, "COM1", &dlg);
    CCommDialog com3(3, "COM3", &dlg);
    g_portTable[0].pPanel = &com1;
    g_portTable[2].pPanel = &com3;
    ASSERT_FALSE(com1.m_session.m_bLogEnabled);
    ASSERT_TRUE(com3.m_session.m_bLogEnabled);
    dlg.SaveSettings();
    g_portTable[0].pPanel = nullptr;
    g_portTable[2].pPanel = nullptr;
  }
  std::string ini = ReadIni();
  EXPECT_THAT(ini, HasSubstr("[Common]\nCOM1=yes\nCOM4=LOG\n"));
  EXPECT_THAT(ini, HasSubstr("\nCOM3=LOG\n"));
  EXPECT_THAT(ini, Not(HasSubstr("COM6=")));
  EXPECT_EQ(CIniFile(IniPath()).GetString("Common", "COM1", ""), "yes");
}

// A file saved by an editor that marks UTF-8: the save finds [Common] behind
// the mark instead of adding a second one, and the hand-made lines keep
// their own ends.
TEST_F(SaveSettingsTest, FileWithByteOrderMarkGetsNoSecondCommonSection) {
  WriteIni("\xEF\xBB\xBF[Common]\r\nPermitLoaderOverwrite=y\nOperator=Anne\r\n");
  dlg.LoadSettings();
  EXPECT_TRUE(dlg.m_bPermitLoaderOverwrite);
  dlg.SaveSettings();
  const std::string ini = ReadIni();
  EXPECT_EQ(ini.rfind("\xEF\xBB\xBF[Common]\r\nPermitLoaderOverwrite=y\nOperator=Anne\r\n", 0), 0u)
      << ini;
  EXPECT_EQ(ini.find("[Common]"), ini.rfind("[Common]")) << ini;
}

TEST(BaudRateTable, OnlyTheFourRatesAreValid) {
  const struct {
    int rate;
    int valid;
  } cases[] = {{115200, 1}, {57600, 1}, {38400, 1}, {28800, 1}, {9600, 0},
               {0, 0},      {-57600, 0}, {115201, 0}, {19200, 0}};
  for (const auto& c : cases) EXPECT_EQ(IsValidBaudRate(c.rate), c.valid) << c.rate;
}

TEST(LeadingNumberTest, TakesTheDigitsAtTheStart) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"57600", 57600}, {"38400x", 38400}, {"fast", 0},         {"", 0},
               {" 28800", 28800}, {"-12", -12},     {"99999999999", INT_MAX},
               {"x38400", 0}};
  for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}

class FileExistsTest : public SettingsFixture {};

TEST_F(FileExistsTest, FindsFilesFoldersAndWildcardsReportsOnlyWhenAsked) {
  MakeFile("ldr.run");
  EXPECT_EQ(FileExists(dir / "ldr.run", 1), 1);
  EXPECT_EQ(FileExists(dir.Path(), 1), 1);
  EXPECT_EQ(FileExists(dir / "*.run", 1), 1);
  EXPECT_EQ(FileExists(dir / "l?r.run", 1), 1);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(FileExists(dir / "*.sss", 0), 0);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(FileExists(dir / "dsp.sss", 1), 0);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].kind, platform::BoxKind::kInfo);
  EXPECT_EQ(boxes.Boxes()[0].text, "File " + (dir / "dsp.sss") + " not found");
}

TEST(WildcardMatchTest, StarsAndQuestionMarksAsTheFileSearchReadsThem) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.run", "ldr.run", true},        {"*.run", "ldr.run.bak", false},
      {"l?r.run", "ldr.run", true},      {"l?r.run", "lr.run", false},
      {"*", "", true},                   {"", "", true},
      {"", "a", false},                  {"a*", "a", true},
      {"*a*b", "xaxxb", true},           {"*a*b", "xaxxbc", false},
      {"a*b*c", "abbbcbc", true},        {"a*?", "a", false},
      {"**x", "yyx", true},              {"rcp*600*.s19", "rcp_v2_600_b.s19", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
}

// A pattern with many stars against a long name that almost matches: a
// matcher that tries every star at every place takes exponential time and
// hangs the start-up; this one answers at once.
TEST(WildcardMatchTest, ManyStarsAgainstALongNameAnswerAtOnce) {
  const std::string name(4000, 'a');
  EXPECT_FALSE(WildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
  EXPECT_TRUE(WildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a", name.c_str()));
}

TEST(FileChoiceByFamily, MV2BoardsBeforeFiveTakeTheOlderLoader) {
  CProgrammerDlg dlg;
  dlg.m_strLdrFileQZ6.Set("qz6.run");
  dlg.m_strLdrFileMV2.Set("mv2.srec");
  dlg.m_strRcpFileQZ6.Set("qz6-rcp.run");
  dlg.m_strRcpFileMV2.Set("mv2-rcp.run");
  const struct {
    ScannerFamily family;
    const char* pre50;
    int board;
    const char* ldr;
    const char* rcp;
  } cases[] = {
      {ScannerFamily::kMV2, "pre.srec", 49, "pre.srec", "mv2-rcp.run"},
      {ScannerFamily::kMV2, "pre.srec", 50, "mv2.srec", "mv2-rcp.run"},
      {ScannerFamily::kMV2, "", 49, "mv2.srec", "mv2-rcp.run"},
      {ScannerFamily::kMV2, "pre.srec", -1, "pre.srec", "mv2-rcp.run"},
      {ScannerFamily::kQZ600, "pre.srec", 10, "qz6.run", "qz6-rcp.run"},
      {ScannerFamily::kQZ500, "pre.srec", 10, "qz6.run", "qz6-rcp.run"},
  };
  for (const auto& c : cases) {
    dlg.m_strLdrPre50FileMV2.Set(c.pre50);
    EXPECT_EQ(dlg.GetLDRFile(c.family, c.board), c.ldr) << static_cast<int>(c.family) << " " << c.board;
    EXPECT_EQ(dlg.GetRCPFile(c.family), c.rcp);
    const RunSettings run = dlg.TakeRunSettings(c.family, c.board);
    EXPECT_EQ(run.ldrFile, c.ldr);
    EXPECT_EQ(run.rcpFile, c.rcp);
  }
}

}  // namespace
