#include "capture/edge_timer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace fc {

namespace {
// Below this span (of full scale, low to high) the input is taken to carry no pulses. The
// quietest train meant to work spans 10 %.
constexpr double kMinSpan = 0.05;
// Nor does the trigger arm unless the span is this many times the sample-to-sample noise
// (about 14 standard deviations of white noise, which noise alone hardly reaches), so that it
// does not chatter on the hiss of an input without a signal.
constexpr double kNoiseMargin = 14.0;
constexpr double kNoiseSeconds = 0.02;
constexpr double kInitialNoise = 0.02;
// The levels and the noise estimate decay towards a steady signal; held off the subnormal
// numbers there, whose arithmetic is many times slower (a clean file of constant levels read
// eight times slower than with them).
constexpr double kNoiseFloor = 1e-9;
constexpr double kLevelSnap = 1e-12;
// How fast a level lets go of an extreme while the signal is at that level (the level then
// follows the top or the bottom of its noise), and how slowly otherwise: slow enough that the
// high level barely moves over the long low stretch of a short-duty train of 60 s, so that the
// middle, where edges are timed, is the same at every edge.
constexpr double kOwnReleaseSeconds = 0.05;
constexpr double kOtherReleaseSeconds = 300.0;
// Falling edges are timed when the signal is high for more of its period than this (first
// choice), and later once the duty rises above the upper or falls below the lower mark.
constexpr double kFirstFallingDuty = 0.55;
constexpr double kFallingDuty = 0.6;
constexpr double kRisingDuty = 0.4;
// Per-edge timing noise assumed at the least (in samples): what interpolation leaves on a clean
// edge, so that a frame with a few perfectly placed edges does not claim a zero uncertainty.
constexpr double kMinEdgeSigma = 0.01;
// A frame with this many degrees of freedom tells its own timing noise well enough.
constexpr double kOwnDof = 30.0;
constexpr double kMaxPooledDof = 200.0;
// How many runs of neighbouring edges a frame's residuals are cut into to see whether their
// errors are correlated.
constexpr size_t kRuns = 16;
}  // namespace

EdgeTimer::EdgeTimer(uint32_t rate)
    : rate_(rate),
      own_release_(1.0 / (kOwnReleaseSeconds * rate)),
      other_release_(1.0 / (kOtherReleaseSeconds * rate)),
      noise_weight_(1.0 / (kNoiseSeconds * rate)),
      noise_(kInitialNoise) {}

bool EdgeTimer::SpanSuffices(double span) const {
  return span >= kMinSpan && span >= kNoiseMargin * noise_;
}

void EdgeTimer::Arm(float sample) {
  lead_[fed_ % kLeadSamples] = sample;
  if (!ready_) {
    low_ = high_level_ = sample;
    ready_ = true;
    return;
  }
  NoteNoise(sample);
  const double span = high_level_ - low_;
  if (!SpanSuffices(span)) return;
  if (sample > low_ + 0.75 * span) {
    high_ = true;
    armed_ = true;
  } else if (sample < low_ + 0.25 * span) {
    high_ = false;
    armed_ = true;
  }
  crossing_ = -1.0;
  if (!armed_) return;
  // Only the first edge since the start or a gap: the one that then opens the first interval.
  arming_pending_ = rises_[1] < 0.0 && falls_[1] < 0.0;
  arming_time_ = -1.0;
  arming_rising_ = high_;
  const uint64_t lead = std::min<uint64_t>(kLeadSamples, fed_ + 1 - lead_from_);
  arming_start_ = fed_ + 1 - lead;
  arming_size_ = 0;
  for (uint64_t i = arming_start_; i <= fed_; ++i) {
    arming_edge_[arming_size_++] = lead_[i % kLeadSamples];
  }
}

void EdgeTimer::TimeArmingEdge() {
  arming_pending_ = false;
  // Replays the trigger over the kept samples with the levels of now, the edge measured from
  // the level it leaves (y); timed only if the signal sat below a quarter of the span first, so
  // not when the input began in the edge.
  const double span = high_level_ - low_;
  const auto y = [&](size_t i) {
    const double x = arming_edge_[i];
    return arming_rising_ ? x - low_ : high_level_ - x;
  };
  bool settled = false;
  double crossing = -1.0;
  for (size_t i = 0; i < arming_size_; ++i) {
    const double now = y(i);
    if (now > 0.75 * span) {
      if (settled) arming_time_ = crossing;
      return;
    }
    if (now < 0.25 * span) settled = true;
    if (settled && i > 0 && y(i - 1) < 0.5 * span && now >= 0.5 * span) {
      const double before = y(i - 1);
      crossing =
          static_cast<double>(arming_start_ + i - 1) + (0.5 * span - before) / (now - before);
    }
  }
}

void EdgeTimer::Trigger(float sample) {
  const double span = high_level_ - low_;
  if (!SpanSuffices(span)) {
    armed_ = false;
    return;
  }
  if (arming_size_ < arming_edge_.size()) arming_edge_[arming_size_++] = sample;
  const double middle = low_ + 0.5 * span;
  const double x = sample;
  const double before = previous_;
  // Between edges only: the steps of the edges themselves are not noise.
  const double outer = high_ ? std::min(x, before) - (low_ + 0.75 * span)
                             : (low_ + 0.25 * span) - std::max(x, before);
  if (outer > 0.0) NoteNoise(sample);
  if (high_ ? (before > middle && x <= middle) : (before < middle && x >= middle)) {
    crossing_ = static_cast<double>(fed_ - 1) + (middle - before) / (x - before);
    step_ = std::fabs(x - before);
  }
  if (!high_ && x > low_ + 0.75 * span) {
    high_ = true;
    if (arming_pending_ && arming_rising_) TimeArmingEdge();
    if (crossing_ >= 0.0) Rising(crossing_);
    crossing_ = -1.0;
  } else if (high_ && x < low_ + 0.25 * span) {
    high_ = false;
    if (arming_pending_ && !arming_rising_) TimeArmingEdge();
    if (crossing_ >= 0.0) Falling(crossing_);
    crossing_ = -1.0;
  }
}

void EdgeTimer::Track(float sample) {
  const double x = sample;
  const double high_release = armed_ && high_ ? own_release_ : other_release_;
  const double low_release = armed_ && !high_ ? own_release_ : other_release_;
  high_level_ = x > high_level_ ? x : high_level_ + (x - high_level_) * high_release;
  low_ = x < low_ ? x : low_ + (x - low_) * low_release;
  if (high_level_ - x < kLevelSnap) high_level_ = x;
  if (x - low_ < kLevelSnap) low_ = x;
}

void EdgeTimer::NoteNoise(float sample) {
  // Outliers (edges before the trigger is armed) count at most twice the estimate.
  const double step = std::fabs(static_cast<double>(sample) - previous_);
  noise_ += (std::min(step, 2.0 * noise_) - noise_) * noise_weight_;
  if (noise_ < kNoiseFloor) noise_ = kNoiseFloor;
}

void EdgeTimer::Gap(size_t samples) {
  fed_ += samples;
  lead_from_ = fed_;
  arming_time_ = -1.0;
  armed_ = false;
  crossing_ = -1.0;
  rises_[0] = rises_[1] = falls_[0] = falls_[1] = -1.0;
  before_ = -1.0;
  edges_.clear();
}

void EdgeTimer::Rising(double time) {
  last_edge_ = time;
  double duty = -1.0;
  if (rises_[1] >= 0.0 && falls_[1] > rises_[1]) {
    const double period = time - rises_[1];
    duty = (falls_[1] - rises_[1]) / period;
  }
  rises_[0] = rises_[1];
  rises_[1] = time;
  if (duty >= 0.0 && UpdateDuty(duty)) return;
  if (decided_ && !falling_) Emit(time);
}

void EdgeTimer::Falling(double time) {
  last_edge_ = time;
  double duty = -1.0;
  if (falls_[1] >= 0.0 && rises_[1] > falls_[1]) {
    const double period = time - falls_[1];
    duty = 1.0 - (rises_[1] - falls_[1]) / period;
  }
  falls_[0] = falls_[1];
  falls_[1] = time;
  if (duty >= 0.0 && UpdateDuty(duty)) return;
  if (decided_ && falling_) Emit(time);
}

bool EdgeTimer::UpdateDuty(double duty) {
  if (!decided_) {
    decided_ = true;
    duty_ = duty;
    SwitchTo(duty > kFirstFallingDuty);
    return true;
  }
  duty_ += (duty - duty_) * 0.25;
  if (!falling_ && duty_ > kFallingDuty) {
    SwitchTo(true);
    return true;
  }
  if (falling_ && duty_ < kRisingDuty) {
    SwitchTo(false);
    return true;
  }
  return false;
}

void EdgeTimer::SwitchTo(bool falling) {
  // Edges of the other polarity do not belong in one fit with these.
  falling_ = falling;
  before_ = -1.0;
  edges_.clear();
  const double* known = falling ? falls_ : rises_;
  for (int i = 0; i < 2; ++i) {
    if (known[i] >= 0.0) Emit(known[i]);
  }
}

void EdgeTimer::Emit(double time) {
  if (time < frame_start_) {
    before_ = time;
  } else {
    edges_.push_back(time);
  }
}

void EdgeTimer::RestartFrame() {
  if (!edges_.empty()) before_ = edges_.back();
  edges_.clear();
  frame_start_ = static_cast<double>(fed_);
}

PreciseReading EdgeTimer::EndFrame() {
  PreciseReading reading;
  const double now = static_cast<double>(fed_);
  reading.no_signal = now - last_edge_ > kNoSignalSeconds * rate_;

  std::vector<double>& times = edges_;
  const bool opening = before_ >= 0.0 && !times.empty() &&
                       times.front() - before_ <= kMaxPeriodSeconds * rate_;
  if (opening) times.insert(times.begin(), before_);
  const double last_chosen = times.empty() ? -1.0 : times.back();
  const double* other = falling_ ? rises_ : falls_;
  if (times.size() < 2 && decided_ && duty_ >= kRisingDuty && duty_ <= kFallingDuty &&
      other[0] >= frame_start_ && other[1] > other[0]) {
    // The first frame of a slow train: the polarity is chosen a period after the trigger armed,
    // so the chosen edges may close no interval yet while the other polarity has two in the
    // frame. Near half duty either polarity is as good (far from it the other edges may be the
    // slow ends of spikes): those two read the frame, and the choice stays.
    times.assign(other, other + 2);
  }
  const double* chosen = falling_ ? falls_ : rises_;
  const bool from_arming = times.size() == 1 && arming_time_ >= 0.0 && arming_rising_ != falling_ &&
                           chosen[0] < 0.0 && chosen[1] == times[0] &&
                           times[0] - arming_time_ <= kMaxPeriodSeconds * rate_;
  if (from_arming) {
    // At any duty: the edge the trigger armed on, of the chosen polarity, opens the interval the
    // first chosen edge closes.
    times.insert(times.begin(), arming_time_);
  }
  const size_t n = times.size();
  if (n >= 2) {
    // Least squares of time against edge number, about the means, times relative to the first
    // edge so that a long run keeps its digits.
    const double origin = times.front();
    const double mean_index = static_cast<double>(n - 1) / 2.0;
    double mean_time = 0.0;
    for (double t : times) mean_time += t - origin;
    mean_time /= static_cast<double>(n);
    double sxy = 0.0;
    double shortest = times[1] - times[0];
    double longest = shortest;
    for (size_t i = 0; i < n; ++i) {
      sxy += (static_cast<double>(i) - mean_index) * (times[i] - origin - mean_time);
      if (i > 0) {
        const double interval = times[i] - times[i - 1];
        shortest = std::min(shortest, interval);
        longest = std::max(longest, interval);
      }
    }
    const double nd = static_cast<double>(n);
    const double sxx = nd * (nd * nd - 1.0) / 12.0;
    const double slope = sxy / sxx;
    // The residuals, and the means of runs of `run` of them: the trigger's levels wander with
    // the noise and move neighbouring edges alike, and errors correlated from edge to edge tell
    // the slope less than as many independent ones. The variance grows by as much as the runs'
    // means scatter more than independent errors would let them.
    const size_t run = std::max<size_t>(4, n / kRuns);
    double squares = 0.0;
    double run_sum = 0.0;
    double run_squares = 0.0;
    size_t runs = 0;
    for (size_t i = 0; i < n; ++i) {
      const double r =
          times[i] - origin - mean_time - slope * (static_cast<double>(i) - mean_index);
      squares += r * r;
      run_sum += r;
      if ((i + 1) % run == 0) {
        run_squares += run_sum * run_sum / static_cast<double>(run);
        run_sum = 0.0;
        ++runs;
      }
    }
    const double dof = nd - 2.0;
    double variance = kMinEdgeSigma * kMinEdgeSigma;
    if (dof >= kOwnDof) {
      variance = std::max(variance, squares / dof);
      if (runs > 2 && squares > 0.0) {
        const double spread = (run_squares / static_cast<double>(runs - 2)) / (squares / dof);
        variance *= std::max(1.0, spread);
      }
    } else {
      if (dof > 0.0) variance = std::max(variance, squares / dof);
      variance = std::max(variance, pooled_variance_);
      if (from_arming && step_ > 0.0) {
        // Nothing pooled yet to tell the timing noise: the input's noise, as the trigger
        // measures it, over the steepness of the last edge. The mean step of white noise is
        // 2/sqrt(pi) of its standard deviation.
        const double sigma = noise_ * std::sqrt(std::numbers::pi) / 2.0;
        variance = std::max(variance, sigma * sigma / (step_ * step_));
      }
    }
    if (dof > 0.0) {
      pooled_variance_ = (pooled_variance_ * pooled_dof_ + squares) / (pooled_dof_ + dof);
      pooled_dof_ = std::min(pooled_dof_ + dof, kMaxPooledDof);
    }
    reading.has_reading = true;
    reading.period_s = slope / rate_;
    reading.uncertainty_s = std::sqrt(variance / sxx) / rate_;
    reading.edges = static_cast<int32_t>(n);
    reading.shortest_s = shortest / rate_;
    reading.longest_s = longest / rate_;
  }
  if (last_chosen >= 0.0) before_ = last_chosen;
  times.clear();
  frame_start_ = now;
  return reading;
}

PreciseReading SounderReading(const PreciseReading& first, const PreciseReading& second) {
  if (first.has_reading && second.has_reading) {
    return second.uncertainty_s < first.uncertainty_s ? second : first;
  }
  if (first.has_reading) return first;
  if (second.has_reading) return second;
  PreciseReading none = first;
  none.no_signal = first.no_signal && second.no_signal;
  return none;
}

}  // namespace fc
