#include "chart/run_series.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>

#include "analysis/number_text.h"
#include "analysis/precise_compare.h"
#include "analysis/reading_band.h"
#include "analysis/run_statistics.h"

namespace fc {

namespace {

constexpr double kSecondsPerDay = 86400.0;

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
                                              double pulses_per_rev, double rate_ppm) {
  if (!point.HasPrecise()) return std::nullopt;
  const double period = CorrectedForRate(point.precise, rate_ppm).period_s;
  if (quantity == ChartQuantity::Period) return period;
  return RpmOf(period, pulses_per_rev);
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

std::string RunSeries::CsvText(double pulses_per_rev, double rate_ppm) const {
  std::string text = "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges\n";
  for (const RunPoint& point : points_) {
    text += std::to_string(point.frame) + "," + Fixed(point.time_s, 3) + "," +
            Fixed(point.period_s, 6) + ",";
    if (const auto rpm = RpmOf(point.period_s, pulses_per_rev)) text += Fixed(*rpm, 3);
    if (point.HasPrecise()) {
      const PreciseReading precise = CorrectedForRate(point.precise, rate_ppm);
      text += "," + General(precise.period_s) + "," + General(ExpandedUncertainty(precise)) +
              "," + std::to_string(precise.edges);
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

namespace {

ReadoutText ReadoutOf(const RunPoint* point, double pulses_per_rev, ChartQuantity quantity,
                      bool without_precise, const std::string& clock) {
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
        std::to_string(precise.edges) + " edges, " + clock + ", \u00b1 at 95 %   frame detector " +
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

// The sign a calibration is written with: "+41", "-12.5".
std::string SignedPpm(double ppm) {
  return (ppm > 0.0 ? "+" : "") + ShortestNumber(ppm);
}

// The big number as the mean of the readings among the `count` points ending at `last`.
std::string SmoothedNumber(const std::vector<RunPoint>& points, std::size_t last, int count,
                           const ReadoutOptions& o) {
  const std::size_t first = last + 1 >= static_cast<std::size_t>(count) ? last + 1 - count : 0;
  const bool precise = points[last].HasPrecise();
  const bool period = o.quantity == ChartQuantity::Period;
  double sum = 0.0;
  double variance = 0.0;  // of the sum, the readings' uncertainties being independent
  int n = 0;
  for (std::size_t i = first; i <= last; ++i) {
    const RunPoint& point = points[i];
    if (precise) {
      if (!point.HasPrecise()) continue;
      const PreciseReading reading = CorrectedForRate(point.precise, o.rate_ppm);
      const double value = period ? reading.period_s : *RpmOf(reading.period_s, o.pulses_per_rev);
      const double u = ExpandedUncertainty(reading) * value / reading.period_s;
      sum += value;
      variance += u * u;
    } else {
      const auto rpm = RpmOf(point.period_s, o.pulses_per_rev);
      if (!rpm) continue;
      sum += *rpm;
    }
    ++n;
  }
  if (n == 0) return "no reading";
  if (!precise) return FormatPattern(sum / n, "0.0") + " RPM";
  return ValueWithUncertainty(sum / n, std::sqrt(variance) / n) + (period ? " s" : " RPM");
}

}  // namespace

ReadoutText RunReadout(const RunPoint* point, double pulses_per_rev, ChartQuantity quantity,
                       bool without_precise) {
  return ReadoutOf(point, pulses_per_rev, quantity, without_precise, "card's clock");
}

ReadoutText SeriesReadout(const RunSeries& series, const ReadoutOptions& o) {
  const RunPoint* last = series.Last();
  if (last == nullptr) return RunReadout(nullptr, o.pulses_per_rev);
  RunPoint shown = *last;
  shown.precise = CorrectedForRate(last->precise, o.rate_ppm);
  ReadoutText text =
      ReadoutOf(&shown, o.pulses_per_rev, o.quantity, series.without_precise(),
                o.rate_ppm == 0.0 ? "card's clock" : "corrected by " + SignedPpm(o.rate_ppm) + " ppm");
  if (o.smoothing > 1) {
    const auto& points = series.points();
    text.rpm = SmoothedNumber(points, static_cast<std::size_t>(last - points.data()), o.smoothing, o);
    text.detail += "   mean of last " + std::to_string(o.smoothing) + " frames";
  }
  return text;
}

namespace {

// A typed number, blanks around it and a comma for the point; a blank text is no number.
struct TypedNumber {
  bool ok = true;
  std::optional<double> value;
};
TypedNumber ReadTypedNumber(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::string plain(text.substr(first));
  if (const auto comma = plain.find(','); comma != std::string::npos) plain[comma] = '.';
  const auto value = FindLeadingNumber(plain);
  if (!value || !std::isfinite(*value)) return {false, std::nullopt};
  return {true, value};
}

}  // namespace

Result<RpmLimits> ReadRpmLimits(std::string_view min_text, std::string_view max_text) {
  RpmLimits limits;
  for (const auto& [text, limit, box] :
       {std::tuple{min_text, &limits.min_rpm, "Minimum RPM"},
        std::tuple{max_text, &limits.max_rpm, "Maximum RPM"}}) {
    const auto read = ReadTypedNumber(text);
    if (!read.ok || (read.value && !(*read.value > 0.0))) {
      return Error{std::string(box) + ": a limit is a positive number such as 1450 or 1450.5, or "
                   "blank for none; \"" + std::string(text) + "\" is not one."};
    }
    *limit = read.value;
  }
  if (limits.min_rpm && limits.max_rpm && *limits.min_rpm > *limits.max_rpm) {
    return Error{"Minimum RPM " + ShortestNumber(*limits.min_rpm) + " is above maximum RPM " +
                 ShortestNumber(*limits.max_rpm) + "; give the lower limit as the minimum."};
  }
  return limits;
}

std::string RpmLimitText(std::optional<double> limit) {
  return limit ? ShortestNumber(*limit) : std::string();
}

bool OutsideLimits(const RunPoint& point, const RpmLimits& limits, double pulses_per_rev,
                   double rate_ppm) {
  const PreciseReading precise =
      point.HasPrecise() ? CorrectedForRate(point.precise, rate_ppm) : PreciseReading{};
  const double period = JudgedPeriod(point.period_s, precise);
  ReadingBand band;
  band.min_rpm = limits.min_rpm;
  band.max_rpm = limits.max_rpm;
  return OutsideBand(band, period, RpmOfPeriod(period, pulses_per_rev)).has_value();
}

Result<double> ReadRatePpm(std::string_view text) {
  constexpr double kLargest = 1000.0;
  const auto read = ReadTypedNumber(text);
  if (!read.ok || (read.value && !(std::abs(*read.value) <= kLargest))) {
    return Error{"Clock calibration: give the card's clock error in ppm from -1000 to 1000 (41 "
                 "when the card runs 41 ppm fast), or blank for none; \"" + std::string(text) +
                 "\" is not such a number."};
  }
  return read.value.value_or(0.0);
}

std::string RatePpmText(double rate_ppm) { return rate_ppm == 0.0 ? "" : SignedPpm(rate_ppm); }

std::string ClockText(double rate_ppm, const std::optional<CardClock>& measured) {
  std::string text = rate_ppm == 0.0
                         ? "Precise readings in seconds of the card's clock."
                         : "Precise readings corrected by " + SignedPpm(rate_ppm) +
                               " ppm, this input's clock calibration.";
  if (!measured) return text;
  const double ppm = std::round(measured->ppm);
  const double span = measured->span_s;
  text += " Card clock " + (ppm == 0.0 ? std::string("0") : SignedPpm(ppm)) +
          " ppm against the system clock (measured over " +
          (span < 120.0 ? Fixed(span, 0) + " s" : Fixed(std::floor(span / 60.0), 0) + " min") +
          ")";
  // Calibrated with the figure itself: then it is applied.
  return text + (rate_ppm != 0.0 && std::abs(rate_ppm - measured->ppm) < 0.5
                     ? ", the calibration in use."
                     : ": a measurement, not applied.");
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

std::string HoverText(const RunPoint& point, double pulses_per_rev, double rate_ppm) {
  RunPoint shown = point;
  shown.precise = CorrectedForRate(point.precise, rate_ppm);
  const ReadoutText readout = RunReadout(&shown, pulses_per_rev);
  return "frame " + std::to_string(point.frame) + "\ntime " + FormatPattern(point.time_s, "0.0") +
         " s\nperiod " + FormatPattern(point.period_s, "0.0000") + " s\n" + readout.rpm;
}

}  // namespace fc
