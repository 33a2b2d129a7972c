#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/file_open_sheet.h"
#include "app/ini_file.h"
#include "app/panel_menu.h"
#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "support/app_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

class SetupTest : public apptest::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    dlg.m_nBaudMV2 = 57600;
    dlg.m_nBaudQZ6 = 57600;
  }
  // Runs the Setup procedure with an operator who does `act` and then
  // presses OK (true) or Cancel (false); returns whether the sheet closed
  // with OK.
  bool RunSetup(const std::function<void(CFileOpenPropSheet&)>& act, bool pressOk) {
    bool closedWithOk = false;
    dlg.RunSetup([&](CFileOpenPropSheet& sheet) {
      act(sheet);
      closedWithOk = pressOk && sheet.OnOK();
      return closedWithOk;
    });
    return closedWithOk;
  }
};

TEST_F(SetupTest, SheetShowsTheSettingsOfBothPlatforms) {
  dlg.m_strLdrFileMV2.Set("mv2.ldr");
  dlg.m_strFpgaFileMV2.Set("fpga.srec");
  dlg.m_strUimFileMV2.Set("uim.srec");
  dlg.m_strVtcFileMV2.Set("mv2.vtc");
  dlg.m_strRcpFileMV2.Set("mv2.rcp");
  dlg.m_strLdrPre50FileMV2.Set("pre50.srec");
  dlg.m_strLdrFileQZ6.Set("qz6.ldr");
  dlg.m_strCpldFileQZ6.Set("cpld.sss");
  dlg.m_strDspFileQZ6.Set("dsp.sss");
  dlg.m_strVtcFileQZ6.Set("qz6.vtc");
  dlg.m_strRcpFileQZ6.Set("qz6.rcp");
  dlg.m_nBaudMV2 = 28800;
  CFileOpenPropSheet sheet;
  dlg.CopySettingsToSheet(sheet);
  sheet.OnInitDialog();
  const CPropertyPageMV2& mv2 = sheet.m_pageMV2;
  const CPropertyPageQZ6& qz6 = sheet.m_pageQZ6;
  EXPECT_EQ(mv2.m_strLdrFile, "mv2.ldr");
  EXPECT_EQ(mv2.m_strFpgaFile, "fpga.srec");
  EXPECT_EQ(mv2.m_strUimFile, "uim.srec");
  EXPECT_EQ(mv2.m_strVtcFile, "mv2.vtc");
  EXPECT_EQ(mv2.m_strRcpFile, "mv2.rcp");
  EXPECT_EQ(mv2.m_strBaud, "28800");
  EXPECT_EQ(qz6.m_strLdrFile, "qz6.ldr");
  EXPECT_EQ(qz6.m_strCpldFile, "cpld.sss");
  EXPECT_EQ(qz6.m_strDspFile, "dsp.sss");
  EXPECT_EQ(qz6.m_strVtcFile, "qz6.vtc");
  EXPECT_EQ(qz6.m_strRcpFile, "qz6.rcp");
  EXPECT_EQ(qz6.m_strBaud, "57600");
  // Opens on the first tab, whose controls show the members.
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  EXPECT_STREQ(sheet.GetPage(0).Caption(), "QZ6-Gen2");
  EXPECT_STREQ(sheet.GetPage(1).Caption(), "QZ6");
  EXPECT_TRUE(sheet.GetPage(0).IsCreated());
  EXPECT_FALSE(sheet.GetPage(1).IsCreated());
  EXPECT_EQ(sheet.GetPage(0).FindRowByEdit(IDC_EDIT_FPGA)->text, "fpga.srec");
  EXPECT_EQ(sheet.GetPage(0).Combo().editText, "28800");
  EXPECT_EQ(sheet.GetPage(0).Combo().selected, 0);
}

TEST_F(SetupTest, BadBaudIsReplacedWhenTheSheetOpensEvenIfCancelled) {
  dlg.m_nBaudQZ6 = 0;  // "BaudRate=fast" in the file
  dlg.m_nBaudMV2 = 9600;
  std::string qz6Edit;
  int qz6Selected = 0;
  int mv2Selected = -1;
  EXPECT_FALSE(RunSetup(
      [&](CFileOpenPropSheet& sheet) {
        mv2Selected = sheet.GetPage(0).Combo().selected;
        ASSERT_TRUE(sheet.SetActivePage(1));
        qz6Edit = sheet.GetPage(1).Combo().editText;
        qz6Selected = sheet.GetPage(1).Combo().selected;
        sheet.GetPage(1).SetComboEditText("38400");
      },
      false));
  EXPECT_EQ(dlg.m_nBaudQZ6, 115200);
  EXPECT_EQ(dlg.m_nBaudMV2, 115200);
  // 115200 is not in the QZ6 list: it stands in the edit field alone.
  EXPECT_EQ(qz6Edit, "115200");
  EXPECT_EQ(qz6Selected, -1);
  EXPECT_EQ(mv2Selected, 3);
}

TEST_F(SetupTest, BaudTextBecomesItsLeadingNumberOr115200) {
  const struct {
    const char* typed;
    int stored;
  } cases[] = {{"38400x", 38400}, {"9600", 115200}, {"", 115200},   {"fast", 115200},
               {"57600", 57600},  {" 28800", 28800}, {"115200", 115200}};
  for (const auto& c : cases) {
    dlg.m_nBaudQZ6 = 57600;
    EXPECT_TRUE(RunSetup(
        [&](CFileOpenPropSheet& sheet) {
          ASSERT_TRUE(sheet.SetActivePage(1));
          sheet.GetPage(1).SetComboEditText(c.typed);
        },
        true));
    EXPECT_EQ(dlg.m_nBaudQZ6, c.stored) << c.typed;
    EXPECT_EQ(dlg.m_nBaudMV2, 57600) << c.typed;
  }
}

TEST_F(SetupTest, ComboSelectsTheFirstEntryThatBeginsWithTheText) {
  const struct {
    const char* baud;
    int qz6Selected;
    int mv2Selected;
    const char* qz6Edit;
  } cases[] = {{"57600", 2, 2, "57600"}, {"3", 1, 1, "38400"},      {"115200", -1, 3, "115200"},
               {"1", -1, 3, "1"},         {"", 0, 0, "28800"},       {"x", -1, -1, "x"}};
  for (const auto& c : cases) {
    CFileOpenPropSheet sheet;
    for (int i = 0; i < 2; ++i) {
      sheet.GetPage(i).m_strBaud = c.baud;
      sheet.GetPage(i).UpdateControls();
    }
    EXPECT_EQ(sheet.GetPage(1).Combo().selected, c.qz6Selected) << c.baud;
    EXPECT_EQ(sheet.GetPage(1).Combo().editText, c.qz6Edit) << c.baud;
    EXPECT_EQ(sheet.GetPage(0).Combo().selected, c.mv2Selected) << c.baud;
  }
}

TEST_F(SetupTest, OkCopiesEveryFileBackEmptyOnesIncluded) {
  dlg.m_strRcpFileQZ6.Set("old.rcp");
  dlg.m_strLdrPre50FileMV2.Set("pre50.srec");
  EXPECT_TRUE(RunSetup(
      [&](CFileOpenPropSheet& sheet) {
        CPropertyPage& mv2 = sheet.GetPage(0);
        mv2.SetEditText(IDC_EDIT_LDR, "new-mv2.ldr");
        mv2.SetEditText(IDC_EDIT_UIM, "uim.srec");
        ASSERT_TRUE(sheet.SetActivePage(1));
        sheet.GetPage(1).SetEditText(IDC_EDIT_RCP, "");
        sheet.GetPage(1).SetEditText(IDC_EDIT_DSP, "dsp.sss");
      },
      true));
  EXPECT_EQ(dlg.m_strLdrFileMV2.Get(), "new-mv2.ldr");
  EXPECT_EQ(dlg.m_strUimFileMV2.Get(), "uim.srec");
  EXPECT_EQ(dlg.m_strRcpFileQZ6.Get(), "");
  EXPECT_EQ(dlg.m_strDspFileQZ6.Get(), "dsp.sss");
  EXPECT_EQ(dlg.m_strLdrPre50FileMV2.Get(), "pre50.srec");
  // The next exit writes the cleared setting as an empty value.
  dlg.SaveSettings();
  EXPECT_EQ(CIniFile(IniPath()).GetString("QZ6", "RCP", "absent"), "");
  EXPECT_EQ(CIniFile(IniPath()).GetString("MV2", "LDR_PRE_5_0", ""), "pre50.srec");
}

TEST_F(SetupTest, CancelChangesNoFile) {
  dlg.m_strRcpFileQZ6.Set("keep.rcp");
  EXPECT_FALSE(RunSetup(
      [&](CFileOpenPropSheet& sheet) {
        ASSERT_TRUE(sheet.SetActivePage(1));
        sheet.GetPage(1).SetEditText(IDC_EDIT_RCP, "other.rcp");
        ASSERT_TRUE(sheet.SetActivePage(0));  // taken into the page, not the settings
      },
      false));
  EXPECT_EQ(dlg.m_strRcpFileQZ6.Get(), "keep.rcp");
}

TEST_F(SetupTest, TextsOver260CharactersAreRefusedAndThePageStays) {
  const std::string ok260(260, 'p');
  const std::string long261(261, 'p');
  dlg.m_strVtcFileMV2.Set("keep.vtc");
  bool switched = true;
  EXPECT_TRUE(RunSetup(
      [&](CFileOpenPropSheet& sheet) {
        CPropertyPage& mv2 = sheet.GetPage(0);
        mv2.SetEditText(IDC_EDIT_VTC, long261);
        switched = sheet.SetActivePage(1);
        EXPECT_FALSE(sheet.OnOK());
        EXPECT_EQ(sheet.m_pageMV2.m_strVtcFile, "keep.vtc");  // nothing taken
        mv2.SetComboEditText(long261);
        mv2.SetEditText(IDC_EDIT_VTC, ok260);
        EXPECT_FALSE(sheet.OnOK());
        mv2.SetComboEditText("57600");
      },
      true));
  EXPECT_FALSE(switched);
  EXPECT_EQ(dlg.m_strVtcFileMV2.Get(), ok260);
  ASSERT_EQ(boxes.Boxes().size(), 3u);
  for (const auto& box : boxes.Boxes()) {
    EXPECT_EQ(box.kind, platform::BoxKind::kInfo);
    EXPECT_EQ(box.text, "Please enter no more than 260 characters.");
  }
}

TEST_F(SetupTest, BrowseFillsItsRowAndRefreshesThePageFromItsMembers) {
  dlg.m_strLdrFileQZ6.Set("member.ldr");
  EXPECT_TRUE(RunSetup(
      [&](CFileOpenPropSheet& sheet) {
        ASSERT_TRUE(sheet.SetActivePage(1));
        CPropertyPage& qz6 = sheet.GetPage(1);
        qz6.SetEditText(IDC_EDIT_LDR, "typed.ldr");
        qz6.OnBrowse(IDC_BROWSE_CPLD, std::nullopt);  // cancelled: nothing changes
        EXPECT_EQ(qz6.FindRowByEdit(IDC_EDIT_LDR)->text, "typed.ldr");
        qz6.OnBrowse(IDC_BROWSE_CPLD, std::string("/fw/chosen.sss"));
        EXPECT_EQ(qz6.FindRowByEdit(IDC_EDIT_CPLD)->text, "/fw/chosen.sss");
        EXPECT_EQ(qz6.FindRowByEdit(IDC_EDIT_LDR)->text, "member.ldr");  // typed text lost
      },
      true));
  EXPECT_EQ(dlg.m_strCpldFileQZ6.Get(), "/fw/chosen.sss");
  EXPECT_EQ(dlg.m_strLdrFileQZ6.Get(), "member.ldr");
}

TEST(SetupSheetLayout, BrowseButtonsOpenTheirDialogsWithTheirFiltersAndNames) {
  const char* run = "Run Files (*.run) | *.run | All Files (*.*) | *.* ||";
  const char* sss = "S-Rec Files (*.sss) | *.sss | All Files (*.*) | *.* ||";
  const char* srec = "S-Rec Files (*.srec) | *.srec | All Files (*.*) | *.* ||";
  const char* ldrSrec = "Run Files (*.srec) | *.srec | All Files (*.*) | *.* ||";
  const struct {
    int page;
    int browse;
    int edit;
    const char* label;
    const char* initial;
    const char* filter;
  } cases[] = {
      {1, 1020, 1018, "LDR file name :", "*.run", run},
      {1, 1039, 1037, "CPLD file name :", "*.sss", sss},
      {1, 1040, 1038, "DSP file name :", "*.sss", sss},
      {1, 1026, 1025, "VTC file name :", "*.run", run},
      {1, 1019, 1016, "RCP file name :", "*.run", run},
      {0, 1020, 1018, "LDR file name :", "*.srec", ldrSrec},
      {0, 1021, 1017, "FPGA file name :", "*.srec", srec},
      {0, 1023, 1022, "UIM file name :", "*.srec", srec},
      {0, 1026, 1025, "VTC file name :", "*.run", run},
      {0, 1019, 1016, "RCP file name :", "*.run", run},
  };
  CFileOpenPropSheet sheet;
  for (const auto& c : cases) {
    const CPropertyPage::FileRow* row = sheet.GetPage(c.page).FindRowByBrowse(c.browse);
    ASSERT_NE(row, nullptr) << c.page << " " << c.browse;
    EXPECT_EQ(row->editId, c.edit);
    EXPECT_STREQ(row->label, c.label);
    EXPECT_STREQ(row->initialName, c.initial);
    EXPECT_STREQ(row->filter, c.filter);
  }
  EXPECT_EQ(sheet.GetPage(0).TemplateId(), 149);
  EXPECT_EQ(sheet.GetPage(1).TemplateId(), 148);
  EXPECT_THAT(sheet.GetPage(1).Combo().list, ElementsAre("28800", "38400", "57600"));
  EXPECT_THAT(sheet.GetPage(0).Combo().list, ElementsAre("28800", "38400", "57600", "115200"));
  EXPECT_THAT(ParseFileFilter(run),
              ElementsAre(Pair("Run Files (*.run)", "*.run"), Pair("All Files (*.*)", "*.*")));
}

TEST(SetupSheetLayout, OkAndCancelMoveOnePlaceRightAndHelpIsHidden) {
  std::vector<SheetButton> buttons = CFileOpenPropSheet::Buttons();
  ASSERT_EQ(buttons.size(), 3u);
  EXPECT_EQ(buttons[0].id, kSheetOkId);
  EXPECT_EQ(buttons[0].place, 1);
  EXPECT_TRUE(buttons[0].visible);
  EXPECT_EQ(buttons[1].id, kSheetCancelId);
  EXPECT_EQ(buttons[1].place, 2);
  EXPECT_TRUE(buttons[1].visible);
  EXPECT_EQ(buttons[2].id, kSheetHelpId);
  EXPECT_FALSE(buttons[2].visible);
}

TEST_F(SetupTest, PanelSetupCommandEditsTheMainWindowsSettings) {
  CCommDialog panel(2, "COM2", &dlg);
  bool ran = false;
  OnPanelCommand(panel, ID_PANEL_SETUP, [&](CFileOpenPropSheet& sheet) {
    ran = true;
    sheet.GetPage(0).SetEditText(IDC_EDIT_RCP, "from-panel.rcp");
    return sheet.OnOK();
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(dlg.m_strRcpFileMV2.Get(), "from-panel.rcp");
}

}  // namespace
