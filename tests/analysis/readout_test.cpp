#include <gtest/gtest.h>

#include <optional>

#include "analysis/frame_analysis.h"
#include "analysis/measurement_state.h"
#include "support/fakes.h"

namespace fc {
namespace {

using Line = testing::FakePicture::Line;

class Readout : public ::testing::Test {
 protected:
  void Publish(int frame, double period, std::optional<double> mismatch) {
    PublishFrameResult(state, display, frame, period, mismatch);
  }
  MeasurementState state;
  testing::FakeDisplay display;
};

TEST_F(Readout, FrameLineInLabelLogAndResults) {
  Publish(12, 0.390625, 2.9126);
  EXPECT_EQ(display.labels[0], "");
  EXPECT_EQ(display.labels[1], " 12   .3906   2.913");
  EXPECT_EQ(display.log, "Text1 12   .3906   2.913\r\n");  // appended, never cleared here
  EXPECT_EQ(state.FrameResults[12], 0.390625);
  ASSERT_EQ(display.trace.lines.size(), 1u);
  EXPECT_EQ(display.trace.lines[0], (Line{11, 0.390625, 13, 0.390625, std::nullopt}));
}

TEST_F(Readout, LineForms) {
  struct Case {
    int frame;
    double period;
    std::optional<double> mismatch;
    const char* line;
  };
  const Case cases[] = {
      {0, 0.0, 0.0, " 0   .0000   .000"},
      {7, 1.5, 0.0, " 7   1.5000   .000"},
      {3, 123456.5, 0.0, " 3   123456.5000   .000"},
      {4, 0.15625, 123.4567, " 4   .1563   123.457"},  // tie away from zero; long integer part
      {12, 0.390625, std::nullopt, " 12   .3906   "},      // zero-crossing mode: no mismatch
      {1000, 2.0, 1.0, " 1000   2.0000   1.000"},
  };
  for (const Case& c : cases) {
    display.log.clear();
    Publish(c.frame, c.period, c.mismatch);
    EXPECT_EQ(display.labels[1], c.line);
    EXPECT_EQ(display.log, std::string(c.line) + "\r\n");
    EXPECT_EQ(state.FrameResults[static_cast<std::size_t>(c.frame)], c.period);
  }
}

TEST_F(Readout, ZeroPeriodIsStoredButNotDrawn) {
  state.FrameResults[5] = 0.7;
  Publish(5, 0.0, 0.0);
  EXPECT_EQ(state.FrameResults[5], 0.0);
  EXPECT_EQ(display.labels[1], " 5   .0000   .000");
  EXPECT_TRUE(display.trace.lines.empty());
}

TEST_F(Readout, SameFrameTwiceKeepsTheLaterValueAndBothLines) {
  Publish(0, 0.5, 0.0);
  Publish(0, 0.25, std::nullopt);
  EXPECT_EQ(display.log, "Text1 0   .5000   .000\r\n 0   .2500   \r\n");
  EXPECT_EQ(state.FrameResults[0], 0.25);
  EXPECT_EQ(display.trace.lines,
            (std::vector<Line>{{-1, 0.5, 1, 0.5, std::nullopt}, {-1, 0.25, 1, 0.25, std::nullopt}}));
}

TEST_F(Readout, FrameBeyondTheStoreIsIgnored) {
  Publish(kFrameCount, 0.5, 0.0);
  Publish(-1, 0.5, 0.0);
  EXPECT_EQ(display.labels[1], "Label1");
  EXPECT_EQ(display.log, "Text1");
  EXPECT_TRUE(display.trace.lines.empty());
}

}  // namespace
}  // namespace fc
