#include "tools/averaging.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/number_text.h"

namespace fc {

namespace {

constexpr double kBadPointTolerance = 0.2;

bool FitsInInteger(double value) {
  return value >= std::numeric_limits<int16_t>::min() &&
         value <= std::numeric_limits<int16_t>::max();
}

}  // namespace

AverageOutcome DoAverage(const MeasurementState& state, AveragingPanel& panel) {
  const double first_number = ReadWholeNumber(panel.FirstText);
  const double last_number = ReadWholeNumber(panel.LastText);
  if (!FitsInInteger(first_number) || !FitsInInteger(last_number)) {
    return {std::nullopt,
            WarningMessage("The first and last frame must lie between -32768 and 32767.")};
  }

  int first = static_cast<int>(first_number);
  if (first < 0) {
    first = 0;
    panel.FirstText = "0";
  }
  int last = static_cast<int>(last_number);
  // CurrentFrame never exceeds 1001; the second cap only guards the store.
  last = std::min({last, state.CurrentFrame - 1, kLastFrame});

  double sum = 0.0;
  int count = 0;
  for (int frame = first; frame <= last; ++frame) {
    sum += state.FrameResults[static_cast<std::size_t>(frame)];
    ++count;
  }
  const double average = count >= 1 ? sum / count : 0.0;

  double result = average;
  int shown_count = count;
  if (panel.Check1 == 1 && average > 0.0) {
    double kept_sum = 0.0;
    int kept = 0;
    for (int frame = first; frame <= last; ++frame) {
      const double value = state.FrameResults[static_cast<std::size_t>(frame)];
      if (std::fabs(1.0 - value / average) < kBadPointTolerance) {
        kept_sum += value;
        ++kept;
      }
    }
    result = kept >= 1 ? kept_sum / kept : 0.0;
    shown_count = kept;
  }

  return {"Avg: " + FormatPattern(result, kAveragePattern) + "  (" + FormatInteger(shown_count) +
              " readings)",
          std::nullopt};
}

}  // namespace fc
