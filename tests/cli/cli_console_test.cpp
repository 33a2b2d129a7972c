// The output of vantorel-cli: whole lines from many threads, message boxes as
// lines, and the progress bars kept below the lines on a terminal.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "cli_app.h"
#include "platform/message_box.h"
#include "support/cli_fixture.h"

namespace vtcli {
namespace {

TEST(CliOneLine, LineBreaksBecomeSingleSpaces) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"Connected", "Connected"},
      {"Cannot read from file\n", "Cannot read from file"},
      {"Data has been detected in the Image Store Area.\r\nYou must delete the data",
       "Data has been detected in the Image Store Area. You must delete the data"},
      {"COM1:CreateFile\nAPI details:No such file", "COM1:CreateFile API details:No such file"},
      {"a\n\n\rb", "a b"},
      {"  lead kept, trail dropped  \r\n", "  lead kept, trail dropped"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(OneLine(c.text), c.line) << c.text;
}

// Boxes from the library, through the sink, as the operator reads them.
TEST(CliMessageSink, PrintsEachBoxAsCaptionAndText) {
  clitest::CapturedStream out;
  Console console(out.File(), false);
  PrintingMessageSink sink(console);
  ScopedMessageSink installed(&sink);
  ShowError("COM1", "Link down (CTS and DSR)");
  ShowWarning("\\\\.\\ZEV2", "Missing permission to overwrite Loader");
  ShowNotice("COM3", "Turn scanner power off");
  ShowNotice("ZEV QZ600/700 Vantorel", "No comm port available!");
  ShowPlainError("Cannot read from file\n");
  ShowInfo("File /x/rcp.s19 not found");
  ShowWarning("COM4",
              "Data has been detected in the Image Store Area.\r\nYou must delete the data "
              "before the rcp file can be downloaded.");
  MessageBeep(0xFFFFFFFF);
  const std::vector<std::string> expected = {
      "COM1: Error: Link down (CTS and DSR)",
      "\\\\.\\ZEV2: Warning: Missing permission to overwrite Loader",
      "COM3: Turn scanner power off",
      "ZEV QZ600/700 Vantorel: No comm port available!",
      "Error: Cannot read from file",
      "Vantorel: File /x/rcp.s19 not found",
      "COM4: Warning: Data has been detected in the Image Store Area. You must delete the data "
      "before the rcp file can be downloaded.",
  };
  EXPECT_EQ(out.Lines(), expected);
}

TEST(CliMessageSink, RestoresTheSinkBefore) {
  platform::MessageSink* before = platform::CurrentMessageSink();
  clitest::CapturedStream out;
  Console console(out.File(), false);
  PrintingMessageSink sink(console);
  {
    ScopedMessageSink installed(&sink);
    EXPECT_EQ(platform::CurrentMessageSink(), &sink);
  }
  EXPECT_EQ(platform::CurrentMessageSink(), before);
}

TEST(CliConsole, LinesFromManyThreadsStayWhole) {
  clitest::CapturedStream out;
  Console console(out.File(), false);
  constexpr int kThreads = 6;
  constexpr int kLines = 300;
  const std::string tail(120, '=');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        console.Line("COM" + std::to_string(t + 1) + ": " + std::to_string(i) + " " + tail);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::set<std::string> seen(lines.begin(), lines.end());
  EXPECT_EQ(seen.size(), lines.size());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      EXPECT_TRUE(seen.count("COM" + std::to_string(t + 1) + ": " + std::to_string(i) + " " + tail));
    }
  }
}

// What a terminal shows after the output: text, line feeds, carriage returns,
// cursor up (ESC [ n A) and erase to the end of the screen (ESC [ J).
std::vector<std::string> Screen(const std::string& output) {
  std::vector<std::string> rows(1);
  size_t row = 0, col = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
      size_t j = i + 2;
      int n = 0;
      while (j < output.size() && std::isdigit(static_cast<unsigned char>(output[j]))) {
        n = n * 10 + (output[j++] - '0');
      }
      if (output[j] == 'A') {
        row -= std::min<size_t>(row, static_cast<size_t>(n ? n : 1));
      } else if (output[j] == 'J') {
        rows[row].resize(std::min(rows[row].size(), col));
        rows.resize(row + 1);
      }
      i = j;
    } else if (c == '\n') {
      ++row;
      col = 0;
      if (rows.size() <= row) rows.resize(row + 1);
    } else if (c == '\r') {
      col = 0;
    } else {
      if (rows[row].size() <= col) rows[row].resize(col + 1, ' ');
      rows[row][col++] = c;
    }
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

TEST(CliConsole, BarsStayBelowTheLinesAndLeaveAtTheEnd) {
  clitest::CapturedStream out;
  Console console(out.File(), true);
  const int com1 = console.AddBar("COM1");
  const int zev3 = console.AddBar("ZEV3");
  console.Line("COM1: Turn scanner power on");
  console.SetProgress(com1, 500, 0, 1000);
  console.Line("COM1: PLD 2KB 5760 bytes/sec 50%");
  console.SetProgress(zev3, 1000, 0, 1000);
  const std::vector<std::string> during = {
      "COM1: Turn scanner power on",
      "COM1: PLD 2KB 5760 bytes/sec 50%",
      "COM1  [###############...............] 50%",
      "ZEV3  [##############################] 100%",
  };
  EXPECT_EQ(Screen(out.Text()), during);
  console.EndBars();
  console.Line("COM1: Programming sequence failed!");
  const std::vector<std::string> after = {
      "COM1: Turn scanner power on",
      "COM1: PLD 2KB 5760 bytes/sec 50%",
      "COM1: Programming sequence failed!",
  };
  EXPECT_EQ(Screen(out.Text()), after);
}

TEST(CliConsole, ProgressOutsideATerminalDrawsNothing) {
  clitest::CapturedStream out;
  Console console(out.File(), false);
  const int bar = console.AddBar("COM1");
  for (int pos = 0; pos <= 1000; pos += 100) console.SetProgress(bar, pos, 0, 1000);
  console.Line("COM1: LDR Done");
  console.EndBars();
  EXPECT_EQ(out.Text(), "COM1: LDR Done\n");
}

TEST(CliConsole, ProgressFollowsTheBarRange) {
  clitest::CapturedStream out;
  Console console(out.File(), true);
  const int bar = console.AddBar("COM2");
  console.SetProgress(bar, 75, 50, 150);  // a quarter of the range
  EXPECT_EQ(Screen(out.Text()),
            std::vector<std::string>{"COM2  [#######.......................] 25%"});
  console.SetProgress(bar, 500, 0, 0);  // no range yet: shown as 0
  EXPECT_EQ(Screen(out.Text()),
            std::vector<std::string>{"COM2  [..............................] 0%"});
}

}  // namespace
}  // namespace vtcli
