// Lock: a critical section.
#include "qvlink/platform/lock.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace qv::platform {

struct Lock::Impl {
  CRITICAL_SECTION section;
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

void Lock::lock() { EnterCriticalSection(&impl_->section); }

void Lock::unlock() { LeaveCriticalSection(&impl_->section); }

}  // namespace qv::platform
