#include "tools/averaging.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace fc {
namespace {

class Averaging : public ::testing::Test {
 protected:
  void Fill(int from, std::initializer_list<double> values) {
    for (double v : values) state.FrameResults[static_cast<std::size_t>(from++)] = v;
  }
  std::string Label(const char* first, const char* last, int check = 0) {
    panel = AveragingPanel{first, last, check};
    const AverageOutcome outcome = DoAverage(state, panel);
    EXPECT_FALSE(outcome.warning);
    return outcome.label.value_or("<none>");
  }

  MeasurementState state;
  AveragingPanel panel;
};

TEST_F(Averaging, BadPointsAreDroppedOnlyWhenTicked) {
  state.CurrentFrame = 20;
  for (int f = 0; f < 19; ++f) state.FrameResults[static_cast<std::size_t>(f)] = 0.5;
  state.FrameResults[19] = 1.0;
  EXPECT_EQ(Label("0", "19"), "Avg: .5250  ( 20 readings)");
  EXPECT_EQ(Label("0", "19", 1), "Avg: .5000  ( 19 readings)");
  EXPECT_EQ(Label("0", "19", 2), "Avg: .5250  ( 20 readings)");  // grey is not ticked
}

TEST_F(Averaging, EveryReadingTwentyPercentOffLeavesNone) {
  state.CurrentFrame = 4;
  Fill(0, {0.25, 0.25, 0.25, 0.75});
  EXPECT_EQ(Label("0", "3"), "Avg: .3750  ( 4 readings)");
  EXPECT_EQ(Label("0", "3", 1), "Avg: .0000  ( 0 readings)");
}

TEST_F(Averaging, ZeroAverageIsShownWithItsPlainCountWhenTicked) {
  state.CurrentFrame = 6;
  EXPECT_EQ(Label("1", "5", 1), "Avg: .0000  ( 5 readings)");
}

TEST_F(Averaging, LongIntegerPartAndEmptyRange) {
  state.CurrentFrame = 40;
  for (int f = 0; f < 40; ++f) state.FrameResults[static_cast<std::size_t>(f)] = 12.5;
  EXPECT_EQ(Label("0", "39", 1), "Avg: 12.5000  ( 40 readings)");
  EXPECT_EQ(Label("5", "3"), "Avg: .0000  ( 0 readings)");
  state.CurrentFrame = 0;  // nothing captured yet
  EXPECT_EQ(Label("0", "10"), "Avg: .0000  ( 0 readings)");
}

TEST_F(Averaging, LastFrameIsCappedAtTheEndOfTheRun) {
  state.CurrentFrame = 3;
  Fill(0, {1.0, 2.0, 3.0, 100.0});  // frame 3 is beyond the run
  EXPECT_EQ(Label("0", "500"), "Avg: 2.0000  ( 3 readings)");
  EXPECT_EQ(panel.LastText, "500");

  state.CurrentFrame = 1001;
  state.FrameResults[1000] = 0.125;
  EXPECT_EQ(Label("1000", "32767"), "Avg: .1250  ( 1 readings)");
}

TEST_F(Averaging, BoxesAreReadAsRoundedLeadingNumbers) {
  state.CurrentFrame = 20;
  for (int f = 0; f < 20; ++f) state.FrameResults[static_cast<std::size_t>(f)] = f;
  EXPECT_EQ(Label("2.5", "5"), "Avg: 3.5000  ( 4 readings)");   // from frame 2
  EXPECT_EQ(Label("3.5", "5"), "Avg: 4.5000  ( 2 readings)");   // from frame 4
  EXPECT_EQ(Label("1 2", "13"), "Avg: 12.5000  ( 2 readings)");
  EXPECT_EQ(Label("abc", "1"), "Avg: .5000  ( 2 readings)");
  EXPECT_EQ(panel.FirstText, "abc");
}

TEST_F(Averaging, NegativeFirstFrameBecomesZero) {
  state.CurrentFrame = 3;
  Fill(0, {3.0, 1.0, 2.0});
  EXPECT_EQ(Label("-5", "1"), "Avg: 2.0000  ( 2 readings)");
  EXPECT_EQ(panel.FirstText, "0");
  EXPECT_EQ(Label("-32768", "2"), "Avg: 2.0000  ( 3 readings)");
  EXPECT_EQ(panel.FirstText, "0");
  // A negative last frame is left as typed and gives an empty range.
  EXPECT_EQ(Label("0", "-3"), "Avg: .0000  ( 0 readings)");
  EXPECT_EQ(panel.LastText, "-3");
}

TEST_F(Averaging, NumbersBeyondSixteenBitsAreRejected) {
  state.CurrentFrame = 3;
  Fill(0, {3.0, 1.0, 2.0});
  const std::pair<const char*, const char*> cases[] = {
      {"-40000", "2"}, {"0", "40000"}, {"1e30", "2"}, {"0", "-1e300"},
      {"32767.5", "2"},  // rounds to 32768
      {"-32768.6", "2"}};
  for (const auto& [first, last] : cases) {
    SCOPED_TRACE(std::string(first) + " / " + last);
    panel = AveragingPanel{first, last, 1};
    const AverageOutcome outcome = DoAverage(state, panel);
    EXPECT_FALSE(outcome.label);
    ASSERT_TRUE(outcome.warning);
    EXPECT_EQ(outcome.warning->icon, MessageIcon::Exclamation);
    EXPECT_EQ(outcome.warning->buttons, MessageButtons::Ok);
    EXPECT_EQ(panel, (AveragingPanel{first, last, 1}));
  }
  EXPECT_EQ(Label("-32768.4", "32767.4"), "Avg: 2.0000  ( 3 readings)");
}

}  // namespace
}  // namespace fc
