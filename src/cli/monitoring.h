#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/reading_band.h"
#include "analysis/result.h"
#include "analysis/run_statistics.h"

namespace fc {

// Exit status of a run in which a frame was outside the limits (when nothing else failed).
inline constexpr int kExitAlarm = 4;

// Checks a typed pulses-per-revolution value and hands it on as a plain decimal, so that the
// option can be read into a double; a bad value is a usage error, named by its option.
CLI::Validator PulsesPerRevOption();

// What `record` and `analyze-audio` watch for a run nobody sits in front of.
struct MonitoringOptions {
  ReadingBand band;
  double pulses_per_rev = 1.0;
  bool jsonl = false;
};

void AddMonitoringOptions(CLI::App& command, MonitoringOptions& options);

// What the options cannot say alone: a lower limit above its upper one.
Status CheckMonitoringOptions(const MonitoringOptions& options);

// Watches every frame of a run: the ALARM line on standard error for a frame outside the
// limits, the statistics of the stop report, and with --jsonl one JSON object per frame on
// standard output instead of the frame lines. The frame's reading is the edge timer's where it
// has one and the frame detector's otherwise.
class FrameMonitor {
 public:
  FrameMonitor(const MonitoringOptions& options, std::ostream& out, std::ostream& err);

  // A run begins: a recording's frames have start times (StartTimes), a replay's only numbers.
  void RunBegun(FrameTiming timing);
  // Frames come in order; `row` is the frame's row in the store (the last one past frame 1000).
  void Frame(const MeasurementState& state, int row, double period);
  // The stop report's statistics on standard error and, with --jsonl, the summary object;
  // returns the run's exit status, the alarm's when `status` is a success.
  int Finish(int status);

  int64_t frames() const { return period_.frames(); }
  int64_t alarms() const { return alarms_; }

 private:
  MonitoringOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  FrameTiming timing_ = FrameTiming::FrameNumber;
  std::chrono::system_clock::time_point run_begun_;
  RunStatistics period_;
  RunStatistics rpm_;
  int64_t alarms_ = 0;
};

}  // namespace fc
