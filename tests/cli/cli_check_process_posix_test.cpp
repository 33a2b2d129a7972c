// vantorel-cli --check and --check-image as a process meets them on a line
// computer: a stop request (Ctrl-C, SIGTERM) while the check runs, too
// little memory for an image, and a file far larger than any firmware.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_app.h"
#include "demo_firmware.h"
#include "firmware/file_access.h"
#include "support/cli_fixture.h"

namespace clitest {
namespace {

const std::string kCli = std::string(VT_BINARY_DIR) + "/cli/vantorel-cli";

// A sanitizer reserves far more address space than a memory limit leaves.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The signals the process catches, from /proc/PID/status ("SigCgt:" in hex,
// bit n-1 for signal n); nullopt without /proc.
std::optional<uint64_t> CaughtSignals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  }
  return std::nullopt;
}

// Waits until the process has its handler for signal, looking again as long
// as it lives (the limit only ends a test that has gone wrong). False when
// the system does not tell or the limit passed.
bool WaitForHandler(pid_t pid, int signal) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < limit) {
    const std::optional<uint64_t> caught = CaughtSignals(pid);
    if (!caught) return false;
    if ((*caught >> (signal - 1)) & 1u) return true;
    std::this_thread::yield();
  }
  return false;
}

// A station folder with the demonstration's files and a larger image beside.
struct CheckFolder {
  CheckFolder() {
    std::string error;
    EXPECT_TRUE(vtdemo::WriteDemoFiles(dir.Path(), files, error)) << error;
  }
  // Names image instead of the MV2's VTC image in ZANDRIC.INI; returns the
  // setting's line.
  int UseAsMv2Vtc(const std::string& image) {
    std::string ini = ReadFile(files.ini);
    ini.replace(ini.find(files.mv2Vtc), files.mv2Vtc.size(), image);
    WriteFile(files.ini, ini);
    const std::vector<std::string> lines = SplitLines(ini);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == "VTC=" + image) return static_cast<int>(i) + 1;
    }
    ADD_FAILURE() << "no VTC=" << image << " in\n" << ini;
    return 0;
  }
  ScratchDir dir;
  vtdemo::DemoFiles files;
};

// A check answers no stop request, so the first one ends it (exit code 1,
// as for every interrupted run). The child's output is held full, so it
// cannot end on its own before the signal has come: a request it ignored
// would let it finish with 0 once the test reads.
TEST(CliCheckProcess, TheFirstStopRequestEndsACheck) {
  CheckFolder folder;
  const struct {
    const char* name;
    int signal;
    std::vector<std::string> args;
  } cases[] = {
      {"SIGTERM, --check-image", SIGTERM, {kCli, "--check-image", folder.files.mv2Rcp}},
      {"SIGINT, --check-image", SIGINT, {kCli, "--check-image", folder.files.mv2Rcp}},
      {"SIGTERM, --check", SIGTERM, {kCli, "--check"}},
      {"SIGINT, --check", SIGINT, {kCli, "--check"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChildProcess cli(c.args, folder.dir.Path(), ChildProcess::Output::kHeldFull);
    ASSERT_TRUE(cli.Started());
    if (!WaitForHandler(cli.Pid(), c.signal)) {
      GTEST_SKIP() << "the system does not say which signals a process catches";
    }
    cli.Signal(c.signal);
    ASSERT_TRUE(cli.Finish(120));
    EXPECT_EQ(cli.exitCode, vtcli::kExitFailed) << cli.out << cli.err;
  }
}

// The check of a file that does not fit the memory left says so at the file
// (or its setting) and goes on with the other files; the process does not
// end on the allocation.
TEST(CliCheckProcess, AnImageWithoutRoomInMemoryIsAProblemLine) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory does not fit a small address space";
  CheckFolder folder;
  // About 40 MB of data records: the records read and the file taken whole
  // need well over the 48 MB the process is given.
  const std::string image = folder.dir / "large.s19";
  {
    std::ofstream file(image, std::ios::binary);
    file << vtdemo::SRecord('0', 0, {'L', 'A', 'R', 'G', 'E'});
    const std::vector<uint8_t> data(32, 0x5A);
    for (uint32_t address = 0; address < 16u * 1024 * 1024; address += 32) {
      file << vtdemo::SRecord('3', address, data);
    }
    file << vtdemo::SRecord('7', 0, {});
  }
  const int iniLine = folder.UseAsMv2Vtc(image);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string problem;
    std::string last;
  } cases[] = {
      {"--check-image", {"--check-image", image}, image + ": not enough memory to read the file",
       "check: 1 file, 1 problem"},
      {"--check", {"--check"},
       "ZANDRIC.INI:" + std::to_string(iniLine) + ": not enough memory to read " + image,
       "check: 11 files, 1 problem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit -v 49152 && exec \"$0\" \"$@\"", kCli};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess cli(argv, folder.dir.Path());
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.Finish(120));
    EXPECT_EQ(cli.exitCode, vtcli::kExitFailed) << cli.out << cli.err;
    EXPECT_EQ(cli.err, "");
    const std::vector<std::string> lines = SplitLines(cli.out);
    EXPECT_NE(IndexOf(lines, c.problem), -1) << cli.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.last) << cli.out;
  }
}

// A file past the firmware size limit is refused by the image reader before
// it is read: one line that names the limit, not an allocation of its size.
TEST(CliCheckProcess, AnImageLargerThanAnyFirmwareIsRefused) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  for (const uint64_t size : {kMaxFirmwareFileBytes + 1, uint64_t{5} << 30}) {
    SCOPED_TRACE(size);
    { std::ofstream(image, std::ios::binary); }
    fs::resize_file(image, size);  // sparse: nothing is written
    CapturedStream out, err;
    vtcli::Environment env;
    env.out = out.File();
    env.err = err.File();
    env.currentDir = dir.Path();
    EXPECT_EQ(vtcli::Main({"--check-image", image}, env), vtcli::kExitFailed);
    EXPECT_EQ(out.Lines(), (std::vector<std::string>{
                               image,
                               image + ": File " + image + " is too large: " +
                                   std::to_string(size) + " bytes, at most " +
                                   std::to_string(kMaxFirmwareFileBytes),
                               "check: 1 file, 1 problem",
                           }));
  }
}

}  // namespace
}  // namespace clitest
