#include <gtest/gtest.h>

#include <string>

#include "analysis/frame_analysis.h"
#include "frame_builder.h"

namespace fc::analysis_test {
namespace {

using JumpMode = FrameTest;

TEST_F(JumpMode, WorkedExample) {
  struct Case {
    int second_min;
    float prev;
    const char* line;
    double period;
    float spacing;
  };
  const Case cases[] = {
      {353, 101.0f, " 0   .3906   2.913", 100.0 / 256, 100.0f},  // mismatch above 2: prev referees
      {353, 0.0f, " 0   .3965   2.913", 101.5 / 256, 101.5f},    // no previous spacing: the mean
      {351, 101.0f, " 0   .3926   .990", 100.5 / 256, 100.5f},    // mismatch below 2: the mean
      {351, 0.0f, " 0   .3926   .990", 100.5 / 256, 100.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fill(0, 128);
    MaxPulse(0, 200);
    MaxPulse(0, 300);
    MinPulse(0, 250);
    MinPulse(0, c.second_min);
    state.PrevPulseSpacing = c.prev;
    EXPECT_EQ(Analyze(0), c.line);
    EXPECT_EQ(state.FoundMax, 200);
    EXPECT_EQ(state.FoundNextMax, 300);
    EXPECT_EQ(state.FoundMin, 250);
    EXPECT_EQ(state.FrameResults[0], c.period);
    EXPECT_EQ(state.PrevPulseSpacing, c.spacing);
  }
}

TEST_F(JumpMode, ConstantFrameHasNoPulsesAndResetsOutputs) {
  Fill(0, 128);
  state.FoundMax = 11;
  state.FoundMin = 12;
  state.FoundNextMax = 13;
  state.Approach = 1;
  state.Leave = 2;
  state.ApproachNext = 3;
  state.LeaveNext = 4;
  state.PrevPulseSpacing = 55.0f;
  state.FrameResults[0] = 9.0;
  EXPECT_EQ(Analyze(0), " 0   .0000   .000");
  EXPECT_EQ(state.FoundMax, 0);
  EXPECT_EQ(state.FoundMin, 0);
  EXPECT_EQ(state.FoundNextMax, 0);
  EXPECT_EQ(state.Approach, 0);
  EXPECT_EQ(state.Leave, 0);
  EXPECT_EQ(state.ApproachNext, 0);
  EXPECT_EQ(state.LeaveNext, 0);
  EXPECT_EQ(state.PrevPulseSpacing, 0.0f);
  EXPECT_EQ(state.FrameResults[0], 0.0);
  EXPECT_TRUE(display.trace.lines.empty());
}

TEST_F(JumpMode, JumpMustExceedJumpCounts) {
  state.JumpCounts = 50;
  // A rise of exactly 50 from the three points before is no maximum; 51 is.
  for (const auto& [before, found] : {std::pair{202, 0}, std::pair{201, 500}}) {
    Fill(0, 128);
    SetRange(0, 497, 499, static_cast<uint8_t>(before));
    MaxPulse(0, 500);
    Analyze(0);
    EXPECT_EQ(state.FoundMax, found) << "from " << before;
  }
  for (const auto& [before, found] : {std::pair{52, 0}, std::pair{53, 500}}) {
    Fill(0, 128);
    SetRange(0, 497, 499, static_cast<uint8_t>(before));
    MinPulse(0, 500);
    Analyze(0);
    EXPECT_EQ(state.FoundMin, found) << "from " << before;
  }
}

TEST_F(JumpMode, RiseIsMeasuredFromTheThreePointsBefore) {
  state.ConsecutivePoints = 1;
  UpdateConsecutive(state);
  Fill(0, 128);
  Set(0, 596, 100);  // four points back: too far
  SetRange(0, 597, 599, 200);
  Set(0, 600, kTop);
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 0);

  Set(0, 597, 100);  // three points back
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 600);
}

TEST_F(JumpMode, ZoneLimitsAreStrict) {
  state.ConsecutivePoints = 1;
  state.MaxLimitCounts = 20;  // top limit 235, bottom limit 20
  UpdateConsecutive(state);
  for (const auto& [value, found] : {std::pair{235, 0}, std::pair{236, 400}}) {
    Fill(0, 128);
    Set(0, 400, static_cast<uint8_t>(value));
    Analyze(0);
    EXPECT_EQ(state.FoundMax, found) << value;
  }
  for (const auto& [value, found] : {std::pair{20, 0}, std::pair{19, 400}}) {
    Fill(0, 128);
    Set(0, 400, static_cast<uint8_t>(value));
    Analyze(0);
    EXPECT_EQ(state.FoundMin, found) << value;
  }
}

TEST_F(JumpMode, ConsecutivePointsInTheZone) {
  struct Case {
    int16_t points;
    int width;  // points at the top from 400 on
    int found;
  };
  const Case cases[] = {
      {1, 1, 400}, {2, 1, 0}, {2, 2, 400}, {3, 2, 0}, {3, 3, 400},
  };
  for (const Case& c : cases) {
    state.ConsecutivePoints = c.points;
    UpdateConsecutive(state);
    Fill(0, 128);
    MaxPulse(0, 400, c.width);
    MinPulse(0, 600, c.width);
    Analyze(0);
    EXPECT_EQ(state.FoundMax, c.found) << c.points << " points, width " << c.width;
    EXPECT_EQ(state.FoundMin, c.found == 0 ? 0 : 600) << c.points << " points, width " << c.width;
  }
}

TEST_F(JumpMode, SecondPulseIsLookedForFrom13PointsOn) {
  state.ConsecutivePoints = 1;
  UpdateConsecutive(state);
  Fill(0, 128);
  MaxPulse(0, 300, 1);
  MaxPulse(0, 312, 1);  // within the skip
  MaxPulse(0, 330, 1);
  MinPulse(0, 500, 1);
  MinPulse(0, 512, 1);
  MinPulse(0, 540, 1);
  // Max spacing 30, min spacing 40: mismatch 25 %, no previous spacing, so the mean 35.
  EXPECT_EQ(Analyze(0), " 0   .1367   25.000");
  EXPECT_EQ(state.FoundMax, 300);
  EXPECT_EQ(state.FoundNextMax, 330);
  EXPECT_EQ(state.FoundMin, 500);

  Fill(0, 128);
  MaxPulse(0, 300, 1);
  MaxPulse(0, 313, 1);
  Analyze(0);
  EXPECT_EQ(state.FoundNextMax, 313);
  EXPECT_EQ(state.PrevPulseSpacing, 13.0f);
}

TEST_F(JumpMode, ScanCoversPoints6ToBufferSizeMinus3) {
  for (int32_t size : {1024, 512}) {
    SCOPED_TRACE(size);
    state.BufferSize = size;
    state.ConsecutivePoints = 1;
    UpdateConsecutive(state);

    // A first pulse at BufferSize - 16 skips beyond the guard: no second pulse.
    Fill(0, 128);
    MaxPulse(0, size - 16, 1);
    MaxPulse(0, size - 3, 1);
    MinPulse(0, size - 17, 1);
    MinPulse(0, size - 4, 1);
    Analyze(0);
    EXPECT_EQ(state.FoundMax, size - 16);
    EXPECT_EQ(state.FoundNextMax, 0);
    EXPECT_EQ(state.FoundMin, size - 17);
    EXPECT_EQ(state.PrevPulseSpacing, 13.0f);  // the minima's spacing

    Fill(0, 128);
    MaxPulse(0, size - 2, 1);
    Analyze(0);
    EXPECT_EQ(state.FoundMax, 0);
    MaxPulse(0, size - 3, 1);
    Analyze(0);
    EXPECT_EQ(state.FoundMax, size - 3);
  }

  // Three consecutive points at the last point still lie in the frame.
  state.BufferSize = 1024;
  state.ConsecutivePoints = 3;
  UpdateConsecutive(state);
  Fill(0, 128);
  MaxPulse(0, 1021);
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 1021);

  // The first point examined is 6.
  state.ConsecutivePoints = 1;
  UpdateConsecutive(state);
  Fill(0, 128);
  MaxPulse(0, 6, 1);
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 6);
}

TEST_F(JumpMode, FramesShorterThan9PointsAreNotScanned) {
  state.ConsecutivePoints = 1;
  UpdateConsecutive(state);
  Fill(0, 128);
  MaxPulse(0, 6, 1);
  state.BufferSize = 9;
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 6);
  state.BufferSize = 8;
  Analyze(0);
  EXPECT_EQ(state.FoundMax, 0);
  state.BufferSize = 0;
  EXPECT_EQ(Analyze(0), " 0   .0000   .000");
}

TEST_F(JumpMode, MinimumScanIsIndependentOfTheMaximumScan) {
  Fill(0, 128);
  MinPulse(0, 100);
  MinPulse(0, 200);
  MaxPulse(0, 500);
  MaxPulse(0, 600);
  EXPECT_EQ(Analyze(0), " 0   .3906   .000");
  EXPECT_EQ(state.FoundMin, 100);
  EXPECT_EQ(state.FoundMax, 500);

  // One kind only: its spacing, and no mismatch.
  Fill(0, 128);
  MinPulse(0, 100);
  MinPulse(0, 203);
  MaxPulse(0, 500);  // a single maximum: negative spacing, never chosen
  EXPECT_EQ(Analyze(0), " 0   .4023   .000");
}

TEST_F(JumpMode, MismatchIsRelativeToTheMinimaSpacing) {
  struct Case {
    int max_spacing;
    int min_spacing;
    float prev;
    const char* line;
  };
  const Case cases[] = {
      // 1.96 %: the mean even with a previous spacing far from both
      {100, 102, 50.0f, " 0   .3945   1.961"},
      // 2 % plus rounding counts as above 2: the previous spacing picks the nearer one
      {102, 100, 50.0f, " 0   .3906   2.000"},
      {102, 100, 150.0f, " 0   .3984   2.000"},
      // no positive previous spacing: the mean
      {102, 100, -3.0f, " 0   .3945   2.000"},
  };
  for (const Case& c : cases) {
    Fill(0, 128);
    MaxPulse(0, 200);
    MaxPulse(0, 200 + c.max_spacing);
    MinPulse(0, 250);
    MinPulse(0, 250 + c.min_spacing);
    state.PrevPulseSpacing = c.prev;
    EXPECT_EQ(Analyze(0), c.line) << c.max_spacing << "/" << c.min_spacing << " prev " << c.prev;
  }
}

TEST_F(JumpMode, EqualDeviationsFromThePreviousSpacingGoToTheMaxima) {
  struct Case {
    int max_spacing;
    int min_spacing;
    float prev;
    float chosen;
  };
  const Case cases[] = {
      // exact ties, which rounded relative deviations would split either way
      {20, 23, 21.5f, 20.0f},
      {20, 28, 24.0f, 20.0f},
      {20, 17, 18.5f, 20.0f},
      // just off the tie
      {20, 23, 21.49f, 20.0f},
      {20, 23, 21.51f, 23.0f},
      {20, 17, 18.49f, 17.0f},
  };
  for (const Case& c : cases) {
    Fill(0, 128);
    MaxPulse(0, 200);
    MaxPulse(0, 200 + c.max_spacing);
    MinPulse(0, 250);
    MinPulse(0, 250 + c.min_spacing);
    state.PrevPulseSpacing = c.prev;
    Analyze(0);
    EXPECT_EQ(state.PrevPulseSpacing, c.chosen) << c.max_spacing << "/" << c.min_spacing << " prev " << c.prev;
    EXPECT_EQ(state.FrameResults[0], c.chosen / 256.0);
  }
}

TEST_F(JumpMode, PreviousSpacingCarriesFromFrameToFrame) {
  // Frame 0: minima only, 103 apart.
  Fill(0, 128);
  MinPulse(0, 250);
  MinPulse(0, 353);
  // Frames 1 and 3: maxima 100 apart and minima 103 apart; frame 2: nothing.
  for (int frame : {1, 3}) {
    Fill(frame, 128);
    MaxPulse(frame, 200);
    MaxPulse(frame, 300);
    MinPulse(frame, 250);
    MinPulse(frame, 353);
  }
  Fill(2, 128);
  state.PrevPulseSpacing = 100.0f;  // left by an earlier run

  for (int frame = 0; frame <= 3; ++frame) Analyze(frame);
  EXPECT_EQ(display.log,
            "Text1"
            " 0   .4023   .000\r\n"
            " 1   .4023   2.913\r\n"  // refereed by frame 0's 103
            " 2   .0000   .000\r\n"
            " 3   .3965   2.913\r\n");  // frame 2 left 0: the mean
  EXPECT_EQ(state.FrameResults[1], 103.0 / 256);
  EXPECT_EQ(state.FrameResults[2], 0.0);
  EXPECT_EQ(state.FrameResults[3], 101.5 / 256);
  EXPECT_EQ(state.PrevPulseSpacing, 101.5f);
}

TEST_F(JumpMode, PeriodUsesTheRecordingRate) {
  state.QuillRecordFreq = 128.0f;
  Fill(0, 128);
  MaxPulse(0, 200);
  MaxPulse(0, 300);
  EXPECT_EQ(Analyze(0), " 0   .7813   .000");
  EXPECT_EQ(state.FrameResults[0], 0.78125);
}

TEST_F(JumpMode, FrameBeyondTheStoreIsNotAnalysed) {
  state.CurrentFrame = kFrameCount;
  state.FoundMax = 77;
  AnalyzeFrame(state, display);
  EXPECT_EQ(state.FoundMax, 77);
  EXPECT_EQ(display.log, "Text1");
  EXPECT_EQ(display.labels[1], "Label1");
}

}  // namespace
}  // namespace fc::analysis_test
