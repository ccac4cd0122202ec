#pragma once

#include <optional>
#include <string>

#include "analysis/precise_reading.h"

namespace fc {

// The band a run's frames are watched for; a limit left out does not bound.
struct ReadingBand {
  std::optional<double> min_rpm;
  std::optional<double> max_rpm;
  std::optional<double> min_period;
  std::optional<double> max_period;
  bool alarm_on_no_reading = false;
  // Some frame could be outside it.
  bool Bounds() const {
    return min_rpm || max_rpm || min_period || max_period || alarm_on_no_reading;
  }
};

// The period a frame is judged by: the edge timer's where it has a reading, the frame
// detector's otherwise; 0 for no reading at all.
double JudgedPeriod(double frame_period_s, const PreciseReading& precise);

// Why a frame of `period_s` (0: no reading) and `rpm` is outside the band, as the end of its
// ALARM line ("3100.0 RPM above 3000 RPM"); nullopt inside it.
std::optional<std::string> OutsideBand(const ReadingBand& band, double period_s, double rpm);

// A limit as the user typed it, in the shortest form that reads back the same.
std::string ShortestNumber(double value);

}  // namespace fc
