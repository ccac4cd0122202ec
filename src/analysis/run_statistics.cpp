#include "analysis/run_statistics.h"

#include <cmath>

namespace fc {

void RunStatistics::Add(int64_t frame, std::optional<double> value) {
  ++frames_;
  if (!value) {
    previous_.reset();
    return;
  }
  const double x = *value;
  ++readings_;
  const double delta = x - mean_;
  mean_ += delta / static_cast<double>(readings_);
  m2_ += delta * (x - mean_);
  if (readings_ == 1 || x < min_.value) min_ = {x, frame};
  if (readings_ == 1 || x > max_.value) max_ = {x, frame};
  if (previous_ && previous_->frame == frame - 1) {
    const double step = std::fabs(x - previous_->value);
    if (!largest_step_ || step > largest_step_->value) largest_step_ = FrameValue{step, frame};
  }
  previous_ = FrameValue{x, frame};
}

double RunStatistics::StandardDeviation() const {
  if (readings_ < 2) return 0.0;
  return std::sqrt(m2_ / static_cast<double>(readings_ - 1));
}

double RunStatistics::StabilityPpm() const {
  if (readings_ == 0 || mean_ == 0.0) return 0.0;
  return StandardDeviation() / std::fabs(mean_) * 1e6;
}

}  // namespace fc
