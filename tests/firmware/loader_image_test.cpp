// The special block spliced into a loader image, and the sending of the image.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/loader_image.h"
#include "support/firmware_fixture.h"
#include "support/regex_match.h"
#include "support/sim_srecords.h"
#include "update/file_send.h"

using fwtest::FirmwareTest;
using fwtest::SimPanel;
using vttest::MatchesRegex;

namespace {

FileBuffer Image(const std::string& text) {
  FileBuffer image;
  image.data.reset(new char[text.size() + 1]);
  std::memcpy(image.data.get(), text.data(), text.size());
  image.data[text.size()] = 0;
  image.size = text.size();
  return image;
}

std::string Text(const FileBuffer& image) { return std::string(image.data.get(), image.size); }

// Records of an image, each with its line end.
const std::string H = "S00600004844521B\r\n";
const std::string D1 = "S3090000100001020304DC\r\n";  // 0x1000, first generation
const std::string DL = "S3090001FF0001020304EC\r\n";  // 0x1FF00, below the MV2 block
const std::string DB = "S3090001FFC0AAAAAAAA8E\r\n";  // 0x1FFC0, at the MV2 block's base
const std::string DA = "S3090001FFE005060708FC\r\n";  // 0x1FFE0, 32 bytes above the base
const std::string DH = "S309000200000A0B0C0DC6\r\n";  // 0x20000, just above the MV2 block
const std::string C = "S50500000123D6\r\n";
const std::string C3 = "S50500000126D3\r\n";  // the count raised by three records
const std::string T = "S70500000000FA\r\n";

// A block of 64 zero bytes as three records at 0xFFC0 and at 0x1FFC0.
const std::string Z6 =
    "S3210000FFC0" + std::string(56, '0') + "1F\r\n"
    "S3210000FFDC" + std::string(56, '0') + "03\r\n"
    "S30D0000FFF8" + std::string(16, '0') + "FB\r\n";
const std::string ZM =
    "S3210001FFC0" + std::string(56, '0') + "1E\r\n"
    "S3210001FFDC" + std::string(56, '0') + "02\r\n"
    "S30D0001FFF8" + std::string(16, '0') + "FA\r\n";

struct SpliceCase {
  const char* name;
  ScannerFamily family;
  std::string image;
  UpdateStatus result;
  std::string spliced;  // for UPD_OK
};

class Splice : public FirmwareTest, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(Splice, PutsTheZeroBlockInItsPlace) {
  const SpliceCase& c = GetParam();
  FileBuffer image = Image(c.image);
  const char* before = image.data.get();
  const uint8_t block[64] = {};

  // The pre-flight check's verdict is the splice's.
  const ReadFault place = CheckSpecialBlockPlace(image, c.family);
  const ReadFault fault = InsertSpecialBlock(c.family, image, block, sizeof block);
  EXPECT_EQ(fault.status, c.result);
  EXPECT_EQ(place.status, fault.status);
  EXPECT_EQ(place.text, fault.text);

  if (c.result == UPD_OK) {
    EXPECT_EQ(Text(image), c.spliced);
    EXPECT_EQ(image.data[image.size], '\0');
  } else {
    EXPECT_EQ(image.data.get(), before) << "the caller keeps the old image";
    EXPECT_EQ(Text(image), c.image);
  }
  // Only an MV2 image without a place for the block says why it is refused.
  const bool explained = c.family == ScannerFamily::kMV2 && c.result == UPD_NO_IMAGE_END;
  EXPECT_EQ(fault.text, explained ? "Loader image: no place for the special block" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Images, Splice,
    ::testing::Values(
        SpliceCase{"QZ600CountAndTermination", ScannerFamily::kQZ600, H + D1 + C + T, UPD_OK,
                   H + D1 + Z6 + C3 + T},
        SpliceCase{"QZ500SameAsQZ600", ScannerFamily::kQZ500, H + D1 + C + T, UPD_OK, H + D1 + Z6 + C3 + T},
        SpliceCase{"QZ600NoCountRecord", ScannerFamily::kQZ600, H + D1 + T, UPD_OK, H + D1 + Z6 + T},
        // Every count record from the block's place on carries the new count.
        SpliceCase{"QZ600EveryCountRecordAfterThePlace", ScannerFamily::kQZ600, H + D1 + C + C + T, UPD_OK,
                   H + D1 + Z6 + C3 + C3 + T},
        // The standard two-byte count is raised and written in the four-byte form.
        SpliceCase{"QZ600StandardCountForm", ScannerFamily::kQZ600, H + D1 + "S5030003F9\r\n" + T, UPD_OK,
                   H + D1 + Z6 + "S50500000006F4\r\n" + T},
        // An image that ends in S9 keeps its termination after the count record.
        SpliceCase{"QZ600EndsInS9", ScannerFamily::kQZ600,
                   H + "S107100001020304DE\r\n" + "S5030001FB\r\n" + "S9030000FC\r\n", UPD_OK,
                   H + "S107100001020304DE\r\n" + Z6 + "S50500000004F6\r\n" + "S9030000FC\r\n"},
        // The block must come before the termination, wherever the count is.
        SpliceCase{"QZ600TerminationBeforeCount", ScannerFamily::kQZ600, H + D1 + T + C, UPD_OK,
                   H + D1 + Z6 + T + C3},
        // Copied lines keep their own line ends.
        SpliceCase{"QZ600LineFeedsOnly", ScannerFamily::kQZ600,
                   "S00600004844521B\nS3090000100001020304DC\nS70500000000FA\n", UPD_OK,
                   "S00600004844521B\nS3090000100001020304DC\n" + Z6 + "S70500000000FA\n"},
        SpliceCase{"QZ600NeitherCountNorTermination", ScannerFamily::kQZ600, H + D1, UPD_NO_IMAGE_END, ""},
        SpliceCase{"MV2DataBelowBaseEndsInS7", ScannerFamily::kMV2, H + DL + T, UPD_OK, H + DL + ZM + T},
        // Records at the base and 32 bytes above it hold bytes of the block's
        // own range: the block takes their place and the count drops by one
        // for each (0x123 + 3 - 1).
        SpliceCase{"MV2RecordAtTheBaseGivesWayToTheBlock", ScannerFamily::kMV2, H + DL + DB + C + T, UPD_OK,
                   H + DL + ZM + "S50500000125D4\r\n" + T},
        SpliceCase{"MV2RecordAboveTheBaseGivesWayToTheBlock", ScannerFamily::kMV2, H + DL + DA + C + T,
                   UPD_OK, H + DL + ZM + "S50500000125D4\r\n" + T},
        SpliceCase{"MV2RecordAboveTheRangeFollows", ScannerFamily::kMV2, H + DL + DH + C + T, UPD_OK,
                   H + DL + ZM + DH + C3 + T},
        SpliceCase{"MV2FirstDataAboveTheBase", ScannerFamily::kMV2, H + DA + T, UPD_NO_IMAGE_DATA, ""},
        SpliceCase{"MV2NoDataAtAll", ScannerFamily::kMV2, H + C + T, UPD_NO_IMAGE_DATA, ""},
        // Nothing tells where the loader stops reading: refused, not appended.
        SpliceCase{"MV2NoPlaceForTheBlock", ScannerFamily::kMV2, H + DL, UPD_NO_IMAGE_END, ""},
        // The walk ends at a line that is not a record; nothing after it is an image.
        SpliceCase{"MV2WalkEndsAtTrailingJunk", ScannerFamily::kMV2, H + DL + T + "\x1A", UPD_OK,
                   H + DL + ZM + T},
        SpliceCase{"MV2WalkEndsBeforeThePlace", ScannerFamily::kMV2, H + DL + "junk\r\n" + DA + T,
                   UPD_NO_IMAGE_END, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the image's own bytes where the block goes ----

// n bytes that differ from record to record.
std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 7 * i);
  return bytes;
}

std::vector<uint8_t> Part(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + to);
}

std::string R1(uint32_t address, const std::vector<uint8_t>& data) { return simtest::Record('1', address, 2, data); }
std::string R2(uint32_t address, const std::vector<uint8_t>& data) { return simtest::Record('2', address, 3, data); }
std::string R3(uint32_t address, const std::vector<uint8_t>& data) { return simtest::Record('3', address, 4, data); }
std::string Count(uint32_t count) { return simtest::CountRecord(count); }

std::string LineFeedsOnly(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

const std::vector<uint8_t> P32 = Bytes(32, 0x11);
const std::vector<uint8_t> P128 = Bytes(128, 0x23);
const std::vector<uint8_t> P4 = Bytes(4, 0x35);
const std::vector<uint8_t> P8 = Bytes(8, 0x47);

// What the scanner would get over its own special block is left out of the
// image: the block takes the place of the image's bytes in its range, a
// record that reaches into the range keeps its parts outside it with a new
// byte count and checksum, and the count record counts the records sent.
INSTANTIATE_TEST_SUITE_P(
    BytesInTheBlockRange, Splice,
    ::testing::Values(
        // 0x123 + 3 block records, the straddling record kept once, the two
        // inside gone: 0x124.
        SpliceCase{"MV2RecordsAtStraddlingAndAboveTheBase", ScannerFamily::kMV2,
                   H + DL + R3(0x1FFB0, P32) + R3(0x1FFC0, P4) + R3(0x1FFE0, P4) + DH + C + T, UPD_OK,
                   H + DL + R3(0x1FFB0, Part(P32, 0, 16)) + ZM + DH + Count(0x124) + T},
        // A record over the whole range keeps both outer parts; the upper
        // one follows the block, in address order.
        SpliceCase{"MV2RecordOverTheWholeRange", ScannerFamily::kMV2, H + DL + R3(0x1FFA0, P128) + C + T,
                   UPD_OK,
                   H + DL + R3(0x1FFA0, Part(P128, 0, 32)) + ZM + R3(0x20000, Part(P128, 96, 128)) +
                       Count(0x127) + T},
        SpliceCase{"MV2RecordOutOfTheRangeTop", ScannerFamily::kMV2, H + DL + R3(0x1FFF0, P32) + C + T, UPD_OK,
                   H + DL + ZM + R3(0x20000, Part(P32, 16, 32)) + C3 + T},
        // Records of every data type; an S2 record wholly inside goes too.
        SpliceCase{"QZ600RecordsAtStraddlingAndAboveTheBase", ScannerFamily::kQZ600,
                   H + D1 + R1(0xFFB0, P32) + R1(0xFFC0, P4) + R2(0xFFF8, P8) + C + T, UPD_OK,
                   H + D1 + R1(0xFFB0, Part(P32, 0, 16)) + Z6 + Count(0x124) + T},
        SpliceCase{"QZ600RecordOverTheWholeRange", ScannerFamily::kQZ600, H + D1 + R3(0xFFA0, P128) + C + T,
                   UPD_OK,
                   H + D1 + R3(0xFFA0, Part(P128, 0, 32)) + Z6 + R3(0x10000, Part(P128, 96, 128)) +
                       Count(0x127) + T},
        SpliceCase{"QZ600WithoutCountRecord", ScannerFamily::kQZ600, H + D1 + R1(0xFFE0, P32) + T, UPD_OK,
                   H + D1 + Z6 + T},
        // Data behind the termination record still reaches the flash.
        SpliceCase{"QZ600DataAfterTheTermination", ScannerFamily::kQZ600, H + D1 + T + R1(0xFFC0, P4) + C,
                   UPD_OK, H + D1 + Z6 + T + Count(0x125)},
        SpliceCase{"QZ600CutRecordKeepsItsLineEnd", ScannerFamily::kQZ600,
                   LineFeedsOnly(H + R1(0xFFB0, P32) + T), UPD_OK,
                   LineFeedsOnly(H + R1(0xFFB0, Part(P32, 0, 16))) + Z6 + LineFeedsOnly(T)},
        // The count field holds 32 bits: the highest count still fits.
        SpliceCase{"QZ600HighestCount", ScannerFamily::kQZ600, H + D1 + Count(0xFFFFFFFC) + T, UPD_OK,
                   H + D1 + Z6 + Count(0xFFFFFFFF) + T}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, ARecordOrCountTheSpliceCannotRewriteIsRefusedWithAMessage) {
  struct Case {
    const char* name;
    ScannerFamily family;
    std::string image;
    const char* message;
  };
  std::string badChecksum = R3(0x1FFC0, P4);
  badChecksum[badChecksum.size() - 3] ^= 1;
  const Case cases[] = {
      {"a record in the range with a bad checksum", ScannerFamily::kMV2, H + DL + badChecksum + C + T,
       "Loader image: bad data record"},
      {"an S1 record that runs past 0xFFFF into the range", ScannerFamily::kQZ600,
       H + D1 + R1(0xFFF0, P32) + C + T, "Loader image: bad data record"},
      {"a data record without a readable byte count", ScannerFamily::kQZ600,
       H + D1 + "S1XX10000102030405\r\n" + C + T, "Loader image: bad data record"},
      {"a first-generation data record without a readable address", ScannerFamily::kQZ600,
       H + D1 + "S1071G0001020304DE\r\n" + C + T, "Loader image: bad data record address"},
      {"a count record with a bad checksum", ScannerFamily::kQZ600, H + D1 + "S50500000123D7\r\n" + T,
       "Loader image: bad count record"},
      {"a count that leaves 32 bits", ScannerFamily::kQZ600, H + D1 + Count(0xFFFFFFFD) + T,
       "Loader image: the record count does not fit the count record"},
      {"a count that leaves 32 bits with a record left out", ScannerFamily::kMV2,
       H + DL + DB + Count(0xFFFFFFFE) + T,
       "Loader image: the record count does not fit the count record"},
      {"a count below the records left out", ScannerFamily::kMV2,
       H + DL + R3(0x1FFC0, P4) + R3(0x1FFD0, P4) + R3(0x1FFE0, P4) + R3(0x1FFF0, P4) + Count(0) + T,
       "Loader image: the record count does not fit the count record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileBuffer image = Image(c.image);
    const uint8_t block[64] = {};
    EXPECT_EQ(CheckSpecialBlockPlace(image, c.family).text, c.message);
    const ReadFault fault = InsertSpecialBlock(c.family, image, block, sizeof block);
    EXPECT_EQ(fault.status, UPD_BAD_IMAGE);
    EXPECT_EQ(Text(image), c.image);
    EXPECT_EQ(fault.text, c.message);
  }
}

TEST_F(FirmwareTest, TheFirstRecordInTheBlockRangeIsFound) {
  struct Case {
    const char* name;
    ScannerFamily family;
    std::string image;
    unsigned line;
  };
  const Case cases[] = {
      {"MV2 record straddling the base", ScannerFamily::kMV2, H + DL + R3(0x1FFB0, P32) + DB + C + T, 3},
      {"MV2 image below the range", ScannerFamily::kMV2, H + DL + DH + C + T, 0},
      {"MV2 range after a line that is not a record", ScannerFamily::kMV2, H + DL + T + "junk\r\n" + DB, 0},
      {"QZ600 range after a line that is not a record", ScannerFamily::kQZ600, H + D1 + T + "junk\r\n" + R1(0xFFC0, P4), 5},
      {"QZ600 record touching the top", ScannerFamily::kQZ600, H + D1 + D1 + R1(0xFFFC, P4) + C + T, 4},
      {"QZ600 image below the range", ScannerFamily::kQZ600, H + D1 + R1(0xFFB0, Part(P32, 0, 16)) + C + T, 0},
      // Blank lines count: the number is the file's line.
      {"QZ600 after blank lines", ScannerFamily::kQZ600, H + "\n\n" + R1(0xFFC0, P4) + T, 4},
  };
  for (const Case& c : cases) {
    FileBuffer image = Image(c.image);
    EXPECT_EQ(FirstLineInSpecialBlock(image, c.family), c.line) << c.name;
  }
}

TEST_F(FirmwareTest, TheSpliceCarriesTheBlockBytesInOrderAndGrowsBy176Characters) {
  const std::string text = H + D1 + C + T;
  FileBuffer image = Image(text);
  uint8_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i);

  ASSERT_EQ(InsertSpecialBlock(ScannerFamily::kQZ600, image, block, sizeof block).status, UPD_OK);

  EXPECT_EQ(image.size, text.size() + 176);
  EXPECT_EQ(Text(image),
            H + D1 +
                "S3210000FFC0000102030405060708090A0B0C0D0E0F101112131415161718191A1BA5\r\n"
                "S3210000FFDC1C1D1E1F202122232425262728292A2B2C2D2E2F303132333435363779\r\n"
                "S30D0000FFF838393A3B3C3D3E3F1F\r\n" +
                C3 + T);
}

TEST_F(FirmwareTest, AnUnreadableCountRecordOrAddressIsRefusedWithAMessage) {
  struct Case {
    ScannerFamily family;
    std::string image;
    const char* message;
  };
  const Case cases[] = {
      {ScannerFamily::kQZ600, H + D1 + "S505XX000123D6\r\n" + T, "Loader image: bad count record"},
      {ScannerFamily::kQZ600, H + D1 + "S50500000123\r\n" + T, "Loader image: bad count record"},
      {ScannerFamily::kMV2, H + DL + "S50700000000000123D6\r\n" + T, "Loader image: bad count record"},
      {ScannerFamily::kMV2, H + "S3090001FG0001020304EC\r\n" + T, "Loader image: bad data record address"},
      {ScannerFamily::kMV2, H + "S309\r\n" + T, "Loader image: bad data record address"},
  };
  for (const Case& c : cases) {
    FileBuffer image = Image(c.image);
    const uint8_t block[64] = {};
    EXPECT_EQ(CheckSpecialBlockPlace(image, c.family).text, c.message) << c.image;
    const ReadFault fault = InsertSpecialBlock(c.family, image, block, sizeof block);
    EXPECT_EQ(fault.status, UPD_BAD_IMAGE) << c.image;
    EXPECT_EQ(Text(image), c.image);
    EXPECT_EQ(fault.text, c.message) << c.image;
  }
}

TEST(SpecialBlockBase, IsAtTheTopOfTheLoaderRangeOfTheFamily) {
  EXPECT_EQ(SpecialBlockBase(ScannerFamily::kMV2), 0x1FFC0u);
  EXPECT_EQ(SpecialBlockBase(ScannerFamily::kQZ500), 0xFFC0u);
  EXPECT_EQ(SpecialBlockBase(ScannerFamily::kQZ600), 0xFFC0u);
  EXPECT_EQ(SpecialBlockBase(ScannerFamily::kNone), 0xFFC0u);
}

// ---- sending ----

TEST_F(FirmwareTest, SendLoaderImageShowsTheImageLengthInEveryLineAndEndsAtTheTop) {
  SimPanel sim(ScannerFamily::kQZ600);
  std::string text(1000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('A' + i % 26);
  FileBuffer image = Image(text);

  EXPECT_EQ(SendLoaderImage(sim.Panel()->m_session, *sim.Panel(), image), UPD_OK);

  EXPECT_EQ(sim.Received(), text);
  EXPECT_EQ(image.data, nullptr) << "the image is released";
  const std::vector<std::string> statuses = sim.Statuses();
  ASSERT_EQ(statuses.size(), 10u);
  for (size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_THAT(statuses[i],
                MatchesRegex("LDR 1000 bytes [0-9]+ bytes/sec " + std::to_string((i + 1) * 10) + "%"));
  }
  EXPECT_EQ(sim.Panel()->m_progress.GetPos(), 1000);
  EXPECT_EQ(sim.Panel()->m_progress.GetHigh(), 1000);
}

TEST_F(FirmwareTest, SendLoaderImageEndsOnAnAbortOrAFailedWriteAndReleasesTheImage) {
  for (bool unplug : {false, true}) {
    SimPanel sim(ScannerFamily::kMV2);
    FileBuffer image = Image(std::string(500, 'S'));
    if (unplug) {
      sim.Line().Unplug();
    } else {
      sim.Panel()->m_session.m_bAbort = true;
    }
    EXPECT_EQ(SendLoaderImage(sim.Panel()->m_session, *sim.Panel(), image), unplug ? UPD_LINK_DOWN : UPD_ABORTED) << unplug;
    EXPECT_EQ(image.data, nullptr) << unplug;
    EXPECT_EQ(sim.Received(), "") << unplug;
    EXPECT_TRUE(sim.Statuses().empty()) << unplug;
  }
  // Only the vanished device is worth a box; the abort is the operator's.
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "The scanner's device is gone (unplugged or switched off)");
}

}  // namespace
