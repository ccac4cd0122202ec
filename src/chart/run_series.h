#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/pulses_per_rev.h"
#include "analysis/precise_reading.h"
#include "analysis/result.h"

namespace fc {

// The time of `frame` in seconds since the run's first frame; frames read back are placed
// 4 s apart. With start times a run that
// passes midnight keeps counting on instead of going back to 0.
double FrameTimeSeconds(const MeasurementState& state, FrameTiming timing, int frame);

// The quantity on the chart's vertical axis.
enum class ChartQuantity { Rpm, Period };
// Which readings the chart draws: the frame detector's, the edge timer's, or both.
enum class ChartLines { Frame, Precise, Both };

// RPM of a period for the given pulses per revolution; nullopt for a frame without reading.
std::optional<double> RpmOf(double period_s, double pulses_per_rev);

struct RunPoint {
  int frame = 0;
  double time_s = 0.0;
  double period_s = 0.0;   // the frame detector's; 0: no reading
  PreciseReading precise;  // the edge timer's, in seconds of the card's clock
  bool HasReading() const { return period_s > 0.0; }
  bool HasPrecise() const { return precise.has_reading && precise.period_s > 0.0; }
  // More than 2 % between the two readings, or a timer reading where the detector has none.
  bool Disagrees() const;
};

// What one published frame did to the series, for a view that updates itself in place.
struct SeriesChange {
  enum Kind { Appended, Replaced, Inserted } kind = Appended;
  int index = 0;  // position of the frame's point in points()
};

// The analysed frames of one run in frame order: the data of the run chart, its readout and
// its CSV export. A frame analysed again replaces its point.
class RunSeries {
 public:
  // Empties the series for a new run with the given timing.
  void Begin(FrameTiming timing);
  SeriesChange Publish(int frame, double period_s, double time_s,
                       const PreciseReading& precise = {});
  // Publish with the frame's time and precise reading taken from the state as the timing says.
  SeriesChange Record(const MeasurementState& state, int frame, double period_s) {
    return Publish(
        frame, period_s, FrameTimeSeconds(state, timing_, frame),
        state.PreciseResults[static_cast<std::size_t>(std::clamp(frame, 0, kLastFrame))]);
  }
  // A frame analysed again: its point takes the new period and keeps its time and precise
  // reading (a re-analysis reads only the frame detector again). A frame that the run did not
  // record (nor the file hold) gains no point: nullopt.
  std::optional<SeriesChange> Revise(int frame, double period_s);

  FrameTiming timing() const { return timing_; }
  // The frames came from a raw data file, which holds no precise readings (256 points per
  // second only); Begin forgets it.
  void MarkWithoutPrecise() { without_precise_ = true; }
  bool without_precise() const { return without_precise_; }
  const std::vector<RunPoint>& points() const { return points_; }
  bool empty() const { return points_.empty(); }
  bool AnyReading() const;
  // The frame analysed last (also a re-analysed one), if any.
  const RunPoint* Last() const;
  const RunPoint* Find(int frame) const;
  // The point with a reading whose time lies nearest to `time_s`.
  const RunPoint* NearestReading(double time_s) const;

  // The value plotted for a point; nullopt for a frame without reading (a gap in the line).
  static std::optional<double> Value(const RunPoint& point, ChartQuantity quantity,
                                     double pulses_per_rev);
  // The same for the edge timer's reading, corrected by `rate_ppm` for the card's clock.
  static std::optional<double> PreciseValue(const RunPoint& point, ChartQuantity quantity,
                                            double pulses_per_rev, double rate_ppm = 0.0);
  // Runs of consecutive points with a reading, each as [first, last) positions in points():
  // the pieces of the line between the gaps. PreciseSegments: the same for precise readings.
  std::vector<std::pair<int, int>> Segments() const;
  std::vector<std::pair<int, int>> PreciseSegments() const;

  // "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges" and one line per point; LF
  // line ends, a decimal point, an empty rpm field for a frame without reading, and empty
  // precise fields for a frame without a precise reading. uncertainty_s is the expanded
  // uncertainty (twice the standard uncertainty), as the readout's ± shows it. The precise
  // fields are corrected by `rate_ppm` for the card's clock.
  std::string CsvText(double pulses_per_rev, double rate_ppm = 0.0) const;

 private:
  FrameTiming timing_ = FrameTiming::FrameNumber;
  std::vector<RunPoint> points_;
  int last_frame_ = -1;
  bool without_precise_ = false;
};

// The readout's texts for a point: in large digits the precise RPM (or period) to the digits its
// uncertainty allows, with its ±, or else the frame detector's RPM (or "no reading"); then the
// detail line (the edge count and the frame detector's period beside it); then a note on the
// precise reading: "frame reading disagrees", or why there is none.
struct ReadoutText {
  std::string rpm;
  std::string detail;
  std::string note;
  bool disagrees = false;
};
ReadoutText RunReadout(const RunPoint* point, double pulses_per_rev,
                       ChartQuantity quantity = ChartQuantity::Rpm, bool without_precise = false);

// What the window's readout is set to.
struct ReadoutOptions {
  double pulses_per_rev = 1.0;
  ChartQuantity quantity = ChartQuantity::Rpm;
  int smoothing = 1;      // the big number is the mean of the last this many frames' readings
  double rate_ppm = 0.0;  // the input's clock calibration, applied to the precise readings
};
// The readout of the series' last frame: RunReadout of its point with the precise reading
// corrected for the card's clock, the big number the mean of the readings among the last
// `smoothing` frames (precise ones when the last frame has one), and the detail line saying so.
ReadoutText SeriesReadout(const RunSeries& series, const ReadoutOptions& options);

// The window's band: an RPM range, either end open.
struct RpmLimits {
  std::optional<double> min_rpm;
  std::optional<double> max_rpm;
  bool Any() const { return min_rpm || max_rpm; }
};
// The two limit boxes' texts: blank for no limit, otherwise a positive number read by the
// leading-number reader (a comma may stand for the point); a bad text or a minimum above the
// maximum is an error naming the box.
Result<RpmLimits> ReadRpmLimits(std::string_view min_text, std::string_view max_text);
// A limit as its box shows it: "" for none, else the shortest text that reads back the same.
std::string RpmLimitText(std::optional<double> limit);
// Whether the point is outside the limits, judged as the batch program judges a frame: by the
// precise reading (corrected by `rate_ppm`) where there is one, the frame detector's otherwise.
// A frame without any reading is not outside.
bool OutsideLimits(const RunPoint& point, const RpmLimits& limits, double pulses_per_rev,
                   double rate_ppm);

// The clock calibration box's text in ppm: blank for 0, otherwise a number from -1000 to 1000
// read by the leading-number reader (a comma may stand for the point).
Result<double> ReadRatePpm(std::string_view text);
// The calibration as its box shows it: "" for 0, "+41", "-12.5".
std::string RatePpmText(double rate_ppm);

// The card's sample rate against the monotonic clock, as the capture measured it so far.
struct CardClock {
  double ppm = 0.0;
  double span_s = 0.0;  // monotonic seconds measured over
};
// The readout's clock line: whether the precise readings are in seconds of the card's clock or
// corrected by the calibration, then the measured card clock when there is a figure.
std::string ClockText(double rate_ppm, const std::optional<CardClock>& measured);

// `value` ± `uncertainty`, both to the decimals that give the uncertainty two significant
// digits ("1500.0021 ± 0.0053").
std::string ValueWithUncertainty(double value, double uncertainty);

// The run's statistics of the RPM for the readout, one line: readings of all frames, mean,
// standard deviation, extremes with their frames, the largest step between consecutive frames
// and the stability in ppm; "" before the first frame.
std::string StatisticsText(const RunSeries& series, double pulses_per_rev);

// What hovering a point shows: frame, time, period and RPM (precise readings corrected by
// `rate_ppm`).
std::string HoverText(const RunPoint& point, double pulses_per_rev, double rate_ppm = 0.0);

}  // namespace fc
