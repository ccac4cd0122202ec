#pragma once

#include <optional>
#include <string_view>

#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "analysis/picture.h"
#include "tools/frame_prompt.h"

namespace fc {

// The click of "Antic. Next Frame" after the input box has been answered: anticipates from the
// rising steps of frame N where the first step of frame N + 1 falls and compares it with where
// it does fall.
// An empty answer (also Cancel) returns nothing and touches nothing. A first frame outside
// 0..999 returns a warning and leaves `scope`, FoundMax and FoundNextMax as they were.
// Otherwise clears `scope` (nothing is drawn), leaves FoundMax at the first rising step of the
// second frame (0 when none) and FoundNextMax at 0, and returns the "Gap =" message, or nothing
// when the second frame has no rising step.
std::optional<Message> AnticipateNextFrame(MeasurementState& state, Picture& scope,
                                           std::string_view answer);

}  // namespace fc
