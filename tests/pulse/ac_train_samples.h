#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/measurement_state.h"

namespace fc::testing {

// A square pulse train as a sensor gives it (between -level and +level of full scale, high for
// `duty` of each period), through the one-pole high-pass of an AC-coupled input with its corner
// at `corner_hz` (0: DC-coupled), plus white noise of `noise_rms`, clipped to full scale as a
// sound card clips. Stereo at `rate`: the first channel carries the train, the second the
// clean square. With `edge_samples` > 0 each edge is a half sine that long, centred on the true
// edge time, as an input's anti-alias filter leaves an edge between samples.
struct AcTrain {
  double period_points = 100;  // at the recording rate of 256 Hz
  double duty = 0.5;
  double level = 0.2;
  double corner_hz = 50;
  double noise_rms = 0.0;
  uint32_t rate = 48000;
  unsigned seed = 1;
  double edge_samples = 0.0;

  // Enough pairs for `frames` frames at the recording rate.
  std::vector<float> Samples(int frames) const {
    return Pairs(static_cast<size_t>(std::ceil(frames * kCaptureBufferSize * rate / kCaptureRate)));
  }

  std::vector<float> Pairs(size_t count) const {
    const double period = period_points * rate / kCaptureRate;
    // Steady state from the start: the filter has seen the train for a second already.
    const auto lead = static_cast<size_t>(rate);
    const double a = corner_hz > 0 ? 1.0 / (1.0 + 2.0 * std::numbers::pi * corner_hz / rate) : 1.0;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, noise_rms);
    std::vector<float> out;
    out.reserve(2 * count);
    double previous_x = -level;
    double y = -level;
    for (size_t n = 0; n < lead + count; ++n) {
      // The recording starts in the middle of a low stretch, not on an edge.
      const double t =
          static_cast<double>(n) - static_cast<double>(lead) + (1.0 + duty) / 2 * period;
      const double phase = t / period - std::floor(t / period);
      double x = phase < duty ? level : -level;
      if (edge_samples > 0) {
        const double rise = t - period * std::round(t / period);
        const double fall = t - duty * period - period * std::round((t - duty * period) / period);
        if (std::abs(rise) < edge_samples / 2) {
          x = level * std::sin(std::numbers::pi * rise / edge_samples);
        } else if (std::abs(fall) < edge_samples / 2) {
          x = -level * std::sin(std::numbers::pi * fall / edge_samples);
        }
      }
      y = corner_hz > 0 ? a * (y + x - previous_x) : x;
      previous_x = x;
      if (n < lead) continue;
      const double noisy = y + (noise_rms > 0 ? noise(random) : 0.0);
      out.push_back(static_cast<float>(std::clamp(noisy, -1.0, 1.0)));
      out.push_back(static_cast<float>(x));
    }
    return out;
  }
};

}  // namespace fc::testing
