#include "tools/anticipation.h"

#include <cstdint>
#include <string>

#include "analysis/number_text.h"
#include "analysis/pulse_tests.h"

namespace fc {

namespace {

// The scan range is fixed; it does not follow BufferSize.
constexpr int kLastPoint = 1015;
constexpr int kLastFirstFrame = kLastFrame - 1;  // the second frame must still be in the store

// A rise of more than AnticCounts over the last two points.
bool IsRisingStep(const uint8_t* row, int i, float antic_counts) {
  return static_cast<float>(row[2 * i] - row[2 * i - 4]) > antic_counts;
}

}  // namespace

std::optional<Message> AnticipateNextFrame(MeasurementState& state, Picture& scope,
                                           std::string_view answer) {
  if (answer.empty()) return std::nullopt;

  const FrameAnswer typed = ReadFrameAnswer(answer, kLastFirstFrame);
  if (typed.warning) return typed.warning;
  const int first_frame = typed.frame;
  const int second_frame = first_frame + 1;

  scope.Clear();

  // First frame: the last three rising steps.
  state.FoundMax = 0;
  state.FoundNextMax = 0;
  int prev_max = 0;
  int prev_prev_max = 0;
  const uint8_t* row = state.Row(first_frame);
  for (int i = kFirstScanPoint; i <= kLastPoint; ++i) {
    if (!IsRisingStep(row, i, state.AnticCounts)) continue;
    prev_prev_max = prev_max;
    prev_max = state.FoundMax;
    state.FoundMax = static_cast<int16_t>(i);
    i += kPulseSkip;
  }

  // With three or more steps the spacing between the third-last and the second-last step is
  // taken, not the last one.
  const int last_step = state.FoundMax;
  int gap = 0;
  int antic_max = 0;
  if (prev_prev_max > 0) {
    gap = prev_max - prev_prev_max;
    antic_max = gap - (state.BufferSize - last_step);
  } else if (prev_max > 0) {
    gap = last_step - prev_max;
    antic_max = gap - (state.BufferSize - last_step);
  }

  // Second frame: the first rising step.
  state.FoundMax = 0;
  state.FoundNextMax = 0;
  row = state.Row(second_frame);
  for (int i = kFirstScanPoint; i <= kLastPoint; ++i) {
    if (!IsRisingStep(row, i, state.AnticCounts)) continue;
    state.FoundMax = static_cast<int16_t>(i);
    int dif = antic_max - state.FoundMax;
    if (dif < 0) {
      antic_max += gap;
      dif = antic_max - state.FoundMax;
    }
    return Message{"Gap =" + FormatInteger(gap) + "   FoundMax = " + FormatInteger(state.FoundMax) +
                       "   AnticMax = " + FormatInteger(antic_max) +
                       "   Dif = " + FormatInteger(dif),
                   MessageButtons::Ok, MessageIcon::None, ""};
  }
  return std::nullopt;
}

}  // namespace fc
