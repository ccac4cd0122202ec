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

// The card's rate comes from the frames done since the last restart, and only once they span
// 60 s of the monotonic clock; a card whose frames take longer than their card time is slow.
TEST(ClockTest, CardRateIsMeasuredOverAtLeastSixtySeconds) {
  CardRateMeter meter;
  meter.FrameDone(100.0, 4.0);  // frames of another stretch, dropped at the restart
  meter.FrameDone(200.0, 4.0);
  meter.Restart();
  double now = 1000.0;
  for (int frame = 0; frame < 15; ++frame, now += 4.0002) meter.FrameDone(now, 4.0);
  EXPECT_FALSE(meter.Measured(0.015)) << "14 frames span 56 s";
  for (int frame = 0; frame < 2; ++frame, now += 4.0002) meter.FrameDone(now, 4.0);
  const auto rate = meter.Measured(0.015);
  ASSERT_TRUE(rate);
  EXPECT_NEAR(rate->ppm, -50.0, 0.01);
  EXPECT_NEAR(rate->span_s, 64.0032, 1e-9);
  EXPECT_NEAR(rate->bound_ppm, 0.03 / 64.0032 * 1e6, 1e-6);
}

}  // namespace
}  // namespace fc::testing
