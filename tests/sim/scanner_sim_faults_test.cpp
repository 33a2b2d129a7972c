// The faults a test can give the simulated scanner, each as the program
// would meet it at the far end of the line.
#include <gtest/gtest.h>

#include "loader_texts.h"
#include "sim_fixture.h"

namespace {

using scanner::Component;
using scanner::LoaderState;
using scanner::ScannerConfig;
using simtest::ScannerSimTest;

struct CompletionFaultCase {
  const char* name;
  ScannerConfig config;
  std::string keys;
  std::string prompt;
  std::string missing;    // the completion text the fault withholds
  std::string instead;
};

ScannerConfig WithFaults(ScannerConfig config, void (*set)(scanner::ScannerFaults&)) {
  set(config.faults);
  return config;
}

TEST_F(ScannerSimTest, CompletionFaultsWithholdTheCompletionText) {
  const CompletionFaultCase cases[] = {
      {"no Done!", WithFaults(ScannerConfig::MV2(), [](auto& f) { f.noFpgaDone = true; }), "3", "abort",
       "Done!", "FPGA configuration failed"},
      {"no DONE", WithFaults(ScannerConfig::QZ600(), [](auto& f) { f.noDspDone = true; }), "9y", "receive",
       "DONE", "DSP flash verify failed"},
      {"no Write flash complete", WithFaults(ScannerConfig::QZ600(), [](auto& f) { f.noWriteFlashComplete = true; }),
       "1", "send", "Write flash complete", "Write flash failed"},
      {"no Write flash complete for the loader",
       WithFaults(ScannerConfig::MV2(), [](auto& f) { f.noWriteFlashComplete = true; }), "a", "receive",
       "Write flash complete", "Write flash failed"},
      {"UIM without the menu", WithFaults(ScannerConfig::MV2(), [](auto& f) { f.noUimMenu = true; }), "8",
       "abort", "Loader menu", "UIM agent stored."},
  };
  for (const CompletionFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    WakeUp();
    for (char key : c.keys) {
      near_->Type(std::string(1, key));
      ASSERT_TRUE(sim_->WaitForReceived(std::string(1, key), 10000));
    }
    ASSERT_TRUE(near_->ReadUntil(c.prompt));
    near_->Take();
    std::string sent = "S00600004844521B\r\nS70500000000FA\r\n\xFF";
    near_->Type(sent);
    ASSERT_TRUE(near_->ReadUntil(c.instead));
    ASSERT_TRUE(sim_->WaitForState(LoaderState::kMenu, 10000));
    EXPECT_EQ(near_->Seen().find(c.missing), std::string::npos);
  }
}

TEST_F(ScannerSimTest, RamErrorAnswersTheDspQuestion) {
  ScannerConfig config = ScannerConfig::QZ600();
  config.faults.dspRamError = true;
  SwitchOn(config);
  WakeUp();
  Ask("9", "Programming DSP Flash");
  const std::string answer = Ask("y", "Loader menu");
  EXPECT_NE(answer.find("RAM Error"), std::string::npos);
  EXPECT_EQ(answer.find("Ready"), std::string::npos);
  EXPECT_EQ(sim_->State(), LoaderState::kMenu);
}

TEST_F(ScannerSimTest, SilentScannerRaisesItsLinesButNeverAnswers) {
  ScannerConfig config = ScannerConfig::QZ600();
  config.faults.silent = true;
  SwitchOn(config);
  near_->Type("****3");
  ASSERT_TRUE(sim_->WaitForReceived("****3", 10000));
  EXPECT_EQ(sim_->State(), LoaderState::kCpldMenu);
  EXPECT_EQ(sim_->Output(), "");
}

TEST_F(ScannerSimTest, SlowMenuHoldsItsAnswer) {
  ScannerConfig config = ScannerConfig::MV2();
  config.faults.menuDelayMs = 60000;
  SwitchOn(config);
  WakeUp();  // the banner is not an answer to a key
  near_->Type("8");
  ASSERT_TRUE(sim_->WaitForReceived("8", 10000));
  EXPECT_EQ(sim_->State(), LoaderState::kReceiving);
  EXPECT_EQ(sim_->Output().find("UIM Agent Update"), std::string::npos);
}

TEST_F(ScannerSimTest, GarbageAnswersHoldNoAwaitedText) {
  ScannerConfig config = ScannerConfig::MV2();
  config.faults.garbage = true;
  SwitchOn(config);
  const std::string expected = scanner::texts::Banner('6', 3, 1, 0, 1203) +
                               scanner::texts::BoardText(4, 9, true) + scanner::texts::Menu(true, '7');
  near_->Type("****");
  ASSERT_TRUE(sim_->WaitUntil([&] { return sim_->Output().size() == expected.size(); }, 10000));
  for (const std::string& text : scanner::texts::AwaitedTexts()) {
    EXPECT_EQ(sim_->Output().find(text), std::string::npos) << text;
  }
  EXPECT_EQ(sim_->State(), LoaderState::kMenu);
}

TEST_F(ScannerSimTest, UnplugAfterSomeBytesTakesTheLineAway) {
  ScannerConfig config = ScannerConfig::MV2();
  config.faults.unplugAfterBytes = 100;
  SwitchOn(config);
  WakeUp();
  Ask("3", "abort");
  near_->Type(std::string(300, 'F'));  // the rest is lost with the line
  ASSERT_TRUE(sim_->WaitForState(LoaderState::kUnplugged, 10000));
  EXPECT_FALSE(line_->IsPluggedIn());
  EXPECT_EQ(sim_->Received().size(), 100u);
  EXPECT_FALSE(sim_->IsPoweredOn());
  ASSERT_EQ(sim_->RecordErrors().size(), 1u);
  EXPECT_EQ(sim_->RecordErrors()[0].text, "transfer cut off by the unplug");
}

TEST_F(ScannerSimTest, FaultsChangedLaterApplyFromThen) {
  SwitchOn(ScannerConfig::QZ600());
  WakeUp();
  scanner::ScannerFaults faults;
  faults.dspRamError = true;
  sim_->SetFaults(faults);
  Ask("9", "Programming DSP Flash");
  Ask("y", "RAM Error");
}

}  // namespace
