// Lock: a critical section, with its owner recorded for assertHeld().
#include "qvlink/platform/lock.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace qv::platform {

struct Lock::Impl {
  CRITICAL_SECTION section;
  std::atomic<DWORD> owner{0};  // 0 while nobody holds it (no thread has id 0)
};

Lock::Lock() {
  static_assert(sizeof(Impl) <= sizeof storage_ && alignof(Impl) <= alignof(std::max_align_t));
  InitializeCriticalSection(&(new (storage_) Impl)->section);
}

Lock::~Lock() {
  DeleteCriticalSection(&impl().section);
  impl().~Impl();
}

Lock::Impl& Lock::impl() const { return *std::launder(reinterpret_cast<Impl*>(storage_)); }

void Lock::lock() {
  EnterCriticalSection(&impl().section);
  impl().owner.store(GetCurrentThreadId(), std::memory_order_relaxed);
}

void Lock::unlock() {
  impl().owner.store(0, std::memory_order_relaxed);
  LeaveCriticalSection(&impl().section);
}

void Lock::assertHeld() const {
#ifndef NDEBUG
  if (impl().owner.load(std::memory_order_relaxed) != GetCurrentThreadId()) {
    std::fputs("qvlink: a lock required by the caller is not held\n", stderr);
    std::abort();
  }
#endif
}

}  // namespace qv::platform
