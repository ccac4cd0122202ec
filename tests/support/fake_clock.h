#pragma once

#include <functional>
#include <map>

#include "capture/clock.h"

namespace fc {

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
