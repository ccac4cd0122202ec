#include "analysis/zero_crossing.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "frame_builder.h"

namespace fc::analysis_test {
namespace {

struct Segment {
  int first;
  int last;
  int value;  // as seen by a rising measurement
};

// Each case runs once with rising crossings and once mirrored about the mid level (v becomes
// 256 - v), which turns it into the same case with falling crossings and the same times.
class ZeroCrossing : public FrameTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    state.MaxLimitCounts = 20;  // top limit 235, bottom limit 20
    UpdateConsecutive(state);
    state.LookForZeroCrossing = 1;
  }
  bool Falling() const { return GetParam(); }

  void Shape(int frame, std::initializer_list<Segment> segments) {
    Fill(frame, 128);
    for (const Segment& s : segments) {
      SetRange(frame, s.first, s.last, static_cast<uint8_t>(Falling() ? 256 - s.value : s.value));
    }
  }
  void SinglePoint() {
    state.ConsecutivePoints = 1;
    UpdateConsecutive(state);
  }
  // Returns the frame line after analysing frame 0 in whole points or hi-res.
  std::string Measure(bool hi_res) {
    state.UseHiResTime = hi_res ? 1 : 0;
    return Analyze(0);
  }

  // First zone point 40; first crossing between 59 (100) and 60 (200); the next zone point
  // from 72 on is 140, whose window crosses between 150 (120) and 151 (136) and reaches the
  // opposite zone at 153 (240).
  void WorkedExample() {
    Shape(0, {{40, 58, 10}, {59, 59, 100}, {60, 139, 200}, {140, 149, 10}, {150, 150, 120},
              {151, 151, 136}, {152, 152, 130}, {153, 153, 240}, {154, 1023, 200}});
  }
};

INSTANTIATE_TEST_SUITE_P(Directions, ZeroCrossing, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Falling" : "Rising");
                         });

TEST_P(ZeroCrossing, WorkedExample) {
  WorkedExample();
  state.FoundMin = 7;
  state.FoundNextMax = 8;
  state.Approach = 9;

  EXPECT_EQ(Measure(false), " 0   .3555   ");
  EXPECT_EQ(state.FoundMax, 60);
  EXPECT_EQ(state.PrevPulseSpacing, 91.0f);
  EXPECT_EQ(state.FrameResults[0], 91.0 / 256);

  const float first = 59.0f + 0.28f;
  const float spacing = 150.5f - first;
  EXPECT_EQ(Measure(true), " 0   .3563   ");
  EXPECT_EQ(state.FoundMax, 60);
  EXPECT_EQ(state.PrevPulseSpacing, spacing);
  EXPECT_EQ(state.FrameResults[0], static_cast<double>(spacing) / 256);

  // Only the first crossing index changes among the outputs, and the second point of the zone
  // test stays off until the setting is applied again.
  EXPECT_EQ(state.FoundMin, 7);
  EXPECT_EQ(state.FoundNextMax, 8);
  EXPECT_EQ(state.Approach, 9);
  EXPECT_EQ(state.SecondPointOffset, 0);
  EXPECT_EQ(state.ThirdPointOffset, 4);
}

TEST_P(ZeroCrossing, CrossingTimeIsRoundedToSinglePrecisionAtEachStep) {
  // First crossing between 49 (2) and 50 (133), second between 69 (120) and 70 (136).
  Shape(0, {{40, 49, 2}, {50, 50, 133}, {51, 61, 200}, {62, 68, 2}, {69, 69, 120},
            {70, 70, 136}, {71, 71, 240}, {72, 1023, 200}});
  const float expected = 69.5f - (49.0f + 126.0f / 131.0f);
  // Double arithmetic rounded once at the end gives a different value here.
  ASSERT_NE(static_cast<float>(69.5 - (49.0 + 126.0 / 131.0)), expected);

  Measure(true);
  EXPECT_EQ(state.PrevPulseSpacing, expected);
  EXPECT_EQ(state.FoundMax, 50);
  Measure(false);
  EXPECT_EQ(state.PrevPulseSpacing, 20.0f);
}

TEST_P(ZeroCrossing, MidLevelItselfIsNoCrossing) {
  Shape(0, {{40, 58, 10}, {59, 60, 128}, {61, 61, 129}, {62, 139, 200}, {140, 149, 10},
            {150, 150, 128}, {151, 151, 160}, {152, 152, 240}, {153, 1023, 200}});
  Measure(false);
  EXPECT_EQ(state.FoundMax, 61);
  EXPECT_EQ(state.PrevPulseSpacing, 90.0f);
  // Both crossings start exactly at the mid level: times 60 and 150.
  Measure(true);
  EXPECT_EQ(state.PrevPulseSpacing, 90.0f);
}

TEST_P(ZeroCrossing, ConfirmationWindowCoversTheZonePointAndThe20After) {
  SinglePoint();
  // Zone point 140 crosses at 145 and reaches the opposite zone at 160 = 140 + 20.
  Shape(0, {{40, 40, 10}, {41, 59, 100}, {60, 139, 200}, {140, 140, 10}, {141, 144, 100},
            {145, 159, 150}, {160, 160, 240}, {161, 1023, 200}});
  EXPECT_EQ(Measure(false), " 0   .3320   ");  // 85 points
  EXPECT_EQ(state.PrevPulseSpacing, 85.0f);
  Measure(true);
  EXPECT_EQ(state.PrevPulseSpacing, (144.0f + 0.56f) - (59.0f + 0.28f));

  // One point later the crossing at 145 is not confirmed: no reading in either form.
  Set(0, 160, static_cast<uint8_t>(Falling() ? 256 - 150 : 150));
  Set(0, 161, static_cast<uint8_t>(Falling() ? 256 - 240 : 240));
  EXPECT_EQ(Measure(false), " 0   .0000   ");
  EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
  EXPECT_EQ(state.FrameResults[0], 0.0);
  EXPECT_EQ(Measure(true), " 0   .0000   ");
  EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
  EXPECT_EQ(display.trace.lines.size(), 2u);  // only the two confirmed readings drew
}

TEST_P(ZeroCrossing, UnconfirmedCandidateIsPassedOver) {
  SinglePoint();
  // 140 crosses at 145 but stays short of the opposite zone; 200 crosses at 205, confirmed.
  Shape(0, {{40, 40, 10}, {41, 59, 100}, {60, 139, 200}, {140, 140, 10}, {141, 144, 100},
            {145, 199, 150}, {200, 200, 10}, {201, 204, 100}, {205, 205, 200}, {206, 206, 240},
            {207, 1023, 200}});
  EXPECT_EQ(Measure(false), " 0   .5664   ");
  EXPECT_EQ(state.PrevPulseSpacing, 145.0f);
  Measure(true);
  EXPECT_EQ(state.PrevPulseSpacing, (204.0f + 0.28f) - (59.0f + 0.28f));
}

TEST_P(ZeroCrossing, SecondCandidatesStart12PointsAfterTheFirstCrossing) {
  SinglePoint();
  // A confirmed candidate at 71 (first crossing + 11) is too close; the next is 140.
  Shape(0, {{40, 58, 10}, {59, 59, 100}, {60, 70, 200}, {71, 71, 10}, {72, 72, 200},
            {73, 73, 240}, {74, 139, 200}, {140, 149, 10}, {150, 150, 120}, {151, 151, 136},
            {152, 152, 130}, {153, 153, 240}, {154, 1023, 200}});
  Measure(false);
  EXPECT_EQ(state.PrevPulseSpacing, 91.0f);

  // At first crossing + 12 it counts.
  Shape(0, {{40, 58, 10}, {59, 59, 100}, {60, 71, 200}, {72, 72, 10}, {73, 73, 200},
            {74, 74, 240}, {75, 1023, 200}});
  Measure(false);
  EXPECT_EQ(state.PrevPulseSpacing, 13.0f);
}

TEST_P(ZeroCrossing, ConfirmationNeverReadsPastTheRecordedFrame) {
  SinglePoint();
  // The last zone point, 1010, crosses at 1015 and then stays between the zones up to the last
  // recorded point 1023. The bytes after the frame are 0 and must not confirm a falling crossing.
  Shape(0, {{40, 40, 10}, {41, 59, 100}, {60, 1009, 200}, {1010, 1010, 10}, {1011, 1014, 100},
            {1015, 1023, 200}});
  ASSERT_EQ(state.Row(0)[2 * 1024], 0);
  EXPECT_EQ(Measure(false), " 0   .0000   ");
  EXPECT_EQ(Measure(true), " 0   .0000   ");

  // Reaching the opposite zone at the last recorded point does confirm.
  Set(0, 1023, static_cast<uint8_t>(Falling() ? 256 - 240 : 240));
  EXPECT_EQ(Measure(false), " 0   3.7305   ");  // 955 points
  EXPECT_EQ(state.PrevPulseSpacing, 955.0f);
}

TEST_P(ZeroCrossing, NoFirstCrossingGivesNoReading) {
  // A scratch value left in FoundMax by another operation.
  for (const int16_t left : {int16_t{-100}, int16_t{300}}) {
    SCOPED_TRACE(left);
    // No point in either zone.
    Fill(0, 128);
    for (const bool hi_res : {false, true}) {
      state.FoundMax = left;
      EXPECT_EQ(Measure(hi_res), " 0   .0000   ");
      EXPECT_EQ(state.FoundMax, left);
      EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
    }
    // A zone point, later ones too, but no crossing after the first.
    Shape(0, {{40, 40, 10}, {41, 499, 100}, {500, 510, 10}, {511, 1023, 100}});
    for (const bool hi_res : {false, true}) {
      state.FoundMax = left;
      EXPECT_EQ(Measure(hi_res), " 0   .0000   ");
      EXPECT_EQ(state.FoundMax, left);
      EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
    }
  }
  EXPECT_TRUE(display.trace.lines.empty());
}

TEST_P(ZeroCrossing, FirstCrossingWithoutSecondKeepsTheNewFoundMax) {
  Shape(0, {{40, 58, 10}, {59, 59, 100}, {60, 1023, 200}});
  state.FoundMax = 5;
  EXPECT_EQ(Measure(false), " 0   .0000   ");
  EXPECT_EQ(state.FoundMax, 60);
  EXPECT_EQ(Measure(true), " 0   .0000   ");
  EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
}

TEST_P(ZeroCrossing, OnlyTheValue1SelectsTheModeAndHiRes) {
  WorkedExample();
  state.UseHiResTime = 2;
  EXPECT_EQ(Analyze(0), " 0   .3555   ");  // whole points
  state.LookForZeroCrossing = 2;
  // Jump mode: the zone entries at 40 and 140 are jumps 100 points apart.
  EXPECT_EQ(Analyze(0), " 0   .3906   .000");
}

TEST_F(FrameTest, ZeroCrossingFrameLeavesTheSecondZonePointOffForJumpMode) {
  // Three consecutive points, then one frame in zero-crossing mode.
  Fill(0, 128);
  state.LookForZeroCrossing = 1;
  Analyze(0);
  EXPECT_EQ(state.SecondPointOffset, 0);

  // A jump-mode frame now tests points i and i + 2 only.
  state.LookForZeroCrossing = 0;
  Fill(1, 128);
  Set(1, 400, kTop);
  Set(1, 402, kTop);
  Analyze(1);
  EXPECT_EQ(state.FoundMax, 400);

  // Applying the setting again brings back the middle point.
  UpdateConsecutive(state);
  Analyze(1);
  EXPECT_EQ(state.FoundMax, 0);
}

TEST(CrossingTime, InterpolatesBetweenThePointsAroundTheMidLevel) {
  uint8_t row[8] = {};
  row[2] = 100;
  row[4] = 200;
  EXPECT_EQ(CrossingTime(row, 2), 1.0f + 0.28f);
  row[2] = 156;
  row[4] = 56;
  EXPECT_EQ(CrossingTime(row, 2), 1.0f + 0.28f);
  row[2] = 128;
  row[4] = 129;
  EXPECT_EQ(CrossingTime(row, 2), 1.0f);
  row[4] = 127;
  EXPECT_EQ(CrossingTime(row, 2), 1.0f);
}

}  // namespace
}  // namespace fc::analysis_test
