#include "platform/clock.h"

#include <cstdio>
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

namespace {

std::tm Calendar(std::time_t when, bool local) {
  std::tm parts{};
#ifdef _WIN32
  if (local) {
    localtime_s(&parts, &when);
  } else {
    gmtime_s(&parts, &when);
  }
#else
  if (local) {
    localtime_r(&when, &parts);
  } else {
    gmtime_r(&when, &parts);
  }
#endif
  return parts;
}

// Seconds from 1970-01-01 of a broken-down time read as if it were UTC.
int64_t AsUtcSeconds(const std::tm& t) {
  int64_t year = t.tm_year + 1900;
  const int64_t month = t.tm_mon + 1;
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

}  // namespace

LocalTime SystemClock::Now() {
  std::tm parts = Calendar(std::time(nullptr), true);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string Iso8601Local(int64_t epochSeconds) {
  const std::time_t when = static_cast<std::time_t>(epochSeconds);
  const std::tm local = Calendar(when, true);
  const int64_t offset = AsUtcSeconds(local) - AsUtcSeconds(Calendar(when, false));
  const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  char text[96];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                offset < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                static_cast<int>(minutes % 60));
  return text;
}

std::string CompactUtc(int64_t epochSeconds) {
  const std::tm utc = Calendar(static_cast<std::time_t>(epochSeconds), false);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

int64_t LocalDayStart(int year, int month, int day) {
  if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return -1;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_isdst = -1;  // whatever the zone's rule for that day is
  const std::time_t when = std::mktime(&parts);
  // mktime moves 31 April to 1 May; such a day is refused.
  if (when == static_cast<std::time_t>(-1) || parts.tm_mday != day) return -1;
  return static_cast<int64_t>(when);
}

int64_t LocalCalendarSeconds(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return -1;
  }
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  // The date is checked before mktime, which would quietly move 31 April to 1 May.
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return -1;
  const std::time_t when = std::mktime(&parts);
  if (when == static_cast<std::time_t>(-1)) return -1;
  return static_cast<int64_t>(when);
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
