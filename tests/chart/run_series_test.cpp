#include "chart/run_series.h"

#include <gtest/gtest.h>

#include <vector>

#include "capture/capture.h"
#include "capture/clock.h"
#include "capture/headless_host.h"
#include "support/scripted_wave_input.h"
#include "files/raw_data_file.h"
#include "support/fakes.h"

namespace fc {
namespace {

// A display that keeps the run chart's series, as the window does.
class SeriesDisplay : public testing::FakeDisplay {
 public:
  void RunBegun(FrameTiming timing) override { series.Begin(timing); }
  void FramePublished(const MeasurementState& state, int frame, double period) override {
    series.Record(state, frame, period);
  }
  RunSeries series;
};

class QuietHost : public HeadlessHost, public testing::GTestDialogs {
 public:
  using HeadlessHost::HeadlessHost;
  Dialogs& dialogs() override { return *this; }
  MessageAnswer Show(const Message&) override { return MessageAnswer::Ok; }
  void SetAverageLabel(const std::string&) override {}
};

TEST(RunSeriesTest, PointsGapsAndReplacements) {
  RunSeries series;
  series.Begin(FrameTiming::FrameNumber);
  EXPECT_EQ(series.Last(), nullptr);
  for (const auto& [frame, period] :
       std::vector<std::pair<int, double>>{{0, 0.5}, {1, 0.5}, {2, 0.0}, {3, 0.25}, {4, 0.0}}) {
    EXPECT_EQ(series.Publish(frame, period, frame * 4.0).kind, SeriesChange::Appended);
  }
  // Frames without a reading split the line and are no values; readings are joined.
  EXPECT_EQ(series.Segments(), (std::vector<std::pair<int, int>>{{0, 2}, {3, 4}}));
  EXPECT_FALSE(RunSeries::Value(series.points()[2], ChartQuantity::Rpm, 1));
  EXPECT_EQ(series.NearestReading(7.9)->frame, 1);

  // A re-analysis replaces its frame's point and becomes the readout's frame.
  const SeriesChange change = series.Publish(2, 1.0, 8.0);
  EXPECT_EQ(change.kind, SeriesChange::Replaced);
  EXPECT_EQ(change.index, 2);
  EXPECT_EQ(series.Last()->frame, 2);
  EXPECT_EQ(series.Segments(), (std::vector<std::pair<int, int>>{{0, 4}}));
  // A frame before the last that was never analysed goes into its place.
  series.Begin(FrameTiming::FrameNumber);
  series.Publish(5, 0.5, 20.0);
  EXPECT_EQ(series.Publish(1, 0.5, 4.0).kind, SeriesChange::Inserted);
  EXPECT_EQ(series.points().front().frame, 1);
  EXPECT_EQ(series.Find(5)->time_s, 20.0);
}

TEST(RunSeriesTest, PulsesPerRevolutionAndReadout) {
  EXPECT_DOUBLE_EQ(*RpmOf(0.5, 1), 120.0);
  EXPECT_DOUBLE_EQ(*RpmOf(0.5, 4), 30.0);
  EXPECT_DOUBLE_EQ(*RpmOf(0.001, 1000), 60.0);
  EXPECT_FALSE(RpmOf(0.0, 1));
  const RunPoint point{12, 48.0, 0.390625, {}};
  EXPECT_DOUBLE_EQ(*RunSeries::Value(point, ChartQuantity::Period, 7), 0.390625);
  EXPECT_EQ(RunReadout(&point, 2).rpm, "76.8 RPM");
  EXPECT_EQ(RunReadout(&point, 2).detail, "period 0.3906 s   frame 12");
  const RunPoint none{3, 12.0, 0.0, {}};
  EXPECT_EQ(RunReadout(&none, 1).rpm, "no reading");
}

TEST(RunSeriesTest, CsvText) {
  RunSeries series;
  series.Begin(FrameTiming::FrameNumber);
  series.Publish(0, 0.390625, 0.0);
  series.Publish(1, 0.0, 4.0);
  series.Publish(2, 1.5, 8.0);
  PreciseReading precise;
  precise.has_reading = true;
  precise.period_s = 0.0400001;
  precise.uncertainty_s = 2.5e-9;
  precise.edges = 100;
  series.Publish(3, 0.078125, 12.0, precise);
  EXPECT_EQ(series.CsvText(2),
            "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges\n"
            "0,0.000,0.390625,76.800,,,\n"
            "1,4.000,0.000000,,,,\n"
            "2,8.000,1.500000,20.000,,,\n"
            "3,12.000,0.078125,384.000,0.0400001,5e-09,100\n");
}

// With a precise reading the big number is the timer's, to the digits its uncertainty allows,
// and a frame detector more than 2 % away (or with no reading) is marked; without one the
// readout says why.
TEST(RunSeriesTest, ReadoutShowsThePreciseReadingAndDisagreement) {
  RunPoint point{5, 20.0, 0.0400, {}};
  point.precise.has_reading = true;
  point.precise.period_s = 0.04;
  point.precise.uncertainty_s = 2.5e-8;  // U = 5e-8 s, 1.9e-3 RPM at 1500 RPM
  point.precise.edges = 101;
  ReadoutText text = RunReadout(&point, 1);
  EXPECT_EQ(text.rpm, "1500.0000 \u00b1 0.0019 RPM");
  EXPECT_EQ(text.detail,
            "101 edges, card's clock, \u00b1 at 95 %   frame detector 0.0400 s   frame 5");
  EXPECT_FALSE(text.disagrees);
  EXPECT_EQ(RunReadout(&point, 1, ChartQuantity::Period).rpm, "0.040000000 \u00b1 0.000000050 s");
  for (const double detector : {0.0, 0.078125, 0.0409}) {
    point.period_s = detector;
    text = RunReadout(&point, 1);
    EXPECT_TRUE(text.disagrees) << detector;
    EXPECT_EQ(text.note, "frame reading disagrees");
  }
  point.period_s = 0.0407;  // within 2 %
  EXPECT_FALSE(RunReadout(&point, 1).disagrees);

  const RunPoint raw{3, 12.0, 0.390625, {}};
  EXPECT_EQ(RunReadout(&raw, 1).rpm, "153.6 RPM");
  EXPECT_EQ(RunReadout(&raw, 1, ChartQuantity::Rpm, true).note,
            "No precise readings: a raw data file holds only 256 points per second.");
  RunSeries series;
  series.MarkWithoutPrecise();
  series.Begin(FrameTiming::FrameNumber);
  EXPECT_FALSE(series.without_precise());
}

// The readout's statistics line: a gap breaks the steps, a fractional ratio scales every RPM.
TEST(RunSeriesTest, StatisticsText) {
  RunSeries series;
  EXPECT_EQ(StatisticsText(series, 1), "");
  series.Begin(FrameTiming::FrameNumber);
  series.Publish(0, 0.5, 0.0);   // 48 RPM at 2.5 pulses a turn
  series.Publish(1, 0.25, 4.0);  // 96
  series.Publish(2, 0.0, 8.0);
  series.Publish(3, 1.0, 12.0);  // 24
  EXPECT_EQ(StatisticsText(series, 2.5),
            "readings 3 of 4, mean 56.0 RPM, sd 36.7, min 24.0 (frame 3), max 96.0 (frame 1), "
            "largest step 48.0 (into frame 1), stability 654654 ppm");
}

TEST(RunSeriesTest, StartTimesCountOnPastMidnight) {
  MeasurementState state;
  state.FrameStartTime[0] = 86398.0f;
  state.FrameStartTime[1] = 2.0f;
  EXPECT_DOUBLE_EQ(FrameTimeSeconds(state, FrameTiming::StartTimes, 1), 4.0);
  EXPECT_DOUBLE_EQ(FrameTimeSeconds(state, FrameTiming::FrameNumber, 1), 4.0);
  EXPECT_DOUBLE_EQ(FrameTimeSeconds(state, FrameTiming::FrameNumber, 250), 1000.0);
}

// A live run and the replay of its raw data give the same frames and periods; the replay
// places frame f at f x 4 s, the run at its noted start times.
TEST(RunSeriesTest, LiveRunAndReplayAgree) {
  FakeClock clock(50000.0);
  ScriptedWaveInput input(clock);
  input.buffer_seconds = 4.0;
  input.fill = [](int queue, uint8_t* data, uint32_t length) {
    const int half = 20 + 15 * (queue % 3);  // varied periods, and flat frames without pulses
    for (uint32_t i = 0; i + 1 < length; i += 2) {
      data[i] = queue % 4 == 3 ? 128 : ((i / 2) / half) % 2 == 0 ? 255 : 0;
      data[i + 1] = 128;
    }
  };
  MeasurementState live;
  live.ConsecutivePoints = 3;
  UpdateConsecutive(live);
  SeriesDisplay run_display;
  QuietHost host(live, 8);
  Capture capture(live, run_display, input, host, clock);
  host.Attach(capture);
  capture.InitDevices();
  capture.Start(0);
  ASSERT_EQ(run_display.series.points().size(), 8u);

  MeasurementState replay;
  replay.ConsecutivePoints = 3;
  UpdateConsecutive(replay);
  SeriesDisplay replay_display;
  ASSERT_EQ(ReadRawDataText(replay, replay_display, RawDataText(live), "Raw.txt").status,
            RawReadStatus::Done);

  const auto& a = run_display.series.points();
  const auto& b = replay_display.series.points();
  ASSERT_GE(b.size(), a.size());
  int gaps = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].frame, b[i].frame);
    EXPECT_EQ(a[i].period_s, b[i].period_s);
    EXPECT_NEAR(a[i].time_s, 4.0 * a[i].frame, 0.1);
    EXPECT_EQ(b[i].time_s, 4.0 * b[i].frame);
    gaps += a[i].HasReading() ? 0 : 1;
  }
  EXPECT_GT(gaps, 0);
  EXPECT_EQ(run_display.series.timing(), FrameTiming::StartTimes);
  EXPECT_EQ(replay_display.series.timing(), FrameTiming::FrameNumber);
}

}  // namespace
}  // namespace fc
