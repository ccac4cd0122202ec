#include "files/results_file.h"

#include <algorithm>
#include <cstdlib>

#include "analysis/number_text.h"
#include "files/atomic_file.h"

namespace fc {

namespace {

constexpr int kEdgeCounts = 220;  // a step larger than this is an edge
constexpr int kEdgeSkip = 2;      // points skipped after the first fall and the first rise
constexpr int kScanMargin = 5;    // points at or beyond BufferSize - 5 are not examined
constexpr float kTenth = 0.1f;

// The variables the edge scan overwrites.
struct ScanVariables {
  int16_t found_max, found_min, found_next_max, approach, leave, approach_next, leave_next;

  static ScanVariables Of(const MeasurementState& s) {
    return {s.FoundMax, s.FoundMin,     s.FoundNextMax, s.Approach,
            s.Leave,    s.ApproachNext, s.LeaveNext};
  }
  void RestoreInto(MeasurementState& s) const {
    s.FoundMax = found_max;
    s.FoundMin = found_min;
    s.FoundNextMax = found_next_max;
    s.Approach = approach;
    s.Leave = leave;
    s.ApproachNext = approach_next;
    s.LeaveNext = leave_next;
  }
};

bool CanWrite(const MeasurementState& state) {
  return state.BufferSize > 0 && state.QuillRecordFreq > 0.0f;
}

}  // namespace

std::string ResultsLine(MeasurementState& state, int frame) {
  state.ClearPulseIndexes();

  const uint8_t* row = state.Row(frame);
  const int32_t pairs = std::min(state.BufferSize, kMaxFramePoints);
  for (int32_t i = 0; i < pairs; ++i) {
    if (i >= pairs - kScanMargin) continue;
    const int16_t s0 = row[2 * i];
    const int16_t s1 = row[2 * i + 2];
    const int16_t s2 = row[2 * i + 4];
    state.FoundNextMax = s0;
    state.FoundMax = static_cast<int16_t>(s0 - s1);
    state.FoundMin = static_cast<int16_t>(s0 - s2);
    if (std::abs(state.FoundMax) <= kEdgeCounts && std::abs(state.FoundMin) <= kEdgeCounts)
      continue;
    const auto index = static_cast<int16_t>(i);
    if (state.FoundMax > kEdgeCounts || state.FoundMin > kEdgeCounts) {
      if (state.Approach == 0) {
        state.Approach = index;
        i += kEdgeSkip;
      } else if (state.ApproachNext == 0) {
        state.ApproachNext = index;
      }
    } else {
      if (state.Leave == 0) {
        state.Leave = index;
        i += kEdgeSkip;
      } else if (state.LeaveNext == 0) {
        state.LeaveNext = index;
      }
    }
  }

  const double frame_factor = static_cast<double>(state.QuillRecordFreq) / state.BufferSize / 2;
  const double sample_factor = 1 / frame_factor;
  const double t = frame_factor * frame + sample_factor * state.Approach;

  float r = 0.0f;
  if (state.Approach == 0) {
    r = state.Leave > 0 ? 1.0f : 0.0f;
  } else if (state.Leave < state.Approach) {
    r = 1.0f;
  } else {
    // From a fall to the next rise is half a period; with no second fall the value is a tenth.
    float dt = static_cast<float>(state.Leave - state.Approach) / state.QuillRecordFreq;
    if (state.ApproachNext == 0) dt = dt / kTenth;
    r = 60.0f / (dt * 2.0f);
  }

  return FormatInteger(frame) + "   " + FormatPattern(t, kResultTimePattern) + "   " +
         FormatPattern(r, kRpmPattern);
}

std::string ResultsText(MeasurementState& state) {
  std::string text;
  if (!CanWrite(state)) return text;
  // A counter of its own: CurrentFrame is the capture's frame index and must not move.
  const int last = std::min<int>(state.CurrentFrame, kLastFrame);
  for (int frame = 0; frame <= last; ++frame) {
    text += ResultsLine(state, frame);
    text += "\r\n";
  }
  return text;
}

Message WriteResults(MeasurementState& state, const std::filesystem::path& path) {
  if (!CanWrite(state)) {
    return WarningMessage(
        "There are no results to write yet: nothing has been captured or read. \"" + path.string() +
        "\" was not changed.");
  }
  // A file that cannot be written leaves the state as it was, the scan's variables included.
  const ScanVariables before = ScanVariables::Of(state);
  if (auto error = WriteFileAtomically(path, ResultsText(state))) {
    before.RestoreInto(state);
    return WarningMessage(std::move(*error));
  }
  return DoneMessage();
}

}  // namespace fc
