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

Lock::Lock() : impl_(new (std::nothrow) Impl) {
  // A lock that silently does nothing would corrupt shared state; better to stop here.
  if (impl_ == nullptr) std::abort();
  InitializeCriticalSection(&impl_->section);
}

Lock::~Lock() {
  DeleteCriticalSection(&impl_->section);
  delete impl_;
}

void Lock::lock() {
  EnterCriticalSection(&impl_->section);
  impl_->owner.store(GetCurrentThreadId(), std::memory_order_relaxed);
}

void Lock::unlock() {
  impl_->owner.store(0, std::memory_order_relaxed);
  LeaveCriticalSection(&impl_->section);
}

void Lock::assertHeld() const {
#ifndef NDEBUG
  if (impl_->owner.load(std::memory_order_relaxed) != GetCurrentThreadId()) {
    std::fputs("qvlink: a lock required by the caller is not held\n", stderr);
    std::abort();
  }
#endif
}

}  // namespace qv::platform
