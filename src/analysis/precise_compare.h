#pragma once

#include "analysis/precise_reading.h"

namespace fc {

// The two readings of a frame further apart than this, relative to the edge timer's, are no
// longer rounding: the frame detector has read a multiple of the period, or nothing at all.
inline constexpr double kDisagreeFraction = 0.02;

// Whether the frame detector's period (0 for .0000) disagrees with the edge timer's reading of
// the same frame. Only a frame the timer has read can disagree; the detector reading nothing
// where the timer has a reading counts as disagreeing.
bool FrameReadingDisagrees(double frame_period_s, const PreciseReading& precise);

// The reading in seconds of the monotonic clock instead of the card's: a card whose clock runs
// `rate_ppm` parts per million fast counts that much too many seconds in every period.
PreciseReading CorrectedForRate(const PreciseReading& reading, double rate_ppm);

// The expanded uncertainty (coverage factor 2, about 95 % of frames) of the reading.
inline double ExpandedUncertainty(const PreciseReading& reading) {
  return 2.0 * reading.uncertainty_s;
}

}  // namespace fc
