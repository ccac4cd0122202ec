#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fc {

// Brings a recording at the source's own rate down to a low output rate by plain block means:
// output frame k is the mean, per channel, of the input frames n with floor(n * out / in) == k,
// converted to unsigned 8 bits (128 = mid level). A box mean cannot overshoot, so a full-scale
// edge stays full scale on both sides, unlike the ringing of a band-limited resampler.
class BlockAverager {
 public:
  // input_rate >= output_rate > 0; channels >= 1 (interleaved, the same count in and out).
  BlockAverager(uint32_t input_rate, uint32_t output_rate, int channels);

  int Channels() const { return channels_; }

  // Feeds `frame_count` interleaved frames of float samples (-1..1) and calls
  // sink(const uint8_t* frame) with `Channels()` bytes for every output frame completed.
  template <typename Sink>
  void Push(const float* samples, size_t frame_count, Sink&& sink) {
    const size_t channels = static_cast<size_t>(channels_);
    // A block at a time, each channel's sum in the order of its samples as before: a file is
    // read as fast as this loop runs.
    while (frame_count > 0) {
      const size_t take =
          static_cast<size_t>(std::min<uint64_t>(next_boundary_ - input_index_, frame_count));
      if (channels == 2) {
        double first = sums_[0];
        double second = sums_[1];
        for (size_t f = 0; f < take; ++f) {
          first += samples[2 * f];
          second += samples[2 * f + 1];
        }
        sums_[0] = first;
        sums_[1] = second;
      } else {
        for (size_t f = 0; f < take; ++f) {
          for (size_t c = 0; c < channels; ++c) sums_[c] += samples[f * channels + c];
        }
      }
      samples += take * channels;
      frame_count -= take;
      if (AdvanceBy(take)) sink(static_cast<const uint8_t*>(out_.data()));
    }
  }

  // How many more input frames complete the output frame being averaged (at least 1).
  size_t FramesToBoundary() const { return static_cast<size_t>(next_boundary_ - input_index_); }

  // Feeds frames of silence (a gap in the input counts as mid level).
  template <typename Sink>
  void PushSilence(size_t frame_count, Sink&& sink) {
    for (size_t f = 0; f < frame_count; ++f) {
      if (Advance()) sink(static_cast<const uint8_t*>(out_.data()));
    }
  }

  // -1..1 to 0..255 (x * 128 + 128, rounded to nearest); values beyond full scale are
  // clipped, and a NaN reads as the mid level.
  static uint8_t ToUnsigned8(double mean);

 private:
  // Counts one input frame already added to the sums; true when it closed an output frame,
  // whose bytes are then in out_.
  bool Advance() { return AdvanceBy(1); }
  // The same for `count` frames, none of them past the end of the block.
  bool AdvanceBy(uint64_t count);

  uint64_t input_rate_;
  uint64_t output_rate_;
  int channels_;
  uint64_t input_index_ = 0;   // input frames seen so far
  uint64_t output_index_ = 0;  // output frame being filled
  uint64_t next_boundary_;     // first input frame of the next output frame
  uint64_t in_block_ = 0;      // input frames in the current output frame
  std::vector<double> sums_;
  std::vector<uint8_t> out_;
};

}  // namespace fc
