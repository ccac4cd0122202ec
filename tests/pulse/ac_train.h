#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/frame_analysis.h"
#include "analysis/measurement_state.h"
#include "capture/block_averager.h"
#include "capture/pulse_restorer.h"
#include "pulse/ac_train_samples.h"
#include "support/fakes.h"

namespace fc::testing {

// Averages `samples` (interleaved stereo at `rate`) down to frames, with or without the
// restorer, and analyses each frame as the capture does; returns the period of every frame.
inline std::vector<double> FramePeriods(const std::vector<float>& samples, uint32_t rate,
                                        int frames, bool restore) {
  std::vector<float> input = samples;
  if (restore) PulseRestorer(rate).RestoreFirstChannel(input.data(), input.size() / 2, 2);
  MeasurementState state;
  UpdateConsecutive(state);  // 3 points, Max Limit 5, jump 80
  state.BufferSize = kCaptureBufferSize;
  state.QuillRecordFreq = kCaptureRate;
  BlockAverager averager(rate, static_cast<uint32_t>(kCaptureRate), 2);
  int point = 0;
  averager.Push(input.data(), input.size() / 2, [&](const uint8_t* pair) {
    const int frame = point / kCaptureBufferSize;
    if (frame >= frames) return;
    std::copy(pair, pair + 2, state.Row(frame) + 2 * (point % kCaptureBufferSize));
    ++point;
  });
  FakeDisplay display;
  std::vector<double> periods;
  for (int frame = 0; frame < point / kCaptureBufferSize; ++frame) {
    state.CurrentFrame = static_cast<int16_t>(frame);
    AnalyzeFrame(state, display);
    periods.push_back(state.FrameResults[static_cast<size_t>(frame)]);
  }
  return periods;
}

}  // namespace fc::testing
