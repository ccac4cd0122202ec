#pragma once

#include <cstddef>
#include <cstdint>

namespace fc {

// Turns the first channel of an AC-coupled input back into a square pulse train before it is
// averaged down. A capacitor in the input leaves only a spike at each edge of a sensor's
// pulses, decaying within milliseconds; averaged to the recording rate the spikes all but
// vanish. A Schmitt trigger at the input's own rate sees them: it goes to full-scale high when
// the signal rises above +h and to full-scale low when it falls below -h, where h follows the
// signal's recent peak and has a floor (and keeps above the input's noise), so that an input
// without a signal stays still instead of chattering. A DC-coupled train has the same edges
// and comes through as well.
class PulseRestorer {
 public:
  explicit PulseRestorer(uint32_t rate);

  // One sample (-1..1) in, full scale (+1 or -1) out.
  float Restore(float sample);

  // Restores the first of `channels` interleaved channels in place; the others are untouched.
  void RestoreFirstChannel(float* samples, size_t frame_count, int channels);

 private:
  // Per-sample weights of the one-pole filters and trackers.
  float smoothing_;
  float centring_;
  float peak_decay_;
  float activity_weight_;
  float noise_rise_;

  float smoothed_ = 0.0f;
  float previous_smoothed_ = 0.0f;
  float edge_ = 0.0f;  // the smoothed signal with its slow part taken away
  float peak_ = 0.0f;  // recent peak of |edge_|
  // Both start high and settle within some 20 ms (before the detector looks), so that the
  // trigger does not chatter on the noise of the first moments.
  float activity_ = 0.1f;  // short mean of |edge_|
  float noise_ = 0.1f;     // the lowest recent activity: what the input does between edges
  bool high_ = false;
};

}  // namespace fc
