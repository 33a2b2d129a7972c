// Raw file streaming, whole-file reading and the header tag of S-record files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware/file_access.h"
#include "firmware/sha256.h"
#include "firmware/transfer_rate.h"
#include "support/firmware_fixture.h"
#include "support/regex_match.h"
#include "update/file_send.h"

using fwtest::FirmwareTest;
using fwtest::SimPanel;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using vttest::MatchesRegex;

namespace {

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 7 + 3);
  return text;
}

// ---- SendFile ----

struct StreamCase {
  size_t size;
  int kilobytes;                // shown in every status line
  std::vector<int> percents;    // one status line per block
};

class SendFileStream : public FirmwareTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(SendFileStream, SendsTheFileUnchangedInBlocksOfAHundredBytes) {
  const StreamCase& c = GetParam();
  SimPanel sim(ScannerFamily::kQZ600);
  const std::string content = Pattern(c.size);
  const std::string path = dir_.Write("dsp.bin", content);

  EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), path, "DSP"), UPD_OK);

  EXPECT_EQ(sim.Received(), content);
  const std::vector<std::string> statuses = sim.Statuses();
  ASSERT_EQ(statuses.size(), c.percents.size());
  // The bar is reset to 0 at the start, then follows every block.
  std::vector<int> positions = sim.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.front(), 0);
  positions.erase(positions.begin(), std::find_if(positions.begin(), positions.end(),
                                                  [](int pos) { return pos != 0; }));
  std::vector<int> expectedPositions;
  for (size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_THAT(statuses[i], MatchesRegex("DSP " + std::to_string(c.kilobytes) +
                                          "KB [0-9]+ bytes/sec " +
                                          std::to_string(c.percents[i]) + "%"));
    const size_t total = std::min(c.size, (i + 1) * kFileBlockBytes);
    expectedPositions.push_back(static_cast<int>(total * 1000 / c.size));
  }
  EXPECT_THAT(positions, ElementsAreArray(expectedPositions));
  EXPECT_EQ(sim.Panel()->m_progress.GetHigh(), 1000);
  EXPECT_TRUE(boxes_.Boxes().empty());
}

std::vector<int> PercentsOf(size_t size) {
  std::vector<int> percents;
  for (size_t total = 0; total < size;) {
    total = std::min(size, total + kFileBlockBytes);
    percents.push_back(static_cast<int>(total * 100 / size));
  }
  return percents;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SendFileStream,
    ::testing::Values(StreamCase{0, 0, {}},                // nothing to send, position stays 0
                      StreamCase{250, 0, {40, 80, 100}},   // 100, 100 and 50 bytes
                      StreamCase{100, 0, {100}},           // exactly one block
                      StreamCase{1023, 0, PercentsOf(1023)},
                      StreamCase{2047, 1, PercentsOf(2047)},  // whole KiB, rounded down
                      StreamCase{4096, 4, PercentsOf(4096)}));

TEST_F(FirmwareTest, SendFileOfAMissingFileOrAFolderIsAnOpenFailure) {
  SimPanel sim(ScannerFamily::kQZ600);
  const struct {
    std::string path;
    std::string text;
  } cases[] = {
      {dir_.Missing("none.bin"), "SendFile : CreateFile"},
      // A folder opens on some systems, but holds no firmware.
      {dir_.Path(), "File " + dir_.Path() + " is a folder, not a regular file"},
  };
  for (const auto& c : cases) {
    boxes_.Clear();
    EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), c.path, "PLD"), UPD_FILE_OPEN_FAILED) << c.path;
    ASSERT_EQ(boxes_.Boxes().size(), 1u);
    EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
    EXPECT_EQ(boxes_.Boxes()[0].text, c.text);
  }
  EXPECT_EQ(sim.Received(), "");
}

// A file past the limit is no firmware; it is refused before a byte of it is
// read (the test file is sparse: it takes no room on the disk).
TEST_F(FirmwareTest, AFileTooLargeToBeFirmwareIsRefusedUnread) {
  SimPanel sim(ScannerFamily::kQZ600);
  const std::string path = dir_.Write("huge.bin", "");
  std::error_code error;
  std::filesystem::resize_file(path, kMaxFirmwareFileBytes + 1, error);
  if (error) GTEST_SKIP() << "no sparse file here: " << error.message();
  const std::string text = "File " + path + " is too large: " +
                           std::to_string(kMaxFirmwareFileBytes + 1) + " bytes, at most " +
                           std::to_string(kMaxFirmwareFileBytes);

  EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), path, "DSP"), UPD_FILE_SIZE_ERROR);
  FileBuffer image;
  const ReadFault fault = ReadWholeFile(path, image);
  EXPECT_EQ(fault.status, UPD_FILE_SIZE_ERROR);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(sim.Received(), "");
  ASSERT_EQ(boxes_.Texts(), (std::vector<std::string>{text}));
  EXPECT_EQ(fault.text, text);
}

// The bytes sent are the copy taken at the start, and its digest is theirs.
TEST_F(FirmwareTest, SendFileGivesTheDigestOfTheBytesSent) {
  SimPanel sim(ScannerFamily::kQZ600);
  const std::string content = Pattern(1234);
  const std::string path = dir_.Write("fpga.bin", content);
  std::string digest;

  ASSERT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), path, "FPGA", &digest), UPD_OK);
  EXPECT_EQ(sim.Received(), content);
  EXPECT_EQ(digest, Sha256Hex(content.data(), content.size()));
}

// The copy of a raw file that ends before its size (it was cut while read)
// is a failed read with a box: the transfer must not pass a cut file off as
// the firmware.
TEST_F(FirmwareTest, ARawFileThatEndsBeforeItsSizeFailsWithABox) {
  const std::string path = dir_.Write("dsp.bin", Pattern(250));
  FilePtr file(std::fopen(path.c_str(), "rb"));
  ASSERT_NE(file, nullptr);
  FileBuffer copy;
  const ReadFault fault = ReadFileToSend(path, file.get(), 500, copy);
  EXPECT_EQ(fault.status, UPD_READ_FAILED);
  EXPECT_EQ(copy.data, nullptr);
  EXPECT_EQ(fault.text, "File " + path + " ended after 250 of its 500 bytes: it changed while it was read");
}

// Reset during a long read ends it between two pieces, quietly, and hands
// out nothing.
TEST_F(FirmwareTest, AnAbortDuringTheReadOfARawFileEndsIt) {
  std::atomic<bool> abort{false};
  const std::string content = Pattern(3 * kFileCopyChunkBytes + 10);
  const std::string path = dir_.Write("dsp.bin", content);
  FilePtr file(std::fopen(path.c_str(), "rb"));
  ASSERT_NE(file, nullptr);
  std::vector<uint64_t> pieces;
  FileBuffer copy;
  const ReadFault result = ReadFileToSend(
      path, file.get(), static_cast<uint32_t>(content.size()), copy, &abort,
      [&](uint64_t done) {
        pieces.push_back(done);
        abort = true;  // the operator's Reset
      });
  EXPECT_EQ(result.status, UPD_ABORTED);
  EXPECT_EQ(pieces, std::vector<uint64_t>{kFileCopyChunkBytes});
  EXPECT_EQ(copy.data, nullptr);
  EXPECT_EQ(result.text, "");
}

// The loader image is read whole too; Reset ends that read as well.
TEST_F(FirmwareTest, AnAbortEndsTheReadOfALoaderImage) {
  const std::string path = dir_.Write("ldr.s19", Pattern(4000));
  const std::atomic<bool> abort{true};
  FileBuffer image;
  const ReadFault fault = ReadWholeFile(path, image, &abort);
  EXPECT_EQ(fault.status, UPD_ABORTED);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(fault.text, "");
}

TEST_F(FirmwareTest, SendFileAbortedBeforeTheFirstBlockSendsNothingAndIsSilent) {
  SimPanel sim(ScannerFamily::kQZ600);
  const std::string path = dir_.Write("fpga.bin", Pattern(300));
  sim.Panel()->m_session.m_bAbort = true;

  EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), path, "FPGA"), UPD_ABORTED);
  EXPECT_EQ(sim.Received(), "");
  EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(FirmwareTest, SendFileStopsAtAFailedPortWriteInsteadOfReportingSuccess) {
  SimPanel sim(ScannerFamily::kQZ600);
  const std::string path = dir_.Write("uim.bin", Pattern(300));
  sim.Line().Unplug();

  EXPECT_EQ(SendFile(sim.Panel()->m_session, *sim.Panel(), path, "UIM"), UPD_LINK_DOWN);
  // No status line claims a block that never reached the scanner.
  EXPECT_TRUE(sim.Statuses().empty());
  EXPECT_EQ(sim.Panel()->m_progress.GetPos(), 0);
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
  EXPECT_EQ(boxes_.Boxes()[0].text, "The scanner's device is gone (unplugged or switched off)");
}

// ---- the rate of the last two blocks ----

TEST(BlockRate, FollowsTheLastTwoBlocksAndKeepsTheRateOverBlocksUnderATick) {
  struct Step {
    uint32_t bytes;
    uint32_t ms;
    uint32_t rate;
  };
  const std::vector<std::vector<Step>> runs = {
      // All blocks under one tick: the starting rate of 1 stays.
      {{100, 0, 1}, {100, 0, 1}, {50, 0, 1}},
      // (100 + 0) * 1000 / (10 + 0), then (100 + 100) * 1000 / (20 + 10).
      {{100, 10, 10000}, {100, 20, 6666}, {50, 0, 7500}},
      // Two blocks in the same tick keep the rate of the block before.
      {{100, 5, 20000}, {100, 0, 40000}, {100, 0, 40000}, {100, 4, 50000}},
  };
  for (size_t r = 0; r < runs.size(); ++r) {
    BlockRate rate;
    for (size_t i = 0; i < runs[r].size(); ++i) {
      EXPECT_EQ(rate.Add(runs[r][i].bytes, runs[r][i].ms), runs[r][i].rate)
          << "run " << r << " block " << i;
    }
  }
}

// ---- ReadWholeFile ----

TEST_F(FirmwareTest, ReadWholeFileHandsOutTheFileFollowedByAZeroByte) {
  for (size_t size : {0u, 1u, 99u, 100u, 101u, 250u, 4097u}) {
    const std::string content = Pattern(size);
    const std::string path = dir_.Write("ldr" + std::to_string(size) + ".s19", content);
    FileBuffer image;
    const ReadFault fault = ReadWholeFile(path, image);
    ASSERT_EQ(fault.status, UPD_OK) << size;
    EXPECT_EQ(fault.text, "") << size;
    ASSERT_EQ(image.size, size);
    EXPECT_EQ(std::string(image.data.get(), size), content) << size;
    EXPECT_EQ(image.data[size], '\0') << size;
  }
}

TEST_F(FirmwareTest, ReadWholeFileOfAMissingFileHandsOutNothing) {
  FileBuffer image;
  const ReadFault fault = ReadWholeFile(dir_.Missing("ldr.s19"), image);
  EXPECT_EQ(fault.status, UPD_FILE_OPEN_FAILED);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(fault.text, "ReadWholeFile : CreateFile");
}

TEST_F(FirmwareTest, AFileThatEndsBeforeItsSizeIsAFailedReadWithoutAMessage) {
  // The size was read as 500 but the file (it shrank meanwhile) holds 250.
  const std::string path = dir_.Write("ldr.s19", Pattern(250));
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  FileBuffer image;
  const ReadFault fault = ReadFileContents(path, file, 500, image);
  EXPECT_EQ(fault.status, UPD_READ_FAILED);
  std::fclose(file);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(fault.text, "");
}

TEST_F(FirmwareTest, AFailedReadNamesTheFileTheErrorAndTheReadsSoFar) {
  const std::string path = dir_.Write("ldr.s19", Pattern(250));
  // A stream opened only for writing fails every read with EBADF.
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  char probe;
  if (std::fread(&probe, 1, 1, file) != 0 || !std::ferror(file)) {
    std::fclose(file);
    GTEST_SKIP() << "this C library does not fail reads on a stream opened for writing";
  }
  std::clearerr(file);
  FileBuffer image;
  const ReadFault fault = ReadFileContents(path, file, 250, image);
  EXPECT_EQ(fault.status, UPD_READ_FAILED);
  std::fclose(file);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(fault.text, "Cannot read from file: <" + path + "> error 9  readtimes 0 dwTotRead 0\n");
}

// ---- the header tag ----

struct HeaderCase {
  const char* name;
  std::string text;
  size_t capacity;
  bool decoded;
  std::vector<int> bytes;  // with the terminating zero
};

class HeaderTag : public FirmwareTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderTag, DecodesTheFirstRecordUpToTheNextOne) {
  const HeaderCase& c = GetParam();
  const std::string path = dir_.Write("rcp.s19", c.text);
  std::vector<uint8_t> header(std::max<size_t>(256, c.capacity + 1), 0xEE);

  const ReadFault result = ReadHdrStr(path, header.data(), c.capacity);

  EXPECT_EQ(result.status, c.decoded ? UPD_OK : UPD_NO_HEADER);
  if (c.decoded) {
    EXPECT_THAT(fwtest::Bytes(header.data(), c.bytes.size()), ElementsAreArray(c.bytes));
    EXPECT_EQ(header[c.bytes.size()], 0xEE) << "written beyond the tag";
  }
  EXPECT_EQ(result.text, "");
}

const char kDataRecord[] = "S3150001FFF8000102030405060708090A0B0C0D0E0F7A\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, HeaderTag,
    ::testing::Values(
        // Two zero address bytes, the text HDR, the checksum, 0 for CR LF, terminator.
        HeaderCase{"Standard", std::string("S00600004844521B\r\n") + kDataRecord, 256, true,
                   {0x00, 0x00, 0x48, 0x44, 0x52, 0x1B, 0x00, 0x00}},
        // Exactly room for the seven bytes and the terminator.
        HeaderCase{"FitsExactly", std::string("S00600004844521B\r\n") + kDataRecord, 8, true,
                   {0x00, 0x00, 0x48, 0x44, 0x52, 0x1B, 0x00, 0x00}},
        HeaderCase{"OneByteShort", std::string("S00600004844521B\r\n") + kDataRecord, 7, false, {}},
        HeaderCase{"SingleLine", "S00600004844521B\r\n", 256, false, {}},
        HeaderCase{"Empty", "", 256, false, {}},
        HeaderCase{"NoRoomAtAll", std::string("S00600004844521B\r\n") + kDataRecord, 0, false, {}},
        // The next record beyond the first 4096 bytes is never seen.
        HeaderCase{"FirstRecordTooLong", "S0FF" + std::string(4100, '0') + "\r\n" + kDataRecord,
                   8192, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, ReadHdrStrOfAMissingFileIsAnOpenFailure) {
  uint8_t header[256];
  const ReadFault fault = ReadHdrStr(dir_.Missing("rcp.s19"), header, sizeof header);
  EXPECT_EQ(fault.status, UPD_FILE_OPEN_FAILED);
  EXPECT_EQ(fault.text, "ReadHdrStr : CreateFile");
}

// The engines show a reader's fault in the port's error box; a fault without
// a text (an abort, a header tag not found) shows none.
TEST_F(FirmwareTest, AReadersFaultBecomesTheRunsErrorBoxOfThePort) {
  SimPanel sim(ScannerFamily::kQZ600);
  EXPECT_EQ(ShowReadFault(*sim.Panel(), ReadFault{UPD_FILE_OPEN_FAILED, "ReadHdrStr : CreateFile"}),
            UPD_FILE_OPEN_FAILED);
  EXPECT_EQ(ShowReadFault(*sim.Panel(), ReadFault{UPD_ABORTED}), UPD_ABORTED);
  EXPECT_EQ(ShowReadFault(*sim.Panel(), ReadFault{}), UPD_OK);
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].caption, "COM9: Error");
  EXPECT_EQ(boxes_.Boxes()[0].text, "ReadHdrStr : CreateFile");
}

}  // namespace
