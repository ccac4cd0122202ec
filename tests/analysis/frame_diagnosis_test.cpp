#include "analysis/frame_diagnosis.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frame_builder.h"

namespace fc::analysis_test {
namespace {

class FrameDiagnosisTest : public FrameTest {
 public:
  // For the frame shapes of the table.
  using FrameTest::Fill;
  using FrameTest::MaxPulse;
  using FrameTest::MinPulse;
  using FrameTest::Set;
  using FrameTest::SetRange;

  // Up in steps of 20 counts: 60 within three samples, never a jump of more than 80.
  void Ramp(int first, int from, int to) {
    for (int i = first, v = from; v <= to; ++i, v += 20) Set(0, i, static_cast<uint8_t>(v));
  }
};

struct Case {
  const char* name;
  bool zero_crossing;
  std::function<void(FrameDiagnosisTest&)> shape;  // frame 0, filled with 128 beforehand
  NoReading reason;
  int lowest;
  int highest;
  int top_shortfall = 0;
  int bottom_shortfall = 0;
};

// Jump mode with the defaults (zones above 250 and below 5); zero-crossing mode with Max Limit
// 20 (zones above 235 and below 20). Each frame's reason must agree with the reading the detector
// gives the same frame.
TEST_F(FrameDiagnosisTest, NamesTheScanThatFoundNoReadingAndTheLevels) {
  const std::vector<Case> cases = {
      {"jump: no zone", false,
       [](FrameDiagnosisTest& t) {
         t.SetRange(0, 100, 102, 200);
         t.SetRange(0, 300, 302, 60);
         t.Set(0, 400, 249);  // a single sample nearer the top than the held level
       },
       NoReading::NoZone, 60, 249, 51, 56},
      {"jump: no jump into the zone", false,
       [](FrameDiagnosisTest& t) {
         // Held one count inside the top zone.
         t.Ramp(100, 131, 251);
         t.SetRange(0, 107, 200, 251);
       },
       NoReading::NoJump, 128, 251},
      {"jump: one pulse of each kind", false,
       [](FrameDiagnosisTest& t) {
         t.MaxPulse(0, 200);
         t.MinPulse(0, 500);
       },
       NoReading::OnePulseEach, 2, 252},
      {"jump: measured", false,
       [](FrameDiagnosisTest& t) {
         t.MaxPulse(0, 200);
         t.MaxPulse(0, 300);
       },
       NoReading::None, 128, 252},
      {"crossing: no zone point", true,
       [](FrameDiagnosisTest& t) {
         t.SetRange(0, 100, 110, 230);
         t.SetRange(0, 300, 310, 30);
       },
       NoReading::NoZonePoint, 30, 230, 6, 11},
      {"crossing: no crossing after the zone point", true,
       [](FrameDiagnosisTest& t) {
         t.SetRange(0, 6, 1023, 100);
         t.SetRange(0, 40, 50, 10);
       },
       NoReading::NoCrossing, 10, 128},
      {"crossing: the input does not swing to the other zone", true,
       [](FrameDiagnosisTest& t) {
         t.SetRange(0, 40, 50, 10);
         t.SetRange(0, 51, 1023, 200);
         t.SetRange(0, 140, 150, 10);
       },
       NoReading::NotConfirmed, 10, 200},
      {"crossing: measured", true,
       [](FrameDiagnosisTest& t) {
         t.SetRange(0, 40, 50, 10);
         t.SetRange(0, 51, 139, 240);
         t.SetRange(0, 140, 150, 10);
         t.SetRange(0, 151, 1023, 240);
       },
       NoReading::None, 10, 240},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    state.LookForZeroCrossing = c.zero_crossing ? 1 : 0;
    if (c.zero_crossing) state.MaxLimitCounts = 20;
    Fill(0, 128);
    c.shape(*this);

    const FrameDiagnosis d = DiagnoseFrame(state, 0);
    EXPECT_EQ(d.reason, c.reason);
    EXPECT_EQ(d.levels.lowest, c.lowest);
    EXPECT_EQ(d.levels.highest, c.highest);
    EXPECT_EQ(d.top_shortfall, c.top_shortfall);
    EXPECT_EQ(d.bottom_shortfall, c.bottom_shortfall);
    EXPECT_EQ(ReasonText(d).empty(), c.reason == NoReading::None);
    EXPECT_EQ(NoReadingAdvice(d).empty(), c.reason == NoReading::None);

    Analyze(0);
    EXPECT_EQ(state.FrameResults[0] > 0.0, c.reason == NoReading::None);
  }
}

// Samples that reach a zone without passing the zone test are not "short" of it; a count of one
// is singular. Jump mode with the defaults (zones above 250 and below 5).
TEST_F(FrameDiagnosisTest, ReasonTellsAZoneTestMissFromAnInputThatFallsShort) {
  const struct {
    const char* name;
    bool zero_crossing;
    std::function<void(FrameDiagnosisTest&)> shape;  // frame 0, filled with 128 beforehand
    const char* reason;
  } cases[] = {
      {"both zones on single points", false,
       [](FrameDiagnosisTest& t) {
         for (int i = 0; i < kCaptureBufferSize; ++i) t.Set(0, i, i % 3 == 0 ? 255 : 0);
       },
       "enters both zones, but never on all the points the zone test looks at (Consecutive "
       "Points)"},
      {"both zones on single points, crossing mode", true,
       [](FrameDiagnosisTest& t) {
         // The crossing scan's zone test looks at points i and i + 2.
         constexpr uint8_t kCycle[] = {255, 0, 128};
         for (int i = 0; i < kCaptureBufferSize; ++i) t.Set(0, i, kCycle[i % 3]);
       },
       "enters both zones, but never on all the points the zone test looks at (Consecutive "
       "Points)"},
      {"the top zone on one point", false,
       [](FrameDiagnosisTest& t) {
         t.Fill(0, 5);
         t.Set(0, 100, 255);
       },
       "enters the top zone, but never on all the points the zone test looks at (Consecutive "
       "Points), and stays 1 count short of the bottom zone"},
      {"one count below the top zone", false, [](FrameDiagnosisTest& t) { t.Fill(0, 250); },
       "never enters a zone: 1 count short of the top zone, 246 short of the bottom zone"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    state.LookForZeroCrossing = c.zero_crossing ? 1 : 0;
    Fill(0, 128);
    c.shape(*this);
    EXPECT_EQ(ReasonText(DiagnoseFrame(state, 0)), c.reason);
  }
  FrameDiagnosis jump;
  jump.reason = NoReading::NoJump;
  jump.levels = {0, 255, 5, 250};
  jump.jump_counts = 1;
  EXPECT_EQ(ReasonText(jump), "enters a zone, but never after a jump of more than 1 count");
}

TEST(NoReadingAdvice, NamesTheLevelsAndOnlyChangesThatArePossible) {
  FrameDiagnosis d;
  d.reason = NoReading::NoZone;
  d.levels = {2, 181, 40, 215};
  d.max_limit_counts = 40;
  EXPECT_EQ(NoReadingAdvice(d),
            "The input stays between 2 and 181; pulses must rise above 215 and fall below 40. "
            "Raise the input level.");
  d.levels = {20, 181, 30, 225};
  d.max_limit_counts = 30;
  EXPECT_EQ(NoReadingAdvice(d),
            "The input stays between 20 and 181; pulses must rise above 225 and fall below 30. "
            "Raise the input level, or raise Max Limit (Preferences).");
}

}  // namespace
}  // namespace fc::analysis_test
