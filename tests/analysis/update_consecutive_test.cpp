#include <gtest/gtest.h>

#include "analysis/measurement_state.h"

namespace fc {
namespace {

TEST(UpdateConsecutive, OffsetsFollowTheNumberOfPoints) {
  struct Case {
    int16_t points;
    int16_t expected_points;
    int16_t second;
    int16_t third;
  };
  const Case cases[] = {{0, 3, 2, 4}, {3, 3, 2, 4}, {2, 2, 2, 0}, {1, 1, 0, 0}};
  for (const Case& c : cases) {
    MeasurementState state;
    state.ConsecutivePoints = c.points;
    state.SecondPointOffset = 9;
    state.ThirdPointOffset = 9;
    UpdateConsecutive(state);
    EXPECT_EQ(state.ConsecutivePoints, c.expected_points) << c.points;
    EXPECT_EQ(state.SecondPointOffset, c.second) << c.points;
    EXPECT_EQ(state.ThirdPointOffset, c.third) << c.points;
  }
}

TEST(UpdateConsecutive, OtherPointCountsLeaveTheOffsets) {
  MeasurementState state;
  state.ConsecutivePoints = 7;
  state.SecondPointOffset = 0;
  state.ThirdPointOffset = 4;
  UpdateConsecutive(state);
  EXPECT_EQ(state.ConsecutivePoints, 7);
  EXPECT_EQ(state.SecondPointOffset, 0);
  EXPECT_EQ(state.ThirdPointOffset, 4);
}

TEST(UpdateConsecutive, LimitsOutsideTheirRangeGetDefaults) {
  struct Case {
    int16_t max_limit, expected_max_limit, jump, expected_jump;
  };
  const Case cases[] = {
      {0, 5, 0, 80},   {41, 5, 29, 80}, {4, 5, 91, 80},
      {5, 5, 30, 30},  {40, 40, 90, 90}, {20, 20, 50, 50},
      {-5, 5, -30, 80},
  };
  for (const Case& c : cases) {
    MeasurementState state;
    state.MaxLimitCounts = c.max_limit;
    state.JumpCounts = c.jump;
    UpdateConsecutive(state);
    EXPECT_EQ(state.MaxLimitCounts, c.expected_max_limit) << c.max_limit;
    EXPECT_EQ(state.JumpCounts, c.expected_jump) << c.jump;
  }
}

TEST(UpdateConsecutive, DamagedConfigurationGetsDefaults) {
  MeasurementState state;
  state.ConsecutivePoints = 0;
  state.MaxLimitCounts = 41;
  state.JumpCounts = 29;
  UpdateConsecutive(state);
  EXPECT_EQ(state.ConsecutivePoints, 3);
  EXPECT_EQ(state.MaxLimitCounts, 5);
  EXPECT_EQ(state.JumpCounts, 80);
  EXPECT_EQ(state.SecondPointOffset, 2);
  EXPECT_EQ(state.ThirdPointOffset, 4);
}

}  // namespace
}  // namespace fc
