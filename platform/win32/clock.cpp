// Sleep, tick and local time from the Win32 clock calls.
#include "qvlink/platform/clock.h"

#include <windows.h>

namespace qv::platform {

void SleepMs(uint32_t ms) { Sleep(ms); }

uint32_t TickMs() { return static_cast<uint32_t>(GetTickCount()); }

LocalTime NowLocal() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

void NowUnix(int64_t* seconds, int32_t* microseconds) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  // FILETIME counts 100 ns units since 1601-01-01.
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr uint64_t kEpochDelta = 116444736000000000ULL;
  const uint64_t since1970 = ticks >= kEpochDelta ? ticks - kEpochDelta : 0;
  if (seconds != nullptr) *seconds = static_cast<int64_t>(since1970 / 10000000ULL);
  if (microseconds != nullptr) *microseconds = static_cast<int32_t>((since1970 % 10000000ULL) / 10ULL);
}

}  // namespace qv::platform
