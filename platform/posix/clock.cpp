// Sleep, 32-bit millisecond tick and local time.
#include "qvlink/platform/clock.h"

#include <cerrno>
#include <ctime>
#include <sys/time.h>

namespace qv::platform {

void SleepMs(uint32_t ms) {
  timespec req{};
  req.tv_sec = static_cast<time_t>(ms / 1000u);
  req.tv_nsec = static_cast<long>(ms % 1000u) * 1000000L;
  timespec rem{};
  // A signal must not cut a fixed wait short: sleep the remainder again.
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

uint32_t TickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                      static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like GetTickCount
}

LocalTime NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm parts{};
  localtime_r(&secs, &parts);
  LocalTime t{};
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000L);
  return t;
}

void NowUnix(int64_t* seconds, int32_t* microseconds) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (seconds) *seconds = static_cast<int64_t>(ts.tv_sec);
  if (microseconds) *microseconds = static_cast<int32_t>(ts.tv_nsec / 1000L);
}

}  // namespace qv::platform
