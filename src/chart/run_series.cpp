#include "chart/run_series.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "analysis/number_text.h"
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

void RunSeries::Begin(FrameTiming timing) {
  timing_ = timing;
  points_.clear();
  last_frame_ = -1;
}

SeriesChange RunSeries::Publish(int frame, double period_s, double time_s) {
  frame = std::clamp(frame, 0, kLastFrame);
  last_frame_ = frame;
  const RunPoint point{frame, time_s, period_s};
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

std::vector<std::pair<int, int>> RunSeries::Segments() const {
  std::vector<std::pair<int, int>> segments;
  const int count = static_cast<int>(points_.size());
  for (int i = 0; i < count;) {
    if (!points_[static_cast<std::size_t>(i)].HasReading()) {
      ++i;
      continue;
    }
    int end = i;
    while (end < count && points_[static_cast<std::size_t>(end)].HasReading()) ++end;
    segments.emplace_back(i, end);
    i = end;
  }
  return segments;
}

std::string RunSeries::CsvText(double pulses_per_rev) const {
  std::string text = "frame,time_s,period_s,rpm\n";
  for (const RunPoint& point : points_) {
    text += std::to_string(point.frame) + "," + Fixed(point.time_s, 3) + "," +
            Fixed(point.period_s, 6) + ",";
    if (const auto rpm = RpmOf(point.period_s, pulses_per_rev)) text += Fixed(*rpm, 3);
    text += "\n";
  }
  return text;
}

ReadoutText RunReadout(const RunPoint* point, double pulses_per_rev) {
  if (point == nullptr) return {"no reading", "no frame analysed yet"};
  const std::string frame = "frame " + std::to_string(point->frame);
  const auto rpm = RpmOf(point->period_s, pulses_per_rev);
  if (!rpm) return {"no reading", "period 0 s   " + frame};
  return {FormatPattern(*rpm, "0.0") + " RPM",
          "period " + FormatPattern(point->period_s, "0.0000") + " s   " + frame};
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
