// Scanners of different families on one station at the same time: each port
// must program its own scanner with its own family's firmware and keep its
// own operator texts, whatever the other ports identify meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/station_rig.h"
#include "support/update_fixture.h"

namespace {

using scanner::Component;
using scanner::ScannerConfig;
using updtest::FirmwareDir;
using updtest::StationRig;

// The firmware of one family, every byte its own.
struct FamilyFirmware {
  bool mv2;
  uint32_t seed;
  std::vector<uint8_t> rcp, vtc, ldr, logic, code;  // logic: FPGA or CPLD; code: UIM or DSP
  uint32_t ldrAddress;
  std::string rcpPath, vtcPath, ldrPath, logicPath, codePath;

  FamilyFirmware(const FirmwareDir& dir, bool mv2, uint32_t seed)
      : mv2(mv2),
        seed(seed),
        rcp(updtest::Pattern(20 * 1024, seed + 1)),
        vtc(updtest::Pattern(60 * 1024, seed + 2)),
        ldr(updtest::Pattern(8 * 1024, seed + 3)),
        logic(updtest::Pattern(6000, seed + 4, false)),
        code(updtest::Pattern(5000, seed + 5, false)),
        ldrAddress(mv2 ? 0x10000 : 0x4000) {
    const std::string tag = mv2 ? "mv2" : "qz6";
    rcpPath = dir.SRecords(tag + ".rcp", rcp, kRcpAddress, mv2 ? "RCPMV2 app" : "QZ6 app");
    vtcPath = dir.SRecords(tag + ".vtc", vtc, kVtcAddress, mv2 ? "VTC MV2" : "VTC QZ6");
    ldrPath = dir.SRecords(tag + ".ldr", ldr, ldrAddress, "LDR");
    logicPath = dir.WriteBytes(tag + (mv2 ? ".fpga" : ".pld"), logic);
    codePath = dir.WriteBytes(tag + (mv2 ? ".uim" : ".dsp"), code);
  }

  void Configure(CProgrammerDlg& settings) const {
    if (mv2) {
      settings.m_strRcpFileMV2.Set(rcpPath);
      settings.m_strVtcFileMV2.Set(vtcPath);
      settings.m_strFpgaFileMV2.Set(logicPath);
      settings.m_strUimFileMV2.Set(codePath);
      settings.m_strLdrFileMV2.Set(ldrPath);
    } else {
      settings.m_strRcpFileQZ6.Set(rcpPath);
      settings.m_strVtcFileQZ6.Set(vtcPath);
      settings.m_strCpldFileQZ6.Set(logicPath);
      settings.m_strDspFileQZ6.Set(codePath);
      settings.m_strLdrFileQZ6.Set(ldrPath);
    }
  }

  static constexpr uint32_t kRcpAddress = 0x10;
  static constexpr uint32_t kVtcAddress = 0xF010;  // crosses 0x10000: two blocks
};

std::vector<uint8_t> Memory(const scanner::ScannerSim& sim, Component component, uint32_t address,
                            size_t length) {
  bool complete = false;
  std::vector<uint8_t> bytes = sim.ReadMemory(component, address, length, &complete);
  if (!complete) bytes.clear();
  return bytes;
}

std::vector<uint8_t> Only(const scanner::ScannerSim& sim, Component component) {
  const auto transfers = sim.Transfers(component);
  return transfers.size() == 1 ? transfers[0] : std::vector<uint8_t>{};
}

// A QZ600 and an MV2 switched on together, every component configured for
// both: each scanner ends up with exactly its own family's firmware, and its
// own special block at its own family's place in the new loader.
TEST(MixedFamilies, EachScannerGetsItsOwnFamilysFirmware) {
  FirmwareDir dir;
  const FamilyFirmware qz6(dir, false, 100);
  const FamilyFirmware mv2(dir, true, 200);
  StationRig rig;
  qz6.Configure(rig.settings);
  mv2.Configure(rig.settings);
  rig.settings.m_bPermitLoaderOverwrite = true;

  struct Expected {
    ScannerConfig config;
    const FamilyFirmware& firmware;
    ScannerFamily family;
  };
  const Expected expected[] = {{ScannerConfig::QZ600(), qz6, ScannerFamily::kQZ600},
                               {ScannerConfig::MV2(), mv2, ScannerFamily::kMV2}};
  for (uint16_t i = 0; i < 2; ++i) rig.AddPort(i + 1, expected[i].config);
  for (size_t i = 0; i < 2; ++i) rig.CreatePanel(rig[i]).Start();

  ASSERT_TRUE(rig.RunAll());
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;

  for (size_t i = 0; i < 2; ++i) {
    const Expected& e = expected[i];
    const FamilyFirmware& fw = e.firmware;
    const scanner::ScannerSim& sim = *rig[i].sim;
    SCOPED_TRACE(rig[i].name);
    EXPECT_EQ(rig[i].Outcome(), updtest::kDoneText);
    EXPECT_EQ(rig[i].panel->Identity().family, e.family);
    EXPECT_TRUE(sim.RecordErrors().empty());

    EXPECT_EQ(Memory(sim, Component::kRcp, FamilyFirmware::kRcpAddress, fw.rcp.size()), fw.rcp);
    EXPECT_EQ(sim.Memory(Component::kRcp).Size(), fw.rcp.size());
    EXPECT_EQ(Memory(sim, Component::kVtc, FamilyFirmware::kVtcAddress, fw.vtc.size()), fw.vtc);
    EXPECT_EQ(sim.Memory(Component::kVtc).Size(), fw.vtc.size());
    EXPECT_EQ(sim.BlockCount(Component::kVtc), 2u);
    if (fw.mv2) {
      EXPECT_EQ(Only(sim, Component::kFpga), fw.logic);
      EXPECT_EQ(Only(sim, Component::kUim), fw.code);
      EXPECT_EQ(sim.BlockCount(Component::kCpld) + sim.BlockCount(Component::kDsp), 0u);
    } else {
      EXPECT_EQ(Only(sim, Component::kCpld), fw.logic);
      EXPECT_EQ(Only(sim, Component::kDsp), fw.code);
      EXPECT_EQ(sim.BlockCount(Component::kFpga) + sim.BlockCount(Component::kUim), 0u);
      // One pass: the file itself went to the scanner.
      const std::vector<uint8_t> sent = Only(sim, Component::kRcp);
      EXPECT_EQ(std::string(sent.begin(), sent.end()), FirmwareDir::Read(fw.rcpPath));
    }

    // The new loader, with the scanner's own 64 bytes where its family keeps them.
    EXPECT_EQ(Memory(sim, Component::kLdr, fw.ldrAddress, fw.ldr.size()), fw.ldr);
    const uint32_t blockAddress = e.config.SpecialBlockAddress();
    EXPECT_EQ(blockAddress, fw.mv2 ? 0x1FFC0u : 0xFFC0u);
    const std::vector<uint8_t> own(e.config.specialBlock.begin(), e.config.specialBlock.end());
    EXPECT_EQ(Memory(sim, Component::kLdr, blockAddress, 64), own);
    EXPECT_EQ(sim.Memory(Component::kLdr).Size(), fw.ldr.size() + 64);
  }
}

// A single-pass RCP download to a QZ600 sends the file's records as they are,
// even when another port identifies a QZ500 (whose downloads go in blocks)
// while the transfer is under way.
TEST(MixedFamilies, SinglePassRcpIsNotSplitWhenAnotherPortIdentifiesAQZ500) {
  FirmwareDir dir;
  // 70 KB from 0x10 in 32-byte records: one record runs over 0x10000.
  const std::string rcp =
      dir.SRecords("qz6.rcp", updtest::Pattern(70 * 1024, 7), 0x10, "QZ6 application");
  StationRig rig;
  rig.settings.m_strRcpFileQZ6.Set(rcp);
  StationRig::Port& qz600 = rig.AddPort(1, ScannerConfig::QZ600());
  StationRig::Port& qz500 = rig.AddPort(2, ScannerConfig::QZ500());
  CCommDialog& panel = rig.CreatePanel(qz600);

  // As the first records have gone out, the QZ500's USB panel opens and
  // identifies its scanner; the QZ600's transfer waits until it has.
  bool identifiedMidTransfer = false;
  panel.m_progress.SetObserver([&](int pos) {
    if (pos <= 0 || qz500.panel) return;
    qz500.sim->PowerOn();
    CCommDialog& other = rig.CreatePanel(qz500, /*usb=*/true);
    identifiedMidTransfer = linktest::WaitUntil(
        [&] { return other.Identity().identified; },
        updtest::kRunPatienceMs);
  });
  qz600.sim->PowerOn();
  panel.Start();

  ASSERT_TRUE(linktest::WaitUntil([&] { return !qz600.Outcome().empty(); },
                                  updtest::kRunPatienceMs));
  panel.m_progress.SetObserver({});
  EXPECT_TRUE(identifiedMidTransfer);
  EXPECT_EQ(qz500.panel->Identity().family, ScannerFamily::kQZ500);
  EXPECT_EQ(panel.Identity().family, ScannerFamily::kQZ600);
  EXPECT_EQ(qz600.Outcome(), updtest::kDoneText);
  ASSERT_EQ(qz600.sim->BlockCount(Component::kRcp), 1u);
  const std::vector<uint8_t> sent = Only(*qz600.sim, Component::kRcp);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), FirmwareDir::Read(rcp));
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;
}

// A QZ600 whose logic device was programmed waits for its power to be cycled;
// a panel started on another port meanwhile asks for its own scanner to be
// switched on, and each port shows its own texts to the end.
TEST(MixedFamilies, PhaseTextsStayWithTheirPortAcrossALogicRestart) {
  FirmwareDir dir;
  StationRig rig;
  rig.settings.m_strCpldFileQZ6.Set(dir.WriteBytes("logic.pld", updtest::Pattern(3000, 5, false)));
  StationRig::Port& restarting = rig.AddPort(1, ScannerConfig::QZ600());
  StationRig::Port& other = rig.AddPort(2, ScannerConfig::MV2());
  rig.CreatePanel(restarting).Start();

  // The QZ600's operator holds back the power cycle until the other port is done.
  const std::vector<bool> holdCycle = {false, true};
  ASSERT_TRUE(rig.OperateUntil([&] { return restarting.StatusSeen(updtest::kCycleText); }, holdCycle));
  rig.CreatePanel(other).Start();
  ASSERT_TRUE(rig.OperateUntil([&] { return !other.Outcome().empty(); }, holdCycle));
  ASSERT_TRUE(rig.RunAll());

  EXPECT_EQ(restarting.Outcome(), updtest::kDoneText);
  EXPECT_EQ(other.Outcome(), updtest::kDoneText);
  const std::vector<std::string> otherTexts = other.Statuses();
  ASSERT_FALSE(otherTexts.empty());
  EXPECT_EQ(otherTexts.front(), "Turn scanner power on");
  for (const char* foreign : {"PLD programming!  Wait for auto-connect",
                              "FPGA programming!  Wait for auto-connect", updtest::kCycleText}) {
    EXPECT_EQ(std::count(otherTexts.begin(), otherTexts.end(), foreign), 0) << foreign;
  }
  const std::vector<std::string> own = restarting.Statuses();
  const std::vector<std::string> order = {"Turn scanner power on", "PLD Done",
                                          "PLD programming!  Wait for auto-connect",
                                          updtest::kCycleText, "Connected", updtest::kDoneText};
  auto at = own.begin();
  for (const std::string& text : order) {
    at = std::find(at, own.end(), text);
    EXPECT_NE(at, own.end()) << text;
  }
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;
}

}  // namespace
