// The demonstration station: its generated firmware, and whole demo runs, in
// the process at ten times the line rate and as the program at the line rate.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_operator.h"
#include "demo.h"
#include "demo_firmware.h"
#include "support/cli_fixture.h"

namespace clitest {
namespace {

using vtdemo::DemoFiles;

// Checks the syntax and checksum of every record; returns the first fault.
std::string CheckRecords(const std::string& image, size_t& dataRecords, uint32_t& lowest,
                         uint32_t& highestEnd) {
  dataRecords = 0;
  lowest = 0xFFFFFFFF;
  highestEnd = 0;
  for (const std::string& raw : SplitLines(image)) {
    if (raw.empty() || raw.back() != '\r') return "no CR LF: " + raw;
    const std::string line = raw.substr(0, raw.size() - 1);
    if (line.size() > 78) return "longer than a record text holds: " + line;
    if (line.size() < 10 || line[0] != 'S' || line.size() % 2 != 0) return "bad record: " + line;
    std::vector<unsigned> bytes;
    for (size_t i = 2; i < line.size(); i += 2) bytes.push_back(std::stoul(line.substr(i, 2), nullptr, 16));
    if (bytes[0] + 1 != bytes.size()) return "byte count: " + line;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    if ((~sum & 0xFF) != bytes.back()) return "checksum: " + line;
    if (line[1] == '3') {
      ++dataRecords;
      const uint32_t address = (bytes[1] << 24) | (bytes[2] << 16) | (bytes[3] << 8) | bytes[4];
      lowest = std::min(lowest, address);
      highestEnd = std::max<uint32_t>(highestEnd, address + static_cast<uint32_t>(bytes.size()) - 6);
    }
  }
  return "";
}

// The header record's text, as the tag check searches it.
std::string HeaderText(const std::string& image) {
  const std::string first = SplitLines(image).at(0);
  std::string text;
  for (size_t i = 8; i + 4 < first.size(); i += 2) {
    text += static_cast<char>(std::stoul(first.substr(i, 2), nullptr, 16));
  }
  return text;
}

TEST(CliDemoFirmware, ImagesAreValidAndTaggedForTheirFamily) {
  ScratchDir dir;
  DemoFiles files;
  std::string error;
  ASSERT_TRUE(vtdemo::WriteDemoFiles(dir.Path(), files, error)) << error;
  const struct {
    std::string* path;
    bool qz6Tag;
    bool mv2Tag;
    bool crosses64K;   // a record runs over a 64 KB boundary: block mode goes in two blocks
    uint32_t below;    // every data byte lies below this address (the special block)
  } images[] = {
      {&files.qz600Rcp, true, false, true, 0xFFFFFFFF},
      {&files.qz500Rcp, false, false, true, 0xFFFFFFFF},
      {&files.mv2Rcp, false, true, true, 0xFFFFFFFF},
      {&files.qz6Vtc, false, false, true, 0xFFFFFFFF},
      {&files.mv2Vtc, false, false, true, 0xFFFFFFFF},
      {&files.qz6Ldr, false, false, false, 0xFFC0},
      {&files.mv2Ldr, false, false, false, 0x1FFC0},
      {&files.mv2LdrPre50, false, false, false, 0x1FFC0},
  };
  for (const auto& image : images) {
    SCOPED_TRACE(*image.path);
    const std::string text = ReadFile(*image.path);
    size_t records = 0;
    uint32_t lowest = 0, highestEnd = 0;
    EXPECT_EQ(CheckRecords(text, records, lowest, highestEnd), "");
    EXPECT_GT(records, 10u);
    const std::string header = HeaderText(text);
    EXPECT_EQ(header.find("QZ6") != std::string::npos, image.qz6Tag) << header;
    EXPECT_EQ(header.find("RCPMV2") != std::string::npos, image.mv2Tag) << header;
    EXPECT_EQ((lowest >> 16) != ((highestEnd - 1) >> 16), image.crosses64K);
    EXPECT_LE(highestEnd, image.below);
    // The loader splice reads the count in the four-byte form.
    EXPECT_NE(text.find("\r\nS505"), std::string::npos);
  }
  for (const std::string* raw : {&files.qz6Cpld, &files.qz6Dsp, &files.mv2Fpga, &files.mv2Uim}) {
    const std::string bytes = ReadFile(*raw);
    EXPECT_GT(bytes.size(), 1000u) << *raw;
    EXPECT_EQ(bytes.find('\xFF'), std::string::npos) << *raw;
  }
  const std::string ini = ReadFile(files.ini);
  EXPECT_NE(ini.find("PermitLoaderOverwrite=y\n"), std::string::npos);
  EXPECT_NE(ini.find("RCP=" + files.qz600Rcp + "\n"), std::string::npos);
  EXPECT_NE(ini.find("LDR_PRE_5_0=" + files.mv2LdrPre50 + "\n"), std::string::npos);
}

TEST(CliDemoFirmware, RecordsFollowTheFormat) {
  EXPECT_EQ(vtdemo::SRecord('0', 0, {'H', 'D', 'R'}), "S00600004844521B\r\n");
  EXPECT_EQ(vtdemo::SRecord('5', 1, {}), "S50500000001F9\r\n");
  EXPECT_EQ(vtdemo::SRecord('3', 0x0001FFF8, {0, 1, 2, 3, 4, 5, 6, 7}),
            "S30D0001FFF80001020304050607DE\r\n");
  EXPECT_EQ(vtdemo::SRecord('7', 0x0000F800, {}), "S7050000F80002\r\n");
}

// Every operator line of a demo output, with the port in front.
std::vector<std::string> PowerLines(const std::vector<std::string>& lines) {
  std::vector<std::string> power;
  for (const std::string& line : lines) {
    if (line.find(": operator switches") != std::string::npos) power.push_back(line);
  }
  return power;
}

// The power lines of one port, in order.
std::vector<std::string> PowerLinesOf(const std::vector<std::string>& lines, const std::string& port) {
  std::vector<std::string> own;
  for (const std::string& line : PowerLines(lines)) {
    if (line.rfind(port + ": ", 0) == 0) own.push_back(line);
  }
  return own;
}

TEST(CliDemo, ProgramsTheQZ600AndTheMV2TogetherAndTheQZ500InItsOwnTurn) {
  CapturedStream out, err;
  vtcli::Environment env;
  env.out = out.File();
  env.err = err.File();
  vtcli::DemoOptions options;
  options.lineBitsPerSecond = 576000;
  options.reactionMs = 20;
  ASSERT_EQ(vtcli::RunDemo(options, env), vtcli::kExitOk) << out.Text() << err.Text();
  const std::vector<std::string> lines = out.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Demo result: COM1 QZ600 programmed, COM2 MV2 programmed, COM3 QZ500 programmed");
  EXPECT_EQ(PowerLinesOf(lines, "COM1"),
            (std::vector<std::string>{"COM1: operator switches the QZ600 on",
                                      "COM1: operator switches the QZ600 off and on again",
                                      "COM1: operator switches the QZ600 off"}))
      << out.Text();
  EXPECT_EQ(PowerLinesOf(lines, "COM2"),
            (std::vector<std::string>{"COM2: operator switches the MV2 on",
                                      "COM2: operator switches the MV2 off"}))
      << out.Text();
  EXPECT_EQ(PowerLinesOf(lines, "COM3"),
            (std::vector<std::string>{"COM3: operator switches the QZ500 on",
                                      "COM3: operator switches the QZ500 off and on again",
                                      "COM3: operator switches the QZ500 off"}))
      << out.Text();
  // The QZ500's turn comes once the scanners of the first turn are off, and
  // its operator selects its RCP image first.
  const int qz500On = IndexOf(lines, "COM3: operator switches the QZ500 on");
  EXPECT_GT(qz500On, IndexOf(lines, "COM1: operator switches the QZ600 off"));
  EXPECT_GT(qz500On, IndexOf(lines, "COM2: operator switches the MV2 off"));
  const int selected =
      IndexOf(lines, "COM3: operator selects qz500_rcp.s19 as the first-generation RCP image");
  EXPECT_NE(selected, -1) << out.Text();
  EXPECT_LT(selected, qz500On);
  EXPECT_EQ(err.Text(), "");
}

// Operators of one turn hold the bench together; the next turn comes once
// each of them has switched off or left.
TEST(CliBench, OperatorsOfOneTurnShareIt) {
  vtdemo::Bench bench(std::vector<size_t>{0, 0, 1});
  ASSERT_TRUE(bench.Acquire(0));
  ASSERT_TRUE(bench.Acquire(1));  // returns while operator 0 holds the bench
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(what);
  };
  std::thread next([&] {
    EXPECT_TRUE(bench.Acquire(2));
    note("2 on");
  });
  note("0 off");
  bench.Release(0);
  note("1 left");
  bench.Release(1);
  next.join();
  EXPECT_EQ(order, (std::vector<std::string>{"0 off", "1 left", "2 on"}));
}

#if !defined(_WIN32)
TEST(CliDemo, TheProgramRunsTheDemoAtTheLineRate) {
  ScratchDir cwd;
  ChildProcess demo({std::string(VT_BINARY_DIR) + "/cli/vantorel-cli", "--demo"}, cwd.Path());
  ASSERT_TRUE(demo.Started());
  ASSERT_TRUE(demo.Finish(240)) << demo.out << demo.err;
  EXPECT_EQ(demo.exitCode, 0) << demo.out << demo.err;
  const std::vector<std::string> lines = SplitLines(demo.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Demo result: COM1 QZ600 programmed, COM2 MV2 programmed, COM3 QZ500 programmed");
  // Not a terminal: no progress bars, only lines.
  EXPECT_EQ(demo.out.find('\x1b'), std::string::npos);
  // The demo cleans up after itself and writes nothing where it was started.
  EXPECT_TRUE(fs::is_empty(cwd.Path()));
}
#endif  // !_WIN32

}  // namespace
}  // namespace clitest
