#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/programmer_app.h"
#include "app/programmer_dlg.h"
#include "app/comm_dialog.h"
#include "platform/device_map.h"
#include "platform/serial_port.h"
#include "ports/comm_sport.h"
#include "ports/port_list.h"
#include "support/app_fixture.h"
#include "support/app_usb_fixture.h"

namespace {

using apptest::ReadFile;
using apptest::ScratchDir;
using apptest::WriteFile;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// Default panel: template 129 at 96 dpi is 474 x 49 pixels; pitch one more.
constexpr int kW = 475;
constexpr int kH = 50;

class MainWindowTest : public apptest::SimMachineFixture {
 protected:
  void SetUp() override {
    SimMachineFixture::SetUp();
    // The machine's own serial port is in the device map, as on any PC, so
    // the start-up scan has something to list.
    DeviceMap().AddValue("\\Device\\Serial0", "COM1");
    apptest::ClearPortTable();
    cwd_ = std::make_unique<apptest::ScopedCurrentDir>(dir.Path());
  }
  void TearDown() override {
    dlg.reset();  // ends every panel's connection while its sim line exists
    app.ExitInstance();
    cwd_.reset();
    apptest::ClearPortTable();
    platform::SetPortMap({});
    platform::SetDeviceMapPorts({});
    SimMachineFixture::TearDown();
  }

  // Application start with this ZANDRIC.INI in the current directory.
  void Start(const std::string& ini = "") {
    if (!ini.empty()) WriteFile(dir / "ZANDRIC.INI", ini);
    app.InitInstance();
    dlg = std::make_unique<CProgrammerDlg>();
    dlg->m_pPortList = app.m_pPortList.get();
    dlg->OnInitDialog();
  }

  void AddSerialPorts(std::initializer_list<int> numbers) {
    for (int n : numbers) AddSerialPort("COM" + std::to_string(n));
  }

  std::vector<int> RowsInUse() const {
    std::vector<int> rows;
    for (int i = 0; i < kPortTableRows; ++i) {
      if (g_portTable[i].bInUse) rows.push_back(i);
    }
    return rows;
  }

  const CProgrammerDlg::PanelSlot* SlotOfRow(int row) const {
    for (const auto& slot : dlg->GetPanels()) {
      if (slot.row == row && !slot.placeholder) return &slot;
    }
    return nullptr;
  }

  ScratchDir dir;
  CProgrammerApp app;
  std::unique_ptr<CProgrammerDlg> dlg;

 private:
  std::unique_ptr<apptest::ScopedCurrentDir> cwd_;
};

struct GridCase {
  const char* name;
  std::vector<int> ports;       // COMn present at start
  std::vector<int> rows;        // table rows with a panel
  Rect window;                  // outer, in pitches below
  std::vector<Rect> panels;     // in row order
  int areaHeight;
};

TEST_F(MainWindowTest, StartUpPanelsFillOneOrTwoColumns) {
  const GridCase cases[] = {
      {"three ports with a gap", {1, 2, 4}, {0, 1, 3}, {0, 0, kW, 5 * kH},
       {{1, 1, kW - 1, kH - 1}, {1, kH + 1, kW - 1, kH - 1}, {1, 2 * kH + 1, kW - 1, kH - 1}},
       3 * kH},
      {"eight ports stay in one column", {1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6, 7},
       {0, 0, kW, 10 * kH}, {}, 8 * kH},
      // Two pitches below the panels, as in one column: room for the USB row.
      {"nine ports: five and four", {1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 3, 4, 5, 6, 7, 8},
       {0, 0, 2 * kW, 7 * kH},
       {{1, 1, kW - 1, kH - 1}, {1, kH + 1, kW - 1, kH - 1}, {1, 2 * kH + 1, kW - 1, kH - 1},
        {1, 3 * kH + 1, kW - 1, kH - 1}, {1, 4 * kH + 1, kW - 1, kH - 1},
        {kW + 1, 1, kW - 1, kH - 1}, {kW + 1, kH + 1, kW - 1, kH - 1},
        {kW + 1, 2 * kH + 1, kW - 1, kH - 1}, {kW + 1, 3 * kH + 1, kW - 1, kH - 1}},
       5 * kH},
  };
  for (const GridCase& c : cases) {
    SCOPED_TRACE(c.name);
    dlg.reset();
    app.ExitInstance();
    Registry().Clear();
    boxes.Clear();
    for (int n : c.ports) AddSerialPort("COM" + std::to_string(n));
    Start();
    EXPECT_EQ(RowsInUse(), c.rows);
    EXPECT_EQ(g_nPortCount, static_cast<int>(c.rows.size()));
    EXPECT_EQ(g_nStartPortCount, g_nPortCount);
    EXPECT_EQ(dlg->m_rcWindow, c.window);
    EXPECT_EQ(dlg->m_nPanelAreaHeight, c.areaHeight);
    for (size_t i = 0; i < c.panels.size(); ++i) {
      const auto* slot = SlotOfRow(c.rows[i]);
      ASSERT_NE(slot, nullptr);
      EXPECT_EQ(slot->rect, c.panels[i]) << "row " << c.rows[i];
      EXPECT_EQ(g_portTable[c.rows[i]].pPanel, slot->panel.get());
      EXPECT_EQ(std::string(slot->panel->m_session.m_szPortName), "COM" + std::to_string(c.rows[i] + 1));
      EXPECT_EQ(g_portTable[c.rows[i]].bUsb, 0);
    }
    EXPECT_EQ(dlg->m_rcUsbButton, (Rect{1, c.areaHeight + 5, 62, 41}));
    EXPECT_TRUE(boxes.Boxes().empty());
  }
}

TEST_F(MainWindowTest, WithoutPortsThePlaceholderStandsAtTheTopLeft) {
  Start();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].kind, platform::BoxKind::kNotice);
  EXPECT_EQ(boxes.Boxes()[0].caption, "ZEV QZ600/700 Vantorel: ");
  EXPECT_EQ(boxes.Boxes()[0].text, "No comm port available!");
  ASSERT_EQ(dlg->GetPanels().size(), 1u);
  const auto& slot = dlg->GetPanels()[0];
  EXPECT_TRUE(slot.placeholder);
  EXPECT_STREQ(slot.panel->m_session.m_szPortName, "COM NONE");
  EXPECT_EQ(slot.rect, (Rect{0, 0, kW - 1, kH - 1}));
  EXPECT_EQ(g_portTable[0].pPanel, slot.panel.get());
  EXPECT_EQ(g_portTable[0].bInUse, 0);
  EXPECT_EQ(g_nStartPortCount, 0);
  EXPECT_EQ(dlg->m_nPanelAreaHeight, kH);
  EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, kW, 3 * kH}));
  EXPECT_EQ(dlg->m_rcUsbButton, (Rect{1, kH + 5, 62, 41}));
}

// The frame around the client area, known before the initialisation or
// measured once the window is on screen: the window grows by it, so that the
// client area holds the panel's width and, under a frame taller than the
// spare pitches, the whole USB row.
TEST_F(MainWindowTest, WindowGrowsByItsFrameAroundThePanelsAndTheUsbRow) {
  AddSerialPorts({1});
  for (const bool measuredLater : {false, true}) {
    SCOPED_TRACE(measuredLater ? "measured on screen" : "known before");
    dlg.reset();
    app.ExitInstance();
    app.InitInstance();
    dlg = std::make_unique<CProgrammerDlg>();
    dlg->m_pPortList = app.m_pPortList.get();
    dlg->m_szPanel = {400, 40};
    dlg->m_szUsbButton = {60, 30};
    const FrameInsets frame{4, 50, 4, 4};
    if (!measuredLater) dlg->m_frame = frame;
    dlg->OnInitDialog();
    if (measuredLater) dlg->SetFrame(frame);
    // Three pitches of 41 would leave 69 of the 76 pixels that the panel and
    // the USB row take under the frame's 54.
    EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, 401 + 8, 54 + 41 + 5 + 30 + 5}));
    EXPECT_EQ(dlg->m_rcUsbButton, (Rect{1, 41 + 5, 60, 30}));
    // Client width 401; prompt from 66 to 5 pixels before the right edge.
    EXPECT_EQ(dlg->m_rcUsbPrompt, (Rect{66, 41 + 5, (401 - 5) - 66, 30}));
  }
}

TEST_F(MainWindowTest, InitialisationReadsTheIniOfTheCurrentDirectory) {
  AddSerialPorts({2, 3});
  Start("[Common]\nCOM2=LOG\nIncludeSetupMenu=y\nLogPath=" + (dir / "logs") + "\n");
  EXPECT_EQ(std::string(dlg->m_szAppDir), dir.Path());
  EXPECT_TRUE(dlg->m_bIncludeSetupMenu);
  // The logging switch reached the panel, which opened its log in the folder.
  const auto* com2 = SlotOfRow(1);
  const auto* com3 = SlotOfRow(2);
  ASSERT_TRUE(com2 && com3);
  EXPECT_TRUE(com2->panel->m_session.m_bLogEnabled);
  EXPECT_FALSE(com3->panel->m_session.m_bLogEnabled);
  EXPECT_THAT(com2->panel->GetLogFilePath(), HasSubstr(dir / "logs"));
  EXPECT_TRUE(std::filesystem::exists(com2->panel->GetLogFilePath()));
  EXPECT_EQ(dlg->m_strUsbPrompt, "Turn off all USB-attached scanners and then press USB button");
  EXPECT_TRUE(dlg->m_bUsbButtonEnabled);
  EXPECT_TRUE(dlg->m_bUsbRowVisible);
  EXPECT_EQ(dlg->m_nUsbTimerId, -1);
  EXPECT_FALSE(g_bClosing);
}

TEST_F(MainWindowTest, FileMenuHoldsSetupOnlyWithIncludeSetupMenu) {
  const struct {
    const char* ini;
    std::vector<MenuItem> menu;
  } cases[] = {
      {"[Common]\nIncludeSetupMenu=n\n", {{"E&xit", ID_FILE_EXIT}}},
      {"[Common]\nIncludeSetupMenu=y\n",
       {{"&Setup...", ID_FILE_SETUP}, {"", 0, true}, {"E&xit", ID_FILE_EXIT}}},
  };
  AddSerialPorts({1});
  for (const auto& c : cases) {
    dlg.reset();
    app.ExitInstance();
    Start(c.ini);
    EXPECT_EQ(dlg->GetFileMenu(), c.menu) << c.ini;
    EXPECT_EQ(dlg->GetHelpMenu(), (std::vector<MenuItem>{{"&About Vantorel", ID_HELP_ABOUT}}));
  }
}

TEST_F(MainWindowTest, UsbPortPresentAtStartGetsItsPanelOnlyAfterTheUsbButton) {
  AddSerialPorts({1});
  PlugUsbScanner("COM7")->SetPower(true);
  Start();
  EXPECT_EQ(RowsInUse(), std::vector<int>{0});
  EXPECT_EQ(g_portTable[6].bUsb, 1);  // probed at start, kept out of the RS-232 panels
  EXPECT_EQ(dlg->OnTimer(), 0);       // no timer before the button
  EXPECT_EQ(RowsInUse(), std::vector<int>{0});

  dlg->OnUsbButton();
  EXPECT_FALSE(dlg->m_bUsbButtonEnabled);
  EXPECT_TRUE(dlg->m_bUsbRowVisible);
  EXPECT_EQ(dlg->m_strUsbPrompt, "Turn USB_attached scanner on ...");
  EXPECT_EQ(dlg->m_nUsbTimerId, 100);
  EXPECT_TRUE(dlg->m_bUsbSearchPending);

  EXPECT_EQ(dlg->OnTimer(), 1);
  EXPECT_EQ(RowsInUse(), (std::vector<int>{0, 6}));
  const auto* usb = SlotOfRow(6);
  ASSERT_NE(usb, nullptr);
  EXPECT_STREQ(usb->panel->m_session.m_szPortName, "\\\\.\\COM7");
  EXPECT_EQ(usb->rect, (Rect{1, kH, kW - 1, kH - 1}));
  EXPECT_FALSE(dlg->m_bUsbRowVisible);
  EXPECT_FALSE(dlg->m_bUsbSearchPending);
  EXPECT_EQ(dlg->m_nPanelAreaHeight, 2 * kH);
  EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, kW, 3 * kH}));
  // Never a second panel, even when the port is free again.
  EXPECT_EQ(dlg->OnTimer(), 0);
  EXPECT_EQ(dlg->GetPanels().size(), 2u);
}

TEST_F(MainWindowTest, UsbPortNamesChooseTheirRows) {
  AddSerialPorts({2});
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV0");
  PlugUsbScanner("com7");
  PlugUsbScanner("ZEV20");
  PlugUsbScanner("COM21");
  EXPECT_EQ(dlg->OnTimer(), 2);
  EXPECT_EQ(RowsInUse(), (std::vector<int>{0, 1, 6}));
  EXPECT_EQ(g_nPortCount, 3);
  EXPECT_EQ(g_portTable[0].bUsb, 1);
  EXPECT_EQ(g_portTable[6].bUsb, 1);
  EXPECT_STREQ(g_portTable[0].pPanel->m_session.m_szPortName, "\\\\.\\ZEV0");
  EXPECT_STREQ(g_portTable[6].pPanel->m_session.m_szPortName, "\\\\.\\com7");
  // In the order found, each below the one before.
  EXPECT_EQ(SlotOfRow(0)->rect, (Rect{1, kH, kW - 1, kH - 1}));
  EXPECT_EQ(SlotOfRow(6)->rect, (Rect{1, 2 * kH, kW - 1, kH - 1}));
  EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, kW, 4 * kH}));
  // The ports without a row are known now and never looked at again.
  std::vector<std::string> known;
  for (const auto& r : app.m_pPortList->m_known) known.push_back(r->szPortName);
  EXPECT_THAT(known, ElementsAre("ZEV0", "com7", "ZEV20", "COM21"));
  // Later USB ports still get panels after the row is hidden.
  PlugUsbScanner("ZEV4");
  EXPECT_EQ(dlg->OnTimer(), 1);
  EXPECT_EQ(SlotOfRow(4)->rect, (Rect{1, 3 * kH, kW - 1, kH - 1}));
}

TEST_F(MainWindowTest, PortWithoutARowLeavesTheUsbRowSearching) {
  AddSerialPorts({1});
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV20");
  EXPECT_EQ(dlg->OnTimer(), 0);
  EXPECT_TRUE(dlg->m_bUsbRowVisible);
  EXPECT_TRUE(dlg->m_bUsbSearchPending);
  EXPECT_EQ(dlg->m_strUsbPrompt, "Turn USB_attached scanner on ...");
}

TEST_F(MainWindowTest, UsbPortOfARowInUseGetsNoSecondPanel) {
  AddSerialPorts({4});
  Start();
  CCommDialog* com4 = g_portTable[3].pPanel;
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV3");
  EXPECT_EQ(dlg->OnTimer(), 0);
  EXPECT_EQ(g_portTable[3].pPanel, com4);
  EXPECT_EQ(g_portTable[3].bUsb, 0);
  EXPECT_EQ(dlg->GetPanels().size(), 1u);
  EXPECT_EQ(g_nPortCount, 1);
  EXPECT_EQ(app.m_pPortList->m_known.size(), 1u);
  EXPECT_EQ(dlg->OnTimer(), 0);
}

TEST_F(MainWindowTest, UsbPanelsOfATwoColumnLayoutStackBelowColumnZero) {
  AddSerialPorts({1, 2, 3, 4, 5, 6, 7, 8, 9});
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV12");
  ASSERT_EQ(dlg->OnTimer(), 1);
  EXPECT_EQ(SlotOfRow(12)->rect, (Rect{1, 5 * kH, kW - 1, kH - 1}));
  PlugUsbScanner("ZEV13");
  ASSERT_EQ(dlg->OnTimer(), 1);
  EXPECT_EQ(SlotOfRow(13)->rect, (Rect{1, 6 * kH, kW - 1, kH - 1}));
  // Tall enough to show the lowest USB panel under the caption's pitch.
  EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, 2 * kW, 8 * kH}));
}

TEST_F(MainWindowTest, PlaceholderRowCountsWhenUsbPanelsCome) {
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV1");
  ASSERT_EQ(dlg->OnTimer(), 1);
  EXPECT_EQ(SlotOfRow(1)->rect, (Rect{1, kH, kW - 1, kH - 1}));
  EXPECT_EQ(dlg->m_rcWindow, (Rect{0, 0, kW, 3 * kH}));
}

TEST_F(MainWindowTest, UsbPanelLogsWhenItsRowLogs) {
  Start("[Common]\nCOM4=LOG\nLogPath=" + dir.Path() + "\n");
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV3");
  ASSERT_EQ(dlg->OnTimer(), 1);
  EXPECT_TRUE(g_portTable[3].pPanel->m_session.m_bLogEnabled);
}

TEST_F(MainWindowTest, ShutdownSavesEndsEveryPanelAndRunsOnce) {
  AddSerialPorts({1, 3});
  WriteFile(dir / "ZANDRIC.INI", "[Common]\nCOM3=LOG\nCOM9=LOG\nLogPath=" + dir.Path() + "\n");
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV5");  // its scanner is off: writes to it wait for CTS
  ASSERT_EQ(dlg->OnTimer(), 1);
  dlg->DestroyWindow();
  EXPECT_TRUE(g_bClosing);
  EXPECT_TRUE(dlg->GetPanels().empty());
  for (const COMM_SPORT& row : g_portTable) EXPECT_EQ(row.pPanel, nullptr);
  EXPECT_EQ(dlg->m_nUsbTimerId, -1);
  CIniFile ini(dir / "ZANDRIC.INI");
  EXPECT_EQ(ini.GetString("Common", "COM3", ""), "LOG");
  EXPECT_EQ(ini.GetString("Common", "COM9", ""), "LOG");  // never taken out
  EXPECT_EQ(ini.GetString("Common", "COM1", "absent"), "absent");
  EXPECT_NE(ini.GetString("Common", "LastModTime", ""), "");
  for (const auto& name : Registry().Names()) {
    EXPECT_FALSE(Registry().Find(name)->IsNearOpen()) << name;
  }
  // A second close changes nothing on disk.
  std::string saved = ReadFile(dir / "ZANDRIC.INI");
  WriteFile(dir / "ZANDRIC.INI", "");
  dlg->DestroyWindow();
  EXPECT_EQ(ReadFile(dir / "ZANDRIC.INI"), "");
  EXPECT_EQ(dlg->OnTimer(), 0);
}

// A box shown during a tick keeps the message loop running; the tick timer
// fires inside it and must not scan again under the running walk.
class ReentrantTicker : public platform::MessageSink {
 public:
  explicit ReentrantTicker(CProgrammerDlg* dlg) : dlg_(dlg) {}
  void Show(platform::BoxKind, const std::string&, const std::string& text) override {
    texts.push_back(text);
    nested.push_back(dlg_->OnTimer());
  }
  void Beep(uint32_t) override {}
  std::vector<std::string> texts;
  std::vector<int> nested;

 private:
  CProgrammerDlg* dlg_;
};

TEST_F(MainWindowTest, TickInsideABoxOfATickIsSkipped) {
  AddSerialPorts({1});
  Start();
  dlg->OnUsbButton();
  PlugUsbScanner("ZEV2");
  DeviceMap().AddUnreadableValue("\\Device\\ZevSu9");
  ReentrantTicker ticker(dlg.get());
  platform::MessageSink* previous = platform::CurrentMessageSink();
  platform::InstallMessageSink(&ticker);
  int added = dlg->OnTimer();
  platform::InstallMessageSink(previous);
  EXPECT_EQ(added, 1);
  EXPECT_THAT(ticker.texts, ElementsAre("Cannot read the COM port name of \\Device\\ZevSu9."));
  EXPECT_THAT(ticker.nested, ElementsAre(0));
  EXPECT_EQ(dlg->GetPanels().size(), 2u);
}

}  // namespace
