#pragma once

#include <algorithm>
#include <cstdint>

#include "analysis/measurement_state.h"

namespace fc {

// The pulse scans start at point 6 (three points of look-back fit before it); after the first
// pulse of a kind they skip the next 12 points.
inline constexpr int kFirstScanPoint = 6;
inline constexpr int kPulseSkip = 12;

// Zone and pulse tests on the first channel of one frame row; point i is read at byte 2*i and
// the consecutive-point offsets reach the following points of the same channel.
struct PulseTests {
  PulseTests(const MeasurementState& state, const uint8_t* row)
      : row(row),
        second(state.SecondPointOffset),
        third(state.ThirdPointOffset),
        top_limit(255 - state.MaxLimitCounts),
        bottom_limit(state.MaxLimitCounts),
        jump(state.JumpCounts) {}

  int Sample(int byte) const { return row[byte]; }

  // The level that all the points of the zone test hold: the lowest of them for the top zone,
  // the highest for the bottom zone. The scans keep the nearest level as the frame's distance
  // from each zone.
  int TopZoneLevel(int i) const {
    return std::min({Sample(2 * i), Sample(2 * i + second), Sample(2 * i + third)});
  }
  int BottomZoneLevel(int i) const {
    return std::max({Sample(2 * i), Sample(2 * i + second), Sample(2 * i + third)});
  }
  bool InTopZone(int i) const { return TopZoneLevel(i) > top_limit; }
  bool InBottomZone(int i) const { return BottomZoneLevel(i) < bottom_limit; }
  bool Rise(int i) const {
    const int s = Sample(2 * i);
    return s - Sample(2 * i - 2) > jump || s - Sample(2 * i - 4) > jump ||
           s - Sample(2 * i - 6) > jump;
  }
  bool Fall(int i) const {
    const int s = Sample(2 * i);
    return Sample(2 * i - 2) - s > jump || Sample(2 * i - 4) - s > jump ||
           Sample(2 * i - 6) - s > jump;
  }
  bool IsMaximumPulse(int i) const { return InTopZone(i) && Rise(i); }
  bool IsMinimumPulse(int i) const { return InBottomZone(i) && Fall(i); }

  const uint8_t* row;
  int second;
  int third;
  int top_limit;
  int bottom_limit;
  int jump;
};

}  // namespace fc
