#include "support/fake_clock.h"

#include <cmath>
#include <vector>

namespace fc {

namespace {
constexpr double kSecondsPerDay = 86400.0;
}

double FakeClock::SecondsSinceMidnight() {
  double seconds = std::fmod(time_of_day_at_zero_ + now_, kSecondsPerDay);
  if (seconds < 0.0) seconds += kSecondsPerDay;
  return seconds;
}

void FakeClock::Advance(double seconds) {
  now_ += seconds;
  // A listener may subscribe or unsubscribe while it is told; walk over a copy of the ids.
  std::vector<int> ids;
  ids.reserve(listeners_.size());
  for (const auto& entry : listeners_) ids.push_back(entry.first);
  for (int id : ids) {
    const auto found = listeners_.find(id);
    if (found != listeners_.end()) found->second();
  }
}

void FakeClock::SetTimeOfDay(double seconds_since_midnight) {
  time_of_day_at_zero_ = seconds_since_midnight - now_;
}

int FakeClock::Subscribe(Listener listener) {
  const int id = next_id_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void FakeClock::Unsubscribe(int id) { listeners_.erase(id); }

}  // namespace fc
