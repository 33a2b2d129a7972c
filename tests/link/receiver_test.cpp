#include "link/receiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "link/traffic_log.h"
#include "platform/message_box.h"
#include "support/link_fixture.h"

namespace {

using linktest::WaitUntil;

std::string RingText(CCommDialog& panel) {
  std::string text(panel.m_rxBuffer.Count(), '\0');
  unsigned count = static_cast<unsigned>(text.size());
  panel.m_rxBuffer.Read(reinterpret_cast<uint8_t*>(text.data()), count);
  text.resize(count);
  return text;
}

// A pause that lets the receiver read what the line holds. Only used before
// checking that something did NOT happen.
void LetTheReceiverRun() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

class ReceiverTest : public linktest::LinkFixture {
 protected:
  void SetUp() override {
    rig.CreatePanel();
    rig.line->SetPower(true);
  }
};

TEST_F(ReceiverTest, DeliversBlocksToTheRingAndSignalsThem) {
  rig.StartReceiverOnly();
  rig.panel->m_hDataEvent->Reset();
  ASSERT_TRUE(rig.line->FarWrite("Loader menu"));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_rxBuffer.Count() == 11; }));
  EXPECT_TRUE(rig.panel->m_hDataEvent->IsSet());
  EXPECT_EQ(RingText(*rig.panel), "Loader menu");
}

TEST_F(ReceiverTest, LogsDeliveredBlocksButNotDroppedOnes) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vt_link_rx_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  rig.mainDlg.m_strLogPath.Set(folder.string());
  rig.CreatePanel(/*usb=*/false, /*log=*/true);
  rig.StartReceiverOnly();

  // Receive forwarding off: the scanner's output is neither stored nor logged.
  rig.panel->m_bRxActive.store(false);
  ASSERT_TRUE(rig.line->FarWrite("streaming echo"));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_rxBuffer.Count(), 0u);

  rig.panel->m_bRxActive.store(true);
  ASSERT_TRUE(rig.line->FarWrite("Done!"));
  ASSERT_TRUE(WaitUntil([&] { return RingText(*rig.panel).find("Done!") != std::string::npos; }));
  rig.DestroyPanel();

  std::ifstream in(folder / "LOGCOM3.000", std::ios::binary);
  const std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(logged.find("streaming echo"), std::string::npos);
  EXPECT_NE(logged.find("Done!"), std::string::npos);
  in.close();  // an open file keeps its folder from being removed on Windows
  std::filesystem::remove_all(folder);
}

TEST_F(ReceiverTest, ParkedReceiverStoresNothingUntilItsGateOpens) {
  rig.StartReceiverOnly(/*gateOpen=*/false);
  ASSERT_TRUE(rig.line->FarWrite("early"));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_rxBuffer.Count(), 0u);

  rig.panel->m_hReceiveEvent->Set();
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_rxBuffer.Count() == 5; }));
  EXPECT_EQ(RingText(*rig.panel), "early");

  // The gate closes while a read may be under way: what that read collects
  // is held and delivered once the gate opens again, nothing is lost.
  rig.panel->m_hReceiveEvent->Reset();
  ASSERT_TRUE(rig.line->FarWrite("held back"));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_rxBuffer.Count(), 0u);
  rig.panel->m_hReceiveEvent->Set();
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_rxBuffer.Count() == 9; }));
  EXPECT_EQ(RingText(*rig.panel), "held back");
}

TEST_F(ReceiverTest, FullRingHoldsTheReceiverWithoutLosingBytes) {
  rig.StartReceiverOnly();
  std::string sent;
  for (int i = 0; i < 5000; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(rig.line->FarWrite(sent.substr(0, 4096)));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_rxBuffer.Count() == 4096; }));
  ASSERT_TRUE(rig.line->FarWrite(sent.substr(4096)));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_rxBuffer.Count(), 4096u) << "a full ring refuses the next block";

  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    got += RingText(*rig.panel);
    return got.size() >= sent.size();
  }));
  EXPECT_EQ(got, sent);
}

TEST_F(ReceiverTest, ExitEventEndsAReceiverWaitingForRoom) {
  rig.StartReceiverOnly();
  ASSERT_TRUE(rig.line->FarWrite(std::string(4096, 'a')));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_rxBuffer.Count() == 4096; }));
  ASSERT_TRUE(rig.line->FarWrite(std::string(10, 'b')));
  LetTheReceiverRun();
  rig.StopReceiver();  // returns only once the receiver has ended
  EXPECT_TRUE(rig.panel->m_bRecvDone.load());
}

TEST_F(ReceiverTest, ExitEventEndsAParkedReceiver) {
  rig.StartReceiverOnly(/*gateOpen=*/false);
  rig.panel->m_hExitEvent->Set();
  EXPECT_TRUE(WaitUntil([&] { return rig.panel->m_bRecvDone.load(); }));
}

TEST_F(ReceiverTest, FailedReadIsReportedOnceUnlessTheApplicationCloses) {
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "while closing" : "while running");
    rig.line->Replug();
    rig.CreatePanel();
    rig.boxes.Clear();
    rig.StartReceiverOnly();
    g_bClosing.store(closing);
    // The scanner's USB line vanishes under the open port.
    rig.line->Unplug();
    if (!closing) {
      ASSERT_TRUE(rig.boxes.WaitFor("COM3:ReadFile in rcvProc\nAPI details:" +
                                        platform::SystemErrorText(platform::kErrorDeviceNotConnected),
                                    linktest::kPatienceMs));
    }
    LetTheReceiverRun();
    const auto boxes = rig.boxes.Boxes();
    ASSERT_EQ(boxes.size(), closing ? 0u : 1u);
    if (!closing) {
      EXPECT_EQ(boxes[0].kind, platform::BoxKind::kApiError);
      EXPECT_EQ(boxes[0].caption, "COM3");
    }
    rig.StopReceiver();
    g_bClosing.store(false);
  }
}

}  // namespace
