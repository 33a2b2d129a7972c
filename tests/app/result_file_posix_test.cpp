// results.csv in a shared log folder: a link or a special file planted in its
// place is refused, and stations appending at once (separate processes)
// write one header and whole lines.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/result_log.h"
#include "link/scanner_family.h"
#include "platform/message_recorder.h"
#include "support/app_fixture.h"
#include "support/csv_reader.h"

namespace {

using apptest::ReadFile;
using apptest::ScratchDir;
using apptest::WriteFile;

RunRecord Record(const std::string& port) {
  RunRecord r;
  r.start = {2026, 12, 11, 8, 0, 0};
  r.port = port;
  r.family = kFamilyQZ600;
  r.components = {{"RCP", "/fw/rcp.s19", 1234, ComponentOutcome::kWritten, ""}};
  r.outcome = "Programming Done. Please exit Vantorel before turning scanner power off.";
  return r;
}

TEST(ResultFilePlace, ALinkOrASpecialFileInItsPlaceIsRefused) {
  ScratchDir dir;
  const std::string result = dir / kResultFileName;
  const std::string target = dir / "someone-elses-file";
  WriteFile(target, "not ours\n");
  const struct {
    const char* name;
    std::function<void()> plant;
    const char* reason;
  } cases[] = {
      {"symbolic link", [&] { ASSERT_EQ(symlink(target.c_str(), result.c_str()), 0); },
       "it is a symbolic link"},
      {"FIFO", [&] { ASSERT_EQ(mkfifo(result.c_str(), 0600), 0); }, "it is not a regular file"},
      {"folder", [&] { ASSERT_EQ(mkdir(result.c_str(), 0700), 0); }, "it is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.plant();
    platform::ScopedMessageRecorder boxes;
    EXPECT_FALSE(AppendResult(dir.Path(), Record("COM4")));
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "COM4: Error");
    EXPECT_EQ(shown[0].text.rfind("Cannot write the result record " + result + ": ", 0), 0u);
    if (c.reason != nullptr) {
      EXPECT_NE(shown[0].text.find(c.reason), std::string::npos) << shown[0].text;
    }
    EXPECT_EQ(ReadFile(target), "not ours\n");
    std::remove(result.c_str());
    rmdir(result.c_str());
  }
}

// Several processes start a new file at once: one header, and every line
// whole and in it.
TEST(ResultFilePlace, StationsStartingANewFileWriteOneHeader) {
  ScratchDir dir;
  constexpr int kStations = 6;
  constexpr int kRuns = 30;
  std::vector<pid_t> children;
  for (int s = 0; s < kStations; ++s) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::ScopedMessageRecorder boxes;
      RunRecord r = Record("COM" + std::to_string(s + 1));
      r.components.assign(10, RunComponent{"VTC", std::string(300, static_cast<char>('a' + s)),
                                           7, ComponentOutcome::kWritten, ""});
      bool ok = true;
      for (int i = 0; i < kRuns; ++i) ok = AppendResult(dir.Path(), r) && ok;
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> lines;
  ASSERT_TRUE(testsupport::CsvLines(ReadFile(dir / kResultFileName), &lines));
  ASSERT_EQ(lines.size(), 1u + kStations * kRuns);
  EXPECT_EQ(lines[0], kResultHeader);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(testsupport::CsvFields(lines[i]).size(), 13u) << lines[i];
  }
}

}  // namespace
