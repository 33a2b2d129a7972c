// Whole programming runs on a sim line against the scanner loader simulator,
// one per family with every component configured: what reached the scanner
// must be the firmware byte for byte, the loader image must carry the
// scanner's own special block, and the run must show its texts in order.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "link/update_status.h"
#include "support/sim_srecords.h"
#include "support/update_fixture.h"

namespace {

using scanner::Component;
using scanner::ScannerConfig;
using updtest::FirmwareDir;
using updtest::UpdateRig;

// Image layout: data records of 32 bytes starting 16 bytes off a 32-byte
// boundary, so records straddle every 64 KB boundary the data crosses.
constexpr uint32_t kRcpAddress = 0x10;
constexpr size_t kRcpBytes = 70 * 1024;    // two 64 KB blocks where RCP goes in blocks
constexpr uint32_t kVtcAddress = 0x8010;
constexpr size_t kVtcBytes = 150 * 1024;   // 0x8010..0x2E010: three blocks
constexpr uint32_t kLdrAddressMV2 = 0x10000;
constexpr uint32_t kLdrAddressFirstGen = 0x4000;
constexpr size_t kLdrBytes = 40 * 1024;

struct WholeRun {
  const char* name;
  ScannerConfig config;
  const char* rcpHeader;
  size_t rcpBlocks;
  std::string keys;  // every key typed at the loader, wake-ups aside
  std::vector<std::string> statuses;  // shown in this order
  int powerCycles;
  bool keepsBlock;
};

void PrintTo(const WholeRun& c, std::ostream* os) { *os << c.name; }

// Runs the family's whole sequence and checks what reached the scanner. With
// packets, the loader's output reaches the port as a USB serial adapter
// hands it over: in packets of random size with pauses between them, so each
// message is cut differently into reads and may still be arriving when the
// program has found what it waits for.
void RunWhole(const WholeRun& c, bool packets) {
  FirmwareDir dir;
  UpdateRig rig(c.config);
  if (packets) rig.line->SetPacketizing(1, 64, 4000, 20261211);
  CProgrammerDlg& settings = rig.Settings();
  const bool mv2 = c.config.IsMv2();

  const auto rcpBytes = updtest::Pattern(kRcpBytes, 1);
  const auto vtcBytes = updtest::Pattern(kVtcBytes, 2);
  const auto ldrBytes = updtest::Pattern(kLdrBytes, 3);
  const uint32_t ldrAddress = mv2 ? kLdrAddressMV2 : kLdrAddressFirstGen;
  const std::string rcp = dir.SRecords("app.rcp", rcpBytes, kRcpAddress, c.rcpHeader);
  const std::string vtc = dir.SRecords("data.vtc", vtcBytes, kVtcAddress, "VTC image");
  const std::string ldr = dir.SRecords("boot.ldr", ldrBytes, ldrAddress, "LDR");
  const auto fpga = updtest::Pattern(20000, 4, false);
  const auto uim = updtest::Pattern(12000, 5, false);
  const auto cpld = updtest::Pattern(8000, 6, false);
  const auto dsp = updtest::Pattern(16000, 7, false);

  settings.m_bPermitLoaderOverwrite = true;
  if (mv2) {
    settings.m_strRcpFileMV2.Set(rcp);
    settings.m_strVtcFileMV2.Set(vtc);
    settings.m_strFpgaFileMV2.Set(dir.WriteBytes("logic.fpga", fpga));
    settings.m_strUimFileMV2.Set(dir.WriteBytes("agent.uim", uim));
    settings.m_strLdrFileMV2.Set(ldr);
  } else {
    settings.m_strRcpFileQZ6.Set(rcp);
    settings.m_strVtcFileQZ6.Set(vtc);
    settings.m_strLdrFileQZ6.Set(ldr);
    if (c.powerCycles > 0) {
      settings.m_strCpldFileQZ6.Set(dir.WriteBytes("logic.pld", cpld));
      settings.m_strDspFileQZ6.Set(dir.WriteBytes("code.dsp", dsp));
    }
  }

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;
  EXPECT_EQ(rig.sim.KeysTyped(), c.keys);
  EXPECT_TRUE(rig.StatusesInOrder(c.statuses));
  EXPECT_EQ(rig.CycleRequests(), c.powerCycles);
  EXPECT_TRUE(rig.sim.RecordErrors().empty()) << rig.sim.RecordErrors().front().text;

  // The images as the scanner assembled them, and the blocks they came in.
  EXPECT_EQ(rig.sim.BlockCount(Component::kRcp), c.rcpBlocks);
  EXPECT_EQ(rig.sim.BlockCount(Component::kVtc), 3u);
  EXPECT_EQ(rig.sim.RewrittenBytes(Component::kVtc), 0u);
  EXPECT_TRUE(FirmwareDir::SameData(rcp, dir.Assembled(rig.sim, Component::kRcp, "rcp.sim")));
  if (c.rcpBlocks == 1) {
    // One pass sends the file's own records as they stand, the count record
    // included: for a file in address order, the file itself.
    const std::vector<uint8_t> sent = rig.sim.Transfers(Component::kRcp)[0];
    EXPECT_EQ(std::string(sent.begin(), sent.end()), FirmwareDir::Read(rcp));
  }
  EXPECT_TRUE(FirmwareDir::SameData(vtc, dir.Assembled(rig.sim, Component::kVtc, "vtc.sim")));

  // Raw files arrive unchanged.
  if (mv2) {
    ASSERT_EQ(rig.sim.BlockCount(Component::kFpga), 1u);
    EXPECT_EQ(rig.sim.Transfers(Component::kFpga)[0], fpga);
    ASSERT_EQ(rig.sim.BlockCount(Component::kUim), 1u);
    EXPECT_EQ(rig.sim.Transfers(Component::kUim)[0], uim);
  } else if (c.powerCycles > 0) {
    ASSERT_EQ(rig.sim.BlockCount(Component::kCpld), 1u);
    EXPECT_EQ(rig.sim.Transfers(Component::kCpld)[0], cpld);
    ASSERT_EQ(rig.sim.BlockCount(Component::kDsp), 1u);
    EXPECT_EQ(rig.sim.Transfers(Component::kDsp)[0], dsp);
  }

  // The new loader, and the scanner's own 64 bytes at the top of its range
  // (QZ600 and MV2), or the file exactly as it is (QZ500).
  bool complete = false;
  EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, ldrAddress, kLdrBytes, &complete), ldrBytes);
  EXPECT_TRUE(complete);
  if (c.keepsBlock) {
    const uint32_t blockAddress = mv2 ? 0x1FFC0 : 0xFFC0;
    const std::vector<uint8_t> own(c.config.specialBlock.begin(), c.config.specialBlock.end());
    EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, blockAddress, 64, &complete), own);
    EXPECT_TRUE(complete);
    EXPECT_EQ(rig.sim.Memory(Component::kLdr).Size(), kLdrBytes + 64);
  } else {
    ASSERT_EQ(rig.sim.BlockCount(Component::kLdr), 1u);
    const std::vector<uint8_t> sent = rig.sim.Transfers(Component::kLdr)[0];
    EXPECT_EQ(std::string(sent.begin(), sent.end()), FirmwareDir::Read(ldr));
    EXPECT_EQ(rig.sim.DumpCount(), 0);
  }
  EXPECT_EQ(rig.panel->m_progress.GetPos(), 0);

  // The operator switches the scanner off; the panel is handed back.
  ASSERT_TRUE(rig.SwitchOff());
  EXPECT_GE(rig.boxes.BeepCount(), 1);
  EXPECT_EQ(rig.panel->m_session.m_nReconnectPhase.load(), 0);
}

class WholeRunTest : public ::testing::TestWithParam<WholeRun> {};

TEST_P(WholeRunTest, WritesEveryComponentAndKeepsTheSpecialBlock) { RunWhole(GetParam(), false); }

class WholeRunInPacketsTest : public ::testing::TestWithParam<WholeRun> {};

TEST_P(WholeRunInPacketsTest, WritesEveryComponentWhateverThePacketsOfTheAdapter) {
  RunWhole(GetParam(), true);
}

std::vector<WholeRun> WholeRuns() {
  return {
      {"MV2", ScannerConfig::MV2(), "RCPMV2 application", 1,
       "1" "111" "3" "8" "7" "1FFC0\r" "20000\r" "a",
       {"Connected", "RCP file read complete.", "RCP Download Complete", "VTC file read complete.",
        "VTC Download Complete", "FPGA Programming...", "UIM Done", "LDR Done", updtest::kDoneText},
       0, true},
      {"QZ600", ScannerConfig::QZ600(), "QZ6 application", 1,
       "1" "111" "31" "9y" "7" "FFC0\r" "10000\r" "a",
       {"Connected", "RCP Download Complete", "VTC Download Complete", "PLD Done",
        "PLD programming!  Wait for auto-connect", updtest::kCycleText, "Connected", "DSP Done",
        "LDR Done", updtest::kDoneText},
       1, true},
      {"QZ500", ScannerConfig::QZ500(), "QZ500 application", 2,
       "11" "111" "a",
       {"Connected", "RCP Download Complete", "VTC Download Complete", "LDR Done",
        updtest::kDoneText},
       0, false},
  };
}

// A record that runs over a 64 KB boundary ends the first block with its
// first part; the second block starts with the rest. Each block is framed
// with the header, a count record of its own and the termination record.
TEST(VtcBlocksTest, RecordAcrossABoundaryGoesInTwoBlocks) {
  FirmwareDir dir;
  UpdateRig rig(ScannerConfig::MV2());
  const std::string header = simtest::Record('0', 0, 2, {'V', 'T', 'C'});
  const std::string termination = simtest::Record('7', 0, 4, {});
  std::vector<uint8_t> data(16);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  rig.Settings().m_strVtcFileMV2.Set(dir.Write(
      "one.vtc", header + simtest::Record('3', 0xFFF8, 4, data) + simtest::CountRecord(1) +
                     termination));

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  const auto blocks = rig.sim.Transfers(Component::kVtc);
  ASSERT_EQ(blocks.size(), 2u);
  const std::vector<uint8_t> first(data.begin(), data.begin() + 8);
  const std::vector<uint8_t> second(data.begin() + 8, data.end());
  EXPECT_EQ(std::string(blocks[0].begin(), blocks[0].end()),
            header + simtest::Record('3', 0xFFF8, 4, first) + "S50500000001F9\r\n" + termination);
  EXPECT_EQ(std::string(blocks[1].begin(), blocks[1].end()),
            header + simtest::Record('3', 0x10000, 4, second) + "S50500000001F9\r\n" +
                termination);
  EXPECT_EQ(rig.sim.KeysTyped(), "11");
  EXPECT_TRUE(rig.SwitchOff());
}

// Records that meet a 64 KB boundary without running over it (the usual
// layout of a file with aligned records) still end their block there: the
// loader's flash write takes one 64 KB page, so a block never reaches into
// the next one, nor across a gap in the data.
TEST(VtcBlocksTest, EveryBlockStaysInsideOne64KBPage) {
  FirmwareDir dir;
  UpdateRig rig(ScannerConfig::QZ600());
  const std::string header = simtest::Record('0', 0, 2, {'V', 'T', 'C'});
  const std::string termination = simtest::Record('7', 0, 4, {});
  const std::vector<uint8_t> low = updtest::Pattern(16, 31);
  const std::vector<uint8_t> high = updtest::Pattern(16, 32);
  const std::vector<uint8_t> far = updtest::Pattern(16, 33);
  rig.Settings().m_strVtcFileQZ6.Set(dir.Write(
      "aligned.vtc", header + simtest::Record('3', 0xFFF0, 4, low) +
                         simtest::Record('3', 0x10000, 4, high) +
                         simtest::Record('3', 0x30100, 4, far) + simtest::CountRecord(3) +
                         termination));

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  const auto blocks = rig.sim.Transfers(Component::kVtc);
  ASSERT_EQ(blocks.size(), 3u);
  const std::string expected[] = {
      header + simtest::Record('3', 0xFFF0, 4, low) + "S50500000001F9\r\n" + termination,
      header + simtest::Record('3', 0x10000, 4, high) + "S50500000001F9\r\n" + termination,
      header + simtest::Record('3', 0x30100, 4, far) + "S50500000001F9\r\n" + termination,
  };
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(std::string(blocks[i].begin(), blocks[i].end()), expected[i]) << "block " << i + 1;
  }
  EXPECT_TRUE(rig.sim.RecordErrors().empty());
  EXPECT_TRUE(rig.SwitchOff());
}

// A loader image with bytes of its own where the scanner keeps its special
// block: a record below the block that reaches into it, records inside it,
// and one just above it. The scanner must end with its own block, the image's
// bytes outside the block's range, and no byte of its flash written twice.
struct BlockRangeRun {
  const char* name;
  ScannerConfig config;
  char type;          // data record type of the image
  int addressBytes;
  uint32_t low;       // the loader's first data
  uint32_t blockAddress;
};

void PrintTo(const BlockRangeRun& c, std::ostream* os) { *os << c.name; }

class BlockRangeRunTest : public ::testing::TestWithParam<BlockRangeRun> {};

TEST_P(BlockRangeRunTest, TheScannerKeepsItsOwnBlockOverTheImagesBytes) {
  const BlockRangeRun& c = GetParam();
  FirmwareDir dir;
  UpdateRig rig(c.config);
  const auto low = updtest::Pattern(32, 41);
  const auto straddling = updtest::Pattern(32, 42);  // 16 bytes below the block, 16 in it
  const auto inside = updtest::Pattern(16, 43);
  const auto upper = updtest::Pattern(32, 44);       // the block's upper half
  const auto above = updtest::Pattern(16, 45);
  const uint32_t b = c.blockAddress;
  auto data = [&](uint32_t address, const std::vector<uint8_t>& bytes) {
    return simtest::Record(c.type, address, c.addressBytes, bytes);
  };
  std::string image = simtest::Record('0', 0, 2, {'L', 'D', 'R'}) + data(c.low, low) +
                      data(b - 16, straddling) + data(b, inside) + data(b + 32, upper);
  size_t records = 4;
  // An S1 image cannot go above 0xFFFF.
  if (c.addressBytes > 2) {
    image += data(b + 64, above);
    ++records;
  }
  image += simtest::CountRecord(static_cast<uint32_t>(records)) +
           simtest::Record(c.addressBytes == 2 ? '9' : '7', 0, c.addressBytes == 2 ? 2 : 4, {});
  CProgrammerDlg& settings = rig.Settings();
  settings.m_bPermitLoaderOverwrite = true;
  ASSERT_TRUE(settings.m_bPreserveSerialNumber.load());
  const std::string ldr = dir.Write("boot.ldr", image);
  if (c.config.IsMv2()) {
    settings.m_strLdrFileMV2.Set(ldr);
  } else {
    settings.m_strLdrFileQZ6.Set(ldr);
  }

  ASSERT_EQ(rig.Run(), updtest::kDoneText);
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;
  // The loader's count check agrees with the records that came.
  EXPECT_TRUE(rig.sim.RecordErrors().empty()) << rig.sim.RecordErrors().front().text;
  EXPECT_EQ(rig.sim.RewrittenBytes(Component::kLdr), 0u);
  const std::vector<uint8_t> own(c.config.specialBlock.begin(), c.config.specialBlock.end());
  bool complete = false;
  EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, b, 64, &complete), own);
  EXPECT_TRUE(complete);
  EXPECT_EQ(rig.sim.CurrentSpecialBlock(), c.config.specialBlock);
  EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, c.low, 32), low);
  EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, b - 16, 16),
            std::vector<uint8_t>(straddling.begin(), straddling.begin() + 16));
  if (c.addressBytes > 2) {
    EXPECT_EQ(rig.sim.ReadMemory(Component::kLdr, b + 64, 16), above);
  }
  EXPECT_EQ(rig.sim.Memory(Component::kLdr).Size(), 32 + 16 + 64 + (c.addressBytes > 2 ? 16u : 0u));
  EXPECT_TRUE(rig.SwitchOff());
}

INSTANTIATE_TEST_SUITE_P(
    Families, BlockRangeRunTest,
    ::testing::Values(BlockRangeRun{"MV2", ScannerConfig::MV2(), '3', 4, 0x10000, 0x1FFC0},
                      BlockRangeRun{"QZ600", ScannerConfig::QZ600(), '1', 2, 0x4000, 0xFFC0},
                      BlockRangeRun{"QZ600WithS3Records", ScannerConfig::QZ600(), '3', 4, 0x4000,
                                    0xFFC0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Families, WholeRunTest, ::testing::ValuesIn(WholeRuns()),
                         [](const auto& info) { return std::string(info.param.name); });

// The two families whose runs hold every kind of step: menus, the Image
// Store Area, raw files, the logic device's restart, the dump and the splice.
std::vector<WholeRun> PacketRuns() {
  std::vector<WholeRun> runs;
  for (const WholeRun& run : WholeRuns()) {
    if (std::string(run.name) != "QZ500") runs.push_back(run);
  }
  return runs;
}

INSTANTIATE_TEST_SUITE_P(Families, WholeRunInPacketsTest, ::testing::ValuesIn(PacketRuns()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
