#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/file_open_sheet.h"
#include "gui_fixture.h"
#include "platform/message_recorder.h"
#include "setup_sheet_view.h"

namespace {

using guitest::WaitUntil;

struct FilterCase {
  const char* filter;
  QStringList expected;
};

TEST(SetupSheetFilters, LiteralsBecomeDialogFiltersThatMatchAsWritten) {
  const FilterCase cases[] = {
      {"Run Files (*.run) | *.run | All Files (*.*) | *.* ||",
       {"Run Files (*.run) (*.run)", "All Files (*.*) (*)"}},
      {"S-Rec Files (*.sss) | *.sss | All Files (*.*) | *.* ||",
       {"S-Rec Files (*.sss) (*.sss)", "All Files (*.*) (*)"}},
      {"Run Files (*.srec) | *.srec | All Files (*.*) | *.* ||",
       {"Run Files (*.srec) (*.srec)", "All Files (*.*) (*)"}},
      {"Images (*.run;*.srec) | *.run;*.srec ||", {"Images (*.run;*.srec) (*.run *.srec)"}},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(vtgui::SetupSheetView::NameFilters(c.filter), c.expected);
  }
}

// The sheet over a model filled as the Setup procedure fills it.
class SetupSheetViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sheet.m_pageMV2.m_strLdrFile = "/fw/mv2_ldr.srec";
    sheet.m_pageMV2.m_strFpgaFile = "/fw/mv2_fpga.bin";
    sheet.m_pageMV2.m_strBaud = "115200";
    sheet.m_pageQZ6.m_strRcpFile = "/fw/qz6_rcp.run";
    sheet.m_pageQZ6.m_strBaud = "57600";
    sheet.OnInitDialog();
    view = std::make_unique<vtgui::SetupSheetView>(sheet, nullptr);
    view->show();
  }

  void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }

  platform::ScopedMessageRecorder boxes;
  CFileOpenPropSheet sheet;
  std::unique_ptr<vtgui::SetupSheetView> view;
};

TEST_F(SetupSheetViewTest, ShowsTheFirstPageWithItsBaudList) {
  EXPECT_EQ(view->Tabs()->currentIndex(), 0);
  EXPECT_EQ(view->Edit(0, IDC_EDIT_LDR)->text(), "/fw/mv2_ldr.srec");
  EXPECT_EQ(view->Edit(0, IDC_EDIT_FPGA)->text(), "/fw/mv2_fpga.bin");
  EXPECT_EQ(view->Edit(0, IDC_EDIT_UIM)->text(), "");
  QComboBox* mv2Baud = view->BaudCombo(0);
  EXPECT_EQ(mv2Baud->count(), 4);
  EXPECT_EQ(mv2Baud->itemText(3), "115200");
  EXPECT_EQ(mv2Baud->currentText(), "115200");
  EXPECT_EQ(view->BaudCombo(1)->count(), 3);
  EXPECT_EQ(view->BrowseButton(0, IDC_BROWSE_FPGA)->text(), "&Browse...");
  // OK and Cancel only, right-aligned side by side.
  QStringList buttons;
  for (QPushButton* button : view->findChildren<QPushButton*>()) {
    if (button->text() != "&Browse...") buttons << button->text();
  }
  buttons.sort();
  EXPECT_EQ(buttons, QStringList({"Cancel", "OK"}));
  EXPECT_LT(view->OkButton()->x(), view->CancelButton()->x());
  EXPECT_EQ(view->OkButton()->y(), view->CancelButton()->y());

  // The second tab is filled when it opens.
  view->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  EXPECT_EQ(view->Edit(1, IDC_EDIT_RCP)->text(), "/fw/qz6_rcp.run");
  EXPECT_EQ(view->BaudCombo(1)->currentText(), "57600");
}

TEST_F(SetupSheetViewTest, OverlongTextKeepsThePageOpenWithTheMessage) {
  const QString tooLong(261, 'x');
  Type(view->Edit(0, IDC_EDIT_UIM), tooLong);

  view->OkButton()->click();
  ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"Please enter no more than 260 characters."});
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(sheet.m_pageMV2.m_strUimFile, "");

  // Nor can the operator leave the page for the other tab.
  view->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(view->Tabs()->currentIndex(), 0);
  EXPECT_EQ(boxes.Texts().size(), 2u);

  const QString longest(260, 'y');
  Type(view->Edit(0, IDC_EDIT_UIM), longest);
  Type(view->BaudCombo(0)->lineEdit(), "38400x");
  view->OkButton()->click();
  EXPECT_EQ(view->result(), QDialog::Accepted);
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(sheet.m_pageMV2.m_strUimFile, longest.toStdString());
  EXPECT_EQ(sheet.m_pageMV2.m_strBaud, "38400x");
}

TEST_F(SetupSheetViewTest, BrowseFillsItsRowAndDiscardsUntakenTyping) {
  std::string askedFilter;
  std::string askedName;
  std::optional<std::string> answer = "/fw/chosen_fpga.srec";
  view->SetFileChooser([&](QWidget*, const CPropertyPage::FileRow& row) {
    askedFilter = row.filter;
    askedName = row.initialName;
    return answer;
  });
  Type(view->Edit(0, IDC_EDIT_LDR), "/typed/ldr.srec");

  answer = std::nullopt;  // cancelled: nothing changes
  view->BrowseButton(0, IDC_BROWSE_FPGA)->click();
  EXPECT_EQ(view->Edit(0, IDC_EDIT_LDR)->text(), "/typed/ldr.srec");
  EXPECT_EQ(view->Edit(0, IDC_EDIT_FPGA)->text(), "/fw/mv2_fpga.bin");

  answer = "/fw/chosen_fpga.srec";
  view->BrowseButton(0, IDC_BROWSE_FPGA)->click();
  EXPECT_EQ(askedFilter, "S-Rec Files (*.srec) | *.srec | All Files (*.*) | *.* ||");
  EXPECT_EQ(askedName, "*.srec");
  EXPECT_EQ(view->Edit(0, IDC_EDIT_FPGA)->text(), "/fw/chosen_fpga.srec");
  EXPECT_EQ(view->Edit(0, IDC_EDIT_LDR)->text(), "/fw/mv2_ldr.srec");
  EXPECT_EQ(sheet.m_pageMV2.m_strFpgaFile, "/fw/chosen_fpga.srec");
}

TEST_F(SetupSheetViewTest, CancelLeavesTheMembersAsTheyWere) {
  Type(view->Edit(0, IDC_EDIT_LDR), "/typed/ldr.srec");
  view->CancelButton()->click();
  EXPECT_EQ(view->result(), QDialog::Rejected);
  EXPECT_EQ(sheet.m_pageMV2.m_strLdrFile, "/fw/mv2_ldr.srec");
  EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace
