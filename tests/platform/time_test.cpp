#include "platform/time.h"

#include <gtest/gtest.h>

#include "platform/event.h"

namespace platform {
namespace {

struct ScaleCase {
  double scale;
  uint32_t ms;
  uint32_t expected;
};

TEST(TimeScaleTest, ScaleMsTable) {
  const ScaleCase cases[] = {
      {1.0, 0, 0},
      {1.0, 500, 500},
      {0.01, 20000, 200},
      {0.01, 60000, 600},
      {0.01, 1, 1},           // never scaled down to nothing
      {0.001, 10, 1},
      {0.5, 3, 2},            // rounded
      {0.01, kInfinite, kInfinite},
      {2.0, kInfinite, kInfinite},
      {1000.0, 0x7FFFFFFFu, kInfinite - 1},  // a finite wait stays finite
      {3.0, 0, 0},
  };
  const double previous = TimeScale();
  for (const ScaleCase& c : cases) {
    SetTimeScale(c.scale);
    EXPECT_EQ(ScaleMs(c.ms), c.expected) << "scale " << c.scale << " ms " << c.ms;
  }
  SetTimeScale(previous);
}

TEST(TimeScaleTest, InvalidScaleIsIgnored) {
  const double previous = TimeScale();
  SetTimeScale(0.25);
  for (double bad : {0.0, -1.0}) {
    SetTimeScale(bad);
    EXPECT_EQ(TimeScale(), 0.25);
  }
  SetTimeScale(previous);
}

TEST(TimeTest, TickCountDoesNotGoBackwards) {
  const uint32_t first = GetTickCount();
  Sleep(2);
  EXPECT_GE(static_cast<uint32_t>(GetTickCount() - first), 1u);
}

TEST(TimeTest, LocalTimeFieldsAreInRange) {
  const LocalTime t = GetLocalTime();
  EXPECT_GE(t.year, 2000);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
}

}  // namespace
}  // namespace platform
