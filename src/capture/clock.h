#pragma once

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

}  // namespace fc
