// Sleep, 32-bit millisecond tick and local time.
#pragma once
#include <cstdint>

namespace qv::platform {

void SleepMs(uint32_t ms);

// Milliseconds since an arbitrary start (system start on Windows), wrapping at 2^32.
uint32_t TickMs();

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime NowLocal();

// Seconds and microseconds since 1970 (capture time stamps).
void NowUnix(int64_t* seconds, int32_t* microseconds);

}  // namespace qv::platform
