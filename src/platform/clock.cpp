#include "platform/clock.h"

#include <ctime>
#include <thread>

#include "platform/monotonic.h"

namespace morlane {

void SystemClock::SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t SystemClock::MonotonicMs() {
  return morlane::MonotonicMs();
}

int64_t SystemClock::CalendarSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

LocalTime SystemClock::Now() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

bool SystemClock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
                          const std::function<bool()>& ready) {
  return cv.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), ready);
}

Clock& RealClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace morlane
