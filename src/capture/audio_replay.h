#pragma once

#include <cstdint>
#include <functional>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/result.h"
#include "capture/file_input.h"

namespace fc {

struct ReplayOptions {
  bool restore_pulses = false;
  // Frames after the store's last (frame 1000) are analysed too, one after the other in its
  // last row, and their lines numbered on; otherwise the replay ends with frame 1000.
  bool beyond_store = false;
  // Asked after every frame with the number of frames so far; false ends the replay (Cancel).
  std::function<bool(int64_t frames)> go_on;
  // Called once, when the store holds the replay's frames: after frame 1000, or at the end of a
  // shorter replay.
  std::function<void()> store_filled;
};

struct ReplayOutcome {
  int64_t frames = 0;  // complete frames analysed
  FileInput::Position position;
  bool cancelled = false;
};

// Replays a recording into the frame store through the calls a capture makes on a sound input,
// as fast as the file is read. Opens device 0 of `input` for the capture's format (8-bit stereo
// at 256 Hz); when that fails, returns the input's reason and changes nothing. Otherwise it
// goes on as Read Raw Data does: clears the log, the trace and the scope, sets the capture's
// rate and frame size, and analyses each frame as it comes. Afterwards CurrentFrame is the last
// frame in the store, and the row after it holds no samples.
Result<ReplayOutcome> ReplayAudio(MeasurementState& state, Display& display, FileInput& input,
                                  const ReplayOptions& options);

}  // namespace fc
