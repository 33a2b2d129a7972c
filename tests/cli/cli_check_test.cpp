// vantorel-cli --check and --check-image: the pre-flight of a station's
// firmware files, on the demonstration station's files and on copies of them
// spoiled the ways a production line meets them.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "cli_app.h"
#include "demo_firmware.h"
#include "support/cli_fixture.h"
#include "support/sim_srecords.h"

namespace clitest {
namespace {

using vtdemo::DemoFiles;

struct CheckRun {
  int exit = -1;
  std::vector<std::string> lines;
  std::string text;
};

CheckRun RunCli(const std::vector<std::string>& args, const std::string& folder) {
  CapturedStream out, err;
  vtcli::Environment env;
  env.out = out.File();
  env.err = err.File();
  env.currentDir = folder;
  CheckRun run;
  run.exit = vtcli::Main(args, env);
  run.text = out.Text();
  run.lines = out.Lines();
  EXPECT_EQ(err.Text(), "");
  return run;
}

// The problem lines of a report: "<file>:<line>: <text>" or "<file>: <text>"
// (facts are indented, a setting's heading holds " = ", an image's heading is
// its path alone).
std::vector<std::string> Problems(const std::vector<std::string>& lines) {
  std::vector<std::string> problems;
  for (const std::string& line : lines) {
    if (line.rfind("check: ", 0) == 0 || line.rfind("  ", 0) == 0) continue;
    if (line.find(" = ") != std::string::npos || line.find(": ") == std::string::npos) continue;
    problems.push_back(line);
  }
  return problems;
}

int IniLine(const std::string& ini, const std::string& start) {
  const std::vector<std::string> lines = SplitLines(ini);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(start, 0) == 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string ReplaceLine(const std::string& text, size_t number, const std::string& line) {
  std::vector<std::string> lines = SplitLines(text);
  lines.at(number - 1) = line;
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

class CliCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(vtdemo::WriteDemoFiles(dir_.Path(), files_, error)) << error;
  }
  std::string Ini() const { return ReadFile(files_.ini); }
  void SetIni(const std::string& text) { WriteFile(files_.ini, text); }
  // Points the setting that starts with prefix ("RCP=" in [QZ6]) elsewhere.
  void SetSetting(const std::string& oldValue, const std::string& newValue) {
    std::string ini = Ini();
    const size_t at = ini.find(oldValue);
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, oldValue.size(), newValue);
    SetIni(ini);
  }

  ScratchDir dir_;
  DemoFiles files_;
};

TEST_F(CliCheck, TheDemoStationIsGood) {
  const CheckRun run = RunCli({"--check"}, dir_.Path());
  EXPECT_EQ(run.exit, vtcli::kExitOk) << run.text;
  EXPECT_TRUE(Problems(run.lines).empty()) << run.text;
  EXPECT_EQ(run.lines.back(), "check: 11 files, no problems") << run.text;
  // Every setting has its heading, in the order the station loads them.
  EXPECT_TRUE(InOrder(run.lines, {"[QZ6] RCP = " + files_.qz600Rcp, "[QZ6] LDR = " + files_.qz6Ldr,
                                  "[QZ6] VTC = " + files_.qz6Vtc, "[QZ6] CPLD = " + files_.qz6Cpld,
                                  "[QZ6] DSP = " + files_.qz6Dsp, "[MV2] RCP = " + files_.mv2Rcp,
                                  "[MV2] LDR_PRE_5_0 = " + files_.mv2LdrPre50,
                                  "[MV2] LDR = " + files_.mv2Ldr, "[MV2] VTC = " + files_.mv2Vtc,
                                  "[MV2] FPGA = " + files_.mv2Fpga, "[MV2] UIM = " + files_.mv2Uim}))
      << run.text;
  // The facts of an image: its records, addresses, tag and families.
  const int rcp = IndexOf(run.lines, "[QZ6] RCP = " + files_.qz600Rcp);
  ASSERT_GE(rcp, 0);
  const std::string facts = run.lines[rcp + 1] + "\n" + run.lines[rcp + 2] + "\n" +
                            run.lines[rcp + 3] + "\n" + run.lines[rcp + 4] + "\n" +
                            run.lines[rcp + 5];
  EXPECT_TRUE(std::regex_search(facts, std::regex("  [0-9]+ lines: 1 header, [0-9]+ data, 1 count, 1 termination record\n")))
      << facts;
  EXPECT_TRUE(std::regex_search(facts, std::regex("  addresses [0-9A-F]{8} to [0-9A-F]{8}\n"))) << facts;
  EXPECT_NE(facts.find("  serves QZ600\n"), std::string::npos) << facts;
  EXPECT_NE(facts.find("  sent to a QZ600 in one pass"), std::string::npos) << facts;
  // The VTC images meet the 64 KB boundary at 0x20000 with a record that
  // starts there: two blocks.
  const int vtc = IndexOf(run.lines, "[QZ6] VTC = " + files_.qz6Vtc);
  ASSERT_GE(vtc, 0);
  EXPECT_EQ(run.lines.at(vtc + 4), "  64 KB blocks: 2") << run.text;
  // The loaders that keep the special block have its place.
  EXPECT_NE(run.text.find("  special block place for QZ600: present\n"), std::string::npos);
  EXPECT_NE(run.text.find("  special block place for MV2: present\n"), std::string::npos);
}

TEST_F(CliCheck, ProblemsAreReportedWithFileAndLine) {
  struct Case {
    const char* name;
    // Changes the station; returns the problem lines expected.
    std::function<std::vector<std::string>()> spoil;
  };
  auto esc = [](const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  };
  const std::string refusal = "ZEV QZ600/700 Vantorel cannot update an ";
  const Case cases[] = {
      {"a configured file that is missing",
       [&] {
         const std::string gone = files_.folder + "/gone.bin";
         SetSetting(files_.mv2Fpga, gone);
         const int line = IniLine(Ini(), "FPGA=");
         return std::vector<std::string>{"ZANDRIC\\.INI:" + std::to_string(line) + ": File " +
                                         esc(gone) + " not found"};
       }},
      {"a corrupt record",
       [&] {
         std::string vtc = ReadFile(files_.qz6Vtc);
         const std::string line5 = SplitLines(vtc).at(4);
         std::string spoiled = line5;
         spoiled[14] = spoiled[14] == '0' ? '1' : '0';  // a data digit: the checksum no longer fits
         WriteFile(files_.qz6Vtc, ReplaceLine(vtc, 5, spoiled));
         return std::vector<std::string>{esc(files_.qz6Vtc) + ":5: Image file line 5: bad checksum"};
       }},
      {"a truncated image",
       [&] {
         const std::string vtc = ReadFile(files_.mv2Vtc);
         const size_t lines = SplitLines(vtc).size();
         // Cut in the middle of the next-to-last line.
         size_t at = 0;
         for (size_t i = 0; i + 2 < lines; ++i) at = vtc.find('\n', at) + 1;
         WriteFile(files_.mv2Vtc, vtc.substr(0, at + 9));
         return std::vector<std::string>{esc(files_.mv2Vtc) + ":" + std::to_string(lines - 1) +
                                         ": Image file line " + std::to_string(lines - 1) +
                                         ": byte count does not match the line"};
       }},
      {"an image without its count record",
       [&] {
         std::string rcp = ReadFile(files_.qz600Rcp);
         std::vector<std::string> lines = SplitLines(rcp);
         std::string out;
         for (const std::string& l : lines) {
           if (l.rfind("S5", 0) != 0) out += l + "\n";
         }
         WriteFile(files_.qz600Rcp, out);
         return std::vector<std::string>{esc(files_.qz600Rcp) + ":" +
                                         std::to_string(lines.size() - 1) +
                                         ": RCP Update: The file lacks its header, count or "
                                         "termination record"};
       }},
      {"a wrong family tag",
       [&] {
         SetSetting("RCP=" + files_.qz600Rcp, "RCP=" + files_.mv2Rcp);
         return std::vector<std::string>{esc(files_.mv2Rcp) + ":1: " + refusal + "QZ500 scanner with this firmware\\.",
                                         esc(files_.mv2Rcp) + ":1: " + refusal + "QZ600 scanner with this firmware\\."};
       }},
      {"a loader without the special block's place",
       [&] {
         std::string ldr = ReadFile(files_.mv2Ldr);
         std::string out;
         size_t lines = 0;
         for (const std::string& l : SplitLines(ldr)) {
           if (l.rfind("S5", 0) == 0 || l.rfind("S7", 0) == 0) continue;
           out += l + "\n";
           ++lines;
         }
         WriteFile(files_.mv2Ldr, out);
         const std::string at = esc(files_.mv2Ldr) + ":" + std::to_string(lines) + ": ";
         return std::vector<std::string>{at + "Loader image: no place for the special block",
                                         at + "Loader Update: Read block failed"};
       }},
      {"a loader without permission",
       [&] {
         SetSetting("PermitLoaderOverwrite=y", "PermitLoaderOverwrite=n");
         std::vector<std::string> expected;
         const std::string ini = Ini();
         const std::vector<std::string> lines = SplitLines(ini);
         for (size_t i = 0; i < lines.size(); ++i) {
           if (lines[i].rfind("LDR", 0) == 0) {
             expected.push_back("ZANDRIC\\.INI:" + std::to_string(i + 1) +
                                ": Missing permission to overwrite Loader");
           }
         }
         // Reported in the order the station loads them: [QZ6] LDR, then
         // [MV2] LDR_PRE_5_0 and LDR (the file's order here).
         return expected;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    ASSERT_TRUE(vtdemo::WriteDemoFiles(dir_.Path(), files_, error)) << error;
    const std::vector<std::string> expected = c.spoil();
    const CheckRun run = RunCli({"--check"}, dir_.Path());
    EXPECT_EQ(run.exit, vtcli::kExitFailed) << run.text;
    const std::vector<std::string> problems = Problems(run.lines);
    ASSERT_EQ(problems.size(), expected.size()) << run.text;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(std::regex_match(problems[i], std::regex(expected[i])))
          << problems[i] << "\n  expected: " << expected[i];
    }
    const std::string summary = "check: 11 files, " + std::to_string(expected.size()) +
                                (expected.size() == 1 ? " problem" : " problems");
    EXPECT_EQ(run.lines.back(), summary);
  }
}

// A loader image with bytes of its own where the scanner keeps its special
// block: the splice leaves them out. Where the station keeps the block the
// image it sends is not the file, a problem to settle before the shift;
// where it does not, the file goes as it stands over the scanner's block, a
// note.
TEST_F(CliCheck, ALoaderWithBytesWhereTheSpecialBlockLives) {
  // Puts record ahead of the loader's count record; returns its line.
  auto spoil = [](const std::string& path, const std::string& record) {
    std::vector<std::string> lines = SplitLines(ReadFile(path));
    size_t at = 0;
    while (at < lines.size() && lines[at].rfind("S5", 0) != 0) ++at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), record.substr(0, record.size() - 2));
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    WriteFile(path, out);
    return static_cast<int>(at) + 1;
  };
  for (bool preserve : {true, false}) {
    SCOPED_TRACE(preserve ? "PreserveSerialNumber=y" : "PreserveSerialNumber=n");
    std::string error;
    ASSERT_TRUE(vtdemo::WriteDemoFiles(dir_.Path(), files_, error)) << error;
    if (!preserve) SetSetting("PreserveSerialNumber=y", "PreserveSerialNumber=n");
    // A first-generation record from below the block into it; an MV2 record
    // inside it.
    const int qz6 = spoil(files_.qz6Ldr, simtest::Record('1', 0xFFB0, 2, std::vector<uint8_t>(32, 0x5A)));
    const int mv2 = spoil(files_.mv2Ldr, simtest::Record('3', 0x1FFE0, 4, {1, 2, 3, 4}));
    const std::string qz6At = files_.qz6Ldr + ":" + std::to_string(qz6) + ": ";
    const std::string mv2At = files_.mv2Ldr + ":" + std::to_string(mv2) + ": ";

    const CheckRun run = RunCli({"--check"}, dir_.Path());
    if (preserve) {
      EXPECT_EQ(run.exit, vtcli::kExitFailed) << run.text;
      EXPECT_EQ(Problems(run.lines),
                (std::vector<std::string>{
                    qz6At + "the scanner's special block will replace the image's bytes at FFC0-FFFF",
                    mv2At + "the scanner's special block will replace the image's bytes at 1FFC0-1FFFF"}))
          << run.text;
      EXPECT_EQ(run.lines.back(), "check: 11 files, 2 problems");
    } else {
      EXPECT_EQ(run.exit, vtcli::kExitOk) << run.text;
      EXPECT_TRUE(Problems(run.lines).empty()) << run.text;
      EXPECT_NE(IndexOf(run.lines, "  " + qz6At + "note: the image's bytes at FFC0-FFFF are written "
                                                  "over the scanner's special block, which is not kept"),
                -1)
          << run.text;
      EXPECT_NE(IndexOf(run.lines, "  " + mv2At + "note: the image's bytes at 1FFC0-1FFFF are written "
                                                  "over the scanner's special block, which is not kept"),
                -1)
          << run.text;
    }
  }
  // One image: a note for each family whose block would replace bytes.
  const CheckRun one = RunCli({"--check-image", files_.mv2Ldr}, "/nonexistent-folder");
  EXPECT_EQ(one.exit, vtcli::kExitOk) << one.text;
  const int line = static_cast<int>(SplitLines(ReadFile(files_.mv2Ldr)).size()) - 2;
  EXPECT_NE(IndexOf(one.lines, "  " + files_.mv2Ldr + ":" + std::to_string(line) +
                                   ": note: a special block spliced for MV2 replaces the image's bytes "
                                   "at 1FFC0-1FFFF"),
            -1)
      << one.text;
}

TEST_F(CliCheck, AFolderWithoutSettingsIsAProblem) {
  ScratchDir empty;
  const CheckRun run = RunCli({"--check"}, empty.Path());
  EXPECT_EQ(run.exit, vtcli::kExitFailed);
  ASSERT_EQ(run.lines.size(), 2u) << run.text;
  EXPECT_EQ(run.lines[0], "ZANDRIC.INI: no ZANDRIC.INI in " + empty.Path() + ": no firmware is configured");
  EXPECT_EQ(run.lines[1], "check: 0 files, 1 problem");
}

TEST_F(CliCheck, OneImage) {
  const CheckRun good = RunCli({"--check-image", files_.mv2Rcp}, "/nonexistent-folder");
  EXPECT_EQ(good.exit, vtcli::kExitOk) << good.text;
  EXPECT_EQ(good.lines.front(), files_.mv2Rcp);
  EXPECT_NE(good.text.find("  as RCP image serves MV2\n"), std::string::npos) << good.text;
  EXPECT_NE(good.text.find("  special block place for MV2: "), std::string::npos) << good.text;
  EXPECT_EQ(good.lines.back(), "check: 1 file, no problems");

  std::string vtc = ReadFile(files_.qz6Vtc);
  std::string line3 = SplitLines(vtc).at(2);
  line3[0] = 'X';
  WriteFile(files_.qz6Vtc, ReplaceLine(vtc, 3, line3));
  const CheckRun bad = RunCli({"--check-image", files_.qz6Vtc}, "/nonexistent-folder");
  EXPECT_EQ(bad.exit, vtcli::kExitFailed);
  EXPECT_EQ(Problems(bad.lines),
            std::vector<std::string>{files_.qz6Vtc + ":3: Image file line 3: not an S-record"});

  const std::string missing = dir_.Path() + "/none.s19";
  const CheckRun none = RunCli({"--check-image", missing}, "/nonexistent-folder");
  EXPECT_EQ(none.exit, vtcli::kExitFailed);
  EXPECT_EQ(Problems(none.lines), std::vector<std::string>{missing + ": ReadRCPFile : CreateFile"});
}

TEST(CliCheckArguments, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--check", "COM1"}, {"--check-image"}, {"--check", "--demo"},
      {"--check", "--check-image", "x.s19"}, {"--check-image", "a", "--check-image", "b"}};
  for (const auto& args : cases) {
    CapturedStream out, err;
    vtcli::Environment env;
    env.out = out.File();
    env.err = err.File();
    env.currentDir = "/nonexistent-folder";
    EXPECT_EQ(vtcli::Main(args, env), vtcli::kExitUsage) << args.size();
    EXPECT_EQ(out.Text(), "");
  }
}

}  // namespace
}  // namespace clitest
