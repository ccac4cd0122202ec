#pragma once

#include <cstdint>
#include <optional>

namespace fc {

// A value and the frame it came from.
struct FrameValue {
  double value = 0.0;
  int64_t frame = -1;
};

// Statistics of one quantity over a run, kept online (Welford's update) so that a run of any
// length costs the same memory: frames with a reading, mean, standard deviation, extremes and
// the largest step between consecutive frames.
class RunStatistics {
 public:
  // The frame's value, or nullopt for a frame without a reading. Frames come in order.
  void Add(int64_t frame, std::optional<double> value);

  int64_t frames() const { return frames_; }
  int64_t readings() const { return readings_; }
  double mean() const { return mean_; }
  // The sample standard deviation (n - 1); 0 below two readings.
  double StandardDeviation() const;
  // Standard deviation over mean in parts per million; 0 without a mean.
  double StabilityPpm() const;
  const FrameValue& min() const { return min_; }
  const FrameValue& max() const { return max_; }
  // The largest change between a frame and the one right before it, both with a reading;
  // `frame` is the later one. None until two consecutive frames have a reading.
  const std::optional<FrameValue>& LargestStep() const { return largest_step_; }

 private:
  int64_t frames_ = 0;
  int64_t readings_ = 0;
  double mean_ = 0.0;
  double m2_ = 0.0;  // sum of squared deviations from the mean
  FrameValue min_;
  FrameValue max_;
  std::optional<FrameValue> largest_step_;
  std::optional<FrameValue> previous_;  // the frame before, when it had a reading
};

}  // namespace fc
