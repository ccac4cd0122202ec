#pragma once

#include <cstdint>

#include "analysis/measurement_state.h"

namespace fc {

// Time in points of a mid-level crossing first seen at point `c` of `row`, interpolated between
// points c - 1 and c. Computed in single precision step by step, because stored spacings and
// the periods derived from them depend on that rounding.
float CrossingTime(const uint8_t* row, int c);

// How far the crossing scans of one frame got.
enum class CrossingStage {
  NoZonePoint,      // no point of the frame in either zone
  NoFirstCrossing,  // no crossing of the mid level after the first zone point
  NotConfirmed,     // no second crossing that reached the opposite zone within the window
  Confirmed,
};

struct CrossingScan {
  CrossingStage stage = CrossingStage::NoZonePoint;
  int first_cross = 0;    // point of the first crossing, 0 when none
  int cross_index = 0;    // point of the confirmed second crossing
  bool returned = false;  // a point back in the first zone was tried for the second crossing
  // Without a zone point: the nearest held levels the zone tests saw, the highest against the
  // top zone and the lowest against the bottom zone.
  int nearest_top = 0;
  int nearest_bottom = 255;
};

// The crossing scans of `frame` with the settings in force, testing zones with the second
// point offset at 0 as this mode does; changes nothing.
CrossingScan ScanCrossings(const MeasurementState& state, int frame);

// Spacing in points between two successive crossings of the mid level in the same direction in
// frame CurrentFrame (rising when the frame's first zone point is a bottom-zone point, falling
// when it is a top-zone point). Sets SecondPointOffset to 0 before testing zones, and FoundMax
// to the first crossing when there is one. Returns 0 when the frame has no first crossing or no
// confirmed second crossing; the confirmation window never reads past point BufferSize - 1.
double ZeroCrossingSpacing(MeasurementState& state);

}  // namespace fc
