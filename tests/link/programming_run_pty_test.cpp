// A whole programming run through the operating system's serial port: the
// panel opens a pseudo-terminal through the POSIX backend and the loader
// simulator answers on its master side, so every byte passes the kernel's tty
// layer. Switching the scanner off closes the master, which the panel sees as
// a hang-up: CTS and DSR read off.
#include <gtest/gtest.h>

#include <string>

#include "scanner_sim.h"
#include "scanner_transport.h"
#include "support/link_fixture.h"

namespace {

using linktest::WaitUntil;

const char kDone[] = "Programming Done. Please exit Vantorel before turning scanner power off.";

TEST(ProgrammingRunPty, FromThePortButtonToTheReleaseThroughTheTtyLayer) {
  linktest::LinkRig rig("COM3", 3);
  std::string slavePath, error;
  auto transport = scanner::OpenPtyTransport(slavePath, error);
  ASSERT_TRUE(transport) << error;
  scanner::ScannerSim scanner(std::move(transport), scanner::ScannerConfig::MV2());

  // COM3 leads to the pseudo-terminal, opened by the operating system's backend.
  platform::InstallPortOpener({});
  platform::SetPortMap([slavePath](const std::string& name) {
    return name == "COM3" ? slavePath : std::string();
  });
  struct RestoreMap {
    ~RestoreMap() { platform::SetPortMap({}); }
  } restoreMap;

  CCommDialog& panel = rig.CreatePanel();
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == "Turn scanner power on"; }));

  scanner.PowerOn();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }))
      << panel.m_strStatus.Get();
  EXPECT_EQ(panel.Identity().family, ScannerFamily::kMV2);
  EXPECT_EQ(panel.Identity().loaderVersion, 30100);
  EXPECT_EQ(panel.Identity().boardVersion, 49);
  EXPECT_TRUE(scanner.WaitForReceived("****", linktest::kPatienceMs));
  EXPECT_FALSE(panel.m_bButtonEnabled.load()) << "given back only once the scanner is off";

  scanner.PowerOff();
  ASSERT_TRUE(WaitUntil([&] {
    return panel.m_strStatus.Get() == "Turn scanner power off" && panel.m_bButtonEnabled.load();
  })) << panel.m_strStatus.Get();
  EXPECT_EQ(rig.boxes.BeepCount(), 1);
  // The hung-up line after the outcome is the scanner switched off, as
  // asked: no box.
  EXPECT_TRUE(rig.boxes.Boxes().empty()) << rig.boxes.Boxes().front().text;
  rig.DestroyPanel();
}

}  // namespace
