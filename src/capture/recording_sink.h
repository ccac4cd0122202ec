#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fc {

// The width a sound input delivers its samples in, before they become floats.
enum class SampleWidth { Unsigned8, Signed16, Float32 };

// Where a run's samples are kept as the input delivered them (record --keep-audio, Keep
// Recordings): at the input's own rate, before any pulse restoring or averaging.
class RecordingSink {
 public:
  virtual ~RecordingSink() = default;
  // Once, before the first samples: the input's rate, the channels of the samples that follow
  // and the width the input delivered them in.
  virtual void Begin(uint32_t rate, int channels, SampleWidth width) = 0;
  // Interleaved samples (-1..1). Called on the input's own thread, so it must not block.
  virtual void Write(const float* samples, size_t frame_count) = 0;
  // A hole in the input, kept as silence so that the samples after it keep their place.
  virtual void WriteSilence(size_t frame_count) = 0;
  // The samples written so far complete a frame (its last point came from the last sample).
  virtual void FrameCompleted() {}
};

// A recording kept in a file.
class KeptRecording : public RecordingSink {
 public:
  // Writes what is still queued and closes the file. Samples after it are dropped.
  virtual void Finish() = 0;
  // The sentence of a failure (a full disk), the first time it is asked after one.
  virtual std::optional<std::string> TakeFailure() = 0;
  // Before the run: keep each 1001 frames in a file of their own, the run's name numbered
  // (FILE-0001.flac, FILE-0002.flac, ...), instead of the whole run in the one file.
  virtual void KeepInParts() {}
};

}  // namespace fc
