#include "link/receiver.h"
#include "link/line_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "link/traffic_log.h"
#include "platform/message_box.h"
#include "support/link_fixture.h"

namespace {

using linktest::WaitUntil;

std::string RingText(CCommDialog& panel) {
  std::string text(panel.m_session.m_rxBuffer.Count(), '\0');
  unsigned count = static_cast<unsigned>(text.size());
  panel.m_session.m_rxBuffer.Read(reinterpret_cast<uint8_t*>(text.data()), count);
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
  rig.panel->m_session.m_hDataEvent->Reset();
  ASSERT_TRUE(rig.line->FarWrite("Loader menu"));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 11; }));
  EXPECT_TRUE(rig.panel->m_session.m_hDataEvent->IsSet());
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
  rig.panel->m_session.m_bRxActive.store(false);
  ASSERT_TRUE(rig.line->FarWrite("streaming echo"));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 0u);

  rig.panel->m_session.m_bRxActive.store(true);
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
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 0u);

  rig.panel->m_session.m_hReceiveEvent->Set();
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 5; }));
  EXPECT_EQ(RingText(*rig.panel), "early");

  // The gate closes while a read may be under way: what that read collects
  // is held and delivered once the gate opens again, nothing is lost.
  rig.panel->m_session.m_hReceiveEvent->Reset();
  ASSERT_TRUE(rig.line->FarWrite("held back"));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 0u);
  rig.panel->m_session.m_hReceiveEvent->Set();
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 9; }));
  EXPECT_EQ(RingText(*rig.panel), "held back");
}

TEST_F(ReceiverTest, FullRingHoldsTheReceiverWithoutLosingBytes) {
  rig.StartReceiverOnly();
  std::string sent;
  for (int i = 0; i < 5000; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(rig.line->FarWrite(sent.substr(0, 4096)));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 4096; }));
  ASSERT_TRUE(rig.line->FarWrite(sent.substr(4096)));
  LetTheReceiverRun();
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 4096u) << "a full ring refuses the next block";

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
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 4096; }));
  ASSERT_TRUE(rig.line->FarWrite(std::string(10, 'b')));
  LetTheReceiverRun();
  rig.StopReceiver();  // returns only once the receiver has ended
  EXPECT_TRUE(rig.panel->m_bRecvDone.load());
}

TEST_F(ReceiverTest, ExitEventEndsAParkedReceiver) {
  rig.StartReceiverOnly(/*gateOpen=*/false);
  rig.panel->m_session.m_hExitEvent->Set();
  EXPECT_TRUE(WaitUntil([&] { return rig.panel->m_bRecvDone.load(); }));
}

TEST_F(ReceiverTest, VanishedDeviceIsReportedOnceUnlessTheApplicationCloses) {
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
      ASSERT_TRUE(rig.boxes.WaitFor(kDeviceGoneText, linktest::kPatienceMs));
    }
    LetTheReceiverRun();
    const auto boxes = rig.boxes.Boxes();
    ASSERT_EQ(boxes.size(), closing ? 0u : 1u);
    if (!closing) {
      EXPECT_EQ(boxes[0].kind, platform::BoxKind::kError);
      EXPECT_EQ(boxes[0].caption, "COM3: Error");
    }
    // Every wait on the port now returns at once.
    EXPECT_EQ(CurrentLineFault(rig.panel->m_session), kLineDeviceGone);
    rig.StopReceiver();
    g_bClosing.store(false);
  }
}

// A port on the rig's line whose calls can be made to fail the way a serial
// driver fails them, to see how the receiver reports each failure.
class FaultyPort : public platform::SerialPort {
 public:
  explicit FaultyPort(platform::PortPtr inner) : inner_(std::move(inner)) {}

  std::atomic<int> readRefusals{0};     // reads that fail at once
  std::atomic<int> collectFailures{0};  // reads that fail when collected
  std::atomic<int> readError{platform::kErrorGenFailure};
  std::atomic<bool> modemFails{false};
  std::atomic<bool> clearFails{false};
  std::atomic<int> modemCalls{0};

  bool GetCommState(platform::LineSettings& s) override { return Pass(inner_->GetCommState(s)); }
  bool SetCommState(const platform::LineSettings& s) override { return Pass(inner_->SetCommState(s)); }
  bool SetCommTimeouts(const platform::CommTimeouts& t) override {
    return Pass(inner_->SetCommTimeouts(t));
  }
  bool GetCommModemStatus(uint32_t& status) override {
    modemCalls.fetch_add(1);
    if (modemFails.load()) return Inject(platform::kErrorGenFailure);
    return Pass(inner_->GetCommModemStatus(status));
  }
  bool ClearCommError() override {
    if (clearFails.load()) return Inject(platform::kErrorGenFailure);
    return Pass(inner_->ClearCommError());
  }
  bool Write(const void* data, size_t length) override { return Pass(inner_->Write(data, length)); }
  platform::ReadStatus Read(void* buffer, size_t capacity, size_t& got, uint32_t timeoutMs) override {
    got = 0;
    if (TakeOne(readRefusals)) {
      Inject(readError.load());
      return platform::ReadStatus::kFailed;
    }
    if (TakeOne(collectFailures)) {
      Inject(readError.load());
      return platform::ReadStatus::kCollectFailed;
    }
    t_injected = 0;
    return inner_->Read(buffer, capacity, got, timeoutMs);
  }
  void Close() override { inner_->Close(); }
  int LastError() const override { return t_injected != 0 ? t_injected : inner_->LastError(); }

 private:
  static bool TakeOne(std::atomic<int>& count) {
    int n = count.load();
    while (n > 0 && !count.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0;
  }
  bool Inject(int error) {
    t_injected = error;
    return false;
  }
  bool Pass(bool ok) {
    t_injected = 0;
    return ok;
  }

  static thread_local int t_injected;
  platform::PortPtr inner_;
};
thread_local int FaultyPort::t_injected = 0;

struct BoxCase {
  const char* name;
  std::function<void(FaultyPort&)> fault;
  // Holds once the receiver has met the fault more than once.
  std::function<bool(const FaultyPort&)> metRepeatedly;
  platform::BoxKind kind;
  const char* caption;
  std::string text;  // empty: no box
};

// The receiver on a faulty port, parked until the test has set the fault.
class FaultyReceiverTest : public ReceiverTest {
 protected:
  void StartOnFaultyPort() {
    platform::InstallPortOpener([this](const std::string&, int& error) -> platform::PortPtr {
      platform::PortPtr inner = rig.line->OpenNear(error);
      if (!inner) return nullptr;
      port = std::make_shared<FaultyPort>(inner);
      return port;
    });
    rig.StartReceiverOnly(/*gateOpen=*/false);
    ASSERT_NE(port, nullptr);
  }

  std::shared_ptr<FaultyPort> port;
};

class ReceiverBoxes : public FaultyReceiverTest, public ::testing::WithParamInterface<BoxCase> {};

// Each failure of the receive path is shown in its own form, once, and a
// receiver whose reads still work goes on delivering.
TEST_P(ReceiverBoxes, ShowsEachFailureInItsOwnFormOnce) {
  const BoxCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartOnFaultyPort());
  c.fault(*port);
  rig.panel->m_session.m_hReceiveEvent->Set();

  ASSERT_TRUE(WaitUntil([&] { return c.metRepeatedly(*port); }));
  ASSERT_TRUE(rig.line->FarWrite("still here"));
  ASSERT_TRUE(WaitUntil([&] { return rig.panel->m_session.m_rxBuffer.Count() == 10; }));
  EXPECT_EQ(RingText(*rig.panel), "still here");

  const auto boxes = rig.boxes.Boxes();
  if (c.text.empty()) {
    EXPECT_TRUE(boxes.empty());
    return;
  }
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, c.kind);
  EXPECT_EQ(boxes[0].caption, c.caption);
  EXPECT_EQ(boxes[0].text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReceiverBoxes,
    ::testing::Values(
        BoxCase{"ReadFailsWhenCollected", [](FaultyPort& p) { p.collectFailures = 3; },
                [](const FaultyPort& p) { return p.collectFailures.load() == 0; },
                platform::BoxKind::kError, "COM3: Error", "GetOverlappedResult (rcvProc)"},
        // A read ended by the port being closed is how a receiver is ended.
        BoxCase{"ReadCancelledWhenCollected",
                [](FaultyPort& p) {
                  p.readError = platform::kErrorOperationAborted;
                  p.collectFailures = 2;
                },
                [](const FaultyPort& p) { return p.collectFailures.load() == 0; },
                platform::BoxKind::kError, "", ""},
        BoxCase{"ModemStatusFails", [](FaultyPort& p) { p.modemFails = true; },
                [](const FaultyPort& p) { return p.modemCalls.load() >= 4; },
                platform::BoxKind::kError, "COM3: Error", "GetCommModemStatus"},
        BoxCase{"ClearCommErrorFails", [](FaultyPort& p) { p.clearFails = true; },
                [](const FaultyPort& p) { return p.modemCalls.load() >= 4; },
                platform::BoxKind::kError, "COM3: Error", "ClearCommError"}),
    [](const auto& info) { return std::string(info.param.name); });

// After the run has shown its outcome the operator switches the scanner off,
// as asked: a read that then fails because the device has gone (wine's broken
// pipe, a USB driver's abort: each backend reports them as the device gone)
// shows no box, whether it failed at once or when collected.
class ReceiverSwitchOff : public FaultyReceiverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReceiverSwitchOff, TheSwitchOffAfterTheOutcomeShowsNoBox) {
  const bool atOnce = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartOnFaultyPort());
  rig.panel->m_session.m_bOutcomeShown.store(true);
  port->readError = platform::kErrorDeviceNotConnected;
  (atOnce ? port->readRefusals : port->collectFailures) = 1;
  rig.panel->m_session.m_hReceiveEvent->Set();
  ASSERT_TRUE(WaitUntil([&] { return CurrentLineFault(rig.panel->m_session) == kLineDeviceGone; }));
  // Joined: whatever the receiver was to show has been shown.
  rig.StopReceiver();
  EXPECT_TRUE(rig.boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(ReadFailures, ReceiverSwitchOff, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "AtOnce" : "WhenCollected"; });

// A panel whose receive event could not be made: the receiver's gate wait
// fails, which is shown as an error box.
TEST_F(ReceiverTest, AFailedGateWaitIsAnErrorBox) {
  rig.panel->OpenPort();
  rig.panel->m_session.m_hReceiveEvent.reset();
  std::thread receiver([p = rig.panel.get()] {
    rcvProc(p->m_session, *p);
    p->m_bRecvDone.store(true);
  });
  const bool shown = rig.boxes.WaitFor("WaitForSingleObjects(rcvProc)", linktest::kPatienceMs);
  rig.panel->m_session.m_hExitEvent->Set();
  receiver.join();
  ASSERT_TRUE(shown);
  const auto boxes = rig.boxes.Boxes();
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kError);
  EXPECT_EQ(boxes[0].caption, "COM3: Error");
}

// A read the port refuses is shown with the system's description of why.
TEST_F(FaultyReceiverTest, AReadRefusedAtOnceIsAnApiErrorBox) {
  ASSERT_NO_FATAL_FAILURE(StartOnFaultyPort());
  port->readRefusals = 1;
  rig.panel->m_session.m_hReceiveEvent->Set();
  const std::string text =
      "COM3:ReadFile in rcvProc\nAPI details:" + platform::SystemErrorText(platform::kErrorGenFailure);
  ASSERT_TRUE(rig.boxes.WaitFor(text, linktest::kPatienceMs));
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kApiError);
  EXPECT_EQ(boxes[0].caption, "COM3");
}

}  // namespace
