// What reaches the simulated scanner: raw files recorded byte for byte up to
// their end byte (0xFF inside the data included), S-record blocks checked and
// re-assembled into memory, the loader image with its special block, and the
// completion texts after each transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>

#include "sim_fixture.h"
#include "srecord_check.h"
#include "support/sim_srecords.h"
#include "support/srec_tools.h"

namespace {

using scanner::Component;
using scanner::LoaderState;
using scanner::ScannerConfig;
using simtest::ScannerSimTest;

// Raw data that holds the end byte: alone, doubled, before wake-up
// characters, and last.
std::vector<uint8_t> RawFirmware() {
  std::vector<uint8_t> data = simtest::Pattern(3000, 7);
  const std::vector<uint8_t> tricky = {0xFF, 0x00, 0xFF, 0xFF, 0x2A, 0xFF, 0x2A, 0x2A, 0x2A, 0x41, 0xFF, 0x0D};
  data.insert(data.begin() + 100, tricky.begin(), tricky.end());
  data.insert(data.begin() + 2000, tricky.begin(), tricky.end());
  data.push_back(0xFF);
  return data;
}

struct RawCase {
  const char* name;
  ScannerConfig config;
  std::string keys;         // the last one opens the transfer
  std::string prompt;       // awaited after the last key
  Component component;
  std::string completion;
};

TEST_F(ScannerSimTest, RawFilesAreRecordedByteForByteUpToTheirEndByte) {
  const RawCase cases[] = {
      {"FPGA", ScannerConfig::MV2(), "3", "abort", Component::kFpga, "Done!"},
      {"UIM", ScannerConfig::MV2(), "8", "abort", Component::kUim, "Loader menu"},
      {"DSP", ScannerConfig::QZ600(), "9y", "receive", Component::kDsp, "DONE"},
  };
  const std::vector<uint8_t> data = RawFirmware();
  for (const RawCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    WakeUp();
    for (char key : c.keys) Ask(std::string(1, key), key == c.keys.back() ? c.prompt : "?");
    std::vector<uint8_t> sent = data;
    sent.push_back(0xFF);
    ASSERT_TRUE(near_->Type(sent));  // one write: no pause after a 0xFF inside
    ASSERT_TRUE(near_->ReadUntil(c.completion));
    ASSERT_EQ(sim_->BlockCount(c.component), 1u);
    EXPECT_EQ(sim_->Transfers(c.component)[0], data);
    EXPECT_TRUE(sim_->WaitForState(LoaderState::kMenu, 10000));
    EXPECT_TRUE(sim_->RecordErrors().empty());
  }
}

TEST_F(ScannerSimTest, WithoutQuietTimeTheFirstEndByteEndsARawFile) {
  ScannerConfig config = ScannerConfig::MV2();
  config.timing.rawQuietMs = 0;
  SwitchOn(config);
  WakeUp();
  Ask("3", "abort");
  Ask("ABC\xFF", "Done!");
  ASSERT_EQ(sim_->BlockCount(Component::kFpga), 1u);
  EXPECT_EQ(sim_->Transfers(Component::kFpga)[0], (std::vector<uint8_t>{'A', 'B', 'C'}));
}

// The records of an image file, sent after "1" as the program sends them,
// then the end byte; returns the loader's answer.
class ImageTransferTest : public ScannerSimTest {
 protected:
  std::string SendBlock(const std::string& records) {
    Ask("1", "send");
    return Ask(records + "\xFF", "Write flash complete");
  }
};

TEST_F(ImageTransferTest, SinglePassImageIsReassembledIntoMemory) {
  SwitchOn(ScannerConfig::QZ600());
  WakeUp();
  const std::vector<uint8_t> bytes = simtest::Pattern(5000, 11);
  const std::string image = simtest::MakeImage(bytes, 0x00010000, "QZ6 RCP 2.1");
  ASSERT_FALSE(image.empty());
  SendBlock(image);
  EXPECT_TRUE(sim_->RecordErrors().empty());
  EXPECT_EQ(sim_->BlockCount(Component::kRcp), 1u);
  EXPECT_EQ(sim_->BlockHeaders(Component::kRcp), std::vector<std::string>{"QZ6 RCP 2.1"});
  bool complete = false;
  EXPECT_EQ(sim_->ReadMemory(Component::kRcp, 0x10000, bytes.size(), &complete), bytes);
  EXPECT_TRUE(complete);
  EXPECT_EQ(sim_->Memory(Component::kRcp).Size(), bytes.size());
  EXPECT_EQ(sim_->BlockCount(Component::kVtc), 0u);

  // The memory image written back out holds the same data as the file.
  const std::string sent = ::testing::TempDir() + "sim_sent.srec";
  const std::string held = ::testing::TempDir() + "sim_held.srec";
  std::ofstream(sent, std::ios::binary) << image;
  std::ofstream(held, std::ios::binary) << scanner::FormatSRecords(sim_->Memory(Component::kRcp), "held");
  EXPECT_TRUE(vttest::SameSRecordData(sent, held));
}

TEST_F(ImageTransferTest, FramedBlocksWithTheirOwnCountRecordsMakeOneImage) {
  SwitchOn(ScannerConfig::MV2());
  WakeUp();
  const std::vector<uint8_t> bytes = simtest::Pattern(2048, 5);
  const auto lines = simtest::Lines(simtest::MakeImage(bytes, 0x0001F800, "VTC 1.0"));
  // header, 64 data records, standard count, termination
  ASSERT_EQ(lines.size(), 67u);
  std::string first = lines[0], second = lines[0];
  for (size_t i = 1; i <= 40; ++i) first += lines[i];
  for (size_t i = 41; i <= 64; ++i) second += lines[i];
  first += simtest::CountRecord(40) + lines[66];
  second += simtest::CountRecord(24) + lines[66];
  SendBlock(first);
  SendBlock(second);
  EXPECT_TRUE(sim_->RecordErrors().empty());
  EXPECT_EQ(sim_->BlockCount(Component::kVtc), 2u);
  EXPECT_EQ(sim_->ReadMemory(Component::kVtc, 0x1F800, bytes.size()), bytes);
  EXPECT_EQ(sim_->RewrittenBytes(Component::kVtc), 0u);
}

TEST_F(ImageTransferTest, RecordFaultsAreReportedAndFaultyDataIsNotWritten) {
  SwitchOn(ScannerConfig::QZ500());
  WakeUp();
  const std::vector<uint8_t> bytes = simtest::Pattern(256, 3);
  const auto lines = simtest::Lines(simtest::MakeImage(bytes, 0x2000, "RCP"));
  ASSERT_EQ(lines.size(), 11u);  // header, 8 data records, count, termination

  // The third data record (line 4) with its checksum off by one.
  std::string badChecksum = lines[3];
  const size_t at = badChecksum.size() - 3;
  const unsigned checksum = std::stoul(badChecksum.substr(at, 2), nullptr, 16);
  char corrupt[3];
  std::snprintf(corrupt, sizeof corrupt, "%02X", (checksum + 1) & 0xFF);
  badChecksum.replace(at, 2, corrupt);

  std::string block;
  for (size_t i = 0; i < lines.size(); ++i) block += i == 3 ? badChecksum : lines[i];
  SendBlock(block);

  char expectedChecksum[64];
  std::snprintf(expectedChecksum, sizeof expectedChecksum, "line 4: checksum %s, expected %02X", corrupt,
                checksum);
  const auto errors = sim_->RecordErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].component, Component::kRcp);
  EXPECT_EQ(errors[0].block, 1);
  EXPECT_EQ(errors[0].text, expectedChecksum);
  EXPECT_EQ(errors[1].text, "line 10: count record says 8, block holds 7 data records");
  bool complete = true;
  sim_->ReadMemory(Component::kRcp, 0x2040, 32, &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(sim_->ReadMemory(Component::kRcp, 0x2000, 64),
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + 64));
}

struct FramingCase {
  const char* name;
  std::string block;
  std::vector<std::string> errors;
};

TEST_F(ImageTransferTest, FramingFaultsAreReported) {
  const std::string header = simtest::Record('0', 0, 2, {'R', 'C', 'P'});
  const std::string data = simtest::Record('3', 0x100, 4, {1, 2, 3, 4});
  const std::string end = simtest::Record('7', 0, 4, {});
  const FramingCase cases[] = {
      {"count too high", header + data + simtest::CountRecord(2) + end,
       {"line 3: count record says 2, block holds 1 data records"}},
      {"no termination", header + data + simtest::CountRecord(1), {"no termination record"}},
      {"no header", data + end, {"no header record"}},
      {"record after the end", header + end + data, {"line 3: record after the termination record"}},
      {"byte count", header + "S30A00000100010203045C\r\n" + end, {"line 2: byte count 10, but 9 bytes follow"}},
      {"not a record", header + "X3090000010001020304EC\r\n" + end, {"line 2: not an S-record"}},
      {"sent twice", header + data + data + end, {"line 3: address 00000100 written twice in this block"}},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(ScannerConfig::QZ600());
    WakeUp();
    SendBlock(c.block);
    std::vector<std::string> texts;
    for (const auto& error : sim_->RecordErrors()) texts.push_back(error.text);
    EXPECT_EQ(texts, c.errors);
  }
}

// The special block as the program splices it: three S3 records of 28, 28
// and 8 bytes at the block's address.
std::string SpecialBlockRecords(uint32_t base, const std::array<uint8_t, 64>& block) {
  std::string records;
  for (size_t offset = 0; offset < 64; offset += 28) {
    const size_t n = std::min<size_t>(28, 64 - offset);
    records += simtest::Record('3', base + static_cast<uint32_t>(offset), 4,
                               std::vector<uint8_t>(block.begin() + offset, block.begin() + offset + n));
  }
  return records;
}

struct LoaderCase {
  const char* name;
  ScannerConfig config;
  uint32_t codeAddress;
};

TEST_F(ScannerSimTest, SplicedLoaderImageCarriesTheSpecialBlockIntoTheScanner) {
  const LoaderCase cases[] = {
      {"QZ600", ScannerConfig::QZ600(), 0x8000},
      {"MV2", ScannerConfig::MV2(), 0x18000},
  };
  for (const LoaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    WakeUp();
    const std::vector<uint8_t> code = simtest::Pattern(1024, 9);
    const auto lines = simtest::Lines(simtest::MakeImage(code, c.codeAddress, "LDR"));
    std::array<uint8_t, 64> block{};
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0x40 + i);
    std::string image;
    for (size_t i = 0; i + 2 < lines.size(); ++i) image += lines[i];
    image += SpecialBlockRecords(c.config.SpecialBlockAddress(), block);
    image += simtest::CountRecord(32 + 3) + lines.back();

    Ask("a", "receive");
    Ask(image + "\xFF", "Write flash complete");
    EXPECT_TRUE(sim_->RecordErrors().empty());
    ASSERT_TRUE(sim_->SpecialBlockReceived().has_value());
    EXPECT_EQ(*sim_->SpecialBlockReceived(), block);
    EXPECT_EQ(sim_->ReadMemory(Component::kLdr, c.codeAddress, code.size()), code);
    // The scanner now holds the block it was sent.
    EXPECT_EQ(sim_->CurrentSpecialBlock(), block);
  }
}

TEST_F(ScannerSimTest, LoaderImageWithoutTheSpecialBlockErasesIt) {
  SwitchOn(ScannerConfig::QZ600());
  WakeUp();
  const auto image = simtest::MakeImage(simtest::Pattern(512, 2), 0x8000, "LDR");
  Ask("a", "receive");
  Ask(image + "\xFF", "Write flash complete");
  EXPECT_FALSE(sim_->SpecialBlockReceived().has_value());
  std::array<uint8_t, 64> erased;
  erased.fill(0xFF);
  EXPECT_EQ(sim_->CurrentSpecialBlock(), erased);
}

TEST_F(ScannerSimTest, LoaderFileThatIsNotSRecordTextIsRecordedAndReported) {
  SwitchOn(ScannerConfig::QZ500());
  WakeUp();
  Ask("a", "receive");
  std::vector<uint8_t> raw = {0x01, 0xFF, 0x02, 0xFF};
  near_->Type(raw);
  ASSERT_TRUE(near_->ReadUntil("Write flash complete"));
  ASSERT_EQ(sim_->BlockCount(Component::kLdr), 1u);
  EXPECT_EQ(sim_->Transfers(Component::kLdr)[0], (std::vector<uint8_t>{0x01, 0xFF, 0x02}));
  ASSERT_EQ(sim_->RecordErrors().size(), 1u);
  EXPECT_EQ(sim_->RecordErrors()[0].text, "the loader image is not S-record text");
}

TEST_F(ScannerSimTest, CpldUpdateRestartsTheScannerWhichThenWantsItsPowerCycled) {
  SwitchOn(ScannerConfig::QZ600());
  WakeUp();
  Ask("3", "Execute");
  Ask("1", "receive");
  std::vector<uint8_t> sent = RawFirmware();
  const std::vector<uint8_t> data = sent;
  sent.push_back(0xFF);
  // The program wakes the scanner at once, without waiting for an answer.
  for (int i = 0; i < 4; ++i) sent.push_back('*');
  near_->Type(sent);
  ASSERT_TRUE(sim_->WaitUntil([&] { return sim_->BlockCount(scanner::Component::kCpld) == 1; }, 10000));
  EXPECT_EQ(sim_->Transfers(Component::kCpld)[0], data);
  // The restart drops the lines for a moment.
  EXPECT_TRUE(near_->WaitForLines(true));
  EXPECT_TRUE(sim_->WaitForState(LoaderState::kAwaitingWakeUp, 10000));

  // It answers the next wake-up once...
  near_->Take();
  near_->Type("****");
  ASSERT_TRUE(near_->ReadUntil("switch the scanner off and on"));
  EXPECT_EQ(sim_->BannerCount(), 2);
  EXPECT_EQ(sim_->State(), LoaderState::kAwaitingPowerCycle);
  // ...and no more until its power is cycled.
  near_->Type("****7");
  ASSERT_TRUE(sim_->WaitForReceived("****7", 10000));
  EXPECT_EQ(sim_->BannerCount(), 2);
  EXPECT_EQ(sim_->KeysTyped(), "31");

  sim_->PowerOff();
  ASSERT_TRUE(near_->WaitForLines(false));
  sim_->PowerOn();
  ASSERT_TRUE(near_->WaitForLines(true));
  WakeUp();
  EXPECT_EQ(sim_->BannerCount(), 3);
}

TEST_F(ScannerSimTest, CpldRestartEndsAtAQuietLineToo) {
  ScannerConfig config = ScannerConfig::QZ500();
  config.cpldNeedsPowerCycle = false;
  config.timing.rawQuietMs = 50;
  SwitchOn(config);
  WakeUp();
  Ask("3", "Execute");
  Ask("1", "receive");
  near_->Type(std::string("JED\xFF", 4));
  ASSERT_TRUE(sim_->WaitUntil([&] { return sim_->BlockCount(Component::kCpld) == 1; }, 10000));
  EXPECT_EQ(sim_->Transfers(Component::kCpld)[0], (std::vector<uint8_t>{'J', 'E', 'D'}));
  ASSERT_TRUE(sim_->WaitForState(LoaderState::kAwaitingWakeUp, 10000));
  ASSERT_TRUE(near_->WaitForLines(true));
  // Without the power cycle it is back in its menu after one banner.
  WakeUp();
  WakeUp();
}

// A test holds the flash write of one component to decide, without timing,
// what the program does while the loader writes: the held write keeps its
// completion text back, however long past its time, until it is released;
// the writes of other components end as usual.
TEST_F(ScannerSimTest, AHeldFlashWriteEndsOnlyWhenReleased) {
  ScannerConfig config = ScannerConfig::MV2();
  config.timing.rawQuietMs = 0;
  config.timing.flashWriteMs = 0;  // due at the loader's first look
  SwitchOn(config);
  sim_->HoldFlashWrite(Component::kFpga);
  WakeUp();
  Ask("8", "abort");
  Ask("UIM\xFF", "Loader menu");
  EXPECT_FALSE(sim_->HoldingFlashWrite());

  Ask("3", "abort");
  ASSERT_TRUE(near_->Type("FPGA\xFF"));
  ASSERT_TRUE(sim_->WaitUntil([&] { return sim_->HoldingFlashWrite(); }, 10000));
  // A byte the loader handles after the end byte: the turn of its loop that
  // took it would have ended an unheld write, whose time is up at once.
  ASSERT_TRUE(near_->Type("*"));
  ASSERT_TRUE(sim_->WaitForReceived("FPGA\xFF*", 10000));
  EXPECT_EQ(sim_->State(), LoaderState::kWritingFlash);
  EXPECT_TRUE(sim_->HoldingFlashWrite());
  EXPECT_EQ(sim_->Output().find("Done!"), std::string::npos);

  sim_->ReleaseFlashWrite();
  ASSERT_TRUE(near_->ReadUntil("Done!")) << near_->Seen();
  EXPECT_TRUE(sim_->WaitForState(LoaderState::kMenu, 10000));
  EXPECT_FALSE(sim_->HoldingFlashWrite());
  EXPECT_EQ(sim_->Transfers(Component::kFpga)[0], (std::vector<uint8_t>{'F', 'P', 'G', 'A'}));
}

TEST_F(ScannerSimTest, PowerLossCutsATransferShort) {
  SwitchOn(ScannerConfig::MV2());
  WakeUp();
  Ask("3", "abort");
  near_->Type("partial");
  ASSERT_TRUE(sim_->WaitForReceived("partial", 10000));
  sim_->PowerOff();
  EXPECT_EQ(sim_->BlockCount(Component::kFpga), 0u);
  ASSERT_EQ(sim_->RecordErrors().size(), 1u);
  EXPECT_EQ(sim_->RecordErrors()[0].component, Component::kFpga);
  EXPECT_EQ(sim_->RecordErrors()[0].text, "transfer cut off by power loss");
}

}  // namespace
