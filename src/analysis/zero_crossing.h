#pragma once

#include <cstdint>

#include "analysis/measurement_state.h"

namespace fc {

// Time in points of a mid-level crossing first seen at point `c` of `row`, interpolated between
// points c - 1 and c. Computed in single precision step by step, because stored spacings and
// the periods derived from them depend on that rounding.
float CrossingTime(const uint8_t* row, int c);

// Spacing in points between two successive crossings of the mid level in the same direction in
// frame CurrentFrame (rising when the frame's first zone point is a bottom-zone point, falling
// when it is a top-zone point). Sets SecondPointOffset to 0 before testing zones, and FoundMax
// to the first crossing when there is one. Returns 0 when the frame has no first crossing or no
// confirmed second crossing; the confirmation window never reads past point BufferSize - 1.
double ZeroCrossingSpacing(MeasurementState& state);

}  // namespace fc
