// The Win32 desktop driven as an operator drives it, by window messages: the
// main window and its panels, the port button's run on a simulated scanner,
// the Setup sheet and what it writes into ZANDRIC.INI, the boxes of port
// threads, the log window, and a firmware path with non-ASCII characters.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/file_open_sheet.h"
#include "app/ini_file.h"
#include "app/panel_menu.h"
#include "demo_firmware.h"
#include "desktop_fixture.h"
#include "app/comm_dialog.h"
#include "platform/message_box.h"
#include "port_panel.h"
#include "resource_ids.h"
#include "scanner_sim.h"
#include "setup_sheet.h"
#include "text.h"
#include "windows_api.h"

namespace vtwin::testing {
namespace {

constexpr const char* kDoneText = "Programming Done. Please exit Vantorel before turning scanner power off.";

Rect ClientRectOf(HWND child) {
  RECT rc{};
  ::GetWindowRect(child, &rc);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rc), 2);
  return {rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top};
}

using MainWindowTest = DesktopTest;

TEST_F(MainWindowTest, ShowsAPanelPerPortWithItsCaptionAndTheMenus) {
  EXPECT_EQ(WindowText(window_->Handle()), "ZEV QZ600/700 Vantorel");
  ASSERT_EQ(window_->Panels().size(), 2u);
  EXPECT_EQ(ItemText(PanelWindow(0), VT_IDC_PORT_BUTTON), "COM1");
  EXPECT_EQ(ItemText(PanelWindow(1), VT_IDC_PORT_BUTTON), "COM2");
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(StatusShown(i), "Turn scanner power off");
  EXPECT_EQ(ItemText(window_->Handle(), VT_IDC_USB_PROMPT),
            "Turn off all USB-attached scanners and then press USB button");

  // The station's INI turns the Setup menu on.
  const std::vector<MenuItem> file = window_->FileMenu();
  ASSERT_EQ(file.size(), 3u);
  EXPECT_EQ(file[0].text, "&Setup...");
  EXPECT_EQ(file[0].id, ID_FILE_SETUP);
  EXPECT_TRUE(file[1].separator);
  EXPECT_EQ(file[2].text, "E&xit");
  ASSERT_EQ(window_->HelpMenu().size(), 1u);
  EXPECT_EQ(window_->HelpMenu()[0].id, ID_HELP_ABOUT);
}

TEST_F(MainWindowTest, PanelsStandWhereTheModelPlacesThemInTheDialogFontsUnits) {
  // A panel is the template's 316 x 30 dialog units, as the system maps
  // them in the main window's font, plus its thin border.
  RECT units{0, 0, 316, 30};
  ::MapDialogRect(window_->Handle(), &units);
  for (const CProgrammerDlg::PanelSlot& slot : model_->GetPanels()) {
    const HWND panel = window_->PanelOf(slot.panel.get())->Handle();
    const Rect placed = ClientRectOf(panel);
    EXPECT_EQ(placed, slot.rect);
    RECT client{};
    ::GetClientRect(panel, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
  }
  // The panels stand one under the other at a pitch of their height plus one.
  EXPECT_EQ(ClientRectOf(PanelWindow(1)).y - ClientRectOf(PanelWindow(0)).y, model_->m_szPanel.cy + 1);
  // The client area holds the panels and, below them, the USB row.
  RECT client{};
  ::GetClientRect(window_->Handle(), &client);
  EXPECT_GE(client.bottom, model_->m_rcUsbButton.Bottom());
  EXPECT_EQ(ClientRectOf(::GetDlgItem(window_->Handle(), VT_IDC_USB_BUTTON)), model_->m_rcUsbButton);
}

TEST_F(MainWindowTest, UsbButtonSearchesAndTheNewScannerGetsItsPanelBelowTheOthers) {
  const HWND main = window_->Handle();
  Click(main, VT_IDC_USB_BUTTON);
  EXPECT_EQ(ItemText(main, VT_IDC_USB_PROMPT), "Turn USB_attached scanner on ...");
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, VT_IDC_USB_BUTTON)));
  // The station switches its USB scanner on; the next poll tick finds it.
  ASSERT_TRUE(PumpUntil([&] { return window_->Panels().size() == 3; }));
  const HWND usb = PanelWindow(2);
  ASSERT_NE(usb, nullptr);
  EXPECT_EQ(ItemText(usb, VT_IDC_PORT_BUTTON), "USB ZEV2");
  EXPECT_GT(ClientRectOf(usb).y, ClientRectOf(PanelWindow(1)).y);
  // The USB row is gone for good, and the window holds the new panel.
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(main, VT_IDC_USB_BUTTON)));
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(main, VT_IDC_USB_PROMPT)));
  RECT client{};
  ::GetClientRect(main, &client);
  EXPECT_GE(client.bottom, ClientRectOf(usb).Bottom());
}

using PortButtonTest = DesktopTest;

TEST_F(PortButtonTest, ProgramsTheSimulatedScannerToProgrammingDone) {
  ASSERT_TRUE(RunUntilStatusShows(1, kDoneText)) << StatusShown(1);
  // The QZ600 got its RCP image, and the port button comes back once the
  // scanner is switched off.
  EXPECT_EQ(station_->Scanner(1).BlockHeaders(scanner::Component::kRcp).at(0), "QZ6 RCP demo image");
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(PanelWindow(1), VT_IDC_PORT_BUTTON)));
  station_->Scanner(1).PowerOff();
  EXPECT_TRUE(PumpUntil([&] {
    return StatusShown(1) == "Turn scanner power off" &&
           ::IsWindowEnabled(::GetDlgItem(PanelWindow(1), VT_IDC_PORT_BUTTON));
  }));
}

TEST_F(PortButtonTest, ContextMenuGraysResetUntilStartAndOffersTheLogWindow) {
  PortPanel* panel = window_->Panels().at(0).get();
  std::vector<MenuItem> menu = panel->ContextMenu();
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_FALSE(menu[0].enabled);  // Setup...
  EXPECT_TRUE(menu[2].enabled);   // Log window: COM1 logs
  EXPECT_FALSE(menu[4].enabled);  // Reset
  Click(PanelWindow(0), VT_IDC_PORT_BUTTON);
  EXPECT_TRUE(panel->ContextMenu()[4].enabled);

  // Log window, chosen twice: opened with its caption, then closed again.
  ::SendMessageW(PanelWindow(0), WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
  const HWND log = panel->LogWindowHandle();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(WindowText(log), "ZEV QZ600/700 Vantorel Log: COM1");
  ::SendMessageW(PanelWindow(0), WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
  EXPECT_EQ(panel->LogWindowHandle(), nullptr);
  EXPECT_FALSE(::IsWindow(log));

  // Closed by its OK button, it opens fresh on the next choice.
  ::SendMessageW(PanelWindow(0), WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
  Click(panel->LogWindowHandle(), IDOK);
  EXPECT_EQ(panel->LogWindowHandle(), nullptr);
  EXPECT_EQ(panel->Model()->m_pLogWin.load(), nullptr);
  ::SendMessageW(PanelWindow(0), WM_COMMAND, ID_PANEL_LOG_WINDOW, 0);
  EXPECT_NE(panel->LogWindowHandle(), nullptr);
}

// ---- the Setup sheet ----

class SetupSheetTest : public DesktopTest {
 protected:
  // Runs File > Setup...; drive runs inside the open sheet.
  void RunSetup(const std::function<void(SetupSheet&)>& drive) {
    window_->SetSheetPreparer([drive](SetupSheet& sheet) { sheet.SetOpened(drive); });
    window_->RunMenuCommand(ID_FILE_SETUP);
  }
  static void Type(HWND page, int id, const std::string& text) {
    ::SetDlgItemTextW(page, id, Widen(text).c_str());
  }
  static void TypeBaud(HWND page, const std::string& text) {
    const HWND combo = ::GetDlgItem(page, IDC_BAUD_COMBO);
    ::SetWindowTextW(combo, Widen(text).c_str());
    ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_BAUD_COMBO, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  static void Press(SetupSheet& sheet, int button) {
    ::PostMessageW(sheet.Sheet(), PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
  }
};

TEST_F(SetupSheetTest, OpensOnTheGen2TabWithOkAndCancelInTheButtonsPlaces) {
  bool seen = false;
  RunSetup([&](SetupSheet& sheet) {
    seen = true;
    EXPECT_EQ(WindowText(sheet.Sheet()), "Files");
    EXPECT_EQ(PropSheet_GetCurrentPageHwnd(sheet.Sheet()), sheet.Page(0));
    EXPECT_EQ(ItemText(sheet.Page(0), VT_IDC_ROW_LABEL1), "FPGA file name :");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(sheet.Sheet(), kSheetHelpId)));
    const Rect ok = ClientRectOf(::GetDlgItem(sheet.Sheet(), kSheetOkId));
    const Rect cancel = ClientRectOf(::GetDlgItem(sheet.Sheet(), kSheetCancelId));
    EXPECT_LT(ok.x, cancel.x);
    EXPECT_EQ(ok.y, cancel.y);
    // Right-aligned inside the sheet, Cancel last.
    RECT client{};
    ::GetClientRect(sheet.Sheet(), &client);
    EXPECT_LE(cancel.Right(), client.right);
    EXPECT_GT(cancel.Right(), client.right - ok.width);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(sheet.Sheet(), kSheetCancelId)));
    Press(sheet, PSBTN_CANCEL);
  });
  EXPECT_TRUE(seen);
}

TEST_F(SetupSheetTest, OkTakesTheTypedFilesAndBaudAndTheCloseWritesThemIntoTheIni) {
  // A path with non-ASCII characters goes through the window as UTF-16 and
  // into the INI as the core's UTF-8.
  const std::string rcp = station_->Folder() + "\\Pr\xC3\xBC" "fstand\\rcp-\xC3\xA9t\xC3\xA9.run";
  RunSetup([&](SetupSheet& sheet) {
    Type(sheet.Page(0), IDC_EDIT_RCP, rcp);
    TypeBaud(sheet.Page(0), "38400x");
    Press(sheet, PSBTN_OK);
  });
  EXPECT_EQ(model_->m_strRcpFileMV2.Get(), rcp);
  EXPECT_EQ(model_->m_nBaudMV2.load(), 38400);
  CloseWindow();
  CIniFile ini(IniPath());
  EXPECT_EQ(ini.GetString("MV2", "RCP", ""), rcp);
  EXPECT_EQ(LeadingNumber(ini.GetString("MV2", "Baud", "")), 38400);
}

TEST_F(SetupSheetTest, CancelLeavesTheSettingsAsTheyWere) {
  const std::string before = model_->m_strRcpFileQZ6.Get();
  RunSetup([&](SetupSheet& sheet) {
    // The QZ6 tab, then a typed path, then Cancel.
    PropSheet_SetCurSel(sheet.Sheet(), nullptr, 1);
    Type(sheet.Page(1), IDC_EDIT_RCP, "C:\\elsewhere\\rcp.run");
    Press(sheet, PSBTN_CANCEL);
  });
  EXPECT_EQ(model_->m_strRcpFileQZ6.Get(), before);
}

TEST_F(SetupSheetTest, BrowseFillsTheRowAndDropsTextTypedElsewhere) {
  std::string askedFilter;
  window_->SetSheetPreparer([&](SetupSheet& sheet) {
    sheet.SetFileChooser([&](HWND, const CPropertyPage::FileRow& row) -> std::optional<std::string> {
      askedFilter = row.filter;
      return std::string("C:\\fw\\fpga.srec");
    });
    sheet.SetOpened([](SetupSheet& open) {
      Type(open.Page(0), IDC_EDIT_LDR, "C:\\typed\\ldr.srec");
      Click(open.Page(0), IDC_BROWSE_FPGA);
      EXPECT_EQ(ItemText(open.Page(0), IDC_EDIT_FPGA), "C:\\fw\\fpga.srec");
      EXPECT_NE(ItemText(open.Page(0), IDC_EDIT_LDR), "C:\\typed\\ldr.srec");
      Press(open, PSBTN_OK);
    });
  });
  const std::string ldrBefore = model_->m_strLdrFileMV2.Get();
  window_->RunMenuCommand(ID_FILE_SETUP);
  EXPECT_EQ(askedFilter, "S-Rec Files (*.srec) | *.srec | All Files (*.*) | *.* ||");
  EXPECT_EQ(model_->m_strFpgaFileMV2.Get(), "C:\\fw\\fpga.srec");
  EXPECT_EQ(model_->m_strLdrFileMV2.Get(), ldrBefore);
}

TEST(SetupSheetFilter, IsPairsEndedByZeroCharacters) {
  std::wstring expected;
  for (const wchar_t* part : {L"Run Files (*.run)", L"*.run", L"All Files (*.*)", L"*.*"}) {
    expected += part;
    expected += L'\0';
  }
  expected += L'\0';
  EXPECT_EQ(SetupSheet::FilterString("Run Files (*.run) | *.run | All Files (*.*) | *.* ||"), expected);
}

// ---- message boxes ----

using MessageBoxTest = DesktopTest;

TEST_F(MessageBoxTest, APortThreadsBoxDoesNotHoldAnotherPanel) {
  std::atomic<bool> returned{false};
  std::thread port([&] {
    ShowError("COM1", "Held by its box");
    returned = true;
  });
  // The box stands with the port name in its caption; its thread waits.
  HWND box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = FindTopLevel(L"#32770", "COM1: Error")) != nullptr; }));
  EXPECT_EQ(sink_->OpenBoxes().size(), 1u);

  // Meanwhile the other panel programs its scanner from start to end.
  EXPECT_TRUE(RunUntilStatusShows(1, kDoneText)) << StatusShown(1);
  EXPECT_FALSE(returned.load());

  // OK lets the port thread go on.
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  port.join();
  EXPECT_TRUE(PumpUntil([&] { return sink_->OpenBoxes().empty(); }));
}

TEST_F(MessageBoxTest, ABoxReleasesItsThreadWhenThatThreadIsEndedAndStaysForTheOperator) {
  std::atomic<bool> returned{false};
  std::thread port([&] {
    ShowWarning("COM2", "Still on screen");
    returned = true;
  });
  HWND box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = FindTopLevel(L"#32770", "COM2: Warning")) != nullptr; }));
  {
    platform::ScopedBoxRelease release({port.get_id()});
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    port.join();
  }
  EXPECT_TRUE(::IsWindow(box));
  // The close answers every box still open.
  CloseWindow();
  EXPECT_FALSE(::IsWindow(box));
  EXPECT_TRUE(sink_->OpenBoxes().empty());
}

TEST_F(MessageBoxTest, BoxesAskedForAfterTheCloseAreDropped) {
  CloseWindow();
  std::thread port([] { ShowError("COM1", "Too late"); });
  port.join();  // returns without anyone pressing OK
  PumpPending();
  EXPECT_EQ(FindTopLevel(L"#32770", "COM1: Error"), nullptr);
}

// ---- a firmware path with non-ASCII characters ----

TEST(ProcessCodePage, IsUtf8SoTheCoresFileCallsTakeItsStrings) {
  // The manifest sets it; the core opens files through the 8-bit calls.
  EXPECT_EQ(::GetACP(), static_cast<UINT>(CP_UTF8));
}

class NonAsciiPathTest : public DesktopTest {
 protected:
  void BeforeWindow() override {
    namespace fs = std::filesystem;
    // "Prüfstand ø/RCP für QZ600.run", written through the wide API.
    const std::wstring folder = Widen(station_->Folder()) + L"\\Pr\u00FCfstand \u00F8";
    fs::create_directory(fs::path(folder));
    const std::wstring file = folder + L"\\RCP f\u00FCr QZ600.run";
    const std::string image = vtdemo::SRecordImage("QZ6 RCP from the bench folder", 0x0000FC00,
                                                        vtdemo::SampleBytes(1024, 7));
    std::ofstream(fs::path(file), std::ios::binary) << image;
    rcp_ = Narrow(file);
    CIniFile(IniPath()).WriteString("QZ6", "RCP", rcp_);
  }
  std::string rcp_;
};

TEST_F(NonAsciiPathTest, TheIniNamesAFileThatIsLoadedAndProgrammed) {
  EXPECT_EQ(model_->m_strRcpFileQZ6.Get(), rcp_);
  ASSERT_TRUE(RunUntilStatusShows(1, kDoneText)) << StatusShown(1);
  EXPECT_EQ(station_->Scanner(1).BlockHeaders(scanner::Component::kRcp).at(0), "QZ6 RCP from the bench folder");
}

// ---- the results database's state ----

TEST_F(MainWindowTest, HasNoStatusBarWithoutAResultsDatabase) {
  EXPECT_EQ(window_->ResultsDbStatusBar(), nullptr);
}

}  // namespace
}  // namespace vtwin::testing
