#include "link/handshake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/link_fixture.h"

namespace {

using linktest::LinkFixture;
using linktest::WakeUpResponder;

class HandshakeTest : public LinkFixture {
 protected:
  void SetUp() override {
    rig.CreatePanel();
    rig.line->SetPower(true);
    // The handshake opens the receiver's gate itself.
    rig.StartReceiverOnly(/*gateOpen=*/false);
  }
};

struct BannerCase {
  const char* what;
  ScannerFamily familyBefore;
  std::vector<std::string> replies;
  ScannerFamily family;
  int loaderVersion;
  int boardVersion;  // the panel starts with 7, so an unchanged one shows
  int wakeUps;
  std::vector<std::string> boxes;
};

class BannerTest : public HandshakeTest, public testing::WithParamInterface<BannerCase> {};

TEST_P(BannerTest, SetsFamilyAndVersions) {
  const BannerCase& c = GetParam();
  rig.panel->ShowIdentity(ScannerIdentity{.family = c.familyBefore, .boardVersion = 7});
  UpdateStatus result;
  {
    WakeUpResponder scanner(rig.line, c.replies);
    result = IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result;
    EXPECT_EQ(scanner.WakeUps(), c.wakeUps);
  }
  EXPECT_EQ(result, UPD_OK);
  EXPECT_EQ(rig.panel->Identity().family, c.family);
  EXPECT_EQ(rig.panel->Identity().loaderVersion, c.loaderVersion);
  EXPECT_EQ(rig.panel->Identity().boardVersion, c.boardVersion);
  EXPECT_TRUE(rig.panel->Identity().identified);
  EXPECT_EQ(rig.panel->m_strStatus.Get(), "Connected");
  EXPECT_EQ(rig.boxes.Texts(), c.boxes);
  EXPECT_EQ(rig.panel->m_session.m_bCts.load(), platform::MS_CTS_ON);
  EXPECT_EQ(rig.panel->m_session.m_bDsr.load(), platform::MS_DSR_ON);
  EXPECT_EQ(rig.FarReceived(), std::string(4 * c.wakeUps, '*'));
}

const char kBoardMissing[] = "Board ID not found - error: 2";

INSTANTIATE_TEST_SUITE_P(
    Banners, BannerTest,
    testing::Values(
        BannerCase{"QZ600 loader 2.3.4", ScannerFamily::kNone, {"\r\nZEV QZ600 Loader version 2.3.4 Build 1203\r\n"},
                   ScannerFamily::kQZ600, 20304, 7, 1, {}},
        BannerCase{"loader 3.x is MV2 whatever the digit; board 4.9 reads 49", ScannerFamily::kQZ600,
                   {"QZ6 Loader version 3.0.1 Build 77\r\nBoard: MV2 version 4.9 Loader menu\r\n"},
                   ScannerFamily::kMV2, 30001, 49, 1, {}},
        BannerCase{"QZ500 with several spaces after version", ScannerFamily::kNone, {"QZ5 version    1.1.1 Build"},
                   ScannerFamily::kQZ500, 10101, 7, 1, {}},
        BannerCase{"an unknown digit below 3.0.0 leaves the family", ScannerFamily::kQZ500, {"QZ9 version 2.0.0 Build"},
                   ScannerFamily::kQZ500, 20000, 7, 1, {}},
        BannerCase{"numbers read as %i reads them", ScannerFamily::kNone, {"QZ6 version 010.0x10.9 Build"}, ScannerFamily::kMV2, 81609,
                   7, 1, {kBoardMissing}},
        BannerCase{"numbers the banner does not give are 0", ScannerFamily::kNone, {"QZ6 version 2 Build"}, ScannerFamily::kQZ600, 20000,
                   7, 1, {}},
        BannerCase{"a banner without version: next attempt", ScannerFamily::kNone,
                   {"QZ6 Build", "QZ6 version 2.3.4 Build"}, ScannerFamily::kQZ600, 20304, 7, 2, {}},
        BannerCase{"garbage, then a banner", ScannerFamily::kNone,
                   {std::string("\xff\x00 garbage QZ", 13), "QZ5 version 1.0.0 Build"}, ScannerFamily::kQZ500, 10000, 7,
                   2, {}},
        BannerCase{"MV2 board text without version: next attempt", ScannerFamily::kNone,
                   {"QZ6 version 3.0.1 Build Board id Loader",
                    "QZ6 version 3.0.1 Build Board version 5.1 Loader"},
                   ScannerFamily::kMV2, 30001, 51, 2, {}},
        BannerCase{"MV2 board text that never comes", ScannerFamily::kNone, {"QZ6 version 3.2.1 Build"}, ScannerFamily::kMV2, 30201, 7,
                   1, {kBoardMissing}}),
    [](const testing::TestParamInfo<BannerCase>& info) { return "case" + std::to_string(info.index); });

TEST_F(HandshakeTest, BoardIdBoxCarriesThePortName) {
  WakeUpResponder scanner(rig.line, {"QZ6 version 3.0.1 Build"});
  ASSERT_EQ(IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result, UPD_OK);
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "COM3: Error");
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kError);
}

TEST_F(HandshakeTest, ShowsTheTextOfTheReconnectPhase) {
  struct Case {
    int phase;
    ScannerFamily family;
    const char* status;
  };
  const Case cases[] = {
      {0, ScannerFamily::kQZ600, "Turn scanner power on"},
      {1, ScannerFamily::kQZ600, "PLD programming!  Wait for auto-connect"},
      {1, ScannerFamily::kQZ500, "FPGA programming!  Wait for auto-connect"},
      {1, ScannerFamily::kMV2, "FPGA programming!  Wait for auto-connect"},
      {3, ScannerFamily::kQZ600, "Please cycle scanner power to continue!"},
      {2, ScannerFamily::kQZ600, "unchanged"},
  };
  // The text is read at the moment the first wake-up character reaches the
  // wire, before any reply could have changed it; then the port is stopped.
  rig.line->SetPower(true);
  std::mutex seenMutex;  // guards seen
  std::optional<std::string> seen;
  CCommDialog* panel = rig.panel.get();
  rig.line->SetMonitor([&](platform::sim::SimLine::Direction direction, const uint8_t*, size_t,
                           std::chrono::steady_clock::time_point) {
    if (direction != platform::sim::SimLine::Direction::kToFar) return;
    std::lock_guard<std::mutex> lock(seenMutex);
    if (!seen) seen = panel->m_strStatus.Get();
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    {
      std::lock_guard<std::mutex> lock(seenMutex);
      seen.reset();
    }
    panel->m_session.m_bAbort.store(false);
    panel->m_session.m_hExitEvent->Reset();
    panel->m_session.m_nReconnectPhase.store(c.phase);
    panel->ShowIdentity(ScannerIdentity{.family = c.family});
    panel->m_strStatus.Set("unchanged");
    UpdateStatus result = UPD_OK;
    {
      linktest::Background handshake([&] { result = IdentifyScanner(panel->m_session, *panel, panel->Identity()).result; });
      EXPECT_TRUE(linktest::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(seenMutex);
        return seen.has_value();
      }));
      panel->m_session.m_bAbort.store(true);
      panel->m_session.m_hExitEvent->Set();
    }
    EXPECT_EQ(result, UPD_ABORTED);
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_EQ(seen.value_or("(no wake-up)"), c.status);
  }
  rig.line->SetMonitor(nullptr);
}

TEST_F(HandshakeTest, WaitsForTheScannerToBeSwitchedOn) {
  rig.line->SetPower(false);
  WakeUpResponder scanner(rig.line, {"QZ6 version 2.3.4 Build"});
  UpdateStatus result = UPD_ABORTED;
  linktest::Background handshake([&] { result = IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result; });
  EXPECT_TRUE(linktest::WaitUntil([&] { return rig.panel->m_strStatus.Get() == "Turn scanner power on"; }));
  // The first wake-up character is held back while CTS is low.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(rig.line->FarReceivedCount(), 0u);
  rig.line->SetPower(true);
  handshake.Join();
  EXPECT_EQ(result, UPD_OK);
  EXPECT_EQ(rig.panel->m_strStatus.Get(), "Connected");
}

TEST_F(HandshakeTest, AScannerThatRestartsAfterTheWakeUpsIsWokenAgainWithoutWaitingOutTheSilence) {
  // The new logic device restarts the scanner just after the first attempt's
  // wake-ups went out. While it is down the line carries noise, so the
  // attempt's silence never runs out: only the dropped DSR can end it.
  rig.panel->m_session.m_nReconnectPhase.store(1);
  rig.panel->ShowIdentity(ScannerIdentity{.family = ScannerFamily::kQZ600});
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {"", "QZ6 version 2.3.4 Build"});
  std::atomic<bool> noisy{false};
  std::atomic<bool> stop{false};
  linktest::Background noise([&] {
    while (!stop.load()) {
      // Gaps well above the wait's slices, far below its silence.
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      if (noisy.load()) rig.line->FarWrite(".");
    }
  });
  // Each attempt that ends without a banner shows the phase text again.
  std::atomic<int> phaseShown{0};
  rig.panel->m_strStatus.SetObserver([&](const std::string& text) {
    if (text == "PLD programming!  Wait for auto-connect") ++phaseShown;
  });
  UpdateStatus result = UPD_ABORTED;
  {
    linktest::Background handshake([&] { result = IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result; });
    EXPECT_TRUE(linktest::WaitUntil([&] { return scanner.WakeUps() >= 1; }));
    rig.line->SetPower(false);
    noisy.store(true);
    EXPECT_TRUE(linktest::WaitUntil([&] { return phaseShown.load() >= 2; }))
        << "the attempt did not end when the scanner dropped DSR";
    noisy.store(false);
    rig.line->SetPower(true);
  }
  rig.panel->m_strStatus.SetObserver(nullptr);
  stop.store(true);
  EXPECT_EQ(result, UPD_OK);
  EXPECT_EQ(scanner.WakeUps(), 2);
  EXPECT_EQ(rig.panel->m_strStatus.Get(), "Connected");
}

TEST_F(HandshakeTest, SilentScannerIsTriedUntilThePortIsToldToStop) {
  linktest::ScopedTimeScale fast(0.2);
  WakeUpResponder scanner(rig.line, {""});
  // The operator's instruction stays on show through every silent attempt.
  rig.panel->m_session.m_nReconnectPhase.store(3);
  std::mutex textsMutex;  // guards texts
  std::vector<std::string> texts;
  rig.panel->m_strStatus.SetObserver([&](const std::string& text) {
    std::lock_guard<std::mutex> lock(textsMutex);
    texts.push_back(text);
  });
  UpdateStatus result = UPD_OK;
  linktest::Background handshake([&] { result = IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result; });
  EXPECT_TRUE(linktest::WaitUntil([&] { return scanner.WakeUps() >= 3; }));
  EXPECT_EQ(rig.panel->m_strStatus.Get(), "Please cycle scanner power to continue!");
  EXPECT_FALSE(rig.panel->Identity().identified);
  rig.panel->m_session.m_bAbort.store(true);
  rig.panel->m_session.m_hExitEvent->Set();
  handshake.Join();
  rig.panel->m_strStatus.SetObserver(nullptr);
  EXPECT_EQ(result, UPD_ABORTED);
  EXPECT_TRUE(rig.boxes.Texts().empty());
  std::lock_guard<std::mutex> lock(textsMutex);
  ASSERT_FALSE(texts.empty());
  for (const std::string& text : texts) EXPECT_EQ(text, "Please cycle scanner power to continue!");
}

TEST_F(HandshakeTest, AbortDuringTheBoardWaitIsQuiet) {
  // An MV2 loader that starts its board text and then trickles on without
  // ever ending it: the port is told to stop while the board text is awaited.
  WakeUpResponder scanner(rig.line, {"QZ6 version 3.0.1 Build Board"});
  std::atomic<bool> stop{false};
  linktest::Background trickle([&] {
    while (!stop.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (scanner.WakeUps() > 0) rig.line->FarWrite(".");
    }
  });
  UpdateStatus result = UPD_OK;
  {
    linktest::Background handshake([&] { result = IdentifyScanner(rig.panel->m_session, *rig.panel, rig.panel->Identity()).result; });
    EXPECT_TRUE(linktest::WaitUntil([&] { return rig.panel->m_strStatus.Get() == "Connected"; }));
    rig.panel->m_session.m_hExitEvent->Set();
  }
  stop.store(true);
  EXPECT_EQ(result, UPD_ABORTED);
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

// ---- the connect thread of a USB panel ----

TEST(ConnectProc, IdentifiesTheScannerOnceAndGivesThePanelBack) {
  linktest::LinkRig rig;
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {"QZ6 version 2.3.4 Build"});
  CCommDialog& panel = rig.CreatePanel(/*usb=*/true);
  EXPECT_EQ(panel.m_strButtonCaption.Get(), "USB COM3");
  ASSERT_TRUE(linktest::WaitUntil([&] { return panel.m_bSendDone.load() && panel.m_bRecvDone.load(); }));
  EXPECT_EQ(panel.m_strStatus.Get(), "Click USB COM button to start programming.");
  EXPECT_TRUE(panel.m_bButtonEnabled.load());
  EXPECT_TRUE(panel.m_session.m_bAbort.load());
  EXPECT_FALSE(panel.m_session.m_bRxActive.load());
  EXPECT_FALSE(panel.m_bBusy.load());
  EXPECT_TRUE(panel.m_session.m_hPort.IsOpen()) << "the port stays open for the next Start";
  EXPECT_TRUE(panel.Identity().identified);
  EXPECT_EQ(rig.boxes.BeepCount(), 1);
  EXPECT_EQ(panel.m_session.m_nReconnectPhase.load(), 0);
}

TEST(ConnectProc, ResetWhileConnectingEndsWithTheFailureText) {
  linktest::LinkRig rig;
  CCommDialog& panel = rig.CreatePanel(/*usb=*/true);  // the scanner stays off
  ASSERT_TRUE(linktest::WaitUntil([&] { return panel.m_strStatus.Get() == "Turn scanner power on"; }));
  panel.Reset();
  ASSERT_TRUE(linktest::WaitUntil([&] { return panel.m_bSendDone.load() && panel.m_bRecvDone.load(); }));
  EXPECT_EQ(panel.m_strStatus.Get(), "Failed to connect scanner!");
  EXPECT_FALSE(panel.m_session.m_hPort.IsOpen());
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "\\\\.\\COM3: ");
  EXPECT_EQ(boxes[0].text, "Turn scanner power off");
}

}  // namespace
