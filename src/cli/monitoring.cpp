#include "cli/monitoring.h"

#include <time.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>

#include "analysis/frame_diagnosis.h"
#include "analysis/number_text.h"
#include "analysis/pulses_per_rev.h"
#include "analysis/reading_band.h"
#include "chart/run_series.h"
#include "cli/cli_app.h"

namespace fc {

namespace {


// Local time with its offset from UTC, to the millisecond: 2026-12-09T04:05:06.789+01:00.
std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
  const auto since = when.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds);
  const time_t t = static_cast<time_t>(seconds.count());
  struct tm local {};
  localtime_r(&t, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);  // +0100
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(millis.count()),
                zone, zone + 3);
  return text;
}

nlohmann::json StatisticsJson(const RunStatistics& s) {
  if (s.readings() == 0) return nullptr;
  nlohmann::json j;
  j["mean"] = s.mean();
  j["standard_deviation"] = s.StandardDeviation();
  j["min"] = s.min().value;
  j["min_frame"] = s.min().frame;
  j["max"] = s.max().value;
  j["max_frame"] = s.max().frame;
  if (s.LargestStep()) {
    j["largest_step"] = s.LargestStep()->value;
    j["largest_step_frame"] = s.LargestStep()->frame;
  } else {
    j["largest_step"] = nullptr;
    j["largest_step_frame"] = nullptr;
  }
  j["stability_ppm"] = s.StabilityPpm();
  return j;
}

// One line of the stop report: "Period: mean 0.312500 s, ...".
std::string StatisticsLine(const std::string& name, const RunStatistics& s,
                           std::string_view pattern, const std::string& unit) {
  const auto value = [&](double v) { return FormatPattern(v, pattern) + unit; };
  std::string line = name + ": mean " + value(s.mean()) + ", standard deviation " +
                     value(s.StandardDeviation()) + ", min " + value(s.min().value) +
                     " (frame " + std::to_string(s.min().frame) + "), max " +
                     value(s.max().value) + " (frame " + std::to_string(s.max().frame) + ")";
  if (s.LargestStep()) {
    line += ", largest step " + value(s.LargestStep()->value) + " (frame " +
            std::to_string(s.LargestStep()->frame - 1) + " to " +
            std::to_string(s.LargestStep()->frame) + ")";
  }
  return line + ".";
}

}  // namespace

CLI::Validator PulsesPerRevOption() {
  return CLI::Validator(
      [](std::string& text) {
        // The option's name comes before the message.
        const Result<double> read = ReadPulsesPerRev(text, "");
        if (!read) return read.error();
        text = FormatPulsesPerRev(read.value());
        return std::string();
      },
      "PULSES");
}

void AddMonitoringOptions(CLI::App& command, MonitoringOptions& options) {
  // The whole text must be a number: a limit of "3000rpm" is a typing error, not 3000.
  const CLI::Validator positive(
      [](const std::string& text) {
        double value = 0.0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc() && end == text.data() + text.size() && value > 0.0 &&
            std::isfinite(value)) {
          return std::string();
        }
        return "A limit is a positive number with a point before any decimals; \"" + text +
               "\" is not one.";
      },
      "POSITIVE");
  command
      .add_option("--min-rpm", options.band.min_rpm,
                  "Lowest RPM of the band: a frame below it prints an ALARM line on standard "
                  "error, and the run ends with exit status 4")
      ->check(positive);
  command.add_option("--max-rpm", options.band.max_rpm, "Highest RPM of the band, as --min-rpm")
      ->check(positive);
  command.add_option("--min-period", options.band.min_period, "Shortest period of the band in seconds")
      ->check(positive);
  command.add_option("--max-period", options.band.max_period, "Longest period of the band in seconds")
      ->check(positive);
  command.add_flag("--alarm-on-no-reading", options.band.alarm_on_no_reading,
                   "A frame without a reading is outside the band too");
  command
      .add_option("--pulses-per-rev", options.pulses_per_rev,
                  "Pulses per revolution for the RPM (0.001..1000 with up to 3 decimals after a "
                  "point or a comma, default 1)")
      ->transform(PulsesPerRevOption());
  command.add_flag("--jsonl", options.jsonl,
                   "Print one JSON object per frame instead of the frame lines, each flushed at "
                   "once, and a summary object at the end");
}

Status CheckMonitoringOptions(const MonitoringOptions& options) {
  const ReadingBand& o = options.band;
  if (o.min_rpm && o.max_rpm && *o.min_rpm > *o.max_rpm) {
    return Error{"--min-rpm " + ShortestNumber(*o.min_rpm) + " is above --max-rpm " +
                 ShortestNumber(*o.max_rpm) + "; give the lower limit first."};
  }
  if (o.min_period && o.max_period && *o.min_period > *o.max_period) {
    return Error{"--min-period " + ShortestNumber(*o.min_period) + " is above --max-period " +
                 ShortestNumber(*o.max_period) + "; give the lower limit first."};
  }
  return Ok();
}

FrameMonitor::FrameMonitor(const MonitoringOptions& options, std::ostream& out, std::ostream& err)
    : options_(options), out_(out), err_(err) {}

void FrameMonitor::RunBegun(FrameTiming timing) {
  timing_ = timing;
  run_begun_ = std::chrono::system_clock::now();
}

void FrameMonitor::Frame(const MeasurementState& state, int row, double period) {
  const int64_t frame = period_.frames();
  const PreciseReading& precise = state.PreciseResults[static_cast<std::size_t>(row)];
  const double reading = JudgedPeriod(period, precise);
  const double rpm = RpmOfPeriod(reading, options_.pulses_per_rev);
  const auto has = [](double v) { return v > 0.0 ? std::optional<double>(v) : std::nullopt; };
  period_.Add(frame, has(reading));
  rpm_.Add(frame, has(rpm));
  const std::optional<std::string> alarm = OutsideBand(options_.band, reading, rpm);
  if (alarm) {
    ++alarms_;
    err_ << "ALARM frame " << frame << ": " << *alarm << "\n" << std::flush;
  }
  if (!options_.jsonl) return;

  // The frame's own numbers as the chart's CSV has them, then the edge timer's.
  const double time_s = state.StoreStartSeconds + FrameTimeSeconds(state, timing_, row);
  nlohmann::json j;
  j["frame"] = frame;
  j["time_s"] = time_s;
  if (timing_ == FrameTiming::StartTimes) {
    const auto since_start = std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(time_s));
    j["start"] = IsoLocalTime(run_begun_ + since_start);
  } else {
    j["start"] = nullptr;  // a replay: the file does not say when it was recorded
  }
  j["period_s"] = period > 0.0 ? period : 0.0;
  j["rpm"] = period > 0.0 ? nlohmann::json(RpmOfPeriod(period, options_.pulses_per_rev))
                          : nlohmann::json(nullptr);
  if (precise.has_reading) {
    j["precise"] = {{"period_s", precise.period_s},
                    {"uncertainty_s", precise.uncertainty_s},
                    {"edges", precise.edges},
                    {"rpm", RpmOfPeriod(precise.period_s, options_.pulses_per_rev)}};
  } else {
    j["precise"] = nullptr;
  }
  j["reading_s"] = reading > 0.0 ? nlohmann::json(reading) : nlohmann::json(nullptr);
  j["reading_rpm"] = reading > 0.0 ? nlohmann::json(rpm) : nlohmann::json(nullptr);
  j["alarm"] = alarm ? nlohmann::json(*alarm) : nlohmann::json(nullptr);
  if (reading > 0.0) {
    j["reason"] = nullptr;
  } else if (precise.no_signal) {
    j["reason"] = "no edge for more than 60 seconds";
  } else {
    const std::string reason = row <= kLastFrame ? ReasonText(DiagnoseFrame(state, row)) : "";
    j["reason"] = reason.empty() ? "no reading" : reason;
  }
  j["pulses_per_rev"] = options_.pulses_per_rev;
  out_ << j.dump() << "\n" << std::flush;
}

int FrameMonitor::Finish(int status) {
  const int final_status = status == kExitOk && alarms_ > 0 ? kExitAlarm : status;
  if (period_.frames() == 0) return final_status;
  err_ << "Readings: " << period_.readings() << " of " << period_.frames() << " frames";
  if (period_.readings() == 0) {
    err_ << "; no statistics.\n";
  } else {
    err_ << ".\n"
         << StatisticsLine("Period", period_, "0.000000", " s") << "\n"
         << StatisticsLine("RPM", rpm_, "0.000", "") << "\n"
         << "Stability: " << FormatPattern(period_.StabilityPpm(), "0.0")
         << " ppm (standard deviation of the period over its mean).\n";
  }
  if (alarms_ > 0) {
    err_ << "Frames outside the limits: " << alarms_
         << (final_status == kExitAlarm ? " (exit status 4).\n" : ".\n");
  }
  if (options_.jsonl) {
    nlohmann::json summary;
    summary["frames"] = period_.frames();
    summary["readings"] = period_.readings();
    summary["alarms"] = alarms_;
    summary["pulses_per_rev"] = options_.pulses_per_rev;
    summary["period_s"] = StatisticsJson(period_);
    summary["rpm"] = StatisticsJson(rpm_);
    summary["exit_status"] = final_status;
    out_ << nlohmann::json{{"summary", summary}}.dump() << "\n" << std::flush;
  }
  return final_status;
}

}  // namespace fc
