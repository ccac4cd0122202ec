#pragma once

#include <string>

#include "analysis/measurement_state.h"
#include "analysis/picture.h"

namespace fc {

// Where a run's frames take their times from: a capture notes each frame's start time, frames
// read back from a raw data file have none.
enum class FrameTiming { StartTimes, FrameNumber };

// Where the measurement publishes: the two frame labels (Label1 index 0 and 1), the log text
// box (Text1), the live trace (Picture1) and the detailed graph (scope index 0). The window,
// the batch program and the tests each implement it.
class Display {
 public:
  virtual ~Display() = default;
  virtual void SetFrameLabel(int index, const std::string& text) = 0;
  virtual void AppendLog(const std::string& text) = 0;
  virtual void ClearLog() = 0;
  virtual Picture& Trace() = 0;
  virtual Picture& Scope() = 0;

  // A run begins: Start, or a raw data file that passed its check. Nothing by default.
  virtual void RunBegun(FrameTiming /*timing*/) {}
  // A frame's result has been published (also a frame analysed again). Nothing by default.
  virtual void FramePublished(const MeasurementState& /*state*/, int /*frame*/, double /*period*/) {
  }
};

}  // namespace fc
