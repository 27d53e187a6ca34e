#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace morlane {

// Local calendar time, as the unit's logs print it.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Every wait of the tool goes through a Clock, so that protocol tests with their 100 and
// 200 ms waits can run on a virtual clock in milliseconds of real time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(int ms) = 0;
  // Milliseconds on a monotonic scale; only differences mean anything.
  virtual int64_t MonotonicMs() = 0;
  // Calendar time in whole seconds.
  virtual int64_t CalendarSeconds() = 0;
  virtual LocalTime Now() = 0;
  // Waits until ready() holds or ms have passed; returns ready(). The lock guards what
  // ready() reads and is held when it is called.
  virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
                       const std::function<bool()>& ready) = 0;

  // Waits on a device (a HID report, the serial line) do not go through the clock, but a
  // thread that serves something besides its procedure (the window thread its painting)
  // must not be held by them. They are made in slices of at most this many ms, with
  // ServeWhileWaiting() between them (platform/serve_wait.h); 0, the default, means the
  // thread serves nothing else and waits whole.
  virtual int ServeSliceMs() const { return 0; }
  virtual void ServeWhileWaiting() {}
};

class SystemClock : public Clock {
 public:
  void SleepMs(int ms) override;
  int64_t MonotonicMs() override;
  int64_t CalendarSeconds() override;
  LocalTime Now() override;
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
               const std::function<bool()>& ready) override;
};

// The calendar time as ISO 8601 in local time with its offset from UTC,
// "2026-12-08T11:05:03+01:00", as the run records keep it.
std::string Iso8601Local(int64_t epochSeconds);

// The calendar time in UTC, compact: "20261208T100503Z".
std::string CompactUtc(int64_t epochSeconds);

// The epoch seconds at which the given local day begins (its midnight in this machine's
// time zone); -1 for a day that does not exist.
int64_t LocalDayStart(int year, int month, int day);

// The epoch seconds of a local calendar time in this machine's time zone; -1 for a date
// that does not exist. A time the clocks skip when summer time begins is taken as the
// same distance past the change.
int64_t LocalCalendarSeconds(int year, int month, int day, int hour, int minute, int second);

// The process-wide real clock.
Clock& RealClock();

}  // namespace morlane
