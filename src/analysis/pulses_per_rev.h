#pragma once

#include <string>
#include <string_view>

#include "analysis/result.h"

namespace fc {

// Pulses per revolution: a gear with 2.5 teeth per turn of the shaft is as common as one with 4.
inline constexpr double kMinPulsesPerRev = 0.001;
inline constexpr double kMaxPulsesPerRev = 1000.0;
inline constexpr int kPulsesPerRevDecimals = 3;

// Reads a typed pulses-per-revolution value: digits with up to 3 decimals after a point or a
// comma, 0.001 to 1000, blanks around it allowed. The error begins with `what` (an option or a
// box) unless it is empty.
Result<double> ReadPulsesPerRev(std::string_view text, std::string_view what);

// The value as it is typed: a point, no trailing zeros ("2.5", "4", "0.001").
std::string FormatPulsesPerRev(double pulses_per_rev);

// RPM = 60 / (period x pulses per revolution); 0 for a period that is no reading.
double RpmOfPeriod(double period_s, double pulses_per_rev);

}  // namespace fc
