#include "analysis/zero_crossing.h"

#include <algorithm>

#include "analysis/pulse_tests.h"

namespace fc {
namespace {

constexpr int kMidLevel = 128;
constexpr int kConfirmWindow = 20;

}  // namespace

float CrossingTime(const uint8_t* row, int c) {
  const float a = static_cast<float>(row[2 * (c - 1)]);
  const float b = static_cast<float>(row[2 * c]);
  const float fraction = (a - static_cast<float>(kMidLevel)) / (a - b);
  return static_cast<float>(c - 1) + fraction;
}

CrossingScan ScanCrossings(const MeasurementState& state, int frame) {
  const uint8_t* row = state.Row(frame);
  PulseTests tests(state, row);
  tests.second = 0;
  const int32_t buffer_size = state.BufferSize;
  const int last = buffer_size - 3;
  CrossingScan scan;

  int first_zone = 0;
  bool rising = false;
  for (int i = kFirstScanPoint; i <= last; ++i) {
    const int top_level = tests.TopZoneLevel(i);
    if (top_level > tests.top_limit) {
      first_zone = i;
      break;
    }
    const int bottom_level = tests.BottomZoneLevel(i);
    if (bottom_level < tests.bottom_limit) {
      first_zone = i;
      rising = true;
      break;
    }
    scan.nearest_top = std::max(scan.nearest_top, top_level);
    scan.nearest_bottom = std::min(scan.nearest_bottom, bottom_level);
  }
  if (first_zone == 0) return scan;

  const auto crossed = [&](int point) {
    const int s = row[2 * point];
    return rising ? s > kMidLevel : s < kMidLevel;
  };
  const auto reaches_opposite_zone = [&](int point) {
    const int s = row[2 * point];
    return rising ? s > tests.top_limit : s < tests.bottom_limit;
  };
  const auto in_start_zone = [&](int point) {
    return rising ? tests.InBottomZone(point) : tests.InTopZone(point);
  };

  scan.stage = CrossingStage::NoFirstCrossing;
  for (int i = first_zone; i <= last; ++i) {
    if (crossed(i)) {
      scan.first_cross = i;
      break;
    }
  }
  if (scan.first_cross == 0) return scan;

  scan.stage = CrossingStage::NotConfirmed;
  int cross_index = 0;
  for (int i = scan.first_cross + kPulseSkip; i <= last; ++i) {
    if (!in_start_zone(i)) continue;
    scan.returned = true;
    cross_index = 0;
    // Only recorded points may confirm a crossing.
    const int window_end = std::min(i + kConfirmWindow, buffer_size - 1);
    for (int j = i; j <= window_end; ++j) {
      if (cross_index == 0 && crossed(j)) cross_index = j;
      if (reaches_opposite_zone(j)) {
        scan.stage = CrossingStage::Confirmed;
        scan.cross_index = cross_index;
        return scan;
      }
    }
  }
  return scan;
}

double ZeroCrossingSpacing(MeasurementState& state) {
  // Lasts until the consecutive-points setting is next applied.
  state.SecondPointOffset = 0;
  const CrossingScan scan = ScanCrossings(state, state.CurrentFrame);
  // Without a first crossing FoundMax keeps whatever an earlier operation left in it; it is
  // not a point of this frame, so nothing is measured from it.
  if (scan.first_cross == 0) return 0.0;
  state.FoundMax = static_cast<int16_t>(scan.first_cross);
  if (scan.stage != CrossingStage::Confirmed) return 0.0;

  if (state.UseHiResTime == 1) {
    const uint8_t* row = state.Row(state.CurrentFrame);
    const float spacing = CrossingTime(row, scan.cross_index) - CrossingTime(row, scan.first_cross);
    return spacing;
  }
  return scan.cross_index - scan.first_cross;
}

}  // namespace fc
