// The station's result record: RFC 4180 fields, the line of a run, and
// appending to results.csv from many ports at once.
#include "app/result_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <thread>

#include "app/programmer_dlg.h"
#include "platform/message_recorder.h"
#include "support/app_fixture.h"
#include "support/csv_reader.h"

namespace {

using apptest::ReadFile;
using apptest::ScratchDir;
using apptest::WriteFile;

TEST(ResultCsvField, QuotesOnlyWhatNeedsIt) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"", ""},
      {"COM3", "COM3"},
      {"Programming sequence failed!", "Programming sequence failed!"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"line\nfeed", "\"line\nfeed\""},
      {" padded", "\" padded\""},
      {"\"", "\"\"\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CsvField(c.text), c.field);
  }
}

RunRecord Mv2Record() {
  RunRecord r;
  r.start = {2026, 12, 10, 9, 5, 7};
  r.port = "ZEV2";
  r.family = kFamilyMV2;
  r.loaderVersion = 30102;
  r.boardVersion = 51;
  for (int i = 0; i < 64; ++i) r.specialBlock.push_back(static_cast<uint8_t>(i * 5));
  r.components = {{"RCP", "/fw/rcp, mv2.s19", 1234, ComponentOutcome::kWritten, ""},
                  {"LDR", "/fw/ldr.s19", 99, ComponentOutcome::kWritten, ""}};
  r.result = 0;
  r.outcome = "Programming Done. Please exit Vantorel before turning scanner power off.";
  r.durationMs = 83456;
  return r;
}

TEST(ResultLine, HoldsEveryFactInItsColumn) {
  const RunRecord r = Mv2Record();
  const std::vector<std::string> fields = testsupport::CsvFields(ResultLine(r));
  const std::vector<std::string> header = testsupport::CsvFields(kResultHeader);
  ASSERT_EQ(fields.size(), header.size());
  std::string block;
  for (uint8_t b : r.specialBlock) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    block += pair;
  }
  const std::vector<std::string> expected = {
      "2026-12-10 09:05:07", "ZEV2", "MV2", "3.1.2", "5.1", block,
      "RCP=/fw/rcp, mv2.s19 (1234 bytes, written); LDR=/fw/ldr.s19 (99 bytes, written)", "0",
      r.outcome, "83.5", "", "", ""};
  EXPECT_EQ(fields, expected);

  // A first-generation scanner has no board version; a run that never read
  // the block leaves its column empty; a failure keeps its code and text.
  RunRecord failed = r;
  failed.family = kFamilyQZ600;
  failed.specialBlock.clear();
  failed.components.resize(1);
  failed.result = 18;
  failed.outcome = "Programming sequence failed!";
  const std::vector<std::string> f = testsupport::CsvFields(ResultLine(failed));
  EXPECT_EQ(f[2], "QZ600");
  EXPECT_EQ(f[4], "");
  EXPECT_EQ(f[5], "");
  EXPECT_EQ(f[7], "18");
  EXPECT_EQ(f[8], "Programming sequence failed!");
}

// Each component says what became of it; only a written one carries the
// digest of what was sent.
TEST(ResultLine, EachComponentCarriesItsOutcomeAndDigest) {
  const std::string digest(64, 'c');
  RunRecord r = Mv2Record();
  r.result = 20;
  r.components = {
      {"RCP", "/fw/rcp.s19", 98304, ComponentOutcome::kWritten, digest},
      {"VTC", "/fw/vtc.s19", 4096, ComponentOutcome::kDeclined, {}},
      {"FPGA", "/fw/fpga.bin", 3072, ComponentOutcome::kFailed, {}},
      {"UIM", "/fw/uim.bin", 1536, ComponentOutcome::kNotReached, {}},
  };
  EXPECT_EQ(testsupport::CsvFields(ResultLine(r))[6],
            "RCP=/fw/rcp.s19 (98304 bytes, written, sha256 " + digest +
                "); VTC=/fw/vtc.s19 (4096 bytes, declined); FPGA=/fw/fpga.bin (3072 bytes, "
                "failed); UIM=/fw/uim.bin (1536 bytes, not reached)");
}

TEST(ResultFile, AppendsAfterOneHeader) {
  ScratchDir dir;
  platform::ScopedMessageRecorder boxes;
  const RunRecord r = Mv2Record();
  ASSERT_TRUE(AppendResult(dir.Path(), r));
  ASSERT_TRUE(AppendResult(dir.Path(), r));
  const std::string line = ResultLine(r);
  EXPECT_EQ(ReadFile(dir / kResultFileName),
            std::string(kResultHeader) + "\r\n" + line + "\r\n" + line + "\r\n");
  // An existing file is only appended to, whatever it holds.
  WriteFile(dir / kResultFileName, "kept\r\n");
  ASSERT_TRUE(AppendResult(dir.Path(), r));
  EXPECT_EQ(ReadFile(dir / kResultFileName), "kept\r\n" + line + "\r\n");
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(ResultFile, AFileThatCannotBeOpenedGivesOneBox) {
  ScratchDir dir;
  platform::ScopedMessageRecorder boxes;
  const RunRecord r = Mv2Record();
  EXPECT_FALSE(AppendResult(dir / "no-such-folder", r));
  const std::vector<platform::RecordedBox> shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "ZEV2: Error");
  const std::string path =
      (std::filesystem::path(dir / "no-such-folder") / kResultFileName).string();
  EXPECT_EQ(shown[0].text.rfind("Cannot write the result record " + path + ": ", 0), 0u)
      << shown[0].text;
}

// Ports ending at once: every line arrives whole, none is lost.
TEST(ResultFile, LinesFromManyPortsNeverInterleave) {
  ScratchDir dir;
  platform::ScopedMessageRecorder boxes;
  constexpr int kPorts = 8;
  constexpr int kRuns = 40;
  std::vector<std::thread> ports;
  for (int p = 0; p < kPorts; ++p) {
    ports.emplace_back([&, p] {
      RunRecord r = Mv2Record();
      r.port = "COM" + std::to_string(p + 1);
      // Long lines: a torn write would show inside one of them.
      r.components.assign(20, RunComponent{"VTC", std::string(200, static_cast<char>('a' + p)), 7,
                                              ComponentOutcome::kWritten, ""});
      for (int i = 0; i < kRuns; ++i) {
        r.result = i;
        AppendResult(dir.Path(), r);
      }
    });
  }
  for (std::thread& t : ports) t.join();
  const std::string text = ReadFile(dir / kResultFileName);
  std::vector<std::string> lines;
  ASSERT_TRUE(testsupport::CsvLines(text, &lines));
  ASSERT_EQ(lines.size(), 1u + kPorts * kRuns);
  EXPECT_EQ(lines[0], kResultHeader);
  std::vector<int> next(kPorts, 0);
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = testsupport::CsvFields(lines[i]);
    ASSERT_EQ(f.size(), 13u) << lines[i];
    const int port = std::stoi(f[1].substr(3)) - 1;
    ASSERT_GE(port, 0);
    ASSERT_LT(port, kPorts);
    const std::string file(200, static_cast<char>('a' + port));
    EXPECT_EQ(f[6].find("VTC=" + file + " (7 bytes, written)"), 0u);
    // Each port's runs in its own order.
    EXPECT_EQ(std::stoi(f[7]), next[port]++);
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace
