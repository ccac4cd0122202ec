#include "capture/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace fc {

namespace {
constexpr double kSecondsPerDay = 86400.0;
}

double SystemClock::MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double SystemClock::SecondsSinceMidnight() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t whole = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&whole, &local);
  const double fraction =
      std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
  double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
  // A leap second (tm_sec 60) or a fraction rounding up must not leave the day.
  if (seconds >= kSecondsPerDay) seconds = std::nextafter(kSecondsPerDay, 0.0);
  if (seconds < 0.0) seconds = 0.0;
  return seconds;
}

void SystemClock::Sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace fc
