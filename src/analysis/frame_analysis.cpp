#include "analysis/frame_analysis.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/number_text.h"
#include "analysis/pulse_tests.h"
#include "analysis/zero_crossing.h"

namespace fc {
namespace {

constexpr double kMismatchLimit = 2.0;

bool FrameInStore(int frame) { return frame >= 0 && frame <= kLastFrame; }

// The first two pulses of one kind. After the first, the scan skips the following 12 points,
// and ends when the skip leaves too little of the frame. `zone_reach` gives a point's reach
// into the kind's zone (in the zone when above 0), `jumped` its jump test.
template <typename ZoneReach, typename Jumped>
PulseScan ScanPulses(int32_t buffer_size, ZoneReach zone_reach, Jumped jumped) {
  PulseScan found;
  const int last = buffer_size - 3;
  for (int i = kFirstScanPoint; i <= last; ++i) {
    const int reach = zone_reach(i);
    found.deepest = std::max(found.deepest, reach);
    if (reach <= 0 || !jumped(i)) continue;
    if (found.first == 0) {
      found.first = static_cast<int16_t>(i);
      i += kPulseSkip;
      if (i > buffer_size - 5) break;
    } else {
      found.next = static_cast<int16_t>(i);
      break;
    }
  }
  return found;
}

struct JumpResult {
  double spacing = 0.0;
  double mismatch = 0.0;
};

JumpResult JumpSpacing(MeasurementState& state) {
  state.ClearPulseIndexes();
  const JumpScan scan = ScanJumpPulses(state, state.CurrentFrame);
  const PulseScan& maxima = scan.maxima;
  const PulseScan& minima = scan.minima;
  state.FoundMax = maxima.first;
  state.FoundNextMax = maxima.next;
  state.FoundMin = minima.first;

  // A first pulse without a second gives a negative spacing, which is never chosen.
  const int max_spacing = maxima.next - maxima.first;
  const int min_spacing = minima.next - minima.first;
  JumpResult result;
  if (min_spacing > 0 && max_spacing > 0) {
    result.mismatch = 100.0 * std::fabs(1.0 - static_cast<double>(max_spacing) / min_spacing);
    const float prev = state.PrevPulseSpacing;
    if (result.mismatch > kMismatchLimit && prev > 0.0f) {
      // The spacing closer to the previous frame's wins; equal distances go to the maxima.
      // Both differences are exact in double, so a true tie is seen as one.
      const double dev_max = std::fabs(static_cast<double>(prev) - max_spacing);
      const double dev_min = std::fabs(static_cast<double>(prev) - min_spacing);
      result.spacing = dev_min < dev_max ? min_spacing : max_spacing;
    } else {
      result.spacing = (static_cast<double>(min_spacing) + max_spacing) * 0.5;
    }
  } else if (min_spacing > 0) {
    result.spacing = min_spacing;
  } else if (max_spacing > 0) {
    result.spacing = max_spacing;
  }
  return result;
}

}  // namespace

JumpScan ScanJumpPulses(const MeasurementState& state, int frame) {
  const PulseTests tests(state, state.Row(frame));
  JumpScan scan;
  scan.maxima = ScanPulses(
      state.BufferSize, [&](int i) { return tests.TopZoneLevel(i) - tests.top_limit; },
      [&](int i) { return tests.Rise(i); });
  scan.minima = ScanPulses(
      state.BufferSize, [&](int i) { return tests.bottom_limit - tests.BottomZoneLevel(i); },
      [&](int i) { return tests.Fall(i); });
  return scan;
}

void BeginReplay(MeasurementState& state, Display& display) {
  display.ClearLog();
  display.Trace().Clear();
  display.Scope().Clear();
  display.RunBegun(FrameTiming::FrameNumber);
  state.CurrentFrame = 0;
  state.RunFramesBefore = 0;
  state.StoreStartSeconds = 0.0;
}

void AnalyzeFrame(MeasurementState& state, Display& display) {
  // There is no row to analyse beyond the store (CurrentFrame is 1001 after a full run).
  if (!FrameInStore(state.CurrentFrame)) return;

  double spacing = 0.0;
  std::optional<double> mismatch;
  if (InZeroCrossingMode(state)) {
    spacing = ZeroCrossingSpacing(state);
  } else {
    const JumpResult jump = JumpSpacing(state);
    spacing = jump.spacing;
    mismatch = jump.mismatch;
  }

  state.PrevPulseSpacing = static_cast<float>(spacing);
  double period = spacing / static_cast<double>(state.QuillRecordFreq);
  // Also covers a rate of 0, which no caller should leave: no reading rather than NaN or inf.
  if (!(period > 0.0) || !std::isfinite(period)) period = 0.0;
  PublishFrameResult(state, display, state.CurrentFrame, period, mismatch);
}

void PublishFrameResult(MeasurementState& state, Display& display, int frame, double period,
                        std::optional<double> mismatch) {
  if (!FrameInStore(frame)) return;
  display.SetFrameLabel(0, "");
  std::string line =
      FormatInteger(state.RunFrame(frame)) + "   " + FormatPattern(period, kPeriodPattern) + "   ";
  if (mismatch) line += FormatPattern(*mismatch, kMismatchPattern);
  display.SetFrameLabel(1, line);
  state.FrameResults[static_cast<std::size_t>(frame)] = period;
  display.AppendLog(line + "\r\n");
  if (period > 0.0) {
    display.Trace().DrawLine(frame - 1, period, frame + 1, period);
  }
  display.FramePublished(state, frame, period);
}

}  // namespace fc
