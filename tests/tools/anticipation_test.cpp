#include "tools/anticipation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "support/fakes.h"

namespace fc {
namespace {

using testing::FakePicture;

class Anticipation : public ::testing::Test {
 protected:
  Anticipation() {
    state.BufferSize = 1024;
    state.AnticCounts = 50.0f;
    for (int f = 0; f <= kLastFrame; ++f) std::memset(state.Row(f), 128, 2048);
    scope.DrawLine(1, 2, 3, 4, std::nullopt);  // an earlier graph
    state.FoundMax = 11;
    state.FoundNextMax = 22;
  }

  // A single raised point: a rising step at `point` (over two points) and nowhere else.
  void Step(int frame, int point, int rise = 100) {
    state.Row(frame)[2 * point] = static_cast<uint8_t>(128 + rise);
  }
  void Steps(int frame, std::initializer_list<int> points) {
    for (int p : points) Step(frame, p);
  }

  std::string Run(const char* answer) {
    const auto message = AnticipateNextFrame(state, scope, answer);
    if (!message) return "<none>";
    EXPECT_EQ(message->buttons, MessageButtons::Ok);
    EXPECT_EQ(message->title, "");
    return message->text;
  }

  MeasurementState state;
  FakePicture scope;
};

TEST_F(Anticipation, ThreeOrMoreStepsUseTheSpacingBeforeTheLast) {
  Steps(5, {124, 324, 524, 724, 924});
  Step(6, 100);
  EXPECT_EQ(Run("5"), "Gap = 200   FoundMax =  100   AnticMax =  100   Dif =  0");
  EXPECT_EQ(state.FoundMax, 100);
  EXPECT_EQ(state.FoundNextMax, 0);
  EXPECT_EQ(scope.clears, 1);
  EXPECT_TRUE(scope.lines.empty());

  // Later than anticipated: one more spacing is added, once.
  std::memset(state.Row(6), 128, 2048);
  Step(6, 120);
  EXPECT_EQ(Run("5"), "Gap = 200   FoundMax =  120   AnticMax =  300   Dif =  180");
  EXPECT_EQ(state.FoundMax, 120);

  // The last spacing does not enter: moving only the last step moves AnticMax, not Gap.
  std::memset(state.Row(5), 128, 2048);
  Steps(5, {124, 324, 524, 724, 1000});
  EXPECT_EQ(Run("5"), "Gap = 200   FoundMax =  120   AnticMax =  176   Dif =  56");
}

TEST_F(Anticipation, TwoStepsUseTheirSpacing) {
  Steps(7, {400, 900});
  Step(8, 10);
  EXPECT_EQ(Run("7"), "Gap = 500   FoundMax =  10   AnticMax =  376   Dif =  366");
  std::memset(state.Row(8), 128, 2048);
  Step(8, 376);
  EXPECT_EQ(Run("7"), "Gap = 500   FoundMax =  376   AnticMax =  376   Dif =  0");
}

TEST_F(Anticipation, FewerThanTwoStepsAnticipateNothing) {
  Step(1, 30);
  EXPECT_EQ(Run("0"), "Gap = 0   FoundMax =  30   AnticMax =  0   Dif = -30");
  Step(0, 500);  // one step only
  EXPECT_EQ(Run("0"), "Gap = 0   FoundMax =  30   AnticMax =  0   Dif = -30");
}

TEST_F(Anticipation, NegativeAnticipationStaysNegativeAfterOneMoreSpacing) {
  Steps(3, {400, 413, 900});  // 13 apart: both count
  Step(4, 50);
  // Gap 13, AnticMax 13 - 124 = -111, Dif -161 < 0: AnticMax -98, Dif -148.
  EXPECT_EQ(Run("3"), "Gap = 13   FoundMax =  50   AnticMax = -98   Dif = -148");
}

TEST_F(Anticipation, StepsWithinTwelvePointsOfTheLastAreSkipped) {
  Steps(3, {400, 412, 900});
  Step(4, 10);
  EXPECT_EQ(Run("3"), "Gap = 500   FoundMax =  10   AnticMax =  376   Dif =  366");
}

TEST_F(Anticipation, StepMustRiseByMoreThanAnticCounts) {
  Step(9, 100, 50);
  Step(9, 300, 50);
  Step(9, 400, 51);
  Step(9, 900, 51);
  Step(10, 200, 50);
  Step(10, 260, 51);
  EXPECT_EQ(Run("9"), "Gap = 500   FoundMax =  260   AnticMax =  376   Dif =  116");
}

TEST_F(Anticipation, ScanCoversPointsSixTo1015Only) {
  Steps(3, {5, 400, 900, 1016});
  Steps(4, {4, 5, 1016, 1020});
  EXPECT_EQ(Run("3"), "<none>");
  EXPECT_EQ(state.FoundMax, 0);
  Step(4, 1015);
  // 376 - 1015 is negative: one spacing is added.
  EXPECT_EQ(Run("3"), "Gap = 500   FoundMax =  1015   AnticMax =  876   Dif = -139");
  std::memset(state.Row(4), 128, 2048);
  Step(4, 6);
  EXPECT_EQ(Run("3"), "Gap = 500   FoundMax =  6   AnticMax =  376   Dif =  370");
}

TEST_F(Anticipation, NoStepInTheSecondFrameGivesNoMessageButClears) {
  Steps(2, {400, 900});
  EXPECT_FALSE(AnticipateNextFrame(state, scope, "2"));
  EXPECT_EQ(scope.clears, 1);
  EXPECT_TRUE(scope.lines.empty());
  EXPECT_EQ(state.FoundMax, 0);
  EXPECT_EQ(state.FoundNextMax, 0);
}

TEST_F(Anticipation, SecondFrameIsAlwaysTheNextOne) {
  Steps(12, {400, 900});
  Step(13, 10);
  Step(14, 20);
  Steps(14, {400, 900});
  Step(15, 30);
  EXPECT_EQ(Run("12"), "Gap = 500   FoundMax =  10   AnticMax =  376   Dif =  366");
  EXPECT_EQ(Run("12.5"), "Gap = 500   FoundMax =  10   AnticMax =  376   Dif =  366");
  // Frame 14 has steps at 20, 400 and 900.
  EXPECT_EQ(Run("13.5"), "Gap = 380   FoundMax =  30   AnticMax =  256   Dif =  226");
  Steps(999, {400, 900});
  Step(1000, 40);
  EXPECT_EQ(Run("999"), "Gap = 500   FoundMax =  40   AnticMax =  376   Dif =  336");
}

TEST_F(Anticipation, OutOfRangeFrameIsRejectedBeforeAnythingChanges) {
  for (const char* answer : {"1000", "-1", "1e30", "999.5"}) {
    SCOPED_TRACE(answer);
    const auto message = AnticipateNextFrame(state, scope, answer);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->icon, MessageIcon::Exclamation);
    EXPECT_NE(message->text.find("999"), std::string::npos);
    EXPECT_EQ(scope.clears, 0);
    EXPECT_EQ(scope.lines.size(), 1u);
    EXPECT_EQ(state.FoundMax, 11);
    EXPECT_EQ(state.FoundNextMax, 22);
  }
}

TEST_F(Anticipation, CancelLeavesEverythingAlone) {
  EXPECT_FALSE(AnticipateNextFrame(state, scope, ""));
  EXPECT_EQ(scope.clears, 0);
  EXPECT_EQ(scope.lines.size(), 1u);
  EXPECT_EQ(state.FoundMax, 11);
  EXPECT_EQ(state.FoundNextMax, 22);
}

}  // namespace
}  // namespace fc
