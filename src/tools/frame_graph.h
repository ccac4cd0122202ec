#pragma once

#include <optional>
#include <string_view>

#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "analysis/picture.h"
#include "tools/frame_prompt.h"

namespace fc {

// The click of "Draw Detailed Graph" after the input box has been answered.
// An empty answer (also Cancel) returns nothing and touches nothing. A frame number outside
// 0..1000 returns a warning and leaves `scope`, FoundMax and FoundNextMax as they were.
// Otherwise clears `scope`, draws the frame's first channel with the first two maximum pulses
// marked by colour changes, sets FoundMax and FoundNextMax and returns the "Delta " message.
std::optional<Message> DrawDetailedGraph(MeasurementState& state, Picture& scope,
                                         std::string_view answer);

}  // namespace fc
