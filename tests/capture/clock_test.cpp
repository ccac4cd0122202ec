#include "capture/clock.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

namespace fc::testing {
namespace {

TEST(ClockTest, FakeTimeOfDayWrapsAtMidnight) {
  FakeClock clock(86399.5);
  int told = 0;
  const int id = clock.Subscribe([&] { ++told; });
  clock.Sleep(1.0);
  EXPECT_DOUBLE_EQ(clock.SecondsSinceMidnight(), 0.5);
  EXPECT_DOUBLE_EQ(clock.MonotonicSeconds(), 1.0);
  clock.Unsubscribe(id);
  clock.Advance(1.0);
  EXPECT_EQ(told, 1);
}

TEST(ClockTest, SystemClockTimeOfDayStaysInTheDay) {
  SystemClock clock;
  const double before = clock.MonotonicSeconds();
  const double time_of_day = clock.SecondsSinceMidnight();
  EXPECT_GE(time_of_day, 0.0);
  EXPECT_LT(time_of_day, 86400.0);
  clock.Sleep(0.01);
  EXPECT_GE(clock.MonotonicSeconds() - before, 0.01);
}

}  // namespace
}  // namespace fc::testing
