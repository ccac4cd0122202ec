#pragma once

#include <optional>

#include "analysis/display.h"
#include "analysis/measurement_state.h"

namespace fc {

// Analyses frame CurrentFrame of the store (jump or zero-crossing mode), stores its period in
// FrameResults and publishes the frame line and trace mark through `display`.
// CurrentFrame must lie in 0..1000 and QuillRecordFreq must be non-zero.
void AnalyzeFrame(MeasurementState& state, Display& display);

// The last step of AnalyzeFrame: the frame line, FrameResults, the log and the trace mark.
// `mismatch` is empty in zero-crossing mode.
void PublishFrameResult(MeasurementState& state, Display& display, int frame, double period,
                        std::optional<double> mismatch);

}  // namespace fc
