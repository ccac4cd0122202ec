#pragma once

#include <functional>
#include <map>

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

// A clock that moves only when told to: Sleep and Advance move it forward at once and tell
// the listeners (a scripted input device completes its buffers that way).
class FakeClock : public Clock {
 public:
  explicit FakeClock(double time_of_day = 43200.0) : time_of_day_at_zero_(time_of_day) {}

  double MonotonicSeconds() override { return now_; }
  double SecondsSinceMidnight() override;
  void Sleep(double seconds) override { Advance(seconds); }

  void Advance(double seconds);
  // Sets the time of day that corresponds to the present moment.
  void SetTimeOfDay(double seconds_since_midnight);

  using Listener = std::function<void()>;
  int Subscribe(Listener listener);
  void Unsubscribe(int id);

 private:
  double now_ = 0.0;
  double time_of_day_at_zero_;
  int next_id_ = 0;
  std::map<int, Listener> listeners_;
};

}  // namespace fc
