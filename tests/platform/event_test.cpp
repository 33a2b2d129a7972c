#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/time.h"

namespace platform {
namespace {

// Restores the process time scale a test changed.
class ScopedTimeScale {
 public:
  explicit ScopedTimeScale(double scale) : previous_(TimeScale()) { SetTimeScale(scale); }
  ~ScopedTimeScale() { SetTimeScale(previous_); }

 private:
  double previous_;
};

struct SetCase {
  bool set0, set1, set2;
  int expected;
};

TEST(WaitForAnyTest, ReturnsLowestIndexAmongSetEvents) {
  const SetCase cases[] = {
      {true, false, false, 0}, {false, true, false, 1}, {false, false, true, 2},
      {true, true, true, 0},   {false, true, true, 1},  {true, false, true, 0},
  };
  for (const SetCase& c : cases) {
    Event e0, e1, e2;
    if (c.set0) e0.Set();
    if (c.set1) e1.Set();
    if (c.set2) e2.Set();
    EXPECT_EQ(WaitForAny({&e0, &e1, &e2}, 0), c.expected)
        << c.set0 << c.set1 << c.set2;
    // Manual reset: a wait leaves the events as they were.
    EXPECT_EQ(e0.IsSet(), c.set0);
    EXPECT_EQ(e1.IsSet(), c.set1);
    EXPECT_EQ(e2.IsSet(), c.set2);
  }
}

TEST(WaitForAnyTest, TimesOutWhenNothingIsSet) {
  Event e0, e1;
  EXPECT_EQ(WaitForAny({&e0, &e1}, 0), kWaitTimeout);
  EXPECT_EQ(WaitForAny({&e0, &e1}, 20), kWaitTimeout);
}

TEST(WaitForAnyTest, ResetEventNoLongerEndsTheWait) {
  Event e;
  e.Set();
  e.Reset();
  EXPECT_FALSE(e.IsSet());
  EXPECT_EQ(WaitForAny({&e}, 1), kWaitTimeout);
}

TEST(WaitForAnyTest, FailsForNullEventOrNone) {
  Event e;
  e.Set();
  EXPECT_EQ(WaitForAny({&e, nullptr}, 0), kWaitFailed);
  EXPECT_EQ(WaitForAny({nullptr, &e}, kInfinite), kWaitFailed);
  EXPECT_EQ(WaitForAny(nullptr, 0, 0), kWaitFailed);
  Event* none[1] = {&e};
  EXPECT_EQ(WaitForAny(none, 0, kInfinite), kWaitFailed);
}

TEST(WaitForAnyTest, WakesWhenAnotherThreadSetsAnEvent) {
  Event e0, e1;
  std::thread setter([&] {
    Sleep(10);
    e1.Set();
  });
  EXPECT_EQ(WaitForAny({&e0, &e1}, kInfinite), 1);
  setter.join();
}

TEST(WaitForAnyTest, LongTimeOutIsShortenedByTheTimeScale) {
  ScopedTimeScale scale(0.0001);  // an hour becomes 360 ms
  Event e;
  EXPECT_EQ(WaitForAny({&e}, 3600u * 1000u), kWaitTimeout);
}

TEST(WaitForAnyTest, ScaledTimeOutStillWaitsForASetter) {
  // The scaled time-out (10 s) is long; the set from another thread ends the
  // wait instead.
  ScopedTimeScale scale(1000.0);
  Event e;
  std::thread setter([&] { e.Set(); });
  EXPECT_EQ(WaitForAny({&e}, 10), 0);
  setter.join();
}

TEST(WaitForAnyTest, WaitUnderWayFollowsAChangedTimeScale) {
  // A wait of an hour has begun at the normal scale; speeding time up ends it
  // by the new scale, without anything being set.
  ScopedTimeScale restore(1.0);
  Event e;
  std::atomic<bool> waiting{false};
  std::atomic<int> result{-2};
  std::thread waiter([&] {
    waiting = true;
    result = WaitForAny({&e}, 3600u * 1000u);
  });
  while (!waiting.load()) std::this_thread::yield();
  SetTimeScale(0.0001);
  waiter.join();
  EXPECT_EQ(result.load(), kWaitTimeout);
}

}  // namespace
}  // namespace platform
