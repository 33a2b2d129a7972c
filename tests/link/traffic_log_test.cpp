#include "link/traffic_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>

#include "support/link_fixture.h"

namespace {

namespace fs = std::filesystem;

// The folder separator the log file paths are built with.
const std::string kSep(1, static_cast<char>(fs::path::preferred_separator));

// A fresh folder for one test's log files.
class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("vt_link_log_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TrafficLogTest : public linktest::LinkFixture {
 protected:
  void SetUp() override { rig.mainDlg.m_strLogPath.Set(folder.str()); }

  fs::path LogFile(int index) const {
    char name[32];
    std::snprintf(name, sizeof name, "LOGCOM3.%03d", index);
    return folder.path() / name;
  }

  TempFolder folder;
};

TEST_F(TrafficLogTest, RotatesThroughThreeFilesAfter307200Bytes) {
  // Files of an earlier start are emptied when the cycle reaches them.
  std::ofstream(LogFile(0)) << "old 0";
  std::ofstream(LogFile(1)) << "old 1";
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);
  EXPECT_EQ(fs::file_size(LogFile(0)), 0u) << "the first file starts empty";
  EXPECT_EQ(ReadFile(LogFile(1)), "old 1") << "untouched until the cycle reaches it";
  EXPECT_EQ(panel.GetLogFilePath(), LogFile(0).string());

  const std::string block(1024, 'r');
  for (int round = 0; round < 4; ++round) {
    const int index = round % 3;
    SCOPED_TRACE(testing::Message() << "round " << round);
    // Exactly 307200 bytes: not yet rotated.
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(WriteLog(panel.m_session, panel, block.data(), block.size()));
    EXPECT_EQ(panel.m_session.m_nLogIndex, index);
    EXPECT_EQ(panel.m_session.m_dwLogBytes, 307200u);
    // The next block, however short, still goes to this file, which is then
    // closed; the next file of the cycle is created empty.
    ASSERT_TRUE(WriteLog(panel.m_session, panel, "!", 1));
    EXPECT_EQ(fs::file_size(LogFile(index)), 307201u);
    EXPECT_EQ(ReadFile(LogFile(index)).back(), '!');
    EXPECT_EQ(panel.m_session.m_nLogIndex, (index + 1) % 3);
    EXPECT_EQ(panel.m_session.m_dwLogBytes, 0u);
    EXPECT_EQ(fs::file_size(LogFile((index + 1) % 3)), 0u);
    EXPECT_EQ(panel.GetLogFilePath(), LogFile((index + 1) % 3).string());
  }
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

TEST_F(TrafficLogTest, RunHeaderHasItsExactForm) {
  const platform::LocalTime before = platform::GetLocalTime();
  const std::string header = FormatLogHeader();
  const platform::LocalTime after = platform::GetLocalTime();
  const std::string stars(41, '*');
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      header, m,
      std::regex("\\*{41}\r\n\\* Date: (\\d\\d)/(\\d\\d)/(\\d\\d) Time: (\\d\\d):(\\d\\d):(\\d\\d) \\*\r\n\\*{41}\r\n")))
      << header;
  const bool sameSecond = before.year == after.year && before.month == after.month &&
                          before.day == after.day && before.hour == after.hour &&
                          before.minute == after.minute && before.second == after.second;
  if (sameSecond) {
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "%s\r\n* Date: %02d/%02d/%02d Time: %02d:%02d:%02d *\r\n%s\r\n", stars.c_str(),
                  before.month, before.day, before.year % 100, before.hour, before.minute,
                  before.second, stars.c_str());
    EXPECT_EQ(header, expected);
  }
  EXPECT_LT(std::stoi(m[4]), 24);
}

TEST_F(TrafficLogTest, UsbPanelLogsUnderTheBarePortName) {
  CCommDialog& panel = rig.CreatePanel(/*usb=*/true, /*log=*/true);
  EXPECT_EQ(panel.GetLogFilePath(), LogFile(0).string());
  EXPECT_TRUE(fs::exists(LogFile(0)));
}

TEST_F(TrafficLogTest, PortWithoutLogRequestCreatesNoFile) {
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/false);
  EXPECT_FALSE(panel.m_session.m_bLogEnabled.load());
  EXPECT_FALSE(WriteLog(panel.m_session, panel, "abc", 3));
  EXPECT_TRUE(fs::is_empty(folder.path()));
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

// Without a log folder the logs go to the program folder, where the result
// record goes too, never to the root of the file system.
TEST_F(TrafficLogTest, EmptyLogPathLogsInTheProgramFolder) {
  rig.mainDlg.m_strLogPath.Set("");
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);
  const std::string path = std::string(rig.mainDlg.m_szAppDir) + kSep + "LOGCOM3.000";
  EXPECT_EQ(panel.GetLogFilePath(), path);
  EXPECT_TRUE(WriteLog(panel.m_session, panel, "abc", 3));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

TEST_F(TrafficLogTest, FolderThatCannotBeWrittenLeavesThePortWithoutLog) {
  const std::string missing = folder.str() + "/no/such/folder";
  rig.mainDlg.m_strLogPath.Set(missing);
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);
  const std::string path = missing + kSep + "LOGCOM3.000";
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "COM3: Error");
  EXPECT_EQ(boxes[0].text, "InitLogFile : CreateFile = " + std::to_string(ENOENT) + "\n\nfile : " + path);
  // Later blocks are refused without a message and nothing is counted.
  EXPECT_FALSE(WriteLog(panel.m_session, panel, "abc", 3));
  EXPECT_EQ(panel.m_session.m_dwLogBytes, 0u);
  EXPECT_EQ(rig.boxes.Boxes().size(), 1u);
}

TEST_F(TrafficLogTest, PathTooLongForItsMemberIsNeverCut) {
  // The full path is folder + "/LOGCOM3.000" (12 characters); the member
  // holds 255 characters and the terminator.
  struct Case {
    size_t pathLength;
    bool fits;
  };
  for (const Case c : {Case{255, true}, Case{256, false}, Case{600, false}}) {
    SCOPED_TRACE(c.pathLength);
    rig.boxes.Clear();
    std::string sub = folder.str();
    // Build a folder (in pieces, each a legal file name) of the right length.
    while (sub.size() + 12 < c.pathLength) {
      sub += "/" + std::string(std::min<size_t>(200, c.pathLength - 12 - sub.size() - 1), 'd');
    }
    ASSERT_EQ(sub.size() + 12, c.pathLength);
    if (c.fits) fs::create_directories(sub);
    rig.mainDlg.m_strLogPath.Set(sub);
    CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);
    const std::string path = sub + kSep + "LOGCOM3.000";
    if (c.fits) {
      EXPECT_TRUE(rig.boxes.Texts().empty());
      EXPECT_EQ(panel.GetLogFilePath(), path);
      EXPECT_TRUE(WriteLog(panel.m_session, panel, "abc", 3));
    } else {
      EXPECT_EQ(rig.boxes.Texts(), std::vector<std::string>{"InitLogFile : CreateFile = " +
                                                            std::to_string(ENAMETOOLONG) +
                                                            "\n\nfile : " + path});
      EXPECT_EQ(panel.GetLogFilePath(), "");
      EXPECT_FALSE(WriteLog(panel.m_session, panel, "abc", 3));
    }
    rig.DestroyPanel();
  }
}

TEST_F(TrafficLogTest, FailedWriteIsReportedAndLaterBlocksAreTriedAgain) {
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);
  // A file that refuses writes stands in for a full disk.
  std::fclose(panel.m_session.m_hLogFile);
  panel.m_session.m_hLogFile = std::fopen(LogFile(0).string().c_str(), "rb");
  ASSERT_NE(panel.m_session.m_hLogFile, nullptr);
  EXPECT_FALSE(WriteLog(panel.m_session, panel, "abc", 3));
  EXPECT_FALSE(WriteLog(panel.m_session, panel, "abc", 3));
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].text, "Cannot write to log file\n");
  EXPECT_EQ(panel.m_session.m_dwLogBytes, 0u);
  EXPECT_NE(panel.m_session.m_hLogFile, nullptr) << "the file stays open";
}

}  // namespace
