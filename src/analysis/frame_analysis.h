#pragma once

#include <optional>

#include "analysis/display.h"
#include "analysis/measurement_state.h"

namespace fc {

inline bool InZeroCrossingMode(const MeasurementState& state) {
  return state.LookForZeroCrossing == 1;
}

// What a jump-mode scan of one kind found: its first two pulses (0 when none) and the deepest
// reach into its zone of the points it scanned, in counts past the zone limit (the zone test's
// held level; 0 or less means the scan never saw a point in the zone).
struct PulseScan {
  int16_t first = 0;
  int16_t next = 0;
  int deepest = -255;
};

struct JumpScan {
  PulseScan maxima;
  PulseScan minima;
};

// The jump-mode pulse scans of `frame` with the settings in force; changes nothing.
JumpScan ScanJumpPulses(const MeasurementState& state, int frame);

// Analyses frame CurrentFrame of the store (jump or zero-crossing mode), stores its period in
// FrameResults and publishes the frame line and trace mark through `display`.
// CurrentFrame must lie in 0..1000 and QuillRecordFreq must be non-zero.
void AnalyzeFrame(MeasurementState& state, Display& display);

// Before frames read back (a raw data file, a journal, a recording) are analysed one by one:
// clears the log, the trace and the scope, begins a run numbered by frame, and puts the store
// at row 0 of a run that starts there.
void BeginReplay(MeasurementState& state, Display& display);

// The last step of AnalyzeFrame: the frame line, FrameResults, the log and the trace mark.
// `mismatch` is empty in zero-crossing mode.
void PublishFrameResult(MeasurementState& state, Display& display, int frame, double period,
                        std::optional<double> mismatch);

}  // namespace fc
