#include "capture/pulse_restorer.h"

#include <cmath>
#include <numbers>

namespace fc {

namespace {
// The trigger's level as a share of the recent peak, and its lowest value (of full scale). An
// input corner near our own high-pass leaves an undershoot of up to about 15 % of the step
// after each spike; 40 % keeps clear of it with noise on top.
constexpr float kThresholdShare = 0.4f;
constexpr float kThresholdFloor = 0.01f;
// The level also stays this many times above the mean of |signal| between edges: about six
// standard deviations of white noise, which the noise alone then hardly ever reaches.
constexpr float kNoiseMargin = 8.0f;
// How long the peak takes to fall to 1/e once the spikes stop.
constexpr double kPeakSeconds = 1.0;
// A low-pass that takes the edge off wide-band noise: well above what the spikes of the
// steepest input corner need.
constexpr double kSmoothingHz = 2000.0;
// A high-pass of our own, among the higher corners of sound inputs, so that every edge is a
// spike of the full step centred on zero: with the input's own corner alone, a short pulse
// leaves its falling spike far smaller than its rising one.
constexpr double kCentringHz = 100.0;
// The mean of |signal| that the noise estimate follows, and how slowly that estimate rises.
constexpr double kActivitySeconds = 0.01;
constexpr double kNoiseRiseSeconds = 1.0;

float OnePoleWeight(double seconds, uint32_t rate) {
  return static_cast<float>(1.0 - std::exp(-1.0 / (seconds * rate)));
}
}  // namespace

PulseRestorer::PulseRestorer(uint32_t rate)
    : smoothing_(OnePoleWeight(1.0 / (2.0 * std::numbers::pi * kSmoothingHz), rate)),
      centring_(1.0f - OnePoleWeight(1.0 / (2.0 * std::numbers::pi * kCentringHz), rate)),
      peak_decay_(1.0f - OnePoleWeight(kPeakSeconds, rate)),
      activity_weight_(OnePoleWeight(kActivitySeconds, rate)),
      noise_rise_(OnePoleWeight(kNoiseRiseSeconds, rate)) {}

float PulseRestorer::Restore(float sample) {
  if (std::isnan(sample)) sample = 0.0f;
  smoothed_ += smoothing_ * (sample - smoothed_);
  edge_ = centring_ * (edge_ + smoothed_ - previous_smoothed_);
  previous_smoothed_ = smoothed_;

  const float size = std::fabs(edge_);
  peak_ = std::fmax(size, peak_ * peak_decay_);
  activity_ += activity_weight_ * (size - activity_);
  noise_ = activity_ < noise_ ? activity_ : noise_ + noise_rise_ * (activity_ - noise_);

  const float threshold =
      std::fmax(std::fmax(kThresholdShare * peak_, kThresholdFloor), kNoiseMargin * noise_);
  if (edge_ > threshold) {
    high_ = true;
  } else if (edge_ < -threshold) {
    high_ = false;
  }
  return high_ ? 1.0f : -1.0f;
}

void PulseRestorer::RestoreFirstChannel(float* samples, size_t frame_count, int channels) {
  for (size_t f = 0; f < frame_count; ++f) {
    float& first = samples[f * static_cast<size_t>(channels)];
    first = Restore(first);
  }
}

}  // namespace fc
