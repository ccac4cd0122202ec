#include "tools/frame_graph.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "analysis/number_text.h"
#include "analysis/pulse_tests.h"

namespace fc {

namespace {

// Trace colours by colour index 9, 10 and 11: before the first pulse, between the two, after.
constexpr int kFirstColorIndex = 9;
constexpr std::array<Color, 3> kTraceColors{{{0, 0, 255}, {0, 255, 0}, {0, 255, 255}}};

constexpr double kMidLevel = 128.0;
constexpr double kMidLineEnd = 600.0;

}  // namespace

std::optional<Message> DrawDetailedGraph(MeasurementState& state, Picture& scope,
                                         std::string_view answer) {
  if (answer.empty()) return std::nullopt;

  const FrameAnswer typed = ReadFrameAnswer(answer, kLastFrame);
  if (typed.warning) return typed.warning;
  const int frame = typed.frame;
  const uint8_t* row = state.Row(frame);
  const PulseTests tests(state, row);

  scope.Clear();
  state.FoundMax = 0;
  state.FoundNextMax = 0;
  int color_index = kFirstColorIndex;

  // The zone test reads up to 4 bytes past point i: no more points than a row holds are ever
  // examined, whatever BufferSize says.
  const int32_t points = std::min(state.BufferSize, kMaxFramePoints);
  const int32_t last_point = points - 3;
  const int32_t skip_guard = points - 5;
  for (int32_t i = kFirstScanPoint; i <= last_point; ++i) {
    scope.DrawLine(i - 2, row[2 * i - 2], i, row[2 * i],
                   kTraceColors.at(static_cast<std::size_t>(color_index - kFirstColorIndex)));
    if (!tests.IsMaximumPulse(i)) continue;
    if (state.FoundMax == 0) {
      state.FoundMax = static_cast<int16_t>(i);
      ++color_index;
      i += kPulseSkip;
      if (i > skip_guard) break;
    } else if (state.FoundNextMax == 0) {
      state.FoundNextMax = static_cast<int16_t>(i);
      ++color_index;
    }
  }

  scope.DrawLine(0.0, kMidLevel, kMidLineEnd, kMidLevel);

  return Message{"Delta " + FormatInteger(state.FoundNextMax - state.FoundMax), MessageButtons::Ok,
                 MessageIcon::None, ""};
}

}  // namespace fc
