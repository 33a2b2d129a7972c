// Whole programming runs on a panel, from the port button to the closing
// key, against the scanner loader simulator on a sim line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "scanner_sim.h"
#include "support/link_fixture.h"
#include "update/send_proc.h"

namespace {

using linktest::WaitUntil;

const char kDone[] = "Programming Done. Please exit Vantorel before turning scanner power off.";
const char kFailed[] = "Programming sequence failed!";

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ProgrammingRun : public linktest::LinkFixture {
 protected:
  ProgrammingRun()
      : folder_(std::filesystem::temp_directory_path() / ("vt_link_run_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(folder_);
    rig.mainDlg.m_strLogPath.Set(folder_.string());
  }
  ~ProgrammingRun() override {
    rig.DestroyPanel();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string Log() const {
    std::ifstream in(folder_ / "LOGCOM3.000", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  bool ShowsReleased(CCommDialog& panel) {
    return WaitUntil([&] {
      return panel.m_strStatus.Get() == "Turn scanner power off" && panel.m_bButtonEnabled.load();
    });
  }

  std::filesystem::path folder_;
};

TEST_F(ProgrammingRun, FromThePortButtonToTheClosingKey) {
  scanner::ScannerSim scanner(rig.line, scanner::ScannerConfig::QZ600());
  CCommDialog& panel = rig.CreatePanel(/*usb=*/false, /*log=*/true);

  panel.Start();  // the port button
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_TRUE(panel.m_bBusy.load());
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == "Turn scanner power on"; }));

  scanner.PowerOn();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  EXPECT_EQ(panel.Identity().family, ScannerFamily::kQZ600);
  EXPECT_EQ(panel.Identity().loaderVersion, 20304);
  EXPECT_TRUE(panel.Identity().identified);
  EXPECT_FALSE(panel.m_bButtonEnabled.load()) << "given back only once the scanner is off";

  scanner.PowerOff();
  ASSERT_TRUE(ShowsReleased(panel));
  EXPECT_EQ(rig.boxes.BeepCount(), 1);
  EXPECT_EQ(panel.m_session.m_nReconnectPhase.load(), 0);
  EXPECT_TRUE(rig.boxes.Texts().empty());

  // The closing key goes out under flow control: the switched-off scanner
  // holds CTS low, so the loader sees it when it next comes up.
  scanner.PowerOn();
  ASSERT_TRUE(scanner.WaitForReceived("x", linktest::kPatienceMs));
  ASSERT_TRUE(WaitUntil([&] { return panel.m_bSendDone.load(); }));
  EXPECT_EQ(scanner.BannerCount(), 1);

  // A second run on the same panel reuses the identification: no wake-up,
  // the steps at once, and a second header in the log.
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  scanner.PowerOff();
  ASSERT_TRUE(ShowsReleased(panel));
  EXPECT_EQ(scanner.BannerCount(), 1);

  const std::string log = Log();
  EXPECT_EQ(Occurrences(log, "*****************************************\r\n* Date: "), 2u);
  EXPECT_EQ(Occurrences(log, "QZ6 Boot Loader version 2.3.4 Build 1203"), 1u);
  EXPECT_EQ(log.find("*********"), 0u) << "the run header comes before what the scanner said";
}

TEST_F(ProgrammingRun, StartWhileTheClosingKeyIsHeldDropsThatKey) {
  scanner::ScannerSim scanner(rig.line, scanner::ScannerConfig::QZ600());
  CCommDialog& panel = rig.CreatePanel();
  panel.Start();
  scanner.PowerOn();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  scanner.PowerOff();
  ASSERT_TRUE(ShowsReleased(panel));
  // The first run's closing key is held by CTS when the operator presses
  // the button again: the new run must not wait for it, and that key never
  // reaches the next scanner.
  panel.Start();
  ASSERT_TRUE(ShowsReleased(panel));
  scanner.PowerOn();
  ASSERT_TRUE(scanner.WaitForReceived("x", linktest::kPatienceMs));
  ASSERT_TRUE(WaitUntil([&] { return panel.m_bSendDone.load(); }));
  const std::vector<uint8_t> received = scanner.Received();
  EXPECT_EQ(std::count(received.begin(), received.end(), 'x'), 1);
}

TEST_F(ProgrammingRun, OutcomeText) {
  struct Case {
    const char* ldrFile;
    const char* outcome;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"", kDone, {}},
      {"loader.hex", kFailed, {"Missing permission to overwrite Loader"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome);
    rig.boxes.Clear();
    rig.mainDlg.m_strLdrFileQZ6.Set(c.ldrFile);
    scanner::ScannerSim scanner(rig.line, scanner::ScannerConfig::QZ500());
    scanner.PowerOn();
    CCommDialog& panel = rig.CreatePanel();
    panel.Start();
    ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == c.outcome; }));
    EXPECT_EQ(panel.Identity().family, ScannerFamily::kQZ500);
    EXPECT_EQ(rig.boxes.Texts(), c.boxes);
    scanner.PowerOff();
    ASSERT_TRUE(ShowsReleased(panel));
    rig.DestroyPanel();
  }
}

TEST_F(ProgrammingRun, UnpluggedScannerCountsAsSwitchedOff) {
  // A USB scanner pulled out while the panel waits for it to be switched
  // off: its modem lines can no longer be read, and the panel is given back.
  scanner::ScannerSim scanner(rig.line, scanner::ScannerConfig::QZ600());
  scanner.PowerOn();
  CCommDialog& panel = rig.CreatePanel();
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  scanner.Unplug();
  ASSERT_TRUE(ShowsReleased(panel));
  ASSERT_TRUE(WaitUntil([&] { return panel.m_bSendDone.load(); }));
}

}  // namespace
