// Mutual-exclusion lock (critical section / mutex). Not recursive.
// Each lock records its owning thread, so a function that requires its caller to hold a lock
// can say so with assertHeld().
#pragma once
#include <cstddef>

namespace qv::platform {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  // Blocks until this thread owns the lock. Taking it twice on one thread deadlocks.
  void lock();
  // Releases the lock; only its owner may call this.
  void unlock();
  // Debug and sanitizer builds (no NDEBUG): aborts with a message when the calling thread does
  // not hold the lock. Release builds: does nothing.
  void assertHeld() const;

 private:
  struct Impl;
  Impl& impl() const;
  // The system's lock lives in the object, not on the heap: a lock in static storage that is
  // never destroyed then holds nothing that leaks when its library is unloaded.
  alignas(std::max_align_t) mutable unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& l) : lock_(l) { lock_.lock(); }
  ~LockGuard() { lock_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace qv::platform
