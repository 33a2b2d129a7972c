// The command line of vantorel-cli: port names, options and usage errors.
#include <gtest/gtest.h>

#include "cli_app.h"
#include "support/cli_fixture.h"

namespace vtcli {
namespace {

struct NameCase {
  const char* text;
  bool valid;
  const char* name;
  int row;
  bool usb;
  const char* panelName;
};

const NameCase kNames[] = {
    {"COM1", true, "COM1", 0, false, "COM1"},
    {"com20", true, "COM20", 19, false, "COM20"},
    {"Com7", true, "COM7", 6, false, "COM7"},
    {"ZEV0", true, "ZEV0", 0, true, "\\\\.\\ZEV0"},
    {"zev19", true, "ZEV19", 19, true, "\\\\.\\ZEV19"},
    {"ZEV3", true, "ZEV3", 3, true, "\\\\.\\ZEV3"},
    // Out of the port table's 20 rows.
    {"COM0", false, "", 0, false, ""},
    {"COM21", false, "", 0, false, ""},
    {"ZEV20", false, "", 0, false, ""},
    // Not the canonical spelling: INI keys and log names are built from it.
    {"COM01", false, "", 0, false, ""},
    {"COM+1", false, "", 0, false, ""},
    {"COM 1", false, "", 0, false, ""},
    {"ZEV-1", false, "", 0, false, ""},
    {"COM", false, "", 0, false, ""},
    {"COM1x", false, "", 0, false, ""},
    {"COM100", false, "", 0, false, ""},
    {"LPT1", false, "", 0, false, ""},
    {"\\\\.\\COM3", false, "", 0, false, ""},
    {"/dev/ttyS0", false, "", 0, false, ""},
};

TEST(CliPortName, NamesLeadToTheirTableRow) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.text);
    PortSpec spec;
    ASSERT_EQ(ParsePortName(c.text, spec), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(spec.name, c.name);
    EXPECT_EQ(spec.row, c.row);
    EXPECT_EQ(spec.usb, c.usb);
    EXPECT_EQ(spec.panelName, c.panelName);
  }
}

struct ArgsCase {
  std::vector<std::string> args;
  const char* error;  // empty: accepted
  bool demo;
  size_t ports;
};

const ArgsCase kArgs[] = {
    {{"COM1"}, "", false, 1},
    {{"COM1", "COM2", "ZEV5"}, "", false, 3},
    {{"--demo"}, "", true, 0},
    {{"--help"}, "", false, 0},
    {{"COM1", "-h"}, "", false, 1},
    {{}, "no port named", false, 0},
    {{"--verbose"}, "unknown option --verbose", false, 0},
    {{"COM1", "-x"}, "unknown option -x", false, 0},
    {{"COM21"}, "not a port name: COM21 (COM1 to COM20 or ZEV0 to ZEV19)", false, 0},
    {{"COM1", "com1"}, "port named twice: COM1", false, 0},
    {{"COM4", "ZEV3"}, "ports COM4 and ZEV3 share one row of the port table", false, 0},
    {{"--demo", "COM1"}, "--demo takes no port names", false, 0},
};

TEST(CliArguments, AcceptsPortsAndRejectsUsageErrors) {
  for (const ArgsCase& c : kArgs) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    Arguments parsed;
    const std::string error = ParseArguments(c.args, parsed);
    EXPECT_EQ(error, c.error);
    if (error.empty()) {
      EXPECT_EQ(parsed.demo, c.demo);
      EXPECT_EQ(parsed.ports.size(), c.ports);
    }
  }
}

TEST(CliArguments, PortsKeepTheirOrder) {
  Arguments parsed;
  ASSERT_EQ(ParseArguments({"COM3", "zev1", "COM1"}, parsed), "");
  ASSERT_EQ(parsed.ports.size(), 3u);
  EXPECT_EQ(parsed.ports[0].name, "COM3");
  EXPECT_EQ(parsed.ports[1].name, "ZEV1");
  EXPECT_EQ(parsed.ports[2].name, "COM1");
}

// A usage error is reported on the error stream before anything is touched:
// no settings are read, no port is opened.
TEST(CliMain, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"--bogus"}, {"COM0"}, {"COM2", "COM2"}, {"--demo", "ZEV1"}};
  for (const auto& args : cases) {
    clitest::CapturedStream out, err;
    Environment env;
    env.out = out.File();
    env.err = err.File();
    env.currentDir = "/nonexistent-folder";
    EXPECT_EQ(Main(args, env), kExitUsage);
    EXPECT_EQ(out.Text(), "");
    const std::vector<std::string> lines = err.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("vantorel-cli: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "usage: vantorel-cli PORT...");
  }
}

TEST(CliMain, HelpPrintsUsageAndSucceeds) {
  clitest::CapturedStream out, err;
  Environment env;
  env.out = out.File();
  env.err = err.File();
  EXPECT_EQ(Main({"--help"}, env), kExitOk);
  EXPECT_EQ(out.Text(), UsageText());
  EXPECT_EQ(err.Text(), "");
}

}  // namespace
}  // namespace vtcli
