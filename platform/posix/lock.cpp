// Lock over a std::mutex, with its owner recorded for assertHeld().
#include "qvlink/platform/lock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace qv::platform {

struct Lock::Impl {
  std::mutex m;
  std::atomic<std::thread::id> owner{};  // default id while nobody holds it
};

Lock::Lock() : impl_(new Impl) {}
Lock::~Lock() { delete impl_; }

void Lock::lock() {
  impl_->m.lock();
  impl_->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void Lock::unlock() {
  impl_->owner.store(std::thread::id(), std::memory_order_relaxed);
  impl_->m.unlock();
}

void Lock::assertHeld() const {
#ifndef NDEBUG
  if (impl_->owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
    std::fputs("qvlink: a lock required by the caller is not held\n", stderr);
    std::abort();
  }
#endif
}

}  // namespace qv::platform
