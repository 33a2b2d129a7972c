#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "about_box.h"
#include "app/ini_file.h"
#include "app/panel_menu.h"
#include "bench_operator.h"
#include "dialog_units.h"
#include "gui_fixture.h"
#include "app/comm_dialog.h"
#include "link/scanner_family.h"
#include "platform/message_box.h"
#include "platform/sim/device_map_sim.h"
#include "qt_message_sink.h"
#include "scanner_sim.h"
#include "setup_sheet_view.h"

namespace {

using guitest::WaitUntil;
using guitest::WhenModal;

vtgui::DemoOptions FastBench() {
  vtgui::DemoOptions options;
  options.lineBitsPerSecond = 0;
  options.firmwareBytes = 1024;
  options.reactionMs = 50;
  return options;
}

std::vector<std::string> MenuTexts(QMenu* menu) {
  std::vector<std::string> texts;
  for (QAction* action : menu->actions()) {
    texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  return texts;
}

class MainWindowViewTest : public guitest::StationFixture {};

struct MenuCase {
  const char* includeSetupMenu;
  std::vector<std::string> fileMenu;
};

TEST_F(MainWindowViewTest, FileMenuHoldsSetupOnlyWithTheOption) {
  const MenuCase cases[] = {
      {"y", {"&Setup...", "-", "E&xit"}},
      {"n", {"E&xit"}},
  };
  for (const MenuCase& c : cases) {
    SCOPED_TRACE(c.includeSetupMenu);
    TearDown();
    OpenStation(FastBench(), false, [&] {
      CIniFile("ZANDRIC.INI").WriteString("Common", "IncludeSetupMenu", c.includeSetupMenu);
    });
    EXPECT_EQ(view->windowTitle(), "ZEV QZ600/700 Vantorel");
    EXPECT_EQ(MenuTexts(view->FileMenu()), c.fileMenu);
    EXPECT_EQ(MenuTexts(view->HelpMenu()), std::vector<std::string>{"&About Vantorel"});
  }
}

TEST_F(MainWindowViewTest, PanelsAndUsbRowStandWhereTheModelPlacesThem) {
  OpenStation(FastBench(), false);
  ASSERT_EQ(view->Panels().size(), 2u);
  for (const CProgrammerDlg::PanelSlot& slot : model->GetPanels()) {
    vtgui::PortPanelView* panel = view->PanelOf(slot.panel.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), vtgui::ToQRect(slot.rect));
    // Template 129: 316 x 30 dialog units.
    EXPECT_EQ(panel->size(), vtgui::DluSize(316, 30));
  }
  // The window's outer size, frame included, is the model's.
  EXPECT_EQ(view->frameGeometry().size(),
            QSize(model->m_rcWindow.width, model->m_rcWindow.height));
  EXPECT_EQ(view->UsbButton()->geometry(), vtgui::ToQRect(model->m_rcUsbButton));
  EXPECT_EQ(view->UsbPrompt()->geometry(), vtgui::ToQRect(model->m_rcUsbPrompt));
  EXPECT_LE(view->UsbButton()->geometry().bottom(), view->centralWidget()->height());
}

TEST_F(MainWindowViewTest, UsbRowGoesFromWaitingToSearchingToFound) {
  OpenStation(FastBench(), false);
  QPushButton* button = view->UsbButton();
  QLabel* prompt = view->UsbPrompt();
  EXPECT_EQ(button->text(), "USB");
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(prompt->text(), "Turn off all USB-attached scanners and then press USB button");
  EXPECT_FALSE(view->UsbTimer()->isActive());

  button->click();
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(prompt->text(), "Turn USB_attached scanner on ...");
  EXPECT_TRUE(view->UsbTimer()->isActive());
  EXPECT_EQ(view->UsbTimer()->interval(), 1000);

  // The scanner is switched on and its driver lists it.
  station->Scanner(2).PowerOn();
  platform::sim::SimDeviceMap::Instance().PlugScanner(vtgui::DemoStation::kUsbPort);
  ASSERT_TRUE(WaitUntil([&] { return view->Panels().size() == 3; }));
  vtgui::PortPanelView* usb = view->Panels().back();
  EXPECT_EQ(usb->PortButton()->text(), "USB ZEV2");
  EXPECT_FALSE(button->isVisible());
  EXPECT_FALSE(prompt->isVisible());
  EXPECT_TRUE(view->UsbTimer()->isActive());
  EXPECT_EQ(usb->geometry(), vtgui::ToQRect(model->GetPanels().back().rect));
  EXPECT_EQ(view->frameGeometry().size(),
            QSize(model->m_rcWindow.width, model->m_rcWindow.height));
  // The USB panel identifies its scanner on its own.
  ASSERT_TRUE(WaitUntil([&] {
    return usb->StatusLine()->text() == "Click USB COM button to start programming.";
  }));
}

TEST_F(MainWindowViewTest, SetupSheetOpensOnTheSecondGenerationTab) {
  OpenStation(FastBench(), false);
  const std::string ldr = model->m_strLdrFileMV2.Get();
  ASSERT_FALSE(ldr.empty());
  QStringList tabs;
  int current = -1;
  QString caption;
  QString ldrShown;
  WhenModal([&](QWidget* modal) {
    auto* sheet = qobject_cast<vtgui::SetupSheetView*>(modal);
    ASSERT_NE(sheet, nullptr);
    caption = sheet->windowTitle();
    for (int i = 0; i < sheet->Tabs()->count(); ++i) tabs << sheet->Tabs()->tabText(i);
    current = sheet->Tabs()->currentIndex();
    ldrShown = sheet->Edit(0, IDC_EDIT_LDR)->text();
    // The operator clears the RCP file of the MV2 platform and confirms.
    QLineEdit* rcp = sheet->Edit(0, IDC_EDIT_RCP);
    rcp->selectAll();
    QTest::keyClick(rcp, Qt::Key_Backspace);
    sheet->OkButton()->click();
  });
  view->RunMenuCommand(ID_FILE_SETUP);
  EXPECT_EQ(caption, "Files");
  EXPECT_EQ(tabs, QStringList({"QZ6-Gen2", "QZ6"}));
  EXPECT_EQ(current, 0);
  EXPECT_EQ(ldrShown.toStdString(), ldr);
  EXPECT_EQ(model->m_strRcpFileMV2.Get(), "");
  EXPECT_EQ(model->m_strLdrFileMV2.Get(), ldr);
}

TEST_F(MainWindowViewTest, AboutBoxNamesTheProductAndVersion) {
  OpenStation(FastBench(), false);
  QString caption;
  QStringList texts;
  WhenModal([&](QWidget* modal) {
    caption = modal->windowTitle();
    for (QLabel* label : modal->findChildren<QLabel*>()) texts << label->text();
    modal->findChild<QPushButton*>("okButton")->click();
  });
  view->RunMenuCommand(ID_HELP_ABOUT);
  EXPECT_EQ(caption, "About ZEV QZ600/QZ700 Vantorel");
  EXPECT_TRUE(texts.contains("ZEV QZ600/QZ700 Vantorel  Version 4.1.1.2"));
}

// The demonstration bench end to end: the USB scanner comes in after the
// USB button, every port button is pressed, and the operators switch the
// scanners (two MV2 and a QZ600) on and off as the panels ask until each run
// has given its panel back.
TEST_F(MainWindowViewTest, DemoBenchProgramsEveryScanner) {
  OpenStation(FastBench(), /*withOperators=*/true);
  view->UsbButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return view->Panels().size() == 3; }));
  vtgui::PortPanelView* usb = view->Panels().back();
  ASSERT_TRUE(WaitUntil([&] { return usb->PortButton()->isEnabled(); }));
  for (vtgui::PortPanelView* panel : view->Panels()) panel->PortButton()->click();

  for (size_t i = 0; i < station->ScannerCount(); ++i) {
    SCOPED_TRACE(station->PanelName(i));
    vtgui::PortPanelView* panel = PanelNamed(station->PanelName(i));
    ASSERT_NE(panel, nullptr);
    scanner::ScannerSim& scanner = station->Scanner(i);
    ASSERT_TRUE(WaitUntil([&] {
      return scanner.BlockCount(scanner::Component::kLdr) == 1 && !scanner.IsPoweredOn() &&
             panel->PortButton()->isEnabled() &&
             panel->Model()->m_strStatus.Get() == vtdemo::kReleasedText;
    })) << panel->Model()->m_strStatus.Get();
    // Each scanner got the logic and code of its own family.
    const size_t mv2 = station->PanelName(i) == "COM2" ? 0u : 1u;  // COM2: the QZ600
    EXPECT_EQ(scanner.BlockCount(scanner::Component::kFpga), mv2);
    EXPECT_EQ(scanner.BlockCount(scanner::Component::kUim), mv2);
    EXPECT_EQ(scanner.BlockCount(scanner::Component::kCpld), 1u - mv2);
    EXPECT_EQ(scanner.BlockCount(scanner::Component::kDsp), 1u - mv2);
    EXPECT_EQ(panel->Model()->Identity().family, mv2 ? ScannerFamily::kMV2 : ScannerFamily::kQZ600);
    EXPECT_TRUE(scanner.RecordErrors().empty());
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

// The demo's QZ600 run at the demo operator's own pace: after the logic
// device the panel asks for a power cycle, and the request stays on show
// however many silent wake-up attempts pass before the operator, who reacts
// after 0.8 s, gets to the switch. The run then goes on to its end.
TEST_F(MainWindowViewTest, DemoQz600RunWaitsForTheOperatorsPowerCycle) {
  vtgui::DemoOptions options = FastBench();
  options.reactionMs = vtgui::DemoOptions{}.reactionMs;
  OpenStation(options, /*withOperators=*/true);
  vtgui::PortPanelView* panel = PanelNamed("COM2");  // the QZ600
  ASSERT_NE(panel, nullptr);
  ASSERT_EQ(station->PanelName(1), "COM2");
  scanner::ScannerSim& scanner = station->Scanner(1);
  panel->PortButton()->click();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return scanner.BlockCount(scanner::Component::kLdr) == 1 && !scanner.IsPoweredOn() &&
               panel->PortButton()->isEnabled() &&
               panel->Model()->m_strStatus.Get() == vtdemo::kReleasedText;
      },
      120000))
      << panel->Model()->m_strStatus.Get();
  EXPECT_EQ(scanner.BlockCount(scanner::Component::kDsp), 1u);
  EXPECT_EQ(panel->Model()->m_nRunResult.load(), UPD_OK);
  EXPECT_TRUE(boxes.Boxes().empty());
}

// Every panel programming, one port thread waiting for its box, and the
// window closes: the boxes are released, the settings saved, every port
// ended, and the close returns.
TEST_F(MainWindowViewTest, ClosingWhileEveryPanelProgramsEndsEveryPort) {
  UseDesktopSink();
  vtgui::DemoOptions options;
  options.lineBitsPerSecond = 57600;
  options.firmwareBytes = 64 * 1024;
  options.reactionMs = 50;
  OpenStation(options, /*withOperators=*/true);

  view->UsbButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return view->Panels().size() == 3; }));
  vtgui::PortPanelView* usb = view->Panels().back();
  ASSERT_TRUE(WaitUntil([&] {
    return usb->Model()->m_strStatus.Get() == "Click USB COM button to start programming." &&
           usb->PortButton()->isEnabled();
  }));
  for (vtgui::PortPanelView* panel : view->Panels()) panel->PortButton()->click();
  ASSERT_TRUE(WaitUntil([&] {
    for (vtgui::PortPanelView* panel : view->Panels()) {
      const CCommDialog& port = *panel->Model();
      if (!port.m_bBusy || port.m_progress.GetPos() <= 0 || port.m_progress.GetPos() >= 1000) {
        return false;
      }
    }
    return true;
  }));

  std::atomic<bool> released{false};
  threads.emplace_back([&] {
    ShowError("COM2", "Cannot read from file\n");
    released = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return desktopSink->OpenBoxes().size() == 1; }));

  EXPECT_TRUE(view->close());
  EXPECT_TRUE(view->IsShutDown());
  EXPECT_TRUE(model->GetPanels().empty());
  ASSERT_TRUE(WaitUntil([&] { return released.load(); }));
  ASSERT_TRUE(WaitUntil([&] { return desktopSink->OpenBoxes().empty(); }));
  EXPECT_FALSE(CIniFile("ZANDRIC.INI").GetString("Common", "LastModTime", "").empty());
  for (vtgui::PortPanelView* panel : view->Panels()) EXPECT_EQ(panel->Model(), nullptr);
}

// A close while a window-thread box holds a panel's Reset answers the box;
// the window closes once the Reset has gone on, never beneath it.
TEST_F(MainWindowViewTest, CloseDuringAWindowThreadBoxWaitsForTheCommandBeneathIt) {
  UseDesktopSink();
  OpenStation(FastBench(), false);
  vtgui::PortPanelView* panel = view->Panels().front();
  panel->PortButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return panel->Model()->m_bBusy.load(); }));

  bool closedAtOnce = true;
  bool shutDownInBox = true;
  QObject::connect(desktopSink.get(), &vtgui::QtMessageSink::windowBoxOpened, [&](QMessageBox* box) {
    QTimer::singleShot(0, box, [&] {
      closedAtOnce = view->close();
      shutDownInBox = view->IsShutDown();
    });
  });
  panel->RunCommand(ID_PANEL_RESET);
  EXPECT_FALSE(closedAtOnce);
  EXPECT_FALSE(shutDownInBox);
  EXPECT_FALSE(view->IsShutDown()) << "closed beneath the Reset";
  ASSERT_TRUE(WaitUntil([&] { return view->IsShutDown(); }));
  EXPECT_TRUE(model->GetPanels().empty());
}

}  // namespace
