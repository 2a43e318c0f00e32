// OS thread over pthreads, so the priority can be raised on the native handle.
#include "qvlink/platform/thread.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <new>

namespace qv::platform {

namespace {
struct ThreadState {
  pthread_t handle{};
  void (*entry)(void*) = nullptr;
  void* arg = nullptr;
  std::atomic<bool> running{false};
};

void* Trampoline(void* p) {
  auto* state = static_cast<ThreadState*>(p);
  state->entry(state->arg);
  state->running.store(false, std::memory_order_release);
  return nullptr;
}
}  // namespace

struct Thread::Impl : ThreadState {};

Thread::~Thread() {
  join();
}

bool Thread::start(Entry entry, void* arg) {
  if (entry == nullptr) return false;
  // One thread per object until join(), as on Win32: whether a thread has already ended is a
  // matter of timing, and start() must not succeed or fail by it.
  if (impl_ != nullptr) return false;
  auto* impl = new (std::nothrow) Impl;
  if (impl == nullptr) return false;
  impl->entry = entry;
  impl->arg = arg;
  impl->running.store(true, std::memory_order_release);
  if (pthread_create(&impl->handle, nullptr, &Trampoline, static_cast<ThreadState*>(impl)) != 0) {
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

bool Thread::setTimeCritical() {
  if (impl_ == nullptr) return false;
  // Real-time scheduling needs privileges most users lack; refusal is normal, not an error.
  sched_param sp{};
  sp.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (sp.sched_priority < 0) return false;
  return pthread_setschedparam(impl_->handle, SCHED_FIFO, &sp) == 0;
}

bool Thread::join() {
  if (impl_ == nullptr) return true;
  // Joining oneself would deadlock; report it instead of hanging.
  if (pthread_equal(impl_->handle, pthread_self())) return false;
  if (pthread_join(impl_->handle, nullptr) != 0) return false;
  delete impl_;
  impl_ = nullptr;
  return true;
}

bool Thread::running() const {
  return impl_ != nullptr && impl_->running.load(std::memory_order_acquire);
}

bool ThreadsJoinableAtUnload() { return true; }

}  // namespace qv::platform
