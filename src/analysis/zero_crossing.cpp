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

double ZeroCrossingSpacing(MeasurementState& state) {
  // Lasts until the consecutive-points setting is next applied.
  state.SecondPointOffset = 0;
  const uint8_t* row = state.Row(state.CurrentFrame);
  const PulseTests tests(state, row);
  const int32_t buffer_size = state.BufferSize;
  const int last = buffer_size - 3;

  int first_zone = 0;
  bool rising = false;
  for (int i = kFirstScanPoint; i <= last; ++i) {
    if (tests.InTopZone(i)) {
      first_zone = i;
      break;
    }
    if (tests.InBottomZone(i)) {
      first_zone = i;
      rising = true;
      break;
    }
  }
  if (first_zone == 0) return 0.0;

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

  int first_cross = 0;
  for (int i = first_zone; i <= last; ++i) {
    if (crossed(i)) {
      first_cross = i;
      break;
    }
  }
  // Without a first crossing FoundMax keeps whatever an earlier operation left in it; it is
  // not a point of this frame, so nothing is measured from it.
  if (first_cross == 0) return 0.0;
  state.FoundMax = static_cast<int16_t>(first_cross);
  const float first_time = CrossingTime(row, first_cross);

  int cross_index = 0;
  bool confirmed = false;
  for (int i = first_cross + kPulseSkip; i <= last && !confirmed; ++i) {
    if (!in_start_zone(i)) continue;
    cross_index = 0;
    // Only recorded points may confirm a crossing.
    const int window_end = std::min(i + kConfirmWindow, buffer_size - 1);
    for (int j = i; j <= window_end; ++j) {
      if (cross_index == 0 && crossed(j)) cross_index = j;
      if (reaches_opposite_zone(j)) {
        confirmed = true;
        break;
      }
    }
  }
  if (!confirmed) return 0.0;

  if (state.UseHiResTime == 1) {
    const float second_time = CrossingTime(row, cross_index);
    const float spacing = second_time - first_time;
    return spacing;
  }
  return cross_index - first_cross;
}

}  // namespace fc
