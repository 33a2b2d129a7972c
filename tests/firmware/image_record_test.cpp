// RCP and VTC images: reading S-record files into records, the 64 KB split of
// the record senders, their progress line, and the generated records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/firmware_fixture.h"
#include "support/regex_match.h"
#include "support/srec_tools.h"
#include "update/image_record.h"

using fwtest::FirmwareTest;
using fwtest::SimPanel;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using vttest::MatchesRegex;

namespace {

const std::string H = "S00600004844521B\r\n";
const std::string C = "S50500000123D6\r\n";
const std::string T = "S70500000000FA\r\n";

std::string Text(const ImageRecord& record) { return std::string(record.text, record.length); }

// A record sender of one kind in one mode.
using Sender = UpdateStatus (*)(PortSession&, RunReporter&, ImageRecord*, uint32_t, uint32_t*);

UpdateStatus SendRcpInBlocks(PortSession& session, RunReporter& reporter, ImageRecord* record,
                             uint32_t total, uint32_t* sent) {
  return SendRCPRecord(session, reporter, record, total, sent, true);
}

UpdateStatus SendRcpInOnePass(PortSession& session, RunReporter& reporter, ImageRecord* record,
                              uint32_t total, uint32_t* sent) {
  return SendRCPRecord(session, reporter, record, total, sent, false);
}

// The sender of the kind in the mode its engine uses for a scanner of the
// family: RCP goes in blocks only to a QZ500, VTC always.
Sender SenderFor(bool vtc, ScannerFamily family) {
  if (vtc) return SendVTCRecord;
  return family == ScannerFamily::kQZ500 ? SendRcpInBlocks : SendRcpInOnePass;
}

// What ReadRCPFile handed out for one file.
struct LoadedImage {
  ImageRecord header, count, termination;
  ImageRecord* data = nullptr;
  uint32_t total = 0;
  UpdateStatus result = UPD_OK;
  std::string text;  // the fault's text

  LoadedImage() = default;
  LoadedImage(const LoadedImage&) = delete;
  ~LoadedImage() { FreeRecordList(data); }

  std::vector<std::string> DataTexts() const {
    std::vector<std::string> texts;
    for (const ImageRecord* r = data; r; r = r->next) texts.push_back(Text(*r));
    return texts;
  }
};

void Load(const fwtest::ScratchDir& dir, const std::string& content, LoadedImage& image,
          AbortFlag abort = nullptr) {
  const std::string path = dir.Write("image.s19", content);
  const ReadFault fault = ReadRCPFile(path, &image.header, &image.data, &image.count,
                                      &image.termination, &image.total, abort);
  image.result = fault.status;
  image.text = fault.text;
}

// ---- reading ----

TEST_F(FirmwareTest, DataRecordsComeOutInAddressOrderAndOtherTypesAreSkipped) {
  LoadedImage image;
  Load(dir_,
       H + "S307000003000303EF\r\n" + "S2060010000102E6\r\n" + "S307000001000101F5\r\n" +
           "S10510000102E7\r\n" + "S307000002000202F2\r\n" + "S307000001001111D5\r\n" +
           "S804000000FB\r\n" + C + T + "S9030000FC\r\n",
       image);

  ASSERT_EQ(image.result, UPD_OK);
  // Equal addresses keep their file order.
  EXPECT_THAT(image.DataTexts(),
              ElementsAre("S307000001000101F5\r\n", "S307000001001111D5\r\n",
                          "S307000002000202F2\r\n", "S307000003000303EF\r\n"));
  EXPECT_EQ(Text(image.header), H);
  EXPECT_EQ(Text(image.count), C);
  EXPECT_EQ(Text(image.termination), T);
  EXPECT_EQ(image.data->address, 0x100u);
  EXPECT_EQ(image.data->byteCount, 7u);
  // Header, four data lines, count and termination; S1, S2, S8, S9 not counted.
  EXPECT_EQ(image.total, 18u + 4 * 20 + 16 + 16);
  EXPECT_EQ(image.text, "");
}

TEST_F(FirmwareTest, AnyFileOrderGivesAscendingAddressesWithEqualOnesInFileOrder) {
  // Descending, ascending with one late record, and runs of equal addresses.
  const std::vector<std::vector<uint32_t>> orders = {
      {0x5000, 0x4000, 0x3000, 0x2000, 0x1000},
      {0x1000, 0x2000, 0x3000, 0x1800, 0x4000, 0x5000},
      {0x2000, 0x1000, 0x2000, 0x1000, 0x2000},
  };
  for (const std::vector<uint32_t>& order : orders) {
    std::string file = H;
    // The data byte is the record's position in the file.
    for (size_t i = 0; i < order.size(); ++i) {
      const uint8_t a2 = static_cast<uint8_t>(order[i] >> 8);
      const uint8_t sum = static_cast<uint8_t>(6 + a2 + i);
      char line[64];
      std::snprintf(line, sizeof line, "S3060000%02X00%02X%02X\r\n", a2, static_cast<unsigned>(i),
                    static_cast<unsigned>(~sum & 0xFF));
      file += line;
    }
    LoadedImage image;
    Load(dir_, file + C + T, image);
    ASSERT_EQ(image.result, UPD_OK) << file;
    std::vector<std::pair<uint32_t, int>> got;
    for (const ImageRecord* r = image.data; r; r = r->next) {
      got.emplace_back(r->address, std::stoi(std::string(r->text + 12, 2), nullptr, 16));
    }
    std::vector<std::pair<uint32_t, int>> expected;
    for (size_t i = 0; i < order.size(); ++i) expected.emplace_back(order[i], static_cast<int>(i));
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    EXPECT_EQ(got, expected) << file;
  }
}

struct LayoutCase {
  const char* name;
  std::string file;
  std::vector<std::string> data;
  std::string termination;
  uint32_t total;
};

class FileLayout : public FirmwareTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(FileLayout, KeepsEveryRecordWithItsOwnLineEnd) {
  const LayoutCase& c = GetParam();
  LoadedImage image;
  Load(dir_, c.file, image);
  ASSERT_EQ(image.result, UPD_OK);
  EXPECT_THAT(image.DataTexts(), ElementsAreArray(c.data));
  EXPECT_EQ(Text(image.termination), c.termination);
  EXPECT_EQ(image.total, c.total);
  EXPECT_EQ(image.text, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileLayout,
    ::testing::Values(
        LayoutCase{"LineFeedsOnly",
                   "S00600004844521B\nS307000001000101F5\nS50500000123D6\nS70500000000FA\n",
                   {"S307000001000101F5\n"}, "S70500000000FA\n", 17 + 19 + 15 + 15},
        // The last line gets the line feed the loader needs to see its end.
        LayoutCase{"LastLineWithoutLineFeed", H + "S307000001000101F5\r\n" + C + "S70500000000FA",
                   {"S307000001000101F5\r\n"}, "S70500000000FA\n", 18 + 20 + 16 + 15},
        LayoutCase{"LastLineEndsInCarriageReturn",
                   H + "S307000001000101F5\r\n" + C + "S70500000000FA\r",
                   {"S307000001000101F5\r\n"}, "S70500000000FA\r\n", 18 + 20 + 16 + 16},
        // Blank lines hold no record; the records after them are not lost.
        LayoutCase{"BlankLinesInside",
                   H + "\n" + "S307000001000101F5\r\n" + "\r\n" + "  \r\n" +
                       "S307000002000202F2\r\n" + C + T + "\r\n\r\n",
                   {"S307000001000101F5\r\n", "S307000002000202F2\r\n"}, T, 18 + 40 + 32},
        // The end-of-file mark of old DOS tools.
        LayoutCase{"TrailingCtrlZ", H + "S307000001000101F5\r\n" + C + T + "\x1A",
                   {"S307000001000101F5\r\n"}, T, 18 + 20 + 32},
        // A line of 78 characters, CR and LF fills the record text exactly.
        LayoutCase{"LongestRecord",
                   H + "S32500000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FE6\r\n" + C + T,
                   {"S32500000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FE6\r\n"},
                   T, 18 + 80 + 32},
        // Record types that are never sent may be of any length.
        LayoutCase{"LongSkippedLine", H + "S2" + std::string(120, 'F') + "\r\n" + C + T, {}, T,
                   18 + 32},
        // Blanks and tabs after a record are no part of it: they are not
        // sent, and each record keeps the line end it had in the file.
        LayoutCase{"TrailingBlanksAndTabs",
                   "S00600004844521B  \r\n" "S307000002000202F2\t\n" "S307000001000101F5 \t \r\n" +
                       C + "S70500000000FA \r \n",
                   {"S307000001000101F5\r\n", "S307000002000202F2\n"}, T, 18 + 20 + 19 + 16 + 16},
        // The longest record followed by blanks is longer than a record
        // text, but what is sent still fits.
        LayoutCase{"LongestRecordWithBlanks",
                   H + "S32500000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FE6" +
                       std::string(20, ' ') + "\r\n" + C + T,
                   {"S32500000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FE6\r\n"},
                   T, 18 + 80 + 32},
        // Lower-case hexadecimal digits are sent as they are.
        LayoutCase{"LowerCaseDigits", H + "S3070000010001ab4b\r\n" + C + T,
                   {"S3070000010001ab4b\r\n"}, T, 18 + 20 + 32}),
    [](const auto& info) { return std::string(info.param.name); });

struct MalformedCase {
  const char* name;
  std::string line;  // the second line of the file
  const char* message;
};

class MalformedLine : public FirmwareTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedLine, IsRefusedBeforeAnythingIsHandedOut) {
  const MalformedCase& c = GetParam();
  LoadedImage image;
  Load(dir_, H + "S307000001000101F5\r\n" + c.line + "\r\nS307000002000202F2\r\n" + C + T,
       image);
  EXPECT_EQ(image.result, UPD_BAD_IMAGE);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MalformedLine,
    ::testing::Values(
        MalformedCase{"BadHexInData", "S3070000030003G3EF", "Image file line 3: bad hexadecimal digit"},
        MalformedCase{"BadHexInAddress", "S30700000X000303EF", "Image file line 3: bad hexadecimal digit"},
        MalformedCase{"ByteCountTooLarge", "S308000003000303EF",
                      "Image file line 3: byte count does not match the line"},
        MalformedCase{"ByteCountTooSmall", "S306000003000303EF",
                      "Image file line 3: byte count does not match the line"},
        MalformedCase{"OddDigitCount", "S30700000300030EF",
                      "Image file line 3: byte count does not match the line"},
        MalformedCase{"NoAddressRoom", "S304000000FB",
                      "Image file line 3: byte count too small for the record type"},
        MalformedCase{"BadChecksum", "S307000003000303EE", "Image file line 3: bad checksum"},
        MalformedCase{"BadHeaderChecksum", "S00600004844521C", "Image file line 3: bad checksum"},
        MalformedCase{"BadCountRecord", "S50500000123D7", "Image file line 3: bad checksum"},
        MalformedCase{"TypeOnly", "S3", "Image file line 3: byte count does not match the line"},
        // Cut at the 64 KB boundary, its tail would go to address 0.
        MalformedCase{"DataRunsPastTheTopAddress", "S315FFFFFFF8000102030405060708090A0B0C0D0E0F7D",
                      "Image file line 3: data runs past address FFFFFFFF"},
        MalformedCase{"OneByteRunsPastTheTopAddress", "S307FFFFFFFFABCD84",
                      "Image file line 3: data runs past address FFFFFFFF"},
        MalformedCase{"NotARecord", "hello", "Image file line 3: not an S-record"},
        // Only blanks after the record are dropped: not text after them, nor
        // blanks inside the record.
        MalformedCase{"TextAfterBlanks", "S307000003000303EF  x",
                      "Image file line 3: byte count does not match the line"},
        MalformedCase{"BlankInsideRecord", "S3070000 3000303EF", "Image file line 3: bad hexadecimal digit"},
        MalformedCase{"BlankBeforeChecksum", "S30700000300030 3EF",
                      "Image file line 3: byte count does not match the line"},
        MalformedCase{"LeadingSpace", " S307000003000303EF", "Image file line 3: not an S-record"},
        MalformedCase{"NoTypeDigit", "SX07000003000303EF", "Image file line 3: not an S-record"},
        // 33 data bytes: 80 characters before the CR LF.
        MalformedCase{"DataLineTooLong",
                      "S32600000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20C5",
                      "Image file line 3: longer than 79 characters"},
        MalformedCase{"HeaderTooLong", "S0" + std::string(100, '0'),
                      "Image file line 3: longer than 79 characters"},
        MalformedCase{"DataLineTooLongBeforeBlanks",
                      "S32600000400000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20C5  ",
                      "Image file line 3: longer than 79 characters"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, ReadRCPFileOfAMissingFileIsAnOpenFailure) {
  ImageRecord header, count, termination;
  ImageRecord* data = nullptr;
  uint32_t total = 0;
  const ReadFault fault =
      ReadRCPFile(dir_.Missing("vtc.s19"), &header, &data, &count, &termination, &total);
  EXPECT_EQ(fault.status, UPD_FILE_OPEN_FAILED);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(fault.text, "ReadRCPFile : CreateFile");
}

// Reading a long image ends at Reset, quietly, with nothing handed out.
TEST_F(FirmwareTest, ReadRCPFileEndsAtAnAbort) {
  const std::atomic<bool> abort{true};
  LoadedImage image;
  Load(dir_, "S307000001000101F5\r\n" + T, image, &abort);
  EXPECT_EQ(image.result, UPD_ABORTED);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.text, "");
}

TEST_F(FirmwareTest, AFileWithoutSomeFrameRecordLeavesThoseSlotsEmpty) {
  LoadedImage image;
  Load(dir_, "S307000001000101F5\r\n" + T, image);
  ASSERT_EQ(image.result, UPD_OK);
  EXPECT_EQ(image.header.length, 0);
  EXPECT_EQ(image.count.length, 0);
  EXPECT_EQ(Text(image.termination), T);
}

// An image whose record lines carry blanks and tabs after them, as some
// editors leave them: what the reader keeps is the image of the same file
// without them, as the S-record tools read that.
TEST_F(FirmwareTest, RecordsWithTrailingBlanksHoldTheImageOfTheCleanFile) {
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string clean = vttest::SRecordImage(bytes, 0x10000, "HDR", "\r\n");
  std::string blanked;
  for (size_t at = 0, n = 0; at < clean.size(); ++n) {
    const size_t end = clean.find("\r\n", at);
    static const char* const kTails[] = {" ", "\t", "   ", " \t "};
    blanked += clean.substr(at, end - at) + kTails[n % 4] + "\r\n";
    at = end + 2;
  }

  LoadedImage image;
  Load(dir_, blanked, image);
  ASSERT_EQ(image.result, UPD_OK);
  EXPECT_EQ(image.text, "");

  std::string kept = Text(image.header);
  for (const std::string& text : image.DataTexts()) kept += text;
  kept += Text(image.count) + Text(image.termination);
  // Every record is sent as the clean file has it, line end included.
  EXPECT_EQ(kept, clean);
  EXPECT_EQ(image.total, clean.size());
  EXPECT_TRUE(vttest::SameSRecordData(dir_.Write("kept.s19", kept), dir_.Write("clean.s19", clean)));
}

TEST(ReadFileLine, EndsALineAtItsLineFeedOrTheEndOfTheFile) {
  struct Step {
    LineEnd end;
    size_t length;
    std::string stored;  // buffer[0..length) and, after a line feed, the line feed
  };
  struct Case {
    std::string content;
    std::vector<Step> steps;
  };
  const std::string longest(79, 'a');
  const std::string tooLong(80, 'b');
  const Case cases[] = {
      {"ab\ncd\r\n", {{LineEnd::kLineFeed, 2, "ab\n"}, {LineEnd::kLineFeed, 3, "cd\r\n"},
                       {LineEnd::kEndOfFile, 0, ""}}},
      {"\nx", {{LineEnd::kLineFeed, 0, "\n"}, {LineEnd::kEndOfFile, 1, "x"}}},
      {"", {{LineEnd::kEndOfFile, 0, ""}}},
      {longest + "\n", {{LineEnd::kLineFeed, 79, longest + "\n"}, {LineEnd::kEndOfFile, 0, ""}}},
      // The rest of a line too long is skipped; the next line is read whole.
      {tooLong + "\nok\n", {{LineEnd::kTooLong, 80, ""}, {LineEnd::kLineFeed, 2, "ok\n"}}},
      {tooLong + "ccc\nok\n", {{LineEnd::kTooLong, 83, ""}, {LineEnd::kLineFeed, 2, "ok\n"}}},
      {tooLong, {{LineEnd::kTooLong, 80, ""}, {LineEnd::kEndOfFile, 0, ""}}},
  };
  for (const Case& c : cases) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(c.content.data(), 1, c.content.size(), file);
    std::rewind(file);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      char buffer[kRecordTextBytes + 8];
      std::fill(std::begin(buffer), std::end(buffer), '#');
      size_t length = 99;
      const LineEnd end = ReadFileLine(file, buffer, kRecordTextBytes, length);
      EXPECT_EQ(end, c.steps[i].end) << c.content << " step " << i;
      EXPECT_EQ(length, c.steps[i].length) << c.content << " step " << i;
      if (!c.steps[i].stored.empty()) {
        EXPECT_EQ(std::string(buffer, c.steps[i].stored.size()), c.steps[i].stored);
      }
      EXPECT_EQ(buffer[kRecordTextBytes], '#') << "written beyond the capacity";
    }
    std::fclose(file);
  }
}

// ---- generated records ----

TEST(GeneratedRecords, CountRecordsAndChecksums) {
  const std::pair<uint32_t, std::string> counts[] = {
      {1, "S50500000001F9\r\n"},
      {0x126, "S50500000126D3\r\n"},
      {0, "S50500000000FA\r\n"},
      {0xFFFF, "S5050000FFFFFC\r\n"},
  };
  for (const auto& [count, text] : counts) {
    ImageRecord record;
    MakeCountRecord(&record, count);
    EXPECT_EQ(Text(record), text);
    EXPECT_EQ(record.length, 16);
    EXPECT_EQ(record.byteCount, 5u);
  }

  ImageRecord data;
  const std::string body = "S30D0001FFF80001020304050607";
  std::copy(body.begin(), body.end(), data.text);
  data.byteCount = 0x0D;
  EXPECT_TRUE(SetRecordChecksum(&data));
  EXPECT_EQ(Text(data), body + "DE\r\n");

  // A byte count whose record would not fit the text is left alone.
  ImageRecord big;
  big.byteCount = 38;
  EXPECT_FALSE(SetRecordChecksum(&big));
  EXPECT_EQ(big.length, 0);
}

// ---- sending ----

struct SplitCase {
  const char* name;
  bool vtc;
  ScannerFamily family;
  std::string line;
  UpdateStatus result;
  std::string first;   // sent now
  std::string second;  // linked in next, empty when not split
};

class Split : public FirmwareTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(Split, CutsARecordThatRunsOverA64KBoundary) {
  const SplitCase& c = GetParam();
  SimPanel sim(c.family);
  LoadedImage image;
  Load(dir_, H + c.line + C + T, image);
  ASSERT_EQ(image.result, UPD_OK);
  uint32_t sent = 0;
  const Sender send = SenderFor(c.vtc, c.family);

  EXPECT_EQ(send(sim.Panel()->m_session, *sim.Panel(), image.data, image.total, &sent), c.result);
  EXPECT_EQ(sim.Received(), c.first);
  EXPECT_EQ(sent, c.first.size());
  if (c.second.empty()) {
    EXPECT_EQ(image.data->next, nullptr);
    return;
  }
  ASSERT_NE(image.data->next, nullptr);
  EXPECT_EQ(Text(*image.data->next), c.second);
  EXPECT_EQ(image.data->next->next, nullptr);
  // The second part goes out whole when its turn comes.
  EXPECT_EQ(send(sim.Panel()->m_session, *sim.Panel(), image.data->next, image.total, &sent), UPD_OK);
  EXPECT_EQ(sim.Received(), c.first + c.second);
}

const std::string kStraddling = "S3150001FFF8000102030405060708090A0B0C0D0E0F7A\r\n";

INSTANTIATE_TEST_SUITE_P(
    Records, Split,
    ::testing::Values(
        SplitCase{"VtcEightBytesEachSide", true, ScannerFamily::kQZ600, kStraddling, UPD_SPLIT_AT_64K,
                  "S30D0001FFF80001020304050607DE\r\n", "S30D0002000008090A0B0C0D0E0F94\r\n"},
        SplitCase{"VtcOneByteEachSide", true, ScannerFamily::kMV2, "S3070000FFFFABCD82\r\n",
                  UPD_SPLIT_AT_64K, "S3060000FFFFAB50\r\n", "S30600010000CD2B\r\n"},
        SplitCase{"VtcLongestRecord", true, ScannerFamily::kQZ600,
                  "S3250002FFF0000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FF9\r\n",
                  UPD_SPLIT_AT_64K, "S3150002FFF0000102030405060708090A0B0C0D0E0F81\r\n",
                  "S31500030000101112131415161718191A1B1C1D1E1F6F\r\n"},
        SplitCase{"VtcEndsAtTheBoundary", true, ScannerFamily::kQZ600,
                  "S3150000FFF0000102030405060708090A0B0C0D0E0F83\r\n", UPD_OK,
                  "S3150000FFF0000102030405060708090A0B0C0D0E0F83\r\n", ""},
        SplitCase{"VtcStartsAtTheBoundary", true, ScannerFamily::kQZ600,
                  "S31500010000000102030405060708090A0B0C0D0E0F71\r\n", UPD_OK,
                  "S31500010000000102030405060708090A0B0C0D0E0F71\r\n", ""},
        // The last bytes of the address space are a block of their own.
        SplitCase{"VtcEndsAtTheTopAddress", true, ScannerFamily::kMV2,
                  "S315FFFFFFF0000102030405060708090A0B0C0D0E0F85\r\n", UPD_OK,
                  "S315FFFFFFF0000102030405060708090A0B0C0D0E0F85\r\n", ""},
        SplitCase{"VtcLineFeedOnlyRecordGetsCrLfParts", true, ScannerFamily::kQZ600,
                  "S3150001FFF8000102030405060708090A0B0C0D0E0F7A\n", UPD_SPLIT_AT_64K,
                  "S30D0001FFF80001020304050607DE\r\n", "S30D0002000008090A0B0C0D0E0F94\r\n"},
        SplitCase{"RcpOnQZ500", false, ScannerFamily::kQZ500, kStraddling, UPD_SPLIT_AT_64K,
                  "S30D0001FFF80001020304050607DE\r\n", "S30D0002000008090A0B0C0D0E0F94\r\n"},
        SplitCase{"RcpOnQZ600NeverSplits", false, ScannerFamily::kQZ600, kStraddling, UPD_OK, kStraddling,
                  ""},
        SplitCase{"RcpOnMV2NeverSplits", false, ScannerFamily::kMV2, kStraddling, UPD_OK, kStraddling, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, TheProgressLineOfEachKindFollowsTheBytesSent) {
  for (bool vtc : {false, true}) {
    ResetThroughputFigures();
    SimPanel sim(ScannerFamily::kQZ600);
    LoadedImage image;
    std::string file = H;
    for (int i = 0; i < 60; ++i) file += "S307000001000101F5\r\n";
    Load(dir_, file + C + T, image);
    ASSERT_EQ(image.result, UPD_OK);
    const uint32_t total = image.total;  // 18 + 60 * 20 + 32 = 1250
    ASSERT_EQ(total, 1250u);
    const Sender send = SenderFor(vtc, ScannerFamily::kQZ600);

    uint32_t sent = 0;
    std::vector<ImageRecord*> order{&image.header};
    for (ImageRecord* r = image.data; r; r = r->next) order.push_back(r);
    order.push_back(&image.count);
    order.push_back(&image.termination);
    std::vector<int> expectedPositions;
    for (ImageRecord* record : order) {
      ASSERT_EQ(send(sim.Panel()->m_session, *sim.Panel(), record, total, &sent), UPD_OK);
      expectedPositions.push_back(static_cast<int>(uint64_t{sent} * 1000 / total));
    }

    EXPECT_EQ(sent, total);
    EXPECT_THAT(sim.Positions(), ElementsAreArray(expectedPositions));
    const std::vector<std::string> statuses = sim.Statuses();
    const char* kind = vtc ? "VTC" : "RCP";
    if (vtc) {
      // One line after every record.
      ASSERT_EQ(statuses.size(), order.size());
    } else {
      // Only when a rate was measured, and at the end.
      ASSERT_GE(statuses.size(), 1u);
      ASSERT_LE(statuses.size(), order.size());
      EXPECT_EQ(RcpThroughput().milliseconds.load(), 0u);
      EXPECT_EQ(RcpThroughput().bytes.load(), 0u);
    }
    for (const std::string& status : statuses) {
      EXPECT_THAT(status, MatchesRegex(std::string(kind) + " 1KB [0-9]+ bytes/sec [0-9]+%"));
    }
    EXPECT_THAT(statuses.back(), MatchesRegex(std::string(kind) + " 1KB [0-9]+ bytes/sec 100%"));
    if (vtc) {
      EXPECT_THAT(statuses.front(), MatchesRegex("VTC 1KB [0-9]+ bytes/sec 1%"));  // 18 * 100 / 1250
    }
  }
}

TEST_F(FirmwareTest, ARecordWriteThatFailsStopsTheDownloadWithoutCountingIt) {
  for (bool vtc : {false, true}) {
    SimPanel sim(ScannerFamily::kQZ500);
    LoadedImage image;
    Load(dir_, H + kStraddling + C + T, image);
    ASSERT_EQ(image.result, UPD_OK);
    sim.Line().Unplug();
    uint32_t sent = 0;
    const Sender send = SenderFor(vtc, ScannerFamily::kQZ500);

    EXPECT_EQ(send(sim.Panel()->m_session, *sim.Panel(), &image.header, image.total, &sent), UPD_LINK_DOWN);
    EXPECT_EQ(send(sim.Panel()->m_session, *sim.Panel(), image.data, image.total, &sent), UPD_LINK_DOWN);
    EXPECT_EQ(sent, 0u);
    EXPECT_TRUE(sim.Statuses().empty());
    // A record split before the failed write stays a well-formed list.
    ASSERT_NE(image.data->next, nullptr);
    EXPECT_EQ(Text(*image.data->next), "S30D0002000008090A0B0C0D0E0F94\r\n");
  }
  // One box per vanished device, however many writes found it gone.
  ASSERT_EQ(boxes_.Boxes().size(), 2u);
  for (const auto& box : boxes_.Boxes()) EXPECT_EQ(box.text, "The scanner's device is gone (unplugged or switched off)");
}

TEST_F(FirmwareTest, PortsSendingAtTheSameTimeShareTheThroughputFiguresSafely) {
  ResetThroughputFigures();
  SimPanel first(ScannerFamily::kQZ500, "COM8", 8);
  SimPanel second(ScannerFamily::kQZ500, "COM9", 9);
  std::string file = H;
  for (int i = 0; i < 200; ++i) file += kStraddling;
  LoadedImage images[2];
  Load(dir_, file + C + T, images[0]);
  Load(dir_, file + C + T, images[1]);
  ASSERT_EQ(images[0].result, UPD_OK);
  ASSERT_EQ(images[1].result, UPD_OK);

  // Each port sends its image twice over, once as RCP and once as VTC.
  auto run = [](SimPanel* sim, LoadedImage* image) {
    for (Sender send : {SenderFor(false, ScannerFamily::kQZ500), SenderFor(true, ScannerFamily::kQZ500)}) {
      uint32_t sent = 0;
      for (ImageRecord* r = image->data; r; r = r->next) send(sim->Panel()->m_session, *sim->Panel(), r, image->total, &sent);
    }
  };
  std::thread a(run, &first, &images[0]);
  std::thread b(run, &second, &images[1]);
  a.join();
  b.join();

  // Every record was cut in two by the first pass; both passes sent the parts.
  std::string parts;
  for (int i = 0; i < 200; ++i)
    parts += "S30D0001FFF80001020304050607DE\r\nS30D0002000008090A0B0C0D0E0F94\r\n";
  EXPECT_EQ(first.Received(), parts + parts);
  EXPECT_EQ(second.Received(), parts + parts);
}

}  // namespace
