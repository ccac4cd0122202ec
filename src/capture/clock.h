#pragma once

#include <optional>

namespace fc {

// Time as the capture sees it. A monotonic clock for the frame time-out, the time of day for
// FrameStartTime, and a short sleep while a frame is awaited.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds on a clock that never jumps (not the time of day).
  virtual double MonotonicSeconds() = 0;
  // Local time of day in seconds since midnight, with its fractional part (0 <= t < 86400).
  virtual double SecondsSinceMidnight() = 0;
  virtual void Sleep(double seconds) = 0;
};

// steady_clock, the local time of day and a real sleep.
class SystemClock : public Clock {
 public:
  double MonotonicSeconds() override;
  double SecondsSinceMidnight() override;
  void Sleep(double seconds) override;
};

// The card's sample rate against the monotonic clock, from the monotonic times at which frames of
// known card time completed. The times are seen only when a wait step notices the frame, so
// each end is late by up to one step; the figure is given once 60 s have passed, with that
// bound.
class CardRateMeter {
 public:
  static constexpr double kMinSpanSeconds = 60.0;

  // The input was restarted or lost samples: card time no longer follows the frame count.
  void Restart() { frames_ = -1; }
  // A frame of `card_seconds` of card time completed, seen at `monotonic_s`.
  void FrameDone(double monotonic_s, double card_seconds) {
    if (frames_ < 0) {
      first_s_ = monotonic_s;
      card_s_ = 0.0;
      frames_ = 0;
      return;
    }
    last_s_ = monotonic_s;
    card_s_ += card_seconds;
    ++frames_;
  }
  struct Rate {
    double ppm = 0.0;        // above nominal; negative when the card is slow
    double bound_ppm = 0.0;  // from the timing of the two ends
    double span_s = 0.0;     // monotonic seconds measured over
  };
  // Nullopt before 60 s of frames.
  std::optional<Rate> Measured(double step_seconds) const {
    const double span = last_s_ - first_s_;
    if (frames_ <= 0 || !(span >= kMinSpanSeconds)) return std::nullopt;
    return Rate{(card_s_ / span - 1.0) * 1e6, 2.0 * step_seconds / span * 1e6, span};
  }

 private:
  int frames_ = -1;
  double first_s_ = 0.0;
  double last_s_ = 0.0;
  double card_s_ = 0.0;
};

}  // namespace fc
