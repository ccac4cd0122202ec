#include "chart/run_series.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "analysis/number_text.h"
#include "analysis/precise_compare.h"
#include "analysis/run_statistics.h"

namespace fc {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kFrameSeconds = kCaptureBufferSize / static_cast<double>(kCaptureRate);

// Fixed decimals with a point, whatever the locale.
std::string Fixed(double value, int decimals) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return std::string(buffer, result.ptr);
}

// Up to nine significant digits with a point, whatever the locale.
std::string General(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9);
  return std::string(buffer, result.ptr);
}

// The first point whose frame is not before `frame`: the points are in frame order, one per
// frame.
template <typename Points>
auto LowerBound(Points& points, int frame) {
  return std::lower_bound(points.begin(), points.end(), frame,
                          [](const RunPoint& p, int f) { return p.frame < f; });
}

}  // namespace

double FrameTimeSeconds(const MeasurementState& state, FrameTiming timing, int frame) {
  if (timing == FrameTiming::FrameNumber || frame <= 0 || frame > kLastFrame) {
    return frame * kFrameSeconds;
  }
  double seconds = static_cast<double>(state.FrameStartTime[static_cast<std::size_t>(frame)]) -
                   static_cast<double>(state.FrameStartTime[0]);
  if (seconds < 0.0) seconds += kSecondsPerDay;
  return seconds;
}

std::optional<double> RpmOf(double period_s, double pulses_per_rev) {
  if (!(period_s > 0.0) || !(pulses_per_rev > 0.0)) return std::nullopt;
  return RpmOfPeriod(period_s, pulses_per_rev);
}

bool RunPoint::Disagrees() const { return FrameReadingDisagrees(period_s, precise); }

void RunSeries::Begin(FrameTiming timing) {
  timing_ = timing;
  without_precise_ = false;
  points_.clear();
  last_frame_ = -1;
}

SeriesChange RunSeries::Publish(int frame, double period_s, double time_s,
                                const PreciseReading& precise) {
  frame = std::clamp(frame, 0, kLastFrame);
  last_frame_ = frame;
  const RunPoint point{frame, time_s, period_s, precise};
  const auto at = LowerBound(points_, frame);
  const int index = static_cast<int>(at - points_.begin());
  if (at != points_.end() && at->frame == frame) {
    *at = point;
    return {SeriesChange::Replaced, index};
  }
  const bool at_end = at == points_.end();
  points_.insert(at, point);
  return {at_end ? SeriesChange::Appended : SeriesChange::Inserted, index};
}

std::optional<SeriesChange> RunSeries::Revise(int frame, double period_s) {
  const auto at = LowerBound(points_, frame);
  if (at == points_.end() || at->frame != frame) return std::nullopt;
  at->period_s = period_s;
  last_frame_ = frame;
  return SeriesChange{SeriesChange::Replaced, static_cast<int>(at - points_.begin())};
}

bool RunSeries::AnyReading() const {
  return std::any_of(points_.begin(), points_.end(),
                     [](const RunPoint& point) { return point.HasReading(); });
}

const RunPoint* RunSeries::Last() const { return last_frame_ < 0 ? nullptr : Find(last_frame_); }

const RunPoint* RunSeries::Find(int frame) const {
  const auto at = LowerBound(points_, frame);
  return at != points_.end() && at->frame == frame ? &*at : nullptr;
}

const RunPoint* RunSeries::NearestReading(double time_s) const {
  const RunPoint* nearest = nullptr;
  for (const RunPoint& point : points_) {
    if (!point.HasReading()) continue;
    if (nearest == nullptr ||
        std::abs(point.time_s - time_s) < std::abs(nearest->time_s - time_s)) {
      nearest = &point;
    }
  }
  return nearest;
}

std::optional<double> RunSeries::Value(const RunPoint& point, ChartQuantity quantity,
                                       double pulses_per_rev) {
  if (!point.HasReading()) return std::nullopt;
  if (quantity == ChartQuantity::Period) return point.period_s;
  return RpmOf(point.period_s, pulses_per_rev);
}

std::optional<double> RunSeries::PreciseValue(const RunPoint& point, ChartQuantity quantity,
                                              double pulses_per_rev) {
  if (!point.HasPrecise()) return std::nullopt;
  if (quantity == ChartQuantity::Period) return point.precise.period_s;
  return RpmOf(point.precise.period_s, pulses_per_rev);
}

namespace {

template <typename Has>
std::vector<std::pair<int, int>> Runs(const std::vector<RunPoint>& points, Has has) {
  std::vector<std::pair<int, int>> segments;
  const int count = static_cast<int>(points.size());
  for (int i = 0; i < count;) {
    if (!has(points[static_cast<std::size_t>(i)])) {
      ++i;
      continue;
    }
    int end = i;
    while (end < count && has(points[static_cast<std::size_t>(end)])) ++end;
    segments.emplace_back(i, end);
    i = end;
  }
  return segments;
}

}  // namespace

std::vector<std::pair<int, int>> RunSeries::Segments() const {
  return Runs(points_, [](const RunPoint& point) { return point.HasReading(); });
}

std::vector<std::pair<int, int>> RunSeries::PreciseSegments() const {
  return Runs(points_, [](const RunPoint& point) { return point.HasPrecise(); });
}

std::string RunSeries::CsvText(double pulses_per_rev) const {
  std::string text = "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges\n";
  for (const RunPoint& point : points_) {
    text += std::to_string(point.frame) + "," + Fixed(point.time_s, 3) + "," +
            Fixed(point.period_s, 6) + ",";
    if (const auto rpm = RpmOf(point.period_s, pulses_per_rev)) text += Fixed(*rpm, 3);
    if (point.HasPrecise()) {
      text += "," + General(point.precise.period_s) + "," +
              General(ExpandedUncertainty(point.precise)) + "," +
              std::to_string(point.precise.edges);
    } else {
      text += ",,,";
    }
    text += "\n";
  }
  return text;
}

std::string ValueWithUncertainty(double value, double uncertainty) {
  int decimals = 0;
  if (uncertainty > 0.0 && std::isfinite(uncertainty)) {
    decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(uncertainty))), 0, 12);
  }
  return Fixed(value, decimals) + " \u00b1 " + Fixed(uncertainty, decimals);
}

ReadoutText RunReadout(const RunPoint* point, double pulses_per_rev, ChartQuantity quantity,
                       bool without_precise) {
  if (point == nullptr) return {"no reading", "no frame analysed yet", "", false};
  const std::string frame = "frame " + std::to_string(point->frame);
  const auto rpm = RpmOf(point->period_s, pulses_per_rev);
  if (point->HasPrecise()) {
    const PreciseReading& precise = point->precise;
    const double period = precise.period_s;
    const double u = ExpandedUncertainty(precise);
    ReadoutText text;
    if (quantity == ChartQuantity::Period || !(pulses_per_rev > 0.0)) {
      text.rpm = ValueWithUncertainty(period, u) + " s";
    } else {
      const double value = *RpmOf(period, pulses_per_rev);
      text.rpm = ValueWithUncertainty(value, value * u / period) + " RPM";
    }
    text.detail =
        std::to_string(precise.edges) + " edges, card's clock, \u00b1 at 95 %   frame detector " +
        (rpm ? FormatPattern(point->period_s, "0.0000") + " s" : std::string("no reading")) +
        "   " + frame;
    text.disagrees = point->Disagrees();
    if (text.disagrees) text.note = "frame reading disagrees";
    return text;
  }
  std::string note = without_precise
                         ? "No precise readings: a raw data file holds only 256 points per second."
                     : point->precise.no_signal ? "No precise reading: no edge for over 60 s."
                                                : "No precise reading for this frame.";
  if (!rpm) return {"no reading", "period 0 s   " + frame, note, false};
  return {FormatPattern(*rpm, "0.0") + " RPM",
          "period " + FormatPattern(point->period_s, "0.0000") + " s   " + frame, note, false};
}

std::string StatisticsText(const RunSeries& series, double pulses_per_rev) {
  if (series.empty()) return "";
  RunStatistics rpm;
  // Points are one per frame in frame order; a frame the run skipped breaks a step too.
  for (const RunPoint& point : series.points()) rpm.Add(point.frame, RpmOf(point.period_s, pulses_per_rev));
  std::string text = "readings " + std::to_string(rpm.readings()) + " of " +
                     std::to_string(rpm.frames());
  if (rpm.readings() == 0) return text;
  const auto value = [](double v) { return FormatPattern(v, "0.0"); };
  text += ", mean " + value(rpm.mean()) + " RPM, sd " + value(rpm.StandardDeviation()) +
          ", min " + value(rpm.min().value) + " (frame " + std::to_string(rpm.min().frame) +
          "), max " + value(rpm.max().value) + " (frame " + std::to_string(rpm.max().frame) + ")";
  if (rpm.LargestStep()) {
    text += ", largest step " + value(rpm.LargestStep()->value) + " (into frame " +
            std::to_string(rpm.LargestStep()->frame) + ")";
  }
  return text + ", stability " + FormatPattern(rpm.StabilityPpm(), "0") + " ppm";
}

std::string HoverText(const RunPoint& point, double pulses_per_rev) {
  const ReadoutText readout = RunReadout(&point, pulses_per_rev);
  return "frame " + std::to_string(point.frame) + "\ntime " + FormatPattern(point.time_s, "0.0") +
         " s\nperiod " + FormatPattern(point.period_s, "0.0000") + " s\n" + readout.rpm;
}

}  // namespace fc
