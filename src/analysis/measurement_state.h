#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "analysis/precise_reading.h"

namespace fc {

inline constexpr int kFrameCount = 1001;  // frames 0..1000
inline constexpr int kLastFrame = kFrameCount - 1;
inline constexpr int kFrameRowBytes = 4097;          // byte positions 0..4096 of one frame
inline constexpr int32_t kCaptureBufferSize = 1024;  // sample pairs per frame once a capture starts
inline constexpr float kCaptureRate = 256.0f;        // sample pairs per second
inline constexpr double kFrameSeconds = kCaptureBufferSize / static_cast<double>(kCaptureRate);
// The most sample pairs a frame row holds (two bytes each), whatever BufferSize says.
inline constexpr int32_t kMaxFramePoints = kFrameRowBytes / 2;

// Accepted ranges of the two counts settings; UpdateConsecutive puts other values back to the
// defaults.
inline constexpr int kMaxLimitLowest = 5;
inline constexpr int kMaxLimitHighest = 40;
inline constexpr int kJumpLowest = 30;
inline constexpr int kJumpHighest = 90;

// Everything the window keeps for the life of the program: the frame store, the per-frame
// results, the capture variables, the detection settings and the outputs of the last analysis.
// Widths are deliberate: Integer values are 16-bit, Single values float, and results depend on it.
struct MeasurementState {
  MeasurementState();

  // FoundMax, FoundMin, FoundNextMax and the four edge indexes to 0 (none found).
  void ClearPulseIndexes() {
    FoundMax = FoundMin = FoundNextMax = 0;
    Approach = Leave = ApproachNext = LeaveNext = 0;
  }

  // Frame store: row f starts at f * kFrameRowBytes and never moves, because the input device
  // records straight into it.
  uint8_t* Row(int frame) {
    return RawData.get() + static_cast<std::ptrdiff_t>(frame) * kFrameRowBytes;
  }
  const uint8_t* Row(int frame) const {
    return RawData.get() + static_cast<std::ptrdiff_t>(frame) * kFrameRowBytes;
  }

  // The run's number of the frame in row `row`, as its frame line shows it.
  int64_t RunFrame(int row) const { return RunFramesBefore + row; }

  struct FreeStore {
    void operator()(uint8_t* store) const;
  };
  std::unique_ptr<uint8_t[], FreeStore> RawData;
  std::array<float, kFrameCount> FrameStartTime{};
  std::array<double, kFrameCount> FrameResults{};
  // The edge timer's reading of each recorded frame, beside FrameResults; none for a frame
  // read back from a raw data file.
  std::array<PreciseReading, kFrameCount> PreciseResults{};

  // Capture
  int16_t CurrentFrame = 0;
  // Frames of the run before row 0: a run that goes on past the store starts it again at row 0.
  // 0 for a run that fits in the store and for frames read back from a file.
  int64_t RunFramesBefore = 0;
  // Seconds from the start of the run's first frame to the start of row 0, once the store has
  // started again (0 before): the start times are times of day, and a long run passes midnight.
  double StoreStartSeconds = 0.0;
  int32_t BufferSize = 0;
  float QuillRecordFreq = 0.0f;
  int32_t hWaveIn = 0;
  bool RunStarted = false;

  // Settings
  int16_t ConsecutivePoints = 0;
  int16_t SecondPointOffset = 0;
  int16_t ThirdPointOffset = 0;
  int16_t MaxLimitCounts = 0;
  int16_t JumpCounts = 0;
  int16_t LookForZeroCrossing = 0;
  int16_t UseHiResTime = 0;
  float AnticCounts = 0.0f;

  // Outputs of the last analysis (also scratch for the tools and the results file)
  int16_t FoundMax = 0;
  int16_t FoundMin = 0;
  int16_t FoundNextMax = 0;
  int16_t Approach = 0;
  int16_t Leave = 0;
  int16_t ApproachNext = 0;
  int16_t LeaveNext = 0;
  float PrevPulseSpacing = 0.0f;
};

// Settings refresh without the menu check marks: 0 consecutive points becomes 3, the offsets
// follow the number of points (any other value leaves them), out-of-range limits get defaults.
void UpdateConsecutive(MeasurementState& state);

}  // namespace fc
