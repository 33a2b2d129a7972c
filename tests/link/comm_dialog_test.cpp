#include "app/comm_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/message_box.h"
#include "support/holding_sink.h"
#include "support/link_fixture.h"

namespace {

using linktest::Background;
using linktest::LinkFixture;
using linktest::WaitUntil;
using linktest::WakeUpResponder;

const char kDone[] = "Programming Done. Please exit Vantorel before turning scanner power off.";

TEST_F(LinkFixture, NewRs232PanelLeavesItsPortAlone) {
  CCommDialog& panel = rig.CreatePanel();
  EXPECT_EQ(panel.m_strButtonCaption.Get(), "COM3");
  EXPECT_EQ(panel.m_strStatus.Get(), "Turn scanner power off");
  EXPECT_TRUE(panel.m_bButtonEnabled.load());
  EXPECT_FALSE(panel.m_session.m_hPort.IsOpen());
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_TRUE(panel.m_bRecvDone.load());
  EXPECT_TRUE(panel.m_bSendDone.load());
  EXPECT_FALSE(panel.m_bBusy.load());
  EXPECT_FALSE(panel.m_session.m_bAbort.load());
  EXPECT_FALSE(panel.m_session.m_bRxActive.load());
  EXPECT_FALSE(panel.m_session.m_bLogEnabled.load());
  EXPECT_EQ(panel.Identity().loaderVersion, 0);
  EXPECT_EQ(panel.Identity().boardVersion, 0);
  EXPECT_FALSE(panel.Identity().identified);
  EXPECT_EQ(panel.m_session.m_hLogFile, nullptr);
  EXPECT_EQ(panel.m_pMainDlg, &rig.mainDlg);
  // Destroyed without any wait: no thread runs.
  rig.DestroyPanel();
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

TEST_F(LinkFixture, OpenPortAppliesTheFixedLineAndTeardownRestoresTheFormerOne) {
  const platform::LineSettings former = rig.line->NearSettings();
  ASSERT_NE(former.BaudRate, 57600u);
  CCommDialog& panel = rig.CreatePanel();
  panel.OpenPort();
  ASSERT_TRUE(panel.m_session.m_hPort.IsOpen());

  const platform::LineSettings line = rig.line->NearSettings();
  platform::LineSettings expected{};
  expected.DCBlength = 28;
  expected.BaudRate = 57600;
  expected.fBinary = 1;
  expected.fOutxCtsFlow = 1;
  expected.fDtrControl = platform::DTR_CONTROL_ENABLE;
  expected.fRtsControl = platform::RTS_CONTROL_HANDSHAKE;
  expected.ByteSize = 8;
  expected.Parity = platform::NOPARITY;
  expected.StopBits = platform::ONESTOPBIT;
  EXPECT_TRUE(line == expected);
  EXPECT_TRUE(panel.m_session.m_dcb == expected);
  EXPECT_TRUE(panel.m_session.m_dcbSaved == former);
  const platform::CommTimeouts timeouts = rig.line->NearTimeouts();
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 1u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant + timeouts.ReadTotalTimeoutMultiplier +
                timeouts.WriteTotalTimeoutConstant + timeouts.WriteTotalTimeoutMultiplier,
            0u);
  EXPECT_EQ(panel.m_session.m_dwCommMask, platform::EV_RXCHAR);
  EXPECT_FALSE(panel.m_session.m_hReceiveEvent->IsSet()) << "the receiver stays parked";

  // A second open keeps the port and the events, applies the line again and
  // still remembers the settings from before the first open.
  const platform::PortPtr port = panel.m_session.m_hPort.Get();
  const platform::Event* exitEvent = panel.m_session.m_hExitEvent.get();
  panel.OpenPort();
  EXPECT_EQ(panel.m_session.m_hPort.Get(), port);
  EXPECT_EQ(panel.m_session.m_hExitEvent.get(), exitEvent);
  EXPECT_TRUE(panel.m_session.m_dcbSaved == former);
  EXPECT_TRUE(rig.line->NearSettings() == expected);

  rig.DestroyPanel();
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_TRUE(rig.line->NearSettings() == former);
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

TEST_F(LinkFixture, WritePortIsHeldWhileCtsIsLowAndFailsOnceThePortCloses) {
  CCommDialog& panel = rig.CreatePanel();
  EXPECT_FALSE(WritePort(panel.m_session.m_hPort, "a", 1)) << "closed port";
  panel.OpenPort();

  std::atomic<int> result{-1};
  {
    linktest::Background writer([&] { result = WritePort(panel.m_session.m_hPort, "1", 1) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result.load(), -1) << "held while the scanner holds CTS low";
    rig.line->SetCts(true);
  }
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(rig.FarReceived(), "1");

  rig.line->SetCts(false);
  result = -1;
  {
    linktest::Background writer([&] { result = WritePort(panel.m_session.m_hPort, "2", 1) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    panel.Reset();
  }
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(rig.FarReceived(), "1");
}

// ---- a port that cannot be opened ----

struct OpenFailure {
  const char* what;
  bool usb;
  int error;
};

class OpenFailureTest : public LinkFixture, public testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, IsReportedAndThePanelIsGivenBack) {
  const OpenFailure& c = GetParam();
  platform::PortPtr other;
  if (c.error == platform::kErrorFileNotFound) {
    platform::sim::SimPortRegistry::Instance().Remove(rig.portName);
  } else {
    int error = 0;
    other = rig.line->OpenNear(error);  // someone else has the port
    ASSERT_TRUE(other);
  }
  CCommDialog& panel = rig.CreatePanel(c.usb);
  if (!c.usb) panel.Start();
  const std::string name = c.usb ? "\\\\.\\COM3" : "COM3";

  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kApiError);
  EXPECT_EQ(boxes[0].caption, name);
  EXPECT_EQ(boxes[0].text, name + ":CreateFile in OpenPort\nAPI details:" +
                               platform::SystemErrorText(c.error));
  EXPECT_TRUE(panel.m_bButtonEnabled.load());
  EXPECT_FALSE(panel.m_bBusy.load());
  EXPECT_TRUE(panel.ThreadsDone());
  if (c.usb) {
    EXPECT_EQ(panel.m_strStatus.Get(), "Failed to connect scanner!");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, OpenFailureTest,
    testing::Values(OpenFailure{"no such port", false, platform::kErrorFileNotFound},
                    OpenFailure{"port in use", false, platform::kErrorAccessDenied},
                    OpenFailure{"USB port gone", true, platform::kErrorFileNotFound},
                    OpenFailure{"USB port in use", true, platform::kErrorAccessDenied}),
    [](const testing::TestParamInfo<OpenFailure>& info) { return "case" + std::to_string(info.index); });

TEST(PortName, TooLongForItsMemberIsNeverOpenedCut) {
  // "COM1234567890" cut to the member would be "COM12345678", another port.
  linktest::LinkRig rig("COM12345678", 3);
  CCommDialog panel(3, "COM1234567890", &rig.mainDlg);
  EXPECT_STREQ(panel.m_session.m_szPortName, "COM12345678");
  panel.Start();
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_EQ(rig.boxes.Texts().size(), 1u);
  EXPECT_TRUE(panel.ThreadsDone());
}

TEST_F(LinkFixture, StartWhileTheConnectThreadStillWaitsTakesThePortOver) {
  WakeUpResponder scanner(rig.line, {"QZ6 version 2.3.4 Build"});
  CCommDialog& panel = rig.CreatePanel(/*usb=*/true);  // the scanner is still off
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == "Turn scanner power on"; }));
  panel.Start();
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_TRUE(panel.m_bBusy.load());
  EXPECT_FALSE(panel.m_session.m_bAbort.load());
  rig.line->SetPower(true);
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_EQ(scanner.WakeUps(), 1);
}

// ---- Reset ----

TEST_F(LinkFixture, ResetWhileIdentifyingClosesThePortAndKeepsTheButtonDisabled) {
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {""});  // switched on, but silent
  CCommDialog& panel = rig.CreatePanel();
  panel.Start();
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_TRUE(panel.m_bBusy.load());
  ASSERT_TRUE(WaitUntil([&] { return scanner.WakeUps() >= 1; }));
  panel.m_progress.SetPos(500);

  panel.Reset();
  ASSERT_TRUE(WaitUntil([&] { return panel.ThreadsDone(); }));
  EXPECT_FALSE(panel.m_session.m_hPort.IsOpen());
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_TRUE(panel.m_session.m_bAbort.load());
  EXPECT_EQ(panel.m_progress.GetPos(), 0);
  EXPECT_EQ(panel.m_strStatus.Get(), "Reset");
  EXPECT_EQ(scanner.Others(), "") << "no closing key";
  EXPECT_EQ(panel.m_session.m_nReconnectPhase.load(), 0);
  const auto boxes = rig.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, platform::BoxKind::kNotice);
  EXPECT_EQ(boxes[0].caption, "COM3: ");
  EXPECT_EQ(boxes[0].text, "Turn scanner power off");
}

TEST_F(LinkFixture, AThreadUnwindingAfterResetCannotCoverTheResetText) {
  // A port thread that had already left its wait when Reset came (a silent
  // banner wait ending, a progress line being formatted) still writes its
  // text afterwards; the operator must go on seeing "Reset".
  CCommDialog& panel = rig.CreatePanel();
  panel.ShowStatus("Turn scanner power on");
  EXPECT_EQ(panel.m_strStatus.Get(), "Turn scanner power on");
  panel.Reset();
  panel.ShowStatus("");
  panel.ShowStatus("RCP 64KB 5600 bytes/sec 12%");
  EXPECT_EQ(panel.m_strStatus.Get(), "Reset");
}

TEST_F(LinkFixture, ResetWhileWaitingForPowerOffSendsNoClosingKey) {
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {"QZ6 version 2.3.4 Build"});
  CCommDialog& panel = rig.CreatePanel();
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  panel.Reset();
  ASSERT_TRUE(WaitUntil([&] { return panel.ThreadsDone(); }));
  EXPECT_FALSE(panel.m_bButtonEnabled.load());
  EXPECT_EQ(panel.m_strStatus.Get(), "Reset");
  EXPECT_EQ(rig.boxes.BeepCount(), 0);
  EXPECT_EQ(scanner.Others(), "");
}

// ---- reset on the operator's behalf, never during a flash write ----

// The engines clear m_bBusy as the end byte goes (BeginFlashWrite) and set
// it again at the completion text (EndFlashWrite); a front end's stop
// (ResetWhenSafe) resets the port outside that stretch only. Each case
// drives the panel as the programming thread would, one call after the
// other, and counts the "Turn scanner power off" notices.
size_t SwitchOffNotices(linktest::LinkRig& rig) {
  const auto boxes = rig.boxes.Boxes();
  return static_cast<size_t>(std::count_if(boxes.begin(), boxes.end(), [](const auto& box) {
    return box.text == "Turn scanner power off";
  }));
}

TEST_F(LinkFixture, ResetWhenSafeResetsAtOnceWhileBusyOrOnceTheOutcomeIsShown) {
  for (const bool outcome : {false, true}) {
    SCOPED_TRACE(outcome ? "outcome shown, m_bBusy clear" : "busy");
    CCommDialog& panel = rig.CreatePanel();
    rig.boxes.Clear();
    panel.m_bBusy = !outcome;
    panel.m_session.m_bOutcomeShown = outcome;
    EXPECT_TRUE(panel.ResetWhenSafe());
    EXPECT_EQ(panel.m_strStatus.Get(), "Reset");
    EXPECT_TRUE(panel.m_session.m_bAbort.load());
    // Asked again: done already, nothing shown twice.
    EXPECT_TRUE(panel.ResetWhenSafe());
    EXPECT_EQ(SwitchOffNotices(rig), 1u);
  }
}

TEST_F(LinkFixture, ResetWhenSafeDuringAFlashWriteWaitsForItsEnd) {
  CCommDialog& panel = rig.CreatePanel();
  panel.m_bBusy = true;
  panel.ShowStatus("RCP 64KB 5600 bytes/sec 100%");
  panel.BeginFlashWrite();
  EXPECT_FALSE(panel.ResetWhenSafe());
  EXPECT_FALSE(panel.ResetWhenSafe());
  EXPECT_FALSE(panel.m_session.m_bAbort.load());
  EXPECT_EQ(panel.m_strStatus.Get(), "RCP 64KB 5600 bytes/sec 100%");
  EXPECT_EQ(SwitchOffNotices(rig), 0u);
  // The completion text: the programming thread resets the port itself.
  panel.EndFlashWrite();
  EXPECT_TRUE(panel.m_session.m_bAbort.load());
  EXPECT_EQ(panel.m_strStatus.Get(), "Reset");
  EXPECT_EQ(SwitchOffNotices(rig), 1u);
  EXPECT_TRUE(panel.ResetWhenSafe());
  EXPECT_EQ(SwitchOffNotices(rig), 1u);
}

TEST_F(LinkFixture, APendingResetComesBeforeTheNextEndByte) {
  // A step that leaves m_bBusy clear after its write (the FPGA) is followed
  // by another transfer: the stop comes before that one's end byte.
  rig.line->SetPower(true);
  CCommDialog& panel = rig.CreatePanel();
  panel.OpenPort();
  ASSERT_TRUE(panel.m_session.m_hPort.IsOpen());
  panel.m_bBusy = false;
  EXPECT_FALSE(panel.ResetWhenSafe());
  panel.BeginFlashWrite();
  EXPECT_FALSE(panel.m_session.m_hPort.IsOpen());
  const uint8_t endByte = 0xFF;
  EXPECT_FALSE(WritePort(panel.m_session.m_hPort, &endByte, 1));
  EXPECT_EQ(SwitchOffNotices(rig), 1u);
}

TEST_F(LinkFixture, APendingResetIsDroppedWhenThePortIsClosedFirst) {
  // The teardown as the program leaves (a second Ctrl-C) cuts the wait for
  // the completion text short: the write has not ended, and nothing may ask
  // for the scanner to be switched off.
  CCommDialog& panel = rig.CreatePanel();
  panel.m_bBusy = true;
  panel.BeginFlashWrite();
  EXPECT_FALSE(panel.ResetWhenSafe());
  panel.m_session.m_bAbort = true;
  panel.EndFlashWrite();
  EXPECT_TRUE(panel.m_bBusy.load());
  EXPECT_NE(panel.m_strStatus.Get(), "Reset");
  EXPECT_EQ(SwitchOffNotices(rig), 0u);
}

// ---- teardown never hangs ----

TEST_F(LinkFixture, TeardownEndsAProgrammingThreadHeldInAWriteByCts) {
  CCommDialog& panel = rig.CreatePanel();  // the scanner is off: CTS low
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == "Turn scanner power on"; }));
  rig.DestroyPanel();  // returns once both threads have ended
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_EQ(rig.line->FarReceivedCount(), 0u);
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

TEST_F(LinkFixture, TeardownEndsAReceiverWaitingForRoomInAFullRing) {
  // An identified panel skips the handshake; the run then waits for the
  // scanner to be switched off, reading nothing, while the scanner talks on.
  rig.line->SetPower(true);
  CCommDialog& panel = rig.CreatePanel();
  panel.ShowIdentity(ScannerIdentity{.identified = true, .family = ScannerFamily::kQZ600});
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  ASSERT_TRUE(rig.line->FarWrite(std::string(4096, 'a')));
  ASSERT_TRUE(WaitUntil([&] { return panel.m_session.m_rxBuffer.Count() == 4096; }));
  ASSERT_TRUE(rig.line->FarWrite(std::string(100, 'b')));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  rig.DestroyPanel();
  EXPECT_FALSE(rig.line->IsNearOpen());
  EXPECT_TRUE(rig.boxes.Texts().empty());
}

// The receiver of a finished run reports a failing driver in a box that
// holds it until the operator answers. Pressing the port button meanwhile
// ends that run on the window thread; the box must not hold the window
// thread too, or it could never be answered.
TEST_F(LinkFixture, StartAndTeardownReturnWhileAThreadOfTheEarlierRunSitsInABox) {
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {"QZ6 version 2.3.4 Build"});
  CCommDialog& panel = rig.CreatePanel();
  testsupport::HoldingSink sink;
  panel.Start();
  ASSERT_TRUE(WaitUntil([&] { return panel.m_strStatus.Get() == kDone; }));
  rig.line->FailReads(platform::kErrorGenFailure);
  rig.line->SetPower(false);
  // The switched-off scanner holds CTS low under the programming thread's
  // closing key; the button is the operator's again all the same.
  ASSERT_TRUE(WaitUntil([&] {
    return sink.Showing("ReadFile in rcvProc") == 1 && panel.m_bButtonEnabled.load();
  }));
  EXPECT_FALSE(panel.m_bRecvDone.load());

  // Should the threads never be let go, the operator answers the boxes so
  // that the test fails instead of hanging.
  std::atomic<bool> returned{false};
  Background watchdog([&] {
    if (!WaitUntil([&] { return returned.load(); })) sink.AnswerAll();
  });
  panel.Start();
  // The new run may already have failed on the dead port by now; what
  // matters is that the earlier box was let go, not answered.
  EXPECT_EQ(sink.Answered(), 0) << "Start waited for the operator";
  EXPECT_EQ(sink.ReleasedReturns(), 1);

  // Whatever the new run is doing on the failing port (its receiver sitting
  // in a box of its own, its programming thread waking the switched-off
  // scanner), the teardown lets its threads go without the operator.
  rig.DestroyPanel();
  EXPECT_EQ(sink.Answered(), 0) << "the teardown waited for the operator";
  EXPECT_GE(sink.ReleasedReturns(), 1);
  returned.store(true);
}

TEST_F(LinkFixture, TeardownWhileTheApplicationClosesShowsNothing) {
  rig.line->SetPower(true);
  WakeUpResponder scanner(rig.line, {""});
  rig.CreatePanel(/*usb=*/true);
  ASSERT_TRUE(WaitUntil([&] { return scanner.WakeUps() >= 1; }));
  g_bClosing.store(true);
  rig.DestroyPanel();
  EXPECT_TRUE(rig.boxes.Texts().empty());
  EXPECT_FALSE(rig.line->IsNearOpen());
}

}  // namespace
