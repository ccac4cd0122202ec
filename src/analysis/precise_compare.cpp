#include "analysis/precise_compare.h"

#include <cmath>

namespace fc {

bool FrameReadingDisagrees(double frame_period_s, const PreciseReading& precise) {
  if (!precise.has_reading || !(precise.period_s > 0.0)) return false;
  if (!(frame_period_s > 0.0)) return true;
  return std::abs(frame_period_s - precise.period_s) > kDisagreeFraction * precise.period_s;
}

PreciseReading CorrectedForRate(const PreciseReading& reading, double rate_ppm) {
  const double scale = 1.0 / (1.0 + rate_ppm * 1e-6);
  PreciseReading corrected = reading;
  corrected.period_s *= scale;
  corrected.uncertainty_s *= scale;
  corrected.shortest_s *= scale;
  corrected.longest_s *= scale;
  return corrected;
}

}  // namespace fc
