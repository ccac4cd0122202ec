#pragma once

#include <cstdint>
#include <string>

#include "analysis/frame_analysis.h"
#include "analysis/measurement_state.h"
#include "support/fakes.h"

namespace fc::analysis_test {

inline constexpr uint8_t kTop = 252;    // above the top limit for Max Limit 5 and 20
inline constexpr uint8_t kBottom = 2;   // below the bottom limit for Max Limit 5 and 20

// A measurement state as after Start with the default settings, and helpers that write
// first-channel samples of a frame. The second channel holds alternating 0 and 255, which would
// produce pulses and crossings everywhere if anything read it.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.BufferSize = kCaptureBufferSize;
    state.QuillRecordFreq = kCaptureRate;
    state.ConsecutivePoints = 3;
    state.MaxLimitCounts = 5;
    state.JumpCounts = 80;
    UpdateConsecutive(state);
  }

  void Fill(int frame, uint8_t value) {
    uint8_t* row = state.Row(frame);
    for (int i = 0; i < state.BufferSize; ++i) {
      row[2 * i] = value;
      row[2 * i + 1] = (i % 2 == 0) ? 0 : 255;
    }
  }
  void Set(int frame, int point, uint8_t value) { state.Row(frame)[2 * point] = value; }
  // Points first..last inclusive.
  void SetRange(int frame, int first, int last, uint8_t value) {
    for (int i = first; i <= last; ++i) Set(frame, i, value);
  }
  // A jump from the surrounding level to the top or bottom zone, `width` points long.
  void MaxPulse(int frame, int point, int width = 3) { SetRange(frame, point, point + width - 1, kTop); }
  void MinPulse(int frame, int point, int width = 3) { SetRange(frame, point, point + width - 1, kBottom); }

  // Analyses `frame` and returns the frame line it published.
  std::string Analyze(int frame) {
    state.CurrentFrame = static_cast<int16_t>(frame);
    AnalyzeFrame(state, display);
    return display.labels[1];
  }

  MeasurementState state;
  fc::testing::FakeDisplay display;
};

}  // namespace fc::analysis_test
