#pragma once

#include <cstdint>
#include <string>

#include "capture/wave_input.h"

namespace fc {

struct AudioFileOptions {
  // The file's channel (from 1) that becomes the first channel; the second is the next one, or
  // the same one when there is no next.
  int channel = 1;
  double start_seconds = 0.0;  // where the replay begins
  // How long a FIFO may stay silent before it is given up on.
  double fifo_wait_seconds = 5.0;
  // Whether the edge timer reads each frame (PreciseReading); a replay that only prints the
  // frame lines is several times faster without it.
  bool time_edges = true;
};

// A sound input that replays a recording instead of a card: a queued buffer is filled at once,
// on the caller's thread, from the file's samples at the file's own rate through the same
// BufferFiller a card's samples go through. It never waits for real time, and a buffer that
// stays not done after AddBuffer means the file holds no whole frame more.
class FileInput : public WaveInput {
 public:
  // Why the last Open failed, as a sentence the user can act on.
  virtual std::string OpenError() const = 0;

  struct Position {
    uint64_t frames_read = 0;        // at the file's rate, since the start of the replay
    uint64_t frames_total = 0;       // from the start of the replay to the end; 0 when unknown
    double seconds_left_over = 0.0;  // read after the last complete buffer (a partial frame)
    bool ended_early = false;        // the file ended before its header said, or failed
    std::string ended_early_why;     // then: a sentence saying so
  };
  virtual Position Where(WaveInHandle handle) const = 0;
};

}  // namespace fc
