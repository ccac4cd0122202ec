#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "analysis/averaging_panel.h"

namespace fc {

// Text of the result label (Label3 index 2) before the first average.
inline constexpr std::string_view kAverageLabelInitial = "Avg:  ";

struct AverageOutcome {
  std::optional<std::string> label;  // new text of Label3 index 2; empty: leave the label
  std::optional<Message> warning;    // a message box to show; the label is then left alone
};

// The click of "Do Average": averages FrameResults over the frames typed into the panel,
// capped at CurrentFrame - 1, optionally (Check1 == 1) without the readings 20 % or more away
// from the plain average. A negative first frame is rewritten to "0" in panel.FirstText.
// A number outside -32768..32767 in either box gives a warning and changes nothing.
AverageOutcome DoAverage(const MeasurementState& state, AveragingPanel& panel);

}  // namespace fc
