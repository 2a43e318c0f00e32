// Mutual-exclusion lock (critical section / mutex). Not recursive.
#pragma once

namespace qv::platform {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock();
  void unlock();

 private:
  struct Impl;
  Impl* impl_;
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
