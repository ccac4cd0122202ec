#include "analysis/frame_diagnosis.h"

#include <algorithm>

#include "analysis/frame_analysis.h"
#include "analysis/pulse_tests.h"
#include "analysis/zero_crossing.h"

namespace fc {
namespace {

InputLevels LevelsOf(const MeasurementState& state, int frame) {
  const PulseTests tests(state, state.Row(frame));
  InputLevels levels{255, 0, tests.bottom_limit, tests.top_limit};
  const int points = std::clamp<int>(state.BufferSize, 0, kMaxFramePoints);
  for (int i = 0; i < points; ++i) {
    levels.lowest = std::min(levels.lowest, tests.Sample(2 * i));
    levels.highest = std::max(levels.highest, tests.Sample(2 * i));
  }
  if (points == 0) levels.lowest = 0;
  return levels;
}

NoReading JumpReason(const JumpScan& scan, FrameDiagnosis& diagnosis) {
  if (scan.maxima.next != 0 || scan.minima.next != 0) return NoReading::None;
  if (scan.maxima.first != 0 || scan.minima.first != 0) return NoReading::OnePulseEach;
  if (scan.maxima.deepest > 0 || scan.minima.deepest > 0) return NoReading::NoJump;
  diagnosis.top_shortfall = 1 - scan.maxima.deepest;
  diagnosis.bottom_shortfall = 1 - scan.minima.deepest;
  return NoReading::NoZone;
}

NoReading CrossingReason(const CrossingScan& scan, FrameDiagnosis& diagnosis) {
  switch (scan.stage) {
    case CrossingStage::NoZonePoint:
      diagnosis.top_shortfall = diagnosis.levels.top_limit + 1 - scan.nearest_top;
      diagnosis.bottom_shortfall = scan.nearest_bottom - (diagnosis.levels.bottom_limit - 1);
      return NoReading::NoZonePoint;
    case CrossingStage::NoFirstCrossing:
      return NoReading::NoCrossing;
    case CrossingStage::NotConfirmed:
      diagnosis.returned = scan.returned;
      return NoReading::NotConfirmed;
    case CrossingStage::Confirmed:
      break;
  }
  return NoReading::None;
}

std::string Counts(int n) { return std::to_string(n) + (n == 1 ? " count" : " counts"); }

// NoZone and NoZonePoint: how far the zone test stayed from each zone, after `lead`. A zone
// that single samples reach was missed by the test's other points: that is named instead of a
// distance, which would contradict the input range printed beside it.
std::string ZoneMisses(const FrameDiagnosis& d, const std::string& lead) {
  const InputLevels& l = d.levels;
  const bool top_reached = l.highest > l.top_limit;
  const bool bottom_reached = l.lowest < l.bottom_limit;
  if (!top_reached && !bottom_reached) {
    return lead + ": " + Counts(d.top_shortfall) + " short of the top zone, " +
           std::to_string(d.bottom_shortfall) + " short of the bottom zone";
  }
  const std::string not_all =
      ", but never on all the points the zone test looks at (Consecutive Points)";
  if (top_reached && bottom_reached) return "enters both zones" + not_all;
  return top_reached ? "enters the top zone" + not_all + ", and stays " +
                           Counts(d.bottom_shortfall) + " short of the bottom zone"
                     : "enters the bottom zone" + not_all + ", and stays " +
                           Counts(d.top_shortfall) + " short of the top zone";
}

bool CanRaiseMaxLimit(const FrameDiagnosis& d) { return d.max_limit_counts < kMaxLimitHighest; }

// The input never gets past one of the zone limits, so no pulse can reach both zones.
bool MissesAZone(const InputLevels& l) {
  return l.highest <= l.top_limit || l.lowest >= l.bottom_limit;
}

std::string LevelAdvice(const FrameDiagnosis& d) {
  const InputLevels& l = d.levels;
  return "The input stays between " + std::to_string(l.lowest) + " and " +
         std::to_string(l.highest) + "; pulses must rise above " + std::to_string(l.top_limit) +
         " and fall below " + std::to_string(l.bottom_limit) + ". Raise the input level" +
         (CanRaiseMaxLimit(d) ? ", or raise Max Limit (Preferences)." : ".");
}

}  // namespace

FrameDiagnosis DiagnoseFrame(const MeasurementState& state, int frame) {
  FrameDiagnosis diagnosis;
  diagnosis.levels = LevelsOf(state, frame);
  diagnosis.max_limit_counts = state.MaxLimitCounts;
  diagnosis.jump_counts = state.JumpCounts;
  diagnosis.reason = InZeroCrossingMode(state)
                         ? CrossingReason(ScanCrossings(state, frame), diagnosis)
                         : JumpReason(ScanJumpPulses(state, frame), diagnosis);
  return diagnosis;
}

std::string ReasonText(const FrameDiagnosis& d) {
  switch (d.reason) {
    case NoReading::None:
      break;
    case NoReading::NoZone:
      return ZoneMisses(d, "never enters a zone");
    case NoReading::NoJump:
      return "enters a zone, but never after a jump of more than " + Counts(d.jump_counts);
    case NoReading::OnePulseEach:
      return "only one pulse of each kind fits in the frame: the period is longer than about "
             "4 s";
    case NoReading::NoZonePoint:
      return ZoneMisses(d, "no point in either zone");
    case NoReading::NoCrossing:
      return "no crossing of the mid level after the first zone point";
    case NoReading::NotConfirmed:
      return d.returned ? "the second crossing is not confirmed: it does not reach the opposite "
                          "zone within 20 points"
                        : "the second crossing is not confirmed: the input does not come back "
                          "to its first zone";
  }
  return "";
}

std::string NoReadingAdvice(const FrameDiagnosis& d) {
  switch (d.reason) {
    case NoReading::None:
      return "";
    case NoReading::OnePulseEach:
      return "Only one pulse of each kind fits in a frame: the pulses are more than about 4 s "
             "apart, too far to measure.";
    case NoReading::NoCrossing:
      return "After it first reaches a zone the input stays on one side of the mid level 128. "
             "Centre the input on 128, or stop looking for zero crossings (Preferences).";
    case NoReading::NotConfirmed:
      if (d.returned) break;
      return "After its first crossing of the mid level the input does not come back to the "
             "zone it started from: the pulses are more than about 4 s apart, or the later ones "
             "are too weak.";
    case NoReading::NoZone:
    case NoReading::NoZonePoint:
    case NoReading::NoJump:
      break;
  }
  if (MissesAZone(d.levels)) return LevelAdvice(d);
  switch (d.reason) {
    case NoReading::NoZone:
    case NoReading::NoZonePoint:
      // Samples lie in both zones, but never on all the points the zone test looks at.
      return "The input passes " + std::to_string(d.levels.top_limit) + " and " +
             std::to_string(d.levels.bottom_limit) +
             " only for single samples. Choose fewer Consecutive Points (Preferences), or raise "
             "the input level.";
    case NoReading::NoJump:
      return "The input reaches the zones, but never jumps into them by more than " +
             Counts(d.jump_counts) + " within 3 samples. " +
             (d.jump_counts > kJumpLowest ? "Lower the Jump in Counts, or look" : "Look") +
             " for zero crossings instead (Preferences).";
    default:
      return std::string(
                 "The input does not swing from one zone to the other within 20 samples. "
                 "Raise the input level") +
             (CanRaiseMaxLimit(d) ? " or Max Limit" : "") +
             ", or stop looking for zero crossings (Preferences).";
  }
}

}  // namespace fc
