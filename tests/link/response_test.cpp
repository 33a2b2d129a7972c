#include "link/response.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "support/link_fixture.h"

namespace {

using linktest::LinkFixture;

// ---- FindBytes ----

TEST(FindBytes, FindsOnlyTextsWhollyInsideTheLength) {
  struct Case {
    std::string data;
    size_t length;
    const char* text;
    long expected;  // offset, or -1 for none
  };
  const std::string withZeros("\0\0QZ6\0RCP", 9);
  const Case cases[] = {
      {"abcDone!", 8, "Done!", 3},         // ends exactly at the length
      {"abcDone!", 7, "Done!", -1},        // would reach one byte beyond it
      {"abcDone!", 0, "D", -1},
      {withZeros, 9, "QZ6", 2},            // zero bytes do not end the data
      {withZeros, 9, "RCP", 6},
      {"sendsend", 8, "send", 0},          // the first place wins
      {"ssend", 5, "send", 1},             // a failed candidate does not hide the next
      {"abc", 3, "abcd", -1},              // text longer than the data
      {"abc", 3, "", -1},                  // an empty text is never found
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' in " << c.length << " bytes");
    const auto* data = reinterpret_cast<const uint8_t*>(c.data.data());
    const uint8_t* at = FindBytes(data, c.length, c.text);
    EXPECT_EQ(at == nullptr ? -1 : at - data, c.expected);
  }
}

// ---- the waits, with the test as the receiver ----

class WaitTest : public LinkFixture {
 protected:
  void SetUp() override { rig.CreatePanel(); }

  // Feeds each burst into the ring once the wait has taken everything
  // before it, so each burst is examined on its own, as bursts off the line
  // are. Stops when told.
  void FeedBursts(const std::vector<std::string>& bursts) {
    for (const std::string& burst : bursts) {
      if (!linktest::WaitUntil([&] { return stop_.load() || rig.panel->m_session.m_rxBuffer.Count() == 0; })) {
        return;
      }
      if (stop_.load()) return;
      ASSERT_TRUE(rig.PutInRing(burst));
    }
  }

  std::atomic<bool> stop_{false};
};

struct PairCase {
  const char* what;
  const char* successA;
  const char* successB;
  const char* failureA;
  const char* failureB;
  std::vector<std::string> bursts;
  UpdateStatus expected;
  // The answer ends in silence before the texts are complete or before the
  // window was due for a search: the case runs with a short time-out.
  bool endsInSilence = false;
};

class WaitForPairTest : public WaitTest, public testing::WithParamInterface<PairCase> {};

TEST_P(WaitForPairTest, Outcome) {
  const PairCase& c = GetParam();
  // A case that ends in silence gets a short time-out; the others one that
  // never runs out before the texts arrive.
  const uint32_t timeoutMs = (c.expected == UPD_TIMEOUT || c.endsInSilence) ? 300 : 60000;
  UpdateStatus result = UPD_WAIT_FAILED;
  {
    linktest::Background feeder([&] { FeedBursts(c.bursts); });
    result = WaitForPair(rig.panel->m_session, timeoutMs,
                         Expect{{c.successA, c.successB}, {c.failureA, c.failureB}});
    stop_.store(true);
  }
  EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WaitForPairTest,
    testing::Values(
        PairCase{"success text alone, with twice its length in the window", "receive", nullptr,
                 nullptr, nullptr, {"..receive....."}, UPD_OK},
        // Below twice the longest text the window waits for more; when the
        // loader falls silent instead, what it holds is still searched.
        PairCase{"reply shorter than twice the longest text, then silence", "receive", nullptr,
                 nullptr, nullptr, {"..receive...."}, UPD_OK, true},
        PairCase{"the longest text of the call sets the window, a failure text too", "send",
                 nullptr, "Image Store Area", nullptr, {"send and more..."}, UPD_OK, true},
        PairCase{"a short reply without the texts, then silence", "receive", nullptr, nullptr,
                 nullptr, {"..recei"}, UPD_TIMEOUT},
        PairCase{"the last burst after a search is shorter than the text, then silence",
                 "Write flash complete", nullptr, nullptr, nullptr,
                 {std::string(40, '.') + "Write flash comp", "lete"}, UPD_OK, true},
        PairCase{"A then B in separate bursts", "receive", "send", nullptr, nullptr,
                 {"ready to receive", "now send the file"}, UPD_OK},
        PairCase{"B then A in separate bursts", "receive", "send", nullptr, nullptr,
                 {"you may send now", "ready to receive"}, UPD_OK},
        PairCase{"a text cut between two bursts", "receive", nullptr, nullptr, nullptr,
                 {"0123456789rece", "ive0123456789"}, UPD_OK},
        PairCase{"a text cut between bursts at every point of a long stream", "Write flash complete",
                 nullptr, nullptr, nullptr,
                 {std::string(45, '.') + "Write fla", "sh comp", "lete" + std::string(40, '.')},
                 UPD_OK},
        PairCase{"success and failure complete in the same search", "receive", "send", "lost",
                 "Proceed", {"lost? Proceed? receive, send"}, UPD_OK},
        PairCase{"failure pair complete", "receive", "send", "lost", "Proceed",
                 {"data will be lost. Proceed (y/n)?"}, UPD_FAIL_MATCH},
        PairCase{"failure pair over two bursts, in either order", "receive", "send", "lost",
                 "Proceed", {"Proceed ......", "...... lost"}, UPD_FAIL_MATCH},
        PairCase{"failure text A alone completes its pair", "Ready", "receive", "RAM Error",
                 nullptr, {"RAM Error ........."}, UPD_FAIL_MATCH},
        PairCase{"failure text B without A is never looked for", "Done!", nullptr, nullptr,
                 "RAM", {"RAM RAM RAM RAM RAM"}, UPD_TIMEOUT},
        PairCase{"texts seen long before still count", "receive", "send", nullptr, nullptr,
                 {"receive" + std::string(4000, '-'), std::string(3000, '-'), "send ......."},
                 UPD_OK},
        PairCase{"nothing at all", "receive", nullptr, nullptr, nullptr, {}, UPD_TIMEOUT},
        PairCase{"a failure pair in a reply shorter than twice the longest text, then silence",
                 "receive", "send", "lost", "Proceed", {"lost Proceed"}, UPD_FAIL_MATCH, true}),
    [](const testing::TestParamInfo<PairCase>& info) { return "case" + std::to_string(info.index); });

// A complete success pair ends the wait as soon as it is in, though the
// window is not yet due for its search and nothing more comes. These waits
// have no time-out, so only the match can end them with a result; should it
// never come, the exit event ends the wait with UPD_ABORTED.
class EarlyMatchTest : public WaitTest, public testing::WithParamInterface<PairCase> {};

TEST_P(EarlyMatchTest, Outcome) {
  const PairCase& c = GetParam();
  std::atomic<bool> returned{false};
  UpdateStatus result = UPD_WAIT_FAILED;
  {
    linktest::Background feeder([&] { FeedBursts(c.bursts); });
    linktest::Background waiter([&] {
      result = WaitForPair(rig.panel->m_session, platform::kInfinite,
                           Expect{{c.successA, c.successB}, {c.failureA, c.failureB}});
      returned = true;
    });
    if (!linktest::WaitUntil([&] { return returned.load(); })) rig.panel->m_session.m_hExitEvent->Set();
    waiter.Join();
    stop_.store(true);
  }
  EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ShortReplies, EarlyMatchTest,
    testing::Values(
        PairCase{"success text in a reply shorter than twice its length", "receive", nullptr,
                 nullptr, nullptr, {"..receive.."}, UPD_OK},
        PairCase{"success pair over two short bursts", "receive", "send", nullptr, nullptr,
                 {"send", " receive"}, UPD_OK},
        PairCase{"a text completed by a short burst after a search", "Write flash complete",
                 nullptr, nullptr, nullptr, {std::string(40, '.') + "Write flash comp", "lete"},
                 UPD_OK},
        // The failure pair is complete first, but it is reported only at the
        // due search, where the success pair completed by then wins.
        PairCase{"a failure pair before the due search does not end the wait", "receive", "send",
                 "lost", "Proceed", {"lost Proceed", "receive send"}, UPD_OK}),
    [](const testing::TestParamInfo<PairCase>& info) { return "case" + std::to_string(info.index); });

TEST_F(WaitTest, PairDataInTheRingIsExaminedAfterTheExitEvent) {
  ASSERT_TRUE(rig.PutInRing("....Done!....."));
  rig.panel->m_session.m_hExitEvent->Set();
  EXPECT_EQ(WaitForPair(rig.panel->m_session, 60000, Expect{.success = {"Done!"}}), UPD_OK);
  // The ring is empty now: the exit event decides.
  EXPECT_EQ(WaitForPair(rig.panel->m_session, 60000, Expect{.success = {"Done!"}}), UPD_ABORTED);
}

TEST_F(WaitTest, PairExitEventEndsAWaitOnAnEmptyRing) {
  UpdateStatus result = UPD_OK;
  linktest::Background waiter(
      [&] {
        result = WaitForPair(rig.panel->m_session, platform::kInfinite, Expect{.success = {"x"}});
      });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  rig.panel->m_session.m_hExitEvent->Set();
  waiter.Join();
  EXPECT_EQ(result, UPD_ABORTED);
}

TEST_F(WaitTest, PairSilenceIsMeasuredAfreshAfterEachBurst) {
  // A scanner that keeps talking keeps the wait alive past its time-out.
  UpdateStatus result = UPD_OK;
  {
    linktest::Background talker([&] {
      for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        rig.PutInRing("..........");
      }
      rig.PutInRing("....Done!.....");
    });
    result = WaitForPair(rig.panel->m_session, 2000, Expect{.success = {"Done!"}});
  }
  EXPECT_EQ(result, UPD_OK);
}

// ---- WaitBetween ----

struct Between {
  UpdateStatus status;
  std::string text;
};

class WaitBetweenTest : public WaitTest {
 protected:
  Between Wait(const char* start, const char* end, size_t capacity = 1024, uint32_t timeoutMs = 60000) {
    std::vector<uint8_t> out(capacity + 16, 0xEE);
    size_t copied = 12345;
    const UpdateStatus status =
        WaitBetween(rig.panel->m_session, timeoutMs, out.data(), capacity, start, end, &copied);
    // Nothing beyond the capacity is ever written.
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "byte " << i;
    return {status, std::string(out.begin(), out.begin() + static_cast<long>(std::min(copied, capacity)))};
  }
};

TEST_F(WaitBetweenTest, CopiesWhatLiesBetweenTheMarkers) {
  struct Case {
    std::vector<std::string> bursts;
    std::string text;
  };
  const Case cases[] = {
      {{"QZBuild"}, ""},  // nothing between: zero bytes
      {{"noise QZ6 loader version 2.3.4 Build 17"}, "6 loader version 2.3.4 "},
      {{"noise Q", "Z", "5 version 1.0.0 Bu", "ild"}, "5 version 1.0.0 "},  // start text split
      {{std::string(4000, 'Q'), std::string(1000, 'Q') + "Z6 B", "uild"}, "6 "},  // long noise first
      {{std::string("QZ\0\x01\xff", 5) + "Build"}, std::string("\0\x01\xff", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bursts.front().substr(0, 40));
    stop_.store(false);
    Between got;
    {
      linktest::Background feeder([&] { FeedBursts(c.bursts); });
      got = Wait("QZ", "Build");
      stop_.store(true);
    }
    EXPECT_EQ(got.status, UPD_OK);
    EXPECT_EQ(got.text, c.text);
  }
}

TEST_F(WaitBetweenTest, LeavesWhatFollowsTheEndTextInTheRing) {
  ASSERT_TRUE(rig.PutInRing("QZ6 one Build\r\nBoard version 4.9 Loader\r\n"));
  EXPECT_EQ(Wait("QZ", "Build").text, "6 one ");
  EXPECT_EQ(Wait("Board", "Loader").text, " version 4.9 ");
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 2u);
}

TEST_F(WaitBetweenTest, EmptyMarkerIsABadArgument) {
  ASSERT_TRUE(rig.PutInRing("QZ6 Build"));
  EXPECT_EQ(Wait("", "Build").status, UPD_BAD_ARGUMENT);
  EXPECT_EQ(Wait("QZ", "").status, UPD_BAD_ARGUMENT);
  EXPECT_EQ(rig.panel->m_session.m_rxBuffer.Count(), 9u) << "nothing was taken";
}

TEST_F(WaitBetweenTest, TextLongerThanTheCapacityIsCutToIt) {
  ASSERT_TRUE(rig.PutInRing("QZ" + std::string(100, 'v') + "Build"));
  const Between got = Wait("QZ", "Build", 10);
  EXPECT_EQ(got.status, UPD_OK);
  EXPECT_EQ(got.text, std::string(10, 'v'));
}

TEST_F(WaitBetweenTest, WindowNeverOverflowsWhenTheEndTextNeverComes) {
  // After a start text, more than a whole window of bytes without the end
  // text: that reply is given up and the next complete one is found.
  const std::vector<std::string> bursts = {"QZ" + std::string(4000, 'a'), std::string(4000, 'b'),
                                           "QZ6 version 1.2.3 Build"};
  Between got;
  {
    linktest::Background feeder([&] { FeedBursts(bursts); });
    got = Wait("QZ", "Build");
    stop_.store(true);
  }
  EXPECT_EQ(got.status, UPD_OK);
  EXPECT_EQ(got.text, "6 version 1.2.3 ");
}

TEST_F(WaitBetweenTest, SilenceExitAndDataAfterExit) {
  {
    linktest::ScopedTimeScale fast(0.1);
    EXPECT_EQ(Wait("QZ", "Build", 64, 500).status, UPD_TIMEOUT);
    ASSERT_TRUE(rig.PutInRing("QZ6 B"));
    EXPECT_EQ(Wait("QZ", "Build", 64, 500).status, UPD_TIMEOUT) << "an unfinished reply, then silence";
  }
  ASSERT_TRUE(rig.PutInRing("QZ5 Build"));
  rig.panel->m_session.m_hExitEvent->Set();
  EXPECT_EQ(Wait("QZ", "Build").text, "5 ") << "data already in the ring is still examined";
  EXPECT_EQ(Wait("QZ", "Build").status, UPD_ABORTED);
}

}  // namespace
