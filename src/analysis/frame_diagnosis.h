#pragma once

#include <string>

#include "analysis/measurement_state.h"

namespace fc {

// Why a frame has no reading, as far as the detector's scans got.
enum class NoReading {
  None,  // the frame has a reading
  // Jump mode
  NoZone,        // no point in either zone
  NoJump,        // zone points, but none reached by a jump of more than JumpCounts
  OnePulseEach,  // one pulse of a kind at most: the period is longer than about a frame
  // Zero-crossing mode
  NoZonePoint,   // no point in either zone
  NoCrossing,    // no crossing of the mid level after the first zone point
  NotConfirmed,  // no second crossing that reached the opposite zone within the window
};

// The first channel's range over the frame against the two zones (above top_limit, below
// bottom_limit), as a level bar draws them.
struct InputLevels {
  int lowest = 0;
  int highest = 0;
  int bottom_limit = 0;
  int top_limit = 0;
};

struct FrameDiagnosis {
  InputLevels levels;
  NoReading reason = NoReading::None;
  // NoZone and NoZonePoint: how many counts more the zone test needed to enter each zone.
  int top_shortfall = 0;
  int bottom_shortfall = 0;
  // NotConfirmed: whether the input came back to its first zone after the first crossing.
  bool returned = false;
  // The settings the advice names.
  int max_limit_counts = 0;
  int jump_counts = 0;
};

// Runs the detector's scans over `frame` (0..1000) with the settings in force and says why they
// found no reading. Changes nothing.
FrameDiagnosis DiagnoseFrame(const MeasurementState& state, int frame);

// The reason in a few words with the counts that matter; empty for a frame with a reading.
std::string ReasonText(const FrameDiagnosis& diagnosis);

// One plain sentence that tells the user what to change; empty for a frame with a reading.
std::string NoReadingAdvice(const FrameDiagnosis& diagnosis);

}  // namespace fc
