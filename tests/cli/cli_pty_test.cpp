// vantorel-cli end to end through the operating system's serial port code: a
// simulated scanner served on a pseudo-terminal by vantorel-simpty, the
// program started in a folder whose ZANDRIC.INI maps COM1 to that terminal.
#include <gtest/gtest.h>

// Pseudo-terminals and child processes: POSIX systems only.
#if !defined(_WIN32)

#include <map>
#include <ostream>

#include "demo_firmware.h"
#include "support/cli_fixture.h"

namespace clitest {
namespace {

const std::string kCli = std::string(VT_BINARY_DIR) + "/cli/vantorel-cli";
const std::string kSimPty = std::string(VT_BINARY_DIR) + "/sim/vantorel-simpty";

struct PtyCase {
  const char* family;  // vantorel-simpty's --family
  // Files that must reach the scanner unchanged: component name in the
  // simulator's dump, and the demo file. Raw files arrive byte for byte;
  // images fill the scanner's memory with their data.
  std::vector<std::pair<std::string, std::string vtdemo::DemoFiles::*>> raw;
  std::vector<std::pair<std::string, std::string vtdemo::DemoFiles::*>> images;
  std::vector<std::string> lines;  // status lines in this order
};

void PrintTo(const PtyCase& c, std::ostream* os) { *os << c.family; }

// The data bytes of an S-record text by address (S1, S2 and S3 records).
std::map<uint32_t, uint8_t> MemoryOf(const std::string& text) {
  std::map<uint32_t, uint8_t> memory;
  for (std::string line : SplitLines(text)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3') continue;
    const size_t addressChars = 2 * static_cast<size_t>(line[1] - '0' + 1);
    const size_t count = std::stoul(line.substr(2, 2), nullptr, 16);
    uint32_t address = static_cast<uint32_t>(std::stoul(line.substr(4, addressChars), nullptr, 16));
    const size_t dataBytes = count - addressChars / 2 - 1;
    for (size_t i = 0; i < dataBytes; ++i) {
      memory[address++] =
          static_cast<uint8_t>(std::stoul(line.substr(4 + addressChars + 2 * i, 2), nullptr, 16));
    }
  }
  return memory;
}

class CliPty : public ::testing::TestWithParam<PtyCase> {};

TEST_P(CliPty, ProgramsTheScannerOnAPseudoTerminal) {
  const PtyCase& c = GetParam();
  ScratchDir dir;
  vtdemo::DemoFiles files;
  std::string error;
  ASSERT_TRUE(vtdemo::WriteDemoFiles(dir.Path(), files, error)) << error;
  const std::string dumps = dir / "dumps";
  fs::create_directories(dumps);

  ChildProcess scanner({kSimPty, "--family", c.family, "--report", dir / "report.txt",
                        "--dump-dir", dumps},
                       dir.Path());
  ASSERT_TRUE(scanner.Started());
  std::string ptyPath;
  ASSERT_TRUE(scanner.ReadLine(ptyPath, 30)) << scanner.err;
  ASSERT_EQ(ptyPath.rfind("/dev/", 0), 0u) << ptyPath;

  // The demo's settings, with the [Ports] section that leads COM1 to the
  // pseudo-terminal.
  std::string ini = ReadFile(files.ini);
  ini += "[Ports]\nCOM1=" + ptyPath + "\n";
  WriteFile(files.ini, ini);

  ChildProcess cli({kCli, "COM1"}, dir.Path());
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(cli.Finish(180)) << cli.out << cli.err;
  EXPECT_EQ(cli.exitCode, 0) << cli.out << cli.err;
  EXPECT_EQ(cli.err, "");
  const std::vector<std::string> lines = SplitLines(cli.out);
  EXPECT_TRUE(InOrder(lines, c.lines)) << cli.out;
  // The settings file stays as the operator wrote it.
  EXPECT_EQ(ReadFile(files.ini), ini);

  ASSERT_TRUE(scanner.Finish(60)) << scanner.err;
  EXPECT_EQ(scanner.exitCode, 0) << scanner.err;
  const std::string report = ReadFile(dir / "report.txt");
  EXPECT_NE(report.find("record-errors 0\n"), std::string::npos) << report;
  for (const auto& [component, file] : c.raw) {
    SCOPED_TRACE(component);
    EXPECT_EQ(ReadFile(dumps + "/" + component + "-1.bin"), ReadFile(files.*file));
  }
  for (const auto& [component, file] : c.images) {
    SCOPED_TRACE(component);
    const auto sent = MemoryOf(ReadFile(files.*file));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(MemoryOf(ReadFile(dumps + "/" + component + ".srec")), sent);
  }
}

// Ctrl-C while the station waits for a scanner that never answers: the
// panel is reset and the program ends with a failure.
TEST(CliPtyInterrupt, CtrlCResetsThePort) {
  ScratchDir dir;
  ChildProcess scanner({kSimPty, "--family", "qz600", "--silent", "--idle-off-ms", "0"},
                       dir.Path());
  ASSERT_TRUE(scanner.Started());
  std::string ptyPath;
  ASSERT_TRUE(scanner.ReadLine(ptyPath, 30)) << scanner.err;
  WriteFile(dir / "ZANDRIC.INI", "[Ports]\nCOM1=" + ptyPath + "\n");

  ChildProcess cli({kCli, "COM1"}, dir.Path());
  ASSERT_TRUE(cli.Started());
  std::string line;
  do {
    ASSERT_TRUE(cli.ReadLine(line, 30)) << cli.out << cli.err;
  } while (line != "COM1: Turn scanner power on");
  cli.Signal(SIGINT);
  ASSERT_TRUE(cli.Finish(60)) << cli.out << cli.err;
  EXPECT_EQ(cli.exitCode, 1) << cli.out << cli.err;
  EXPECT_TRUE(InOrder(SplitLines(cli.out), {"interrupted: ending every run",
                                            "COM1: Reset", "COM1: Turn scanner power off"}))
      << cli.out;
  scanner.Terminate();
}

INSTANTIATE_TEST_SUITE_P(
    Families, CliPty,
    ::testing::Values(
        PtyCase{"mv2",
                {{"FPGA", &vtdemo::DemoFiles::mv2Fpga},
                 {"UIM", &vtdemo::DemoFiles::mv2Uim}},
                {{"RCP", &vtdemo::DemoFiles::mv2Rcp},
                 {"VTC", &vtdemo::DemoFiles::mv2Vtc}},
                {"COM1: Turn scanner power on", "COM1: Connected", "COM1: RCP Download Complete",
                 "COM1: VTC Download Complete", "COM1: UIM Done", "COM1: LDR Done",
                 "COM1: Programming Done. Please exit Vantorel before turning scanner power off.",
                 "COM1: waiting for the scanner to be switched off",
                 "COM1: Turn scanner power off"}},
        PtyCase{"qz600",
                {{"CPLD", &vtdemo::DemoFiles::qz6Cpld},
                 {"DSP", &vtdemo::DemoFiles::qz6Dsp}},
                {{"RCP", &vtdemo::DemoFiles::qz600Rcp},
                 {"VTC", &vtdemo::DemoFiles::qz6Vtc}},
                {"COM1: Turn scanner power on", "COM1: Connected", "COM1: RCP Download Complete",
                 "COM1: VTC Download Complete", "COM1: PLD programming!  Wait for auto-connect",
                 "COM1: Please cycle scanner power to continue!", "COM1: DSP Done",
                 "COM1: LDR Done",
                 "COM1: Programming Done. Please exit Vantorel before turning scanner power off.",
                 "COM1: waiting for the scanner to be switched off",
                 "COM1: Turn scanner power off"}}),
    [](const ::testing::TestParamInfo<PtyCase>& info) { return std::string(info.param.family); });

}  // namespace
}  // namespace clitest

#endif  // !_WIN32
