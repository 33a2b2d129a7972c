// The special block spliced into a loader image, and the sending of the image.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/loader_image.h"
#include "support/firmware_fixture.h"
#include "support/regex_match.h"

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
  int family;
  std::string image;
  UpdateStatus result;
  std::string spliced;  // for UPD_OK
};

class Splice : public FirmwareTest, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(Splice, PutsTheZeroBlockInItsPlace) {
  const SpliceCase& c = GetParam();
  SimPanel sim(c.family);
  FileBuffer image = Image(c.image);
  const char* before = image.data.get();
  const uint8_t block[64] = {};

  EXPECT_EQ(InsertSpecialBlock(sim.Panel(), c.family, image, block, sizeof block), c.result);

  if (c.result == UPD_OK) {
    EXPECT_EQ(Text(image), c.spliced);
    EXPECT_EQ(image.data[image.size], '\0');
  } else {
    EXPECT_EQ(image.data.get(), before) << "the caller keeps the old image";
    EXPECT_EQ(Text(image), c.image);
  }
  // Only an MV2 image without a place for the block says why it is refused.
  const bool explained = c.family == kFamilyMV2 && c.result == UPD_NO_IMAGE_END;
  ASSERT_EQ(boxes_.Boxes().size(), explained ? 1u : 0u);
  if (explained) {
    EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
    EXPECT_EQ(boxes_.Boxes()[0].text, "Loader image: no place for the special block");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, Splice,
    ::testing::Values(
        SpliceCase{"QZ600CountAndTermination", kFamilyQZ600, H + D1 + C + T, UPD_OK,
                   H + D1 + Z6 + C3 + T},
        SpliceCase{"QZ500SameAsQZ600", kFamilyQZ500, H + D1 + C + T, UPD_OK, H + D1 + Z6 + C3 + T},
        SpliceCase{"QZ600NoCountRecord", kFamilyQZ600, H + D1 + T, UPD_OK, H + D1 + Z6 + T},
        // The standard two-byte count is raised and written in the four-byte form.
        SpliceCase{"QZ600StandardCountForm", kFamilyQZ600, H + D1 + "S5030003F9\r\n" + T, UPD_OK,
                   H + D1 + Z6 + "S50500000006F4\r\n" + T},
        // An image that ends in S9 keeps its termination after the count record.
        SpliceCase{"QZ600EndsInS9", kFamilyQZ600,
                   H + "S107100001020304DE\r\n" + "S5030001FB\r\n" + "S9030000FC\r\n", UPD_OK,
                   H + "S107100001020304DE\r\n" + Z6 + "S50500000004F6\r\n" + "S9030000FC\r\n"},
        // The block must come before the termination, wherever the count is.
        SpliceCase{"QZ600TerminationBeforeCount", kFamilyQZ600, H + D1 + T + C, UPD_OK,
                   H + D1 + Z6 + T + C3},
        // Copied lines keep their own line ends.
        SpliceCase{"QZ600LineFeedsOnly", kFamilyQZ600,
                   "S00600004844521B\nS3090000100001020304DC\nS70500000000FA\n", UPD_OK,
                   "S00600004844521B\nS3090000100001020304DC\n" + Z6 + "S70500000000FA\n"},
        SpliceCase{"QZ600NeitherCountNorTermination", kFamilyQZ600, H + D1, UPD_NO_IMAGE_END, ""},
        SpliceCase{"MV2DataBelowBaseEndsInS7", kFamilyMV2, H + DL + T, UPD_OK, H + DL + ZM + T},
        SpliceCase{"MV2RecordAtTheBaseStaysAhead", kFamilyMV2, H + DL + DB + C + T, UPD_OK,
                   H + DL + DB + ZM + C3 + T},
        SpliceCase{"MV2RecordAboveTheBaseFollows", kFamilyMV2, H + DL + DA + C + T, UPD_OK,
                   H + DL + ZM + DA + C3 + T},
        SpliceCase{"MV2FirstDataAboveTheBase", kFamilyMV2, H + DA + T, UPD_NO_IMAGE_DATA, ""},
        SpliceCase{"MV2NoDataAtAll", kFamilyMV2, H + C + T, UPD_NO_IMAGE_DATA, ""},
        // Nothing tells where the loader stops reading: refused, not appended.
        SpliceCase{"MV2NoPlaceForTheBlock", kFamilyMV2, H + DL, UPD_NO_IMAGE_END, ""},
        // The walk ends at a line that is not a record; nothing after it is an image.
        SpliceCase{"MV2WalkEndsAtTrailingJunk", kFamilyMV2, H + DL + T + "\x1A", UPD_OK,
                   H + DL + ZM + T},
        SpliceCase{"MV2WalkEndsBeforeThePlace", kFamilyMV2, H + DL + "junk\r\n" + DA + T,
                   UPD_NO_IMAGE_END, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, TheSpliceCarriesTheBlockBytesInOrderAndGrowsBy176Characters) {
  SimPanel sim(kFamilyQZ600);
  const std::string text = H + D1 + C + T;
  FileBuffer image = Image(text);
  uint8_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i);

  ASSERT_EQ(InsertSpecialBlock(sim.Panel(), kFamilyQZ600, image, block, sizeof block), UPD_OK);

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
    int family;
    std::string image;
    const char* message;
  };
  const Case cases[] = {
      {kFamilyQZ600, H + D1 + "S505XX000123D6\r\n" + T, "Loader image: bad count record"},
      {kFamilyQZ600, H + D1 + "S50500000123\r\n" + T, "Loader image: bad count record"},
      {kFamilyMV2, H + DL + "S50700000000000123D6\r\n" + T, "Loader image: bad count record"},
      {kFamilyMV2, H + "S3090001FG0001020304EC\r\n" + T, "Loader image: bad data record address"},
      {kFamilyMV2, H + "S309\r\n" + T, "Loader image: bad data record address"},
  };
  for (const Case& c : cases) {
    boxes_.Clear();
    SimPanel sim(c.family);
    FileBuffer image = Image(c.image);
    const uint8_t block[64] = {};
    EXPECT_EQ(InsertSpecialBlock(sim.Panel(), c.family, image, block, sizeof block), UPD_BAD_IMAGE)
        << c.image;
    EXPECT_EQ(Text(image), c.image);
    ASSERT_EQ(boxes_.Boxes().size(), 1u) << c.image;
    EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
    EXPECT_EQ(boxes_.Boxes()[0].text, c.message);
  }
}

TEST(SpecialBlockBase, IsAtTheTopOfTheLoaderRangeOfTheFamily) {
  EXPECT_EQ(SpecialBlockBase(kFamilyMV2), 0x1FFC0u);
  EXPECT_EQ(SpecialBlockBase(kFamilyQZ500), 0xFFC0u);
  EXPECT_EQ(SpecialBlockBase(kFamilyQZ600), 0xFFC0u);
  EXPECT_EQ(SpecialBlockBase(0), 0xFFC0u);
}

// ---- sending ----

TEST_F(FirmwareTest, SendLoaderImageShowsTheImageLengthInEveryLineAndEndsAtTheTop) {
  SimPanel sim(kFamilyQZ600);
  std::string text(1000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('A' + i % 26);
  FileBuffer image = Image(text);

  EXPECT_EQ(SendLoaderImage(sim.Panel(), image), UPD_OK);

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
    SimPanel sim(kFamilyMV2);
    FileBuffer image = Image(std::string(500, 'S'));
    if (unplug) {
      sim.Line().Unplug();
    } else {
      sim.Panel()->m_bAbort = true;
    }
    EXPECT_EQ(SendLoaderImage(sim.Panel(), image), unplug ? UPD_LINK_DOWN : UPD_ABORTED) << unplug;
    EXPECT_EQ(image.data, nullptr) << unplug;
    EXPECT_EQ(sim.Received(), "") << unplug;
    EXPECT_TRUE(sim.Statuses().empty()) << unplug;
  }
  // Only the vanished device is worth a box; the abort is the operator's.
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "The scanner's device is gone (unplugged or switched off)");
}

}  // namespace
