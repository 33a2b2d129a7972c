// The simulated loader's texts: each answer carries the texts the program
// waits for at that step and none of another step's, and the memory dump
// reads back, by the program's rules, as exactly the bytes shown.
#include "loader_texts.h"

#include <gtest/gtest.h>

#include <set>

#include "support/sim_loader_reading.h"

namespace {

using scanner::texts::AwaitedTexts;

std::set<std::string> AwaitedIn(const std::string& text) {
  std::set<std::string> found;
  for (const std::string& awaited : AwaitedTexts()) {
    if (text.find(awaited) != std::string::npos) found.insert(awaited);
  }
  return found;
}

struct TextCase {
  const char* name;
  std::string text;
  std::set<std::string> awaited;
};

TEST(LoaderTexts, EachAnswerCarriesOnlyItsOwnAwaitedTexts) {
  namespace t = scanner::texts;
  const TextCase cases[] = {
      {"banner", t::Banner('6', 2, 3, 4, 1203), {"QZ", "version", "Build", "Loader"}},
      {"board text", t::BoardText(4, 9, true), {"Board", "version", "Loader"}},
      {"board text without version", t::BoardText(4, 9, false), {"Board", "Loader"}},
      {"menu QZ", t::Menu(false, '7'), {"Loader", "Loader menu"}},
      {"menu QZ old loader", t::Menu(false, '4'), {"Loader", "Loader menu"}},
      {"menu MV2", t::Menu(true, '7'), {"Loader", "Loader menu"}},
      {"CPLD menu", t::kCpldMenu, {"CPLD update menu", "Execute"}},
      {"CPLD execute", t::kCpldExecute, {"Execute", "receive"}},
      {"FPGA prompt", t::kFpgaPrompt, {"FPGA Update", "abort"}},
      {"DSP question", t::kDspQuestion, {"Programming DSP Flash"}},
      {"DSP ready", t::kDspReady, {"Ready", "receive"}},
      {"DSP RAM error", t::kDspRamError, {"RAM Error"}},
      {"DSP cancelled", t::kDspCancelled, {}},
      {"UIM prompt", t::kUimPrompt, {"UIM Agent Update", "abort"}},
      {"image prompt", t::kImagePrompt, {"receive", "send"}},
      {"store question", t::kStoreQuestion, {"lost", "Proceed"}},
      {"store erased", t::kStoreErased, {}},
      {"download aborted", t::kDownloadAborted, {"aborted", "abort"}},
      {"loader prompt", t::kLoaderPrompt, {"Loader", "Special", "receive"}},
      {"dump prompt", t::kDumpPrompt, {"Dump", "0x1234abcd"}},
      {"end address prompt", t::kEndAddressPrompt, {"End Address", "0xabcd1234"}},
      {"bad address", t::kBadAddress, {}},
      {"FPGA done", t::kFpgaDone, {"Done!"}},
      {"FPGA failed", t::kFpgaFailed, {}},
      {"DSP done", t::kDspDone, {"DONE"}},
      {"DSP failed", t::kDspFailed, {}},
      {"UIM stored", t::kUimStored, {}},
      {"flash complete", t::kFlashComplete, {"Write flash complete"}},
      {"flash failed", t::kFlashFailed, {}},
      {"new logic active", t::kNewLogicActive, {}},
      {"exit", t::kExit, {}},
      {"unknown key", t::kUnknownKey, {}},
      {"dump", t::DumpText(0xFFC0, std::vector<uint8_t>(64, 0x51), 0x10000), {}},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(AwaitedIn(c.text), c.awaited) << c.name << ": " << c.text;
  }
}

struct AnswerCase {
  const char* name;
  std::string answer;  // all the loader says in answer to the key (or the end byte)
  const char* successA;
  const char* successB;
  const char* failureA;
  const char* failureB;
  simtest::PairResult expected;
};

// However the answer is cut into bursts, and however much of the loader's
// earlier output is still ahead of it, the program's wait sees it.
TEST(LoaderTexts, EveryAnswerIsSeenWhateverTheBursts) {
  namespace t = scanner::texts;
  using simtest::PairResult;
  const std::string menu = t::Menu(false, '7');
  const AnswerCase cases[] = {
      {"CPLD menu", t::kCpldMenu, "CPLD update menu", "Execute", nullptr, nullptr, PairResult::kSuccess},
      {"CPLD execute", t::kCpldExecute, "Execute", "receive", nullptr, nullptr, PairResult::kSuccess},
      {"FPGA prompt", t::kFpgaPrompt, "FPGA Update", "abort", nullptr, nullptr, PairResult::kSuccess},
      {"DSP question", t::kDspQuestion, "Programming DSP Flash", nullptr, nullptr, nullptr, PairResult::kSuccess},
      {"DSP ready", t::kDspReady, "Ready", "receive", "RAM Error", nullptr, PairResult::kSuccess},
      {"DSP RAM error", t::kDspRamError + menu, "Ready", "receive", "RAM Error", nullptr, PairResult::kFailure},
      {"UIM prompt", t::kUimPrompt, "UIM Agent Update", "abort", nullptr, nullptr, PairResult::kSuccess},
      {"image prompt", t::kImagePrompt, "receive", "send", "lost", "Proceed", PairResult::kSuccess},
      {"store question", t::kStoreQuestion, "receive", "send", "lost", "Proceed", PairResult::kFailure},
      {"store erased", t::kStoreErased + std::string(t::kImagePrompt), "receive", "send", nullptr, nullptr,
       PairResult::kSuccess},
      {"download aborted", t::kDownloadAborted + menu, "aborted", "Loader menu", nullptr, nullptr,
       PairResult::kSuccess},
      {"loader prompt", t::kLoaderPrompt, "Special", "receive", nullptr, nullptr, PairResult::kSuccess},
      {"dump prompt", t::kDumpPrompt, "Dump", "0x1234abcd", nullptr, nullptr, PairResult::kSuccess},
      {"end address prompt", std::string("FFC0") + t::kEndAddressPrompt, "End Address", "0xabcd1234", nullptr,
       nullptr, PairResult::kSuccess},
      {"FPGA done", t::kFpgaDone + t::Menu(true, '7'), "Done!", nullptr, nullptr, nullptr, PairResult::kSuccess},
      {"DSP done", t::kDspDone + menu, "DONE", nullptr, nullptr, nullptr, PairResult::kSuccess},
      {"UIM stored", t::kUimStored + t::Menu(true, '7'), "Loader menu", nullptr, nullptr, nullptr,
       PairResult::kSuccess},
      {"flash complete", t::kFlashComplete + menu, "Write flash complete", nullptr, nullptr, nullptr,
       PairResult::kSuccess},
  };
  for (const AnswerCase& c : cases) {
    for (size_t ahead = 0; ahead <= 48; ++ahead) {
      const std::string stream = std::string(ahead, '.') + c.answer;
      for (size_t size = 1; size <= stream.size(); ++size) {
        ASSERT_EQ(simtest::ReadPair(simtest::Bursts(stream, size), c.successA, c.successB, c.failureA,
                                    c.failureB),
                  c.expected)
            << c.name << ", " << ahead << " bytes ahead, bursts of " << size;
      }
    }
  }
}

// The restated wait itself: the answer that once went unseen.
TEST(LoaderTexts, PairWaitMissesATextRightBeforeSilence) {
  const std::string answer = "\r\nMemory Dump\r\nStart Address (0x1234abcd): ";
  EXPECT_EQ(simtest::ReadPair({answer.substr(0, 35), answer.substr(35)}, "Dump", "0x1234abcd", nullptr, nullptr),
            simtest::PairResult::kSilence);
}

TEST(LoaderTexts, BannerReadsAsFamilyAndVersion) {
  const auto reading = simtest::ReadBanner(scanner::texts::Banner('5', 1, 10, 0, 7));
  EXPECT_EQ(reading.familyDigit, '5');
  ASSERT_TRUE(reading.hasVersion);
  EXPECT_EQ(reading.major, 1);
  EXPECT_EQ(reading.minor, 10);
  EXPECT_EQ(reading.patch, 0);
}

TEST(LoaderTexts, GarbageIsAsLongAsTheTextAndHoldsNothingAwaited) {
  uint32_t seed = 1;
  const std::string text = scanner::texts::Banner('6', 3, 1, 0, 1203) + scanner::texts::Menu(true, '7');
  const std::string noise = scanner::texts::Garbage(text, seed);
  EXPECT_EQ(noise.size(), text.size());
  EXPECT_NE(noise, text);
  EXPECT_TRUE(AwaitedIn(noise).empty()) << noise;
}

struct DumpCase {
  const char* name;
  uint32_t start, end;
  const char* typedStart;  // as the program types it
  const char* typedEnd;
  const char* startMarker;
  const char* endMarker;
  size_t shown;  // bytes the loader shows
};

// What the program would read out of the loader's answer to the end
// address: the echo of what it typed, then the dump, then the menu.
TEST(LoaderTexts, DumpDecodesToExactlyTheBytesShown) {
  const DumpCase cases[] = {
      {"first generation", 0xFFC0, 0x10000, "FFC0", "10000", "ffc0", "00010000", 64},
      {"MV2", 0x1FFC0, 0x20000, "1FFC0", "20000", "1ffc0", "00020000", 64},
      {"short dump", 0xFFC0, 0x10000, "FFC0", "10000", "ffc0", "00010000", 48},
      {"odd short dump", 0x1FFC0, 0x20000, "1FFC0", "20000", "1ffc0", "00020000", 17},
  };
  const std::vector<std::vector<uint8_t>> blocks = {
      std::vector<uint8_t>(64, 0x00), std::vector<uint8_t>(64, 0xFF),
      // bytes that are separators or line ends as characters
      {0x20, 0x09, 0x0D, 0x0A, 0x00, 0xFF, 0x31, 0x32, 0x20, 0x20, 0x09, 0x0D, 0x0A, 0x0D, 0x0A, 0x20,
       0x10, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xC0, 0xFF, 0xC0, 0x1F, 0xFC, 0x0F, 0xFC,
       0x00, 0x02, 0x00, 0x00, 0xAB, 0xCD, 0x12, 0x34, 0x30, 0x30, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30,
       0x65, 0x6E, 0x64, 0x20, 0x66, 0x66, 0x63, 0x30, 0x7F, 0x80, 0x81, 0xFE, 0xEE, 0xDD, 0xCC, 0xBB}};
  for (const DumpCase& c : cases) {
    for (const auto& block : blocks) {
      const std::vector<uint8_t> shown(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(c.shown));
      const std::string answer = std::string(c.typedEnd) + "\r\n" +
                                 scanner::texts::DumpText(c.start, shown, c.end) +
                                 scanner::texts::Menu(c.start > 0xFFFF, '7');
      // The typed start address came before, with its own echo.
      const std::string line = std::string(c.typedStart) + scanner::texts::kEndAddressPrompt + answer;
      const auto between = simtest::TextBetween(line, c.startMarker, c.endMarker);
      ASSERT_TRUE(between) << c.name;
      const auto bytes = simtest::DecodeDump(*between);
      ASSERT_TRUE(bytes) << c.name << ": " << *between;
      EXPECT_EQ(*bytes, shown) << c.name;
    }
  }
}

}  // namespace
