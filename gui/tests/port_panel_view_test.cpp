#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/panel_menu.h"
#include "bench_operator.h"
#include "gui_fixture.h"
#include "log_window_view.h"
#include "scanner_sim.h"

namespace {

using guitest::WaitUntil;

// Small firmware on lines paced at the line rate: a whole run takes a few
// seconds, each transfer long enough to be seen moving.
vtgui::DemoOptions PacedBench() {
  vtgui::DemoOptions options;
  options.lineBitsPerSecond = 57600;
  options.firmwareBytes = 4096;
  return options;
}

class PortPanelViewTest : public guitest::StationFixture {
 protected:
  void SetUp() override { OpenStation(PacedBench(), /*withOperators=*/false); }
};

TEST_F(PortPanelViewTest, PortButtonRunsTheScannerWhileTheViewFollows) {
  vtgui::PortPanelView* panel = PanelNamed("COM1");
  ASSERT_NE(panel, nullptr);
  scanner::ScannerSim& scanner = station->Scanner(0);
  EXPECT_EQ(panel->PortButton()->text(), "COM1");
  EXPECT_EQ(panel->StatusLine()->text(), "Turn scanner power off");

  std::vector<int> positions;
  QObject::connect(panel->Progress(), &QProgressBar::valueChanged,
                   [&](int value) { positions.push_back(value); });
  panel->PortButton()->click();
  EXPECT_FALSE(panel->PortButton()->isEnabled());

  // The test is the operator: it acts on what the status line shows.
  std::set<std::string> shown;
  const bool ended = WaitUntil([&] {
    const std::string text = panel->StatusLine()->text().toStdString();
    shown.insert(text);
    if (text == vtdemo::kPowerOnText && !scanner.IsPoweredOn()) scanner.PowerOn();
    if (text == vtdemo::kDoneText && scanner.IsPoweredOn()) scanner.PowerOff();
    return shown.count(vtdemo::kDoneText) != 0 && text == vtdemo::kReleasedText &&
           panel->PortButton()->isEnabled();
  });
  ASSERT_TRUE(ended) << "status line: " << panel->StatusLine()->text().toStdString();

  EXPECT_TRUE(shown.count(vtdemo::kPowerOnText));
  EXPECT_EQ(panel->Progress()->minimum(), 0);
  EXPECT_EQ(panel->Progress()->maximum(), 1000);
  bool moved = false;
  for (int value : positions) moved = moved || (value > 0 && value < 1000);
  EXPECT_TRUE(moved) << positions.size() << " positions seen";
  EXPECT_EQ(scanner.BlockCount(scanner::Component::kLdr), 1u);
  EXPECT_TRUE(boxes.Boxes().empty());
}

struct MenuCase {
  const char* name;
  bool logging;
  bool busy;
};

TEST_F(PortPanelViewTest, ContextMenuItemsFollowTheModelAsItOpens) {
  vtgui::PortPanelView* panel = PanelNamed("COM2");
  ASSERT_NE(panel, nullptr);
  CCommDialog& model = *panel->Model();
  const MenuCase cases[] = {
      {"idle port without log", false, false},
      {"idle logging port", true, false},
      {"busy port without log", false, true},
      {"busy logging port", true, true},
  };
  for (const MenuCase& c : cases) {
    SCOPED_TRACE(c.name);
    model.m_session.m_bLogEnabled = c.logging;
    model.m_bBusy = c.busy;
    std::unique_ptr<QMenu> menu = panel->BuildContextMenu();
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), "Setup...");
    EXPECT_EQ(actions[0]->data().toInt(), ID_PANEL_SETUP);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Log window");
    EXPECT_EQ(actions[2]->isEnabled(), c.logging);
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4]->text(), "Reset");
    EXPECT_EQ(actions[4]->isEnabled(), c.busy);
  }
  model.m_bBusy = false;
  model.m_session.m_bLogEnabled = true;
}

TEST_F(PortPanelViewTest, ResetFromTheMenuLeavesThePanelUnusable) {
  vtgui::PortPanelView* panel = PanelNamed("COM1");
  ASSERT_NE(panel, nullptr);
  panel->PortButton()->click();
  // The scanner stays off: the run waits for it with the panel busy.
  ASSERT_TRUE(WaitUntil([&] { return panel->StatusLine()->text() == vtdemo::kPowerOnText; }));
  std::unique_ptr<QMenu> menu = panel->BuildContextMenu();
  ASSERT_TRUE(menu->actions()[4]->isEnabled());

  panel->RunCommand(ID_PANEL_RESET);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].caption, "COM1: ");
  EXPECT_EQ(boxes.Boxes()[0].text, "Turn scanner power off");
  ASSERT_TRUE(WaitUntil([&] { return panel->StatusLine()->text() == "Reset"; }));
  EXPECT_EQ(panel->Progress()->value(), 0);
  ASSERT_TRUE(WaitUntil([&] { return panel->Model()->ThreadsDone(); }));
  QApplication::processEvents();
  EXPECT_FALSE(panel->PortButton()->isEnabled());
}

// The Reset notice waits for OK on the window thread; meanwhile another
// panel's button starts its run as if no box were open.
class PanelBesideABoxTest : public guitest::StationFixture {
 protected:
  void SetUp() override {
    UseDesktopSink();
    OpenStation(PacedBench(), /*withOperators=*/false);
  }
};

TEST_F(PanelBesideABoxTest, WindowThreadBoxLeavesAnotherPanelsButtonUsable) {
  vtgui::PortPanelView* reset = PanelNamed("COM1");
  vtgui::PortPanelView* other = PanelNamed("COM2");
  ASSERT_NE(reset, nullptr);
  ASSERT_NE(other, nullptr);
  reset->PortButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return reset->Model()->m_bBusy.load(); }));

  QString boxText;
  bool modalWindow = true;
  bool otherStarted = false;
  bool resetPanelTakesCommands = true;
  QObject::connect(desktopSink.get(), &vtgui::QtMessageSink::windowBoxOpened, [&](QMessageBox* box) {
    boxText = box->text();
    QTimer::singleShot(0, box, [&, box] {
      modalWindow = QApplication::activeModalWidget() != nullptr;
      ASSERT_TRUE(other->PortButton()->isEnabled());
      // Through the window system, where a modal window would block it.
      QPushButton* button = other->PortButton();
      QTest::mouseClick(button->window()->windowHandle(), Qt::LeftButton, {},
                        button->mapTo(button->window(), button->rect().center()));
      otherStarted = other->Model()->m_bBusy.load() && !other->PortButton()->isEnabled();
      // The panel whose command waits in the box takes no second one.
      reset->RunCommand(ID_PANEL_RESET);
      resetPanelTakesCommands = desktopSink->WindowBoxes().size() != 1;
      box->button(QMessageBox::Ok)->click();
    });
  });
  reset->RunCommand(ID_PANEL_RESET);
  EXPECT_EQ(boxText, "Turn scanner power off");
  EXPECT_FALSE(modalWindow);
  EXPECT_TRUE(otherStarted);
  EXPECT_FALSE(resetPanelTakesCommands);
  EXPECT_TRUE(desktopSink->WindowBoxes().isEmpty());
  ASSERT_TRUE(WaitUntil([&] { return other->StatusLine()->text() == vtdemo::kPowerOnText; }));
}

TEST_F(PortPanelViewTest, LogWindowCommandOpensAndClosesTheView) {
  vtgui::PortPanelView* panel = PanelNamed("COM1");
  ASSERT_NE(panel, nullptr);
  CCommDialog& model = *panel->Model();
  ASSERT_TRUE(model.m_session.m_bLogEnabled);
  // Received bytes as the log holds them: zero bytes among the text.
  {
    std::ofstream log(model.GetLogFilePath(), std::ios::binary | std::ios::app);
    const char bytes[] = "Loader\0 ready\r\nQZ6 Build";
    log.write(bytes, sizeof bytes - 1);
  }

  panel->RunCommand(ID_PANEL_LOG_WINDOW);
  vtgui::LogWindowView* first = panel->LogView();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->windowTitle(), "ZEV QZ600/700 Vantorel Log: COM1");
  EXPECT_EQ(first->TextBox()->toPlainText(), "Loader ready\nQZ6 Build");
  EXPECT_TRUE(first->TextBox()->isReadOnly());
  EXPECT_EQ(model.m_pLogWin.load(), first->Model());

  // Chosen again: the view closes.
  QPointer<vtgui::LogWindowView> closing(first);
  panel->RunCommand(ID_PANEL_LOG_WINDOW);
  EXPECT_EQ(panel->LogView(), nullptr);
  EXPECT_EQ(model.m_pLogWin.load(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return closing.isNull(); }));

  // Closed by its OK button: the next choice opens a fresh view.
  panel->RunCommand(ID_PANEL_LOG_WINDOW);
  QPointer<vtgui::LogWindowView> second(panel->LogView());
  ASSERT_FALSE(second.isNull());
  second->OkButton()->click();
  EXPECT_EQ(model.m_pLogWin.load(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return second.isNull(); }));
  panel->RunCommand(ID_PANEL_LOG_WINDOW);
  ASSERT_NE(panel->LogView(), nullptr);
  EXPECT_TRUE(panel->LogView()->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());
}

struct DisplayCase {
  const char* name;
  std::string bytes;
  QString shown;
};

TEST(LogWindowText, EveryByteStaysAndLineEndsAreUniform) {
  const DisplayCase cases[] = {
      {"CR LF", "a\r\nb\r\n", "a\nb\n"},
      {"lone CR and LF", "a\rb\nc", "a\nb\nc"},
      {"bytes above 0x7F", std::string("\xE9\xFF", 2), QString::fromLatin1("\xE9\xFF", 2)},
      {"empty", "", ""},
  };
  for (const DisplayCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vtgui::LogWindowView::DisplayText(c.bytes), c.shown);
  }
}

}  // namespace
