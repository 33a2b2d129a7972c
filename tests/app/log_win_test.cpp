#include "app/log_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/panel_menu.h"
#include "app/comm_dialog.h"
#include "link/traffic_log.h"
#include "support/app_fixture.h"

namespace {

using apptest::WriteFile;

// A logging panel COM3 whose log lies in the scratch folder.
class LogWinTest : public apptest::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    dlg.m_strLogPath.Set(dir.Path());
    g_portTable[2].bLog = 1;
    panel = std::make_unique<CCommDialog>(3, "COM3", &dlg);
    ASSERT_TRUE(panel->m_session.m_bLogEnabled);
  }
  void TearDown() override {
    CloseLogWindow(panel.get());
    panel.reset();
    SettingsFixture::TearDown();
  }
  std::unique_ptr<CCommDialog> panel;
};

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

TEST_F(LogWinTest, ShowsTheTailOfTheLogWithoutZeroBytes) {
  const std::string big = Pattern(40000);
  std::string withZeros = "OK\r\n";
  withZeros += '\0';
  withZeros += std::string("QZ600 Build\0\0 done", 18);
  withZeros.insert(8, 3, '\0');
  std::string zerosRemoved;
  for (char c : withZeros) {
    if (c != '\0') zerosRemoved += c;
  }
  std::string tailWithZero = Pattern(40000);
  tailWithZero[40000 - 10] = '\0';
  std::string tailExpected = tailWithZero.substr(40000 - 32767);
  tailExpected.erase(tailExpected.size() - 10, 1);
  const struct {
    const char* name;
    std::string content;
    std::string shown;
  } cases[] = {
      {"small log whole", Pattern(100), Pattern(100)},
      {"empty log", "", ""},
      {"exactly the limit", Pattern(32767), Pattern(32767)},
      {"large log: its last 32767 bytes", big, big.substr(40000 - 32767)},
      {"zero bytes left out, the rest kept", withZeros, zerosRemoved},
      {"zero bytes in the tail", tailWithZero, tailExpected},
  };
  for (const auto& c : cases) {
    WriteFile(panel->GetLogFilePath(), c.content);
    CLogWin* view = ToggleLogWindow(panel.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(panel->m_pLogWin.load(), view);
    EXPECT_EQ(view->m_strText, c.shown) << c.name;
    EXPECT_EQ(view->m_strCaption, "ZEV QZ600/700 Vantorel Log: COM3");
    EXPECT_EQ(ToggleLogWindow(panel.get()), nullptr);  // chosen again: closed
    EXPECT_EQ(panel->m_pLogWin.load(), nullptr);
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(LogWinTest, ClosingTheViewLetsTheNextCommandOpenAFreshOne) {
  WriteFile(panel->GetLogFilePath(), "first");
  CLogWin* view = ToggleLogWindow(panel.get());
  ASSERT_NE(view, nullptr);
  view->OnCancel();  // close box: the view is gone
  EXPECT_EQ(panel->m_pLogWin.load(), nullptr);
  WriteFile(panel->GetLogFilePath(), "second");
  view = ToggleLogWindow(panel.get());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->m_strText, "second");
  view->OnOK();
  EXPECT_EQ(panel->m_pLogWin.load(), nullptr);
}

TEST_F(LogWinTest, ViewReadsThePortsCurrentLogFile) {
  WriteFile(panel->GetLogFilePath(), "old traffic");
  panel->m_session.m_nLogIndex = 1;  // the log rotates to its next file
  InitLogFile(panel->m_session, *panel);
  WriteFile(panel->GetLogFilePath(), "new traffic");
  CLogWin* view = ToggleLogWindow(panel.get());
  EXPECT_EQ(view->m_strText, "new traffic");
}

TEST_F(LogWinTest, MissingLogFileGivesAnEmptyViewAndOneBox) {
  std::error_code removeError;
  std::filesystem::remove(panel->GetLogFilePath(), removeError);
  if (removeError) GTEST_SKIP() << "this system keeps a log file that is open from being removed";
  CLogWin* view = ToggleLogWindow(panel.get());
  ASSERT_NE(view, nullptr);  // the view stays open
  EXPECT_EQ(view->m_strText, "");
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].kind, platform::BoxKind::kError);
  EXPECT_EQ(boxes.Boxes()[0].caption, "COM3: Error");
  EXPECT_EQ(boxes.Boxes()[0].text, "Failed to open the log file\n");
}

// A log file whose steps fail on request.
class FaultyLog : public LogFileSource {
 public:
  bool failSize = false;
  bool failSeek = false;
  bool failRead = false;
  size_t deliver = SIZE_MAX;  // bytes a read delivers at most
  std::string content;
  bool open = false;
  uint64_t position = 0;

  bool Open(const std::string&) override { return open = true; }
  bool Size(uint64_t& size) override {
    size = content.size();
    return !failSize;
  }
  bool Seek(uint64_t offset) override {
    position = offset;
    return !failSeek;
  }
  bool Read(char* buffer, size_t n, size_t& got) override {
    if (failRead) return false;
    got = std::min({n, deliver, content.size() - static_cast<size_t>(position)});
    content.copy(buffer, got, static_cast<size_t>(position));
    return true;
  }
  void Close() override { open = false; }
};

TEST_F(LogWinTest, EachFailingStepShowsItsBoxAndLeavesTheViewEmpty) {
  const struct {
    const char* name;
    void (*arrange)(FaultyLog&);
    const char* box;
  } cases[] = {
      {"size", [](FaultyLog& f) { f.failSize = true; }, "GetFileSize"},
      {"read", [](FaultyLog& f) { f.failRead = true; }, "Cannot read from file\n"},
      {"seek", [](FaultyLog& f) { f.failSeek = true; }, "Cannot read from file\n"},
  };
  for (const auto& c : cases) {
    FaultyLog log;
    log.content = Pattern(50000);
    c.arrange(log);
    boxes.Clear();
    CLogWin view(panel.get(), &log);
    EXPECT_EQ(view.m_strText, "") << c.name;
    EXPECT_FALSE(log.open) << c.name << ": file left open";
    ASSERT_EQ(boxes.Boxes().size(), 1u) << c.name;
    EXPECT_EQ(boxes.Boxes()[0].caption, "COM3: Error");
    EXPECT_EQ(boxes.Boxes()[0].text, c.box);
  }
}

TEST_F(LogWinTest, FileThatShrankShowsOnlyWhatWasRead) {
  FaultyLog log;
  log.content = "abcdefghij";
  log.deliver = 4;
  CLogWin view(panel.get(), &log);
  EXPECT_EQ(view.m_strText, "abcd");
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(LogWinTest, PanelMenuFollowsLoggingAndBusy) {
  const struct {
    bool logs;
    bool busy;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    panel->m_session.m_bLogEnabled = c.logs;
    panel->m_bBusy = c.busy;
    std::vector<MenuItem> menu = GetPanelMenu(*panel);
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[0], (MenuItem{"Setup...", ID_PANEL_SETUP, false, false}));
    EXPECT_TRUE(menu[1].separator);
    EXPECT_EQ(menu[2], (MenuItem{"Log window", ID_PANEL_LOG_WINDOW, false, c.logs}));
    EXPECT_TRUE(menu[3].separator);
    EXPECT_EQ(menu[4], (MenuItem{"Reset", ID_PANEL_RESET, false, c.busy}));
  }
  panel->m_session.m_bLogEnabled = true;
  panel->m_bBusy = false;
}

TEST_F(LogWinTest, PanelLogWindowCommandTogglesTheView) {
  WriteFile(panel->GetLogFilePath(), "traffic");
  OnPanelCommand(*panel, ID_PANEL_LOG_WINDOW, {});
  ASSERT_NE(panel->m_pLogWin.load(), nullptr);
  EXPECT_EQ(panel->m_pLogWin.load()->m_strText, "traffic");
  OnPanelCommand(*panel, ID_PANEL_LOG_WINDOW, {});
  EXPECT_EQ(panel->m_pLogWin.load(), nullptr);
}

}  // namespace
