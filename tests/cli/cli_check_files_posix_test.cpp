// vantorel-cli --check and --check-image on settings and arguments that name
// no regular file: a character device, a FIFO (which must not hold the check
// in its open) and a folder. Each is one problem line naming what it is.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli_app.h"
#include "demo_firmware.h"
#include "support/cli_fixture.h"

namespace clitest {
namespace {

struct CheckRun {
  int exit = -1;
  std::vector<std::string> lines;
};

CheckRun RunCheck(const std::vector<std::string>& args, const std::string& folder) {
  CapturedStream out, err;
  vtcli::Environment env;
  env.out = out.File();
  env.err = err.File();
  env.currentDir = folder;
  CheckRun run;
  run.exit = vtcli::Main(args, env);
  run.lines = out.Lines();
  EXPECT_EQ(err.Text(), "");
  return run;
}

int IniLine(const std::string& ini, const std::string& start) {
  const std::vector<std::string> lines = SplitLines(ini);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(start, 0) == 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

TEST(CliCheckFiles, DevicesPipesAndFoldersAreProblems) {
  ScratchDir dir;
  const std::string fifo = dir / "firmware.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* what;
  } paths[] = {
      {"/dev/zero", "a device"},
      {fifo, "a pipe"},
      {dir.Path(), "a folder"},
  };
  for (const auto& p : paths) {
    SCOPED_TRACE(p.path);
    const std::string problem = "File " + p.path + " is " + p.what + ", not a regular file";

    // A raw file (the FPGA) and an image (the VTC) of a station's settings:
    // the problem points at the setting's line.
    ScratchDir station;
    vtdemo::DemoFiles files;
    std::string error;
    ASSERT_TRUE(vtdemo::WriteDemoFiles(station.Path(), files, error)) << error;
    std::string ini = ReadFile(files.ini);
    for (const std::string& old : {files.mv2Fpga, files.mv2Vtc}) {
      ini.replace(ini.find(old), old.size(), p.path);
    }
    WriteFile(files.ini, ini);
    const CheckRun check = RunCheck({"--check"}, station.Path());
    EXPECT_EQ(check.exit, vtcli::kExitFailed);
    for (const std::string key : {"VTC=", "FPGA="}) {
      const std::string line = "ZANDRIC.INI:" + std::to_string(IniLine(ini, key + p.path)) + ": " + problem;
      EXPECT_NE(IndexOf(check.lines, line), -1) << line;
    }
    EXPECT_EQ(check.lines.back(), "check: 11 files, 2 problems");

    const CheckRun image = RunCheck({"--check-image", p.path}, "/nonexistent-folder");
    EXPECT_EQ(image.exit, vtcli::kExitFailed);
    EXPECT_EQ(image.lines, (std::vector<std::string>{p.path, p.path + ": " + problem,
                                                     "check: 1 file, 1 problem"}));
  }
}

}  // namespace
}  // namespace clitest
