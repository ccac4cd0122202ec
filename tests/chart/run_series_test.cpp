#include "chart/run_series.h"

#include <gtest/gtest.h>

#include <vector>

#include "analysis/precise_compare.h"
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

  // A run past the store keeps counting its frames.
  for (const int frame : {1000, 1001, 12000}) series.Publish(frame, 0.5, frame * 4.0);
  EXPECT_EQ(series.Last()->frame, 12000);
  EXPECT_EQ(series.Find(1001)->time_s, 4004.0);
  EXPECT_EQ(series.points().size(), 5u);
  EXPECT_NE(series.CsvText(1).find("\n12000,48000.000,0.500000,120.000,,,\n"), std::string::npos);
  EXPECT_NE(RunReadout(series.Last(), 1).detail.find("frame 12000"), std::string::npos);
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

PreciseReading Timed(double period_s, double uncertainty_s = 2.5e-8) {
  PreciseReading reading;
  reading.has_reading = true;
  reading.period_s = period_s;
  reading.uncertainty_s = uncertainty_s;
  reading.edges = 100;
  return reading;
}

// The window's RPM band: what the boxes accept, and a frame judged by its precise reading where
// it has one, as the batch program's alarms judge it.
TEST(RunSeriesTest, RpmLimitsAndTheirJudging) {
  const auto none = ReadRpmLimits(" ", "");
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->Any());
  const auto band = ReadRpmLimits("1450,5", " 1550 RPM");
  ASSERT_TRUE(band);
  EXPECT_EQ(band->min_rpm, 1450.5);
  EXPECT_EQ(band->max_rpm, 1550.0);
  EXPECT_EQ(RpmLimitText(band->min_rpm), "1450.5");
  EXPECT_EQ(RpmLimitText(std::nullopt), "");
  EXPECT_EQ(ReadRpmLimits("abc", "").error(),
            "Minimum RPM: a limit is a positive number such as 1450 or 1450.5, or blank for "
            "none; \"abc\" is not one.");
  EXPECT_EQ(ReadRpmLimits("", "-5").error().rfind("Maximum RPM: ", 0), 0u);
  EXPECT_FALSE(ReadRpmLimits("0", ""));
  EXPECT_FALSE(ReadRpmLimits("1e999", ""));
  EXPECT_EQ(ReadRpmLimits("1600", "1500").error(),
            "Minimum RPM 1600 is above maximum RPM 1500; give the lower limit as the minimum.");

  const RpmLimits limits{1450.0, 1550.0};
  // 1500 RPM by the edge timer; the frame detector's 0.078125 s (768 RPM) is a misreading.
  RunPoint point{5, 20.0, 0.078125, Timed(0.04)};
  EXPECT_FALSE(OutsideLimits(point, limits, 1, 0));
  point.precise.period_s = 0.0375;  // 1600 RPM
  EXPECT_TRUE(OutsideLimits(point, limits, 1, 0));
  EXPECT_TRUE(OutsideLimits(point, RpmLimits{std::nullopt, 1550.0}, 1, 0));
  EXPECT_FALSE(OutsideLimits(point, RpmLimits{1450.0, std::nullopt}, 1, 0));
  EXPECT_FALSE(OutsideLimits(point, limits, 1.1, 0));  // 1454.5 RPM at 1.1 pulses a turn
  // The calibration moves the reading: 1549.9 RPM in card seconds is 1550.2 corrected by +200 ppm.
  point.precise.period_s = 60.0 / 1549.9;
  EXPECT_FALSE(OutsideLimits(point, limits, 1, 0));
  EXPECT_TRUE(OutsideLimits(point, limits, 1, 200));
  // Without a precise reading the frame detector's counts; no reading at all is not outside.
  const RunPoint frame_only{6, 24.0, 0.078125, {}};
  EXPECT_TRUE(OutsideLimits(frame_only, limits, 1, 0));
  EXPECT_FALSE(OutsideLimits(RunPoint{7, 28.0, 0.0, {}}, limits, 1, 0));
}

// Smoothing changes only the big number, the mean of the readings among the last frames; the
// calibration corrects every precise figure the window shows and exports, and the readout says
// which clock its seconds are.
TEST(RunSeriesTest, SmoothingAndClockCalibration) {
  RunSeries series;
  series.Begin(FrameTiming::FrameNumber);
  series.Publish(0, 0.5, 0.0);   // 120 RPM, before the last three
  series.Publish(1, 0.25, 4.0);  // 240
  series.Publish(2, 0.0, 8.0);   // no reading: not in the mean
  series.Publish(3, 1.0, 12.0);  // 60
  ReadoutOptions options;
  EXPECT_EQ(SeriesReadout(series, options).rpm, "60.0 RPM");
  options.smoothing = 3;
  ReadoutText text = SeriesReadout(series, options);
  EXPECT_EQ(text.rpm, "150.0 RPM");
  EXPECT_EQ(text.detail, "period 1.0000 s   frame 3   mean of last 3 frames");
  options.smoothing = 10;
  EXPECT_EQ(SeriesReadout(series, options).rpm, "140.0 RPM");
  EXPECT_EQ(StatisticsText(series, 1).rfind("readings 3 of 4, mean 140.0 RPM", 0), 0u);

  // Precise readings: their mean, with the uncertainty of a mean of independent readings.
  series.Begin(FrameTiming::FrameNumber);
  series.Publish(0, 0.04, 0.0, Timed(0.04, 3e-8));
  series.Publish(1, 0.04, 4.0, Timed(0.0401, 4e-8));
  options.smoothing = 3;
  options.quantity = ChartQuantity::Period;
  EXPECT_EQ(SeriesReadout(series, options).rpm, "0.040050000 \u00b1 0.000000050 s");
  options.smoothing = 1;
  EXPECT_EQ(SeriesReadout(series, options).rpm, RunReadout(series.Last(), 1, ChartQuantity::Period).rpm);

  options.rate_ppm = 100;
  text = SeriesReadout(series, options);
  EXPECT_EQ(text.rpm, "0.040095990 \u00b1 0.000000080 s");
  EXPECT_EQ(text.detail.rfind("100 edges, corrected by +100 ppm, \u00b1 at 95 %", 0), 0u);
  EXPECT_NE(
      series.CsvText(1, 100).find("\n1,4.000,0.040000,1500.000,0.0400959904,7.99920008e-08,100\n"),
      std::string::npos);
  EXPECT_EQ(*RunSeries::PreciseValue(series.points()[1], ChartQuantity::Period, 1, 100),
            CorrectedForRate(Timed(0.0401), 100).period_s);
  EXPECT_NE(HoverText(series.points()[1], 1, 100).find("1496.4090 \u00b1 0.0030 RPM"), std::string::npos);

  EXPECT_EQ(ReadRatePpm(" ").value(), 0.0);
  EXPECT_EQ(ReadRatePpm("-12,5").value(), -12.5);
  EXPECT_EQ(RatePpmText(41), "+41");
  EXPECT_EQ(RatePpmText(0), "");
  EXPECT_FALSE(ReadRatePpm("5000"));
  EXPECT_EQ(ReadRatePpm("fast").error().rfind("Clock calibration: ", 0), 0u);

  EXPECT_EQ(ClockText(0, std::nullopt), "Precise readings in seconds of the card's clock.");
  EXPECT_EQ(ClockText(0, CardClock{41.3, 725.0}),
            "Precise readings in seconds of the card's clock. Card clock +41 ppm against the "
            "system clock (measured over 12 min): a measurement, not applied.");
  EXPECT_EQ(ClockText(-12.5, CardClock{-3.2, 61.0}),
            "Precise readings corrected by -12.5 ppm, this input's clock calibration. Card clock "
            "-3 ppm against the system clock (measured over 61 s): a measurement, not applied.");
  const std::string calibrated = ClockText(41, CardClock{41.3, 725.0});
  EXPECT_EQ(calibrated.substr(calibrated.find(" Card")),
            " Card clock +41 ppm against the system clock (measured over 12 min), the "
            "calibration in use.");
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
