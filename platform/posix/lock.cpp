// Lock over a std::mutex, with its owner recorded for assertHeld().
#include "qvlink/platform/lock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace qv::platform {

struct Lock::Impl {
  std::mutex m;
  std::atomic<std::thread::id> owner{};  // default id while nobody holds it
};

Lock::Lock() {
  static_assert(sizeof(Impl) <= sizeof storage_ && alignof(Impl) <= alignof(std::max_align_t));
  new (storage_) Impl;
}
Lock::~Lock() { impl().~Impl(); }

Lock::Impl& Lock::impl() const { return *std::launder(reinterpret_cast<Impl*>(storage_)); }

void Lock::lock() {
  impl().m.lock();
  impl().owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void Lock::unlock() {
  impl().owner.store(std::thread::id(), std::memory_order_relaxed);
  impl().m.unlock();
}

void Lock::assertHeld() const {
#ifndef NDEBUG
  if (impl().owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
    std::fputs("qvlink: a lock required by the caller is not held\n", stderr);
    std::abort();
  }
#endif
}

}  // namespace qv::platform
