#include "analysis/reading_band.h"

#include <charconv>

#include "analysis/number_text.h"

namespace fc {

double JudgedPeriod(double frame_period_s, const PreciseReading& precise) {
  if (precise.has_reading) return precise.period_s;
  return frame_period_s > 0.0 ? frame_period_s : 0.0;
}

std::string ShortestNumber(double value) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

std::optional<std::string> OutsideBand(const ReadingBand& b, double period, double rpm) {
  if (!(period > 0.0)) {
    if (b.alarm_on_no_reading) return std::string("no reading");
    return std::nullopt;
  }
  const std::string rpm_text = FormatPattern(rpm, "0.0") + " RPM";
  const std::string period_text = FormatPattern(period, "0.000000") + " s period";
  if (b.max_rpm && rpm > *b.max_rpm) {
    return rpm_text + " above " + ShortestNumber(*b.max_rpm) + " RPM";
  }
  if (b.min_rpm && rpm < *b.min_rpm) {
    return rpm_text + " below " + ShortestNumber(*b.min_rpm) + " RPM";
  }
  if (b.max_period && period > *b.max_period) {
    return period_text + " above " + ShortestNumber(*b.max_period) + " s";
  }
  if (b.min_period && period < *b.min_period) {
    return period_text + " below " + ShortestNumber(*b.min_period) + " s";
  }
  return std::nullopt;
}

}  // namespace fc
