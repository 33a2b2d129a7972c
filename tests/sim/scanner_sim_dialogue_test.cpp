// The simulated scanner's dialogue, driven from the program's end of a sim
// line: power and lines, wake-up and banner per family, every menu key and
// prompt, the Image Store Area question and the memory dump.
#include <gtest/gtest.h>

#include <thread>

#include "sim_fixture.h"
#include "support/sim_loader_reading.h"

namespace {

using scanner::LoaderState;
using scanner::ScannerConfig;
using simtest::ScannerSimTest;

TEST_F(ScannerSimTest, SwitchedOffScannerHoldsItsLinesLowAndAnswersOnceOn) {
  Create(ScannerConfig::QZ600());
  EXPECT_EQ(near_->ModemStatus(), 0u);
  EXPECT_FALSE(sim_->IsPoweredOn());
  // The wake-up typed at a switched-off scanner waits for CTS.
  std::thread typist([&] { near_->Type("****"); });
  EXPECT_TRUE(sim_->Received().empty());
  sim_->PowerOn();
  EXPECT_TRUE(sim_->IsPoweredOn());
  EXPECT_TRUE(near_->ReadUntil("Loader menu"));
  typist.join();
  EXPECT_EQ(near_->ModemStatus(), platform::MS_CTS_ON | platform::MS_DSR_ON);
  EXPECT_EQ(sim_->BannerCount(), 1);

  sim_->PowerOff();
  EXPECT_EQ(near_->ModemStatus(), 0u);
  EXPECT_EQ(sim_->State(), LoaderState::kOff);
}

struct BannerCase {
  const char* name;
  ScannerConfig config;
  char digit;
  int major, minor, patch;
  bool board;
  int boardMajor, boardMinor;
};

TEST_F(ScannerSimTest, BannerTellsFamilyLoaderVersionAndOnMv2TheBoard) {
  ScannerConfig oddVersions = ScannerConfig::QZ600();
  oddVersions.major = 1;
  oddVersions.minor = 10;
  oddVersions.patch = 0;
  ScannerConfig newBoard = ScannerConfig::MV2();
  newBoard.boardMajor = 5;
  newBoard.boardMinor = 0;
  const BannerCase cases[] = {
      {"QZ500", ScannerConfig::QZ500(), '5', 1, 4, 2, false, 0, 0},
      {"QZ600", ScannerConfig::QZ600(), '6', 2, 3, 4, false, 0, 0},
      {"MV2", ScannerConfig::MV2(), '6', 3, 1, 0, true, 4, 9},
      {"QZ600 1.10.0", oddVersions, '6', 1, 10, 0, false, 0, 0},
      {"MV2 board 5.0", newBoard, '6', 3, 1, 0, true, 5, 0},
  };
  for (const BannerCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    near_->Type("****");
    ASSERT_TRUE(near_->ReadUntil("> "));
    const auto reading = simtest::ReadBanner(near_->Take());
    EXPECT_EQ(reading.familyDigit, c.digit);
    EXPECT_TRUE(reading.hasVersion);
    EXPECT_EQ(reading.major, c.major);
    EXPECT_EQ(reading.minor, c.minor);
    EXPECT_EQ(reading.patch, c.patch);
    EXPECT_EQ(reading.hasBoard, c.board);
    if (c.board) {
      EXPECT_TRUE(reading.boardHasVersion);
      EXPECT_EQ(reading.boardMajor, c.boardMajor);
      EXPECT_EQ(reading.boardMinor, c.boardMinor);
    }
  }
}

TEST_F(ScannerSimTest, BoardTextFaultsReadAsTheProgramExpects) {
  ScannerConfig noVersion = ScannerConfig::MV2();
  noVersion.faults.boardTextWithoutVersion = true;
  SwitchOn(noVersion);
  near_->Type("****");
  ASSERT_TRUE(near_->ReadUntil("> "));
  auto reading = simtest::ReadBanner(near_->Take());
  EXPECT_TRUE(reading.hasVersion);
  EXPECT_TRUE(reading.hasBoard);
  EXPECT_FALSE(reading.boardHasVersion);

  ScannerConfig noBoard = ScannerConfig::MV2();
  noBoard.boardText = false;
  SwitchOn(noBoard);
  near_->Type("****");
  ASSERT_TRUE(near_->ReadUntil("> "));
  reading = simtest::ReadBanner(near_->Take());
  EXPECT_EQ(reading.major, 3);
  EXPECT_FALSE(reading.hasBoard);
}

TEST_F(ScannerSimTest, EachWakeUpOfFourStarsGetsOneBanner) {
  SwitchOn(ScannerConfig::QZ600());
  near_->Type("****");
  ASSERT_TRUE(near_->ReadUntil("> "));
  near_->Type("****");
  ASSERT_TRUE(sim_->WaitForReceived("********", 10000));
  ASSERT_TRUE(near_->ReadUntil("> "));
  EXPECT_EQ(sim_->BannerCount(), 2);
  EXPECT_EQ(sim_->KeysTyped(), "");
}

struct MenuCase {
  const char* name;
  ScannerConfig config;
  std::string keys;                // typed one by one, each answered
  std::vector<std::vector<std::string>> answers;  // texts awaited after each key
  LoaderState after;
};

TEST_F(ScannerSimTest, MenuKeysAnswerWithTheirPrompts) {
  ScannerConfig oldLoader = ScannerConfig::QZ600();
  oldLoader.major = 1;
  oldLoader.minor = 1;
  oldLoader.patch = 0;
  const MenuCase cases[] = {
      {"QZ600 CPLD", ScannerConfig::QZ600(), "31",
       {{"CPLD update menu", "Execute"}, {"Execute", "receive"}}, LoaderState::kReceiving},
      {"QZ500 CPLD", ScannerConfig::QZ500(), "31",
       {{"CPLD update menu", "Execute"}, {"Execute", "receive"}}, LoaderState::kReceiving},
      {"CPLD menu left", ScannerConfig::QZ600(), "3q", {{"CPLD update menu"}, {"Loader menu"}}, LoaderState::kMenu},
      {"MV2 FPGA", ScannerConfig::MV2(), "3", {{"FPGA Update", "abort"}}, LoaderState::kReceiving},
      {"DSP", ScannerConfig::QZ600(), "9y", {{"Programming DSP Flash"}, {"Ready", "receive"}},
       LoaderState::kReceiving},
      {"DSP declined", ScannerConfig::QZ600(), "9n", {{"Programming DSP Flash"}, {"Cancelled", "Loader menu"}},
       LoaderState::kMenu},
      {"MV2 UIM", ScannerConfig::MV2(), "8", {{"UIM Agent Update", "abort"}}, LoaderState::kReceiving},
      {"QZ600 image", ScannerConfig::QZ600(), "1", {{"receive", "send"}}, LoaderState::kReceiving},
      {"MV2 image", ScannerConfig::MV2(), "1", {{"receive", "send"}}, LoaderState::kReceiving},
      {"QZ500 loader", ScannerConfig::QZ500(), "a", {{"Special", "receive"}}, LoaderState::kReceiving},
      {"MV2 loader", ScannerConfig::MV2(), "a", {{"Special", "receive"}}, LoaderState::kReceiving},
      {"QZ600 dump", ScannerConfig::QZ600(), "7", {{"Dump", "0x1234abcd"}}, LoaderState::kDumpStartAddress},
      {"MV2 dump", ScannerConfig::MV2(), "7", {{"Dump", "0x1234abcd"}}, LoaderState::kDumpStartAddress},
      {"loader 1.1.0 dump", oldLoader, "4", {{"Dump", "0x1234abcd"}}, LoaderState::kDumpStartAddress},
      {"loader 1.1.0 has no 7", oldLoader, "7", {{"Unknown key"}}, LoaderState::kMenu},
      {"loader 2.3.4 has no 4", ScannerConfig::QZ600(), "4", {{"Unknown key"}}, LoaderState::kMenu},
      {"MV2 has no DSP", ScannerConfig::MV2(), "9", {{"Unknown key"}}, LoaderState::kMenu},
      {"QZ600 has no UIM", ScannerConfig::QZ600(), "8", {{"Unknown key"}}, LoaderState::kMenu},
      {"exit", ScannerConfig::QZ600(), "x", {{"Starting the scanner"}}, LoaderState::kAwaitingWakeUp},
  };
  for (const MenuCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    WakeUp();
    for (size_t i = 0; i < c.keys.size(); ++i) {
      const std::vector<std::string>& texts = c.answers[i];
      const std::string answer = Ask(c.keys.substr(i, 1), texts.back());
      for (const std::string& text : texts) EXPECT_NE(answer.find(text), std::string::npos) << text;
    }
    EXPECT_TRUE(sim_->WaitForState(c.after, 10000)) << scanner::LoaderStateName(sim_->State());
    EXPECT_EQ(sim_->KeysTyped(), c.keys);
  }
}

TEST_F(ScannerSimTest, KeysBeforeTheWakeUpAreNotAnswered) {
  SwitchOn(ScannerConfig::QZ600());
  near_->Type("3");
  ASSERT_TRUE(sim_->WaitForReceived("3", 10000));
  near_->Type("****");
  ASSERT_TRUE(near_->ReadUntil("> "));
  const std::string answer = near_->Take();
  EXPECT_EQ(answer.find("CPLD update menu"), std::string::npos);
  EXPECT_EQ(sim_->State(), LoaderState::kMenu);
}

TEST_F(ScannerSimTest, ImageStoreQuestionDeclinedKeepsTheDataAndAcceptedErasesIt) {
  ScannerConfig config = ScannerConfig::QZ600();
  config.imageStoreHasData = true;
  SwitchOn(config);
  WakeUp();
  std::string answer = Ask("1", "Proceed");
  EXPECT_NE(answer.find("lost"), std::string::npos);
  answer = Ask("n", "> ");
  EXPECT_NE(answer.find("aborted"), std::string::npos);
  EXPECT_NE(answer.find("Loader menu"), std::string::npos);

  // Still there: asked again.
  Ask("1", "Proceed");
  answer = Ask("y", "send");
  EXPECT_NE(answer.find("receive"), std::string::npos);
  EXPECT_EQ(sim_->State(), LoaderState::kReceiving);
  answer = Ask("\xFF", "> ");
  EXPECT_NE(answer.find("Write flash complete"), std::string::npos);

  // Erased: the next block goes without the question.
  answer = Ask("1", "send");
  EXPECT_EQ(answer.find("Proceed"), std::string::npos);
  EXPECT_EQ(sim_->KeysTyped(), "1n1y1");
}

TEST_F(ScannerSimTest, StoreQuestionAtEveryBlockWhenAskedFor) {
  ScannerConfig config = ScannerConfig::QZ500();
  config.askStoreEveryBlock = true;
  SwitchOn(config);
  WakeUp();
  for (int block = 0; block < 2; ++block) {
    Ask("1", "Proceed");
    Ask("y", "send");
    Ask("\xFF", "Write flash complete");
  }
}

struct DumpCase {
  const char* name;
  ScannerConfig config;
  const char* key;
  const char* start;       // typed, with CR
  const char* end;
  const char* startMarker;
  const char* endMarker;
};

TEST_F(ScannerSimTest, DumpShowsTheSpecialBlockAsThe64BytesTheProgramDecodes) {
  ScannerConfig oldLoader = ScannerConfig::QZ600();
  oldLoader.major = 1;
  oldLoader.minor = 1;
  oldLoader.patch = 0;
  ScannerConfig zeros = ScannerConfig::QZ600();
  zeros.specialBlock.fill(0);
  const DumpCase cases[] = {
      {"QZ600", ScannerConfig::QZ600(), "7", "FFC0\r", "10000\r", "ffc0", "00010000"},
      {"QZ600 zero block", zeros, "7", "FFC0\r", "10000\r", "ffc0", "00010000"},
      {"loader 1.1.0", oldLoader, "4", "FFC0\r", "10000\r", "ffc0", "00010000"},
      {"MV2", ScannerConfig::MV2(), "7", "1FFC0\r", "20000\r", "1ffc0", "00020000"},
  };
  for (const DumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchOn(c.config);
    WakeUp();
    Ask(c.key, "0x1234abcd");
    Ask(c.start, "0xabcd1234");
    const std::string answer = Ask(c.end, "> ");
    const auto between = simtest::TextBetween(answer, c.startMarker, c.endMarker);
    ASSERT_TRUE(between) << answer;
    const auto bytes = simtest::DecodeDump(*between);
    ASSERT_TRUE(bytes) << *between;
    EXPECT_EQ(*bytes, std::vector<uint8_t>(c.config.specialBlock.begin(), c.config.specialBlock.end()));
    EXPECT_EQ(sim_->DumpCount(), 1);
    EXPECT_EQ(sim_->State(), LoaderState::kMenu);
  }
}

TEST_F(ScannerSimTest, ShortDumpsComeTheConfiguredNumberOfTimes) {
  ScannerConfig config = ScannerConfig::QZ600();
  config.faults.shortDumps = 2;
  config.faults.shortDumpBytes = 40;
  SwitchOn(config);
  WakeUp();
  const size_t expected[] = {40, 40, 64};
  for (size_t count : expected) {
    Ask("7", "0x1234abcd");
    Ask("FFC0\r", "0xabcd1234");
    const std::string answer = Ask("10000\r", "> ");
    const auto bytes = simtest::DecodeDump(simtest::TextBetween(answer, "ffc0", "00010000").value_or(""));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), count);
  }
}

TEST_F(ScannerSimTest, DumpRejectsAnEndAddressBelowTheStart) {
  SwitchOn(ScannerConfig::QZ600());
  WakeUp();
  Ask("7", "0x1234abcd");
  Ask("FFC0\r", "0xabcd1234");
  const std::string answer = Ask("FF00\r", "> ");
  EXPECT_NE(answer.find("Bad address"), std::string::npos);
  EXPECT_EQ(sim_->DumpCount(), 0);
}

}  // namespace
