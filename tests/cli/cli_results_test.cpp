// The result record of vantorel-cli runs: one results.csv line per run with
// the scanner's serial-number block and the files it got, a failed run with
// its code and text, and the summary table after the station's own lines.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "app/result_log.h"
#include "firmware/sha256.h"
#include "support/cli_station.h"
#include "support/csv_reader.h"

namespace clitest {
namespace {

using testsupport::CsvFields;

std::string Hex(const std::array<uint8_t, 64>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

// text as a regular expression that matches it literally.
std::string Esc(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::string FileDigest(const std::string& path) {
  const std::string bytes = ReadFile(path);
  return Sha256Hex(bytes.data(), bytes.size());
}

class CliResults : public StationFixture {};

// A QZ600 and an MV2 are programmed, a QZ500 refuses the station's RCP image.
TEST_F(CliResults, EveryRunLeavesOneLine) {
  scanner::ScannerConfig qz600 = scanner::ScannerConfig::QZ600();
  scanner::ScannerConfig mv2 = scanner::ScannerConfig::MV2();
  for (int i = 0; i < 64; ++i) {
    qz600.specialBlock[i] = static_cast<uint8_t>(0x60 + i);
    mv2.specialBlock[i] = static_cast<uint8_t>(0xA0 + i);
  }
  AddScanner("COM1", "QZ600", qz600);
  AddScanner("COM2", "MV2", mv2);
  AddScanner("COM3", "QZ500", scanner::ScannerConfig::QZ500());
  ASSERT_EQ(RunStation({"COM1", "COM2", "COM3"}), vtcli::kExitFailed) << out.Text();

  // No LogPath: the file is in the program folder.
  const std::string text = ReadFile(dir / kResultFileName);
  std::vector<std::string> lines;
  ASSERT_TRUE(testsupport::CsvLines(text, &lines)) << text;
  ASSERT_EQ(lines.size(), 4u) << text;
  EXPECT_EQ(lines[0], kResultHeader);
  std::map<std::string, std::vector<std::string>> byPort;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = CsvFields(lines[i]);
    ASSERT_EQ(f.size(), 13u) << lines[i];
    // Where the run stands among every station's: offset from UTC and its id.
    EXPECT_TRUE(std::regex_match(f[11], std::regex("[+-][0-9]{2}:[0-9]{2}"))) << f[11];
    EXPECT_TRUE(std::regex_match(f[12], std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << f[12];
    EXPECT_TRUE(std::regex_match(f[0], std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << f[0];
    EXPECT_TRUE(std::regex_match(f[9], std::regex("[0-9]+\\.[0-9]"))) << f[9];
    byPort[f[1]] = f;
  }
  ASSERT_EQ(byPort.size(), 3u) << text;

  const std::vector<std::string>& a = byPort["COM1"];
  EXPECT_EQ(a[2], "QZ600");
  EXPECT_EQ(a[3], "2.3.4");
  EXPECT_EQ(a[4], "");
  EXPECT_EQ(a[5], Hex(qz600.specialBlock));
  // Every component written, each with the digest of what was sent: for a
  // raw file, the file itself.
  const std::string written = ", written, sha256 [0-9a-f]{64}\\)";
  EXPECT_TRUE(std::regex_match(
      a[6], std::regex(Esc("RCP=" + files.qz600Rcp + " (" + std::to_string(fs::file_size(files.qz600Rcp)) +
                           " bytes") + written + Esc("; VTC=" + files.qz6Vtc + " (" +
                           std::to_string(fs::file_size(files.qz6Vtc)) + " bytes") + written +
                       Esc("; CPLD=" + files.qz6Cpld + " (2048 bytes, written, sha256 " +
                           FileDigest(files.qz6Cpld) + "); DSP=" + files.qz6Dsp +
                           " (1536 bytes, written, sha256 " + FileDigest(files.qz6Dsp) + "); LDR=" +
                           files.qz6Ldr + " (" + std::to_string(fs::file_size(files.qz6Ldr)) +
                           " bytes") + written)))
      << a[6];
  EXPECT_EQ(a[7], "0");
  EXPECT_EQ(a[8], vtcli::kDoneText);

  const std::vector<std::string>& b = byPort["COM2"];
  EXPECT_EQ(b[2], "MV2");
  EXPECT_EQ(b[3], "3.1.0");
  EXPECT_EQ(b[4], "4.9");
  EXPECT_EQ(b[5], Hex(mv2.specialBlock));
  EXPECT_NE(b[6].find("FPGA=" + files.mv2Fpga + " (3072 bytes, written, sha256 " +
                      FileDigest(files.mv2Fpga) + "); UIM=" + files.mv2Uim +
                      " (1536 bytes, written, sha256 " + FileDigest(files.mv2Uim) + ")"),
            std::string::npos)
      << b[6];
  // Board 4.9 takes the loader for boards before 5.0.
  EXPECT_NE(b[6].find("LDR=" + files.mv2LdrPre50 + " ("), std::string::npos) << b[6];
  EXPECT_EQ(b[7], "0");
  EXPECT_EQ(b[8], vtcli::kDoneText);

  const std::vector<std::string>& c = byPort["COM3"];
  EXPECT_EQ(c[2], "QZ500");
  EXPECT_EQ(c[5], "") << "a QZ500 keeps no special block";
  // The refused image was not written, and nothing after it was reached.
  EXPECT_EQ(c[6].rfind("RCP=" + files.qz600Rcp + " (" + std::to_string(fs::file_size(files.qz600Rcp)) +
                           " bytes, failed); VTC=",
                       0),
            0u)
      << c[6];
  EXPECT_EQ(c[6].find("written"), std::string::npos) << c[6];
  EXPECT_NE(c[6].find("LDR=" + files.qz6Ldr + " (" + std::to_string(fs::file_size(files.qz6Ldr)) +
                      " bytes, not reached)"),
            std::string::npos)
      << c[6];
  EXPECT_EQ(c[7], "18");
  EXPECT_EQ(c[8], vtcli::kFailedText);
}

TEST_F(CliResults, TheSummaryHasARowPerPortAndTheTotals) {
  AddScanner("COM1", "QZ600", scanner::ScannerConfig::QZ600());
  AddScanner("COM2", "QZ500", scanner::ScannerConfig::QZ500());
  const std::string folder = dir / "logs";
  std::string ini = ReadFile(files.ini);
  ini.replace(ini.find("[Common]\n"), 9, "[Common]\nLogPath=" + folder + "\n");
  WriteIni(ini);
  // A scanner that is never switched on: its programming never begins.
  ASSERT_EQ(RunStation({"COM1", "COM2", "COM4"}), vtcli::kExitFailed) << out.Text();
  const std::vector<std::string>& table = summary;
  ASSERT_EQ(table.size(), 5u);
  EXPECT_TRUE(std::regex_match(table[0], std::regex("port +family +result +seconds +outcome"))) << table[0];
  EXPECT_TRUE(std::regex_match(table[1], std::regex("COM1 +QZ600 +0 +[0-9]+\\.[0-9]  " +
                                                    std::string("Programming Done\\. Please exit Vantorel before turning scanner power off\\."))))
      << table[1];
  EXPECT_TRUE(std::regex_match(table[2], std::regex("COM2 +QZ500 +18 +[0-9]+\\.[0-9]  Programming sequence failed!")))
      << table[2];
  EXPECT_TRUE(std::regex_match(table[3], std::regex("COM4 +- +- +-  programming never began"))) << table[3];
  EXPECT_EQ(table[4], "3 ports, 1 programmed, 1 failed, 1 never began");
  // No table line reads as a port's status line or a box ("NAME: text").
  for (const std::string& line : table) EXPECT_EQ(line.find(": "), std::string::npos) << line;
  // The record went to the log folder.
  EXPECT_NE(ReadFile((fs::path(folder) / kResultFileName).string()).find("\r\n"), std::string::npos);
}

}  // namespace
}  // namespace clitest
