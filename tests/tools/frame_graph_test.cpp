#include "tools/frame_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "support/fakes.h"

namespace fc {
namespace {

using testing::FakePicture;

constexpr Color kBlue{0, 0, 255};
constexpr Color kGreen{0, 255, 0};
constexpr Color kCyan{0, 255, 255};

class DetailedGraph : public ::testing::Test {
 protected:
  DetailedGraph() {
    state.BufferSize = 1024;
    state.ConsecutivePoints = 3;
    state.SecondPointOffset = 2;
    state.ThirdPointOffset = 4;
    state.MaxLimitCounts = 5;
    state.JumpCounts = 80;
    state.CurrentFrame = 37;  // the graph must not follow CurrentFrame
    for (int f = 0; f <= kLastFrame; ++f) std::memset(state.Row(f), 128, 2048);
  }

  // A maximum pulse: three points at the top after a jump from the mid level.
  void Pulse(int frame, int point) {
    for (int k = 0; k < 3; ++k) state.Row(frame)[2 * (point + k)] = 255;
  }

  // Trace segment whose end lies at x == point (the mid line is excluded).
  const FakePicture::Line* SegmentEndingAt(int point) const {
    const auto end = scope.lines.end() - 1;
    const auto it = std::find_if(scope.lines.begin(), end,
                                 [&](const FakePicture::Line& l) { return l.x2 == point; });
    return it == end ? nullptr : &*it;
  }

  void ExpectMidLineLast() const {
    ASSERT_FALSE(scope.lines.empty());
    EXPECT_EQ(scope.lines.back(), (FakePicture::Line{0, 128, 600, 128, std::nullopt}));
  }

  MeasurementState state;
  FakePicture scope;
};

TEST_F(DetailedGraph, FlatFrameIsOneBlueTraceAndTheMidLine) {
  const auto message = DrawDetailedGraph(state, scope, "3");
  ASSERT_TRUE(message);
  EXPECT_EQ(*message, (Message{"Delta  0", MessageButtons::Ok, MessageIcon::None, ""}));
  EXPECT_EQ(scope.clears, 1);
  ASSERT_EQ(scope.lines.size(), 1016u + 1u);  // points 6..1021, then the mid line
  EXPECT_EQ(scope.lines.front(), (FakePicture::Line{4, 128, 6, 128, kBlue}));
  EXPECT_EQ(scope.lines[scope.lines.size() - 2], (FakePicture::Line{1019, 128, 1021, 128, kBlue}));
  for (std::size_t k = 0; k + 1 < scope.lines.size(); ++k) {
    EXPECT_EQ(scope.lines[k].x2 - scope.lines[k].x1, 2);
    EXPECT_EQ(scope.lines[k].color, kBlue);
  }
  ExpectMidLineLast();
  EXPECT_EQ(state.FoundMax, 0);
  EXPECT_EQ(state.FoundNextMax, 0);
}

TEST_F(DetailedGraph, ColoursChangeAtTheTwoPulsesWithAGapAfterTheFirst) {
  Pulse(4, 200);
  Pulse(4, 300);
  scope.DrawLine(1, 2, 3, 4, std::nullopt);  // an earlier graph
  const auto message = DrawDetailedGraph(state, scope, "4");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Delta  100");
  EXPECT_EQ(state.FoundMax, 200);
  EXPECT_EQ(state.FoundNextMax, 300);
  EXPECT_EQ(scope.clears, 1);

  // The segment into the first pulse is blue and drawn from the point before it.
  ASSERT_NE(SegmentEndingAt(200), nullptr);
  EXPECT_EQ(*SegmentEndingAt(200), (FakePicture::Line{198, 128, 200, 255, kBlue}));
  for (int point = 201; point <= 212; ++point) EXPECT_EQ(SegmentEndingAt(point), nullptr) << point;
  ASSERT_NE(SegmentEndingAt(213), nullptr);
  EXPECT_EQ(*SegmentEndingAt(213), (FakePicture::Line{211, 128, 213, 128, kGreen}));
  EXPECT_EQ(SegmentEndingAt(300)->color, kGreen);
  EXPECT_EQ(SegmentEndingAt(300)->y2, 255);
  EXPECT_EQ(*SegmentEndingAt(301), (FakePicture::Line{299, 255, 301, 255, kCyan}));
  EXPECT_EQ(SegmentEndingAt(1021)->color, kCyan);
  EXPECT_EQ(SegmentEndingAt(6)->color, kBlue);
  // 195 blue + 88 green + 721 cyan segments, then the mid line.
  EXPECT_EQ(scope.lines.size(), 195u + 88u + 721u + 1u);
  ExpectMidLineLast();
}

TEST_F(DetailedGraph, SecondPulseOnlyFromThirteenPointsAfterTheFirst) {
  Pulse(0, 200);
  Pulse(0, 205);  // inside the skipped points
  Pulse(0, 213);
  const auto message = DrawDetailedGraph(state, scope, "0");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Delta  13");
  EXPECT_EQ(SegmentEndingAt(213)->color, kGreen);
  EXPECT_EQ(SegmentEndingAt(214)->color, kCyan);
}

TEST_F(DetailedGraph, ThirdPulseChangesNothing) {
  Pulse(2, 200);
  Pulse(2, 300);
  Pulse(2, 400);
  const auto message = DrawDetailedGraph(state, scope, "2");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Delta  100");
  EXPECT_EQ(state.FoundNextMax, 300);
  EXPECT_EQ(SegmentEndingAt(400)->color, kCyan);
  EXPECT_EQ(SegmentEndingAt(403)->color, kCyan);
  EXPECT_NE(SegmentEndingAt(410), nullptr);  // no second gap
}

TEST_F(DetailedGraph, LateFirstPulseEndsTheGraph) {
  Pulse(1, 1008);  // BufferSize - 16: the skip lands beyond BufferSize - 5
  const auto message = DrawDetailedGraph(state, scope, "1");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Delta -1008");
  ASSERT_GE(scope.lines.size(), 2u);
  EXPECT_EQ(scope.lines[scope.lines.size() - 2], (FakePicture::Line{1006, 128, 1008, 255, kBlue}));
  ExpectMidLineLast();

  // One point earlier the skip still lands inside: points 1020 and 1021 are drawn.
  std::memset(state.Row(1), 128, 2048);
  Pulse(1, 1007);
  const auto earlier = DrawDetailedGraph(state, scope, "1");
  ASSERT_TRUE(earlier);
  EXPECT_EQ(earlier->text, "Delta -1007");
  ASSERT_EQ(scope.lines.size(), (1007u - 6u + 1u) + 2u + 1u);
  EXPECT_EQ(scope.lines[scope.lines.size() - 3], (FakePicture::Line{1018, 128, 1020, 128, kGreen}));
  EXPECT_EQ(scope.lines[scope.lines.size() - 2], (FakePicture::Line{1019, 128, 1021, 128, kGreen}));
}

TEST_F(DetailedGraph, AnswerIsRoundedTiesToEven) {
  Pulse(12, 100);
  Pulse(12, 150);
  Pulse(14, 100);
  Pulse(14, 170);
  EXPECT_EQ(DrawDetailedGraph(state, scope, "12.5")->text, "Delta  50");
  EXPECT_EQ(DrawDetailedGraph(state, scope, "13.5")->text, "Delta  70");
  EXPECT_EQ(DrawDetailedGraph(state, scope, "1 4")->text, "Delta  70");
  Pulse(1000, 500);
  EXPECT_EQ(DrawDetailedGraph(state, scope, "1000")->text, "Delta -500");
}

TEST_F(DetailedGraph, OutOfRangeFrameIsRejectedBeforeAnythingChanges) {
  for (const char* answer : {"1001", "-1", "1e30", "99999999999999999999", "1000.5001"}) {
    SCOPED_TRACE(answer);
    FakePicture picture;
    picture.DrawLine(1, 2, 3, 4, std::nullopt);
    state.FoundMax = 11;
    state.FoundNextMax = 22;
    const auto message = DrawDetailedGraph(state, picture, answer);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->icon, MessageIcon::Exclamation);
    EXPECT_EQ(message->buttons, MessageButtons::Ok);
    EXPECT_EQ(message->title, "");
    EXPECT_NE(message->text.find("1000"), std::string::npos);
    EXPECT_EQ(picture.clears, 0);
    EXPECT_EQ(picture.lines.size(), 1u);
    EXPECT_EQ(state.FoundMax, 11);
    EXPECT_EQ(state.FoundNextMax, 22);
  }
}

TEST_F(DetailedGraph, CancelLeavesEverythingAlone) {
  scope.DrawLine(1, 2, 3, 4, std::nullopt);
  state.FoundMax = 11;
  state.FoundNextMax = 22;
  EXPECT_FALSE(DrawDetailedGraph(state, scope, ""));
  EXPECT_EQ(scope.clears, 0);
  EXPECT_EQ(scope.lines.size(), 1u);
  EXPECT_EQ(state.FoundMax, 11);
  EXPECT_EQ(state.FoundNextMax, 22);
}

}  // namespace
}  // namespace fc
