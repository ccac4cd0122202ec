#pragma once

#include <cstdint>

namespace fc {

// What the edge timer read over one frame, beside the frame detector's period. Times are in
// seconds of the input's own sample clock (the card's clock, uncorrected). A frame read back
// from a raw data file has none (all zero).
struct PreciseReading {
  bool has_reading = false;  // at least two edges, so one interval, closed in this frame
  bool no_signal = false;    // no edge at all for more than 60 seconds
  double period_s = 0.0;       // least-squares slope of edge time against edge number
  double uncertainty_s = 0.0;  // standard uncertainty of that slope
  int32_t edges = 0;           // edges in the fit, the opening one from an earlier frame included
  double shortest_s = 0.0;     // shortest and longest single interval in the fit
  double longest_s = 0.0;
  friend bool operator==(const PreciseReading&, const PreciseReading&) = default;
};

}  // namespace fc
