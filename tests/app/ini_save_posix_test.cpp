// Saving the settings file when the disk will not take it: the old file stays
// whole and the operator is told. The full disk is a file-size limit in a
// child process (the limit and its signal stay there).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "app/ini_file.h"
#include "app/programmer_dlg.h"
#include "platform/file_replace.h"
#include "support/app_fixture.h"

namespace {

using apptest::ReadFile;
using apptest::SettingsFixture;
using ::testing::HasSubstr;

// A settings file of about 2.7 KB, with the sections a save must not lose.
std::string LargeIni() {
  std::string text = "; station settings\n[Common]\nLastModTime=never\n";
  for (int i = 0; i < 48; ++i) {
    text += "; note " + std::to_string(i) + ": firmware folders are kept on the line server\n";
  }
  return text + "[QZ6]\nBaudRate=57600\nRCP=/fw/rcp600.s19\n[Ports]\nCOM1=/dev/ttyUSB0\n";
}

class SaveOnAFullDiskTest : public SettingsFixture {};

TEST_F(SaveOnAFullDiskTest, LeavesTheOldFileWholeAndSaysWhy) {
  const std::string before = LargeIni();
  ASSERT_GT(before.size(), 2600u);
  WriteIni(before);
  dlg.m_strRcpFileQZ6.Set("/fw/another/rcp600.s19");

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A write past the limit fails with EFBIG instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    dlg.SaveSettings();
    const auto shown = boxes.Boxes();
    const bool told = shown.size() == 1 &&
                      shown[0].text.find(IniPath()) != std::string::npos &&
                      shown[0].text.find("could not be saved") != std::string::npos;
    _exit(told ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "no box naming the file and why";
  EXPECT_EQ(ReadIni(), before);
  // Nothing is left beside it either.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// A save puts the new file in place in one step: a reader started during the
// saves always finds one complete version or the other.
TEST_F(SaveOnAFullDiskTest, ReadersSeeTheOldFileOrTheNewOneNeverHalfOfEach) {
  const std::string a = LargeIni();
  std::string b = a;
  for (char& c : b) {
    if (c == 'n') c = 'N';
  }
  WriteIni(a);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const std::string seen = ReadFile(IniPath());
      if (seen != a && seen != b) ++torn;
    }
  });
  for (int i = 0; i < 200; ++i) {
    std::string error;
    const std::string& next = i % 2 == 0 ? b : a;
    ASSERT_TRUE(platform::ReplaceFileContents(IniPath(), next, error)) << error;
  }
  stop.store(true);
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
