#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "capture/block_averager.h"
#include "capture/edge_timer.h"
#include "capture/pulse_restorer.h"
#include "capture/recording_sink.h"
#include "capture/wave_input.h"

namespace fc {

// What every sound backend does with the samples it records: restores the pulses of an
// AC-coupled input when asked to (PulseRestorer, at the input rate), averages them down to the
// requested rate (BlockAverager) and writes the bytes into the queued buffer header, marking it
// done when it is full. Beside the averaging, the edge timer sees the first channel at the input
// rate (after the restorer, and before it too when it is on); each buffer carries the timer's
// reading of exactly the input samples its points were averaged from, up to the one that
// completed its last point. What follows a completed buffer is kept for the next one, as long as
// it fits and the caller queues that buffer before more arrives; otherwise it is dropped, so that a
// buffer never holds a gap. Not thread-safe: the backend guards it with its own lock.
class BufferFiller {
 public:
  // `carry_frames`: how many output frames may wait for the next buffer.
  BufferFiller(uint32_t input_rate, uint32_t output_rate, int channels, size_t carry_frames,
               bool restore_pulses = false);

  int Channels() const { return averager_.Channels(); }
  // Whether the edge timer reads each buffer (on unless turned off); off, buffers carry an
  // empty PreciseReading.
  void TimeEdges(bool on) { timing_ = on; }

  // Hands every sample pushed from the first queueing on to `sink`, before the restorer and
  // the averaging. So that a replay of what was kept gives the same frames, the averager and
  // the restorer start afresh at that queueing: frame 0 begins with the first sample kept.
  void KeepInto(std::shared_ptr<RecordingSink> sink, SampleWidth width);
  // True while a buffer is queued and not yet full.
  bool Queued() const { return header_ != nullptr; }

  // Clears the header's done flag and fills it, first with what was kept from before.
  void Queue(WaveHeader& header);
  // Gives the header back (done) if it is still queued; `only` == nullptr (a reset) gives back
  // whichever is queued. Unpreparing a completed header keeps the input that followed it; a
  // reset drops it, as it drops everything until the next queueing.
  void Release(const WaveHeader* only);

  // Interleaved float samples (-1..1) at the input rate, `Channels()` per frame.
  void Push(const float* samples, size_t frame_count);
  // A hole in the recording, recorded as the mid level.
  void PushSilence(size_t frame_count);

 private:
  void Complete();
  void WriteFrame(const uint8_t* frame);
  // Pushes `frame_count` frames to the averager (and the timer) up to one output point at a
  // time, handing the kept samples on so that the sink hears of each completed buffer right
  // after the sample that completed it. `kept` null: silence.
  void PushPieces(const float* samples, const float* kept, size_t frame_count);

  uint32_t input_rate_;
  uint32_t output_rate_;
  BlockAverager averager_;
  EdgeTimer timer_;
  bool timing_ = true;
  std::optional<PulseRestorer> restorer_;  // only when asked for
  std::vector<float> restored_;            // the restored copy of the samples pushed
  // With the restorer, a second timer on the input as it comes: the restorer gives no edges in
  // a fast AC-coupled train, which the timer's own trigger follows. Each frame takes the
  // sounder of the two readings.
  std::optional<EdgeTimer> input_timer_;
  WaveHeader* header_ = nullptr;
  uint32_t filled_ = 0;
  bool carrying_ = false;  // the frames since the last completed buffer are kept
  std::vector<uint8_t> carry_;
  std::shared_ptr<RecordingSink> sink_;
  SampleWidth sink_width_ = SampleWidth::Signed16;
  bool keeping_ = false;  // the first buffer has been queued: the sink gets the samples
  bool completed_ = false;  // a buffer was completed by the samples being pushed
};

}  // namespace fc
