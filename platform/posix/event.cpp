// Auto-reset event: one set releases exactly one wait; a set nobody waits for stays pending.
#include "qvlink/platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace qv::platform {

struct Event::Impl {
  std::mutex m;
  std::condition_variable cv;
  bool signalled = false;
};

Event::Event() : impl_(new (std::nothrow) Impl) {}
Event::~Event() { delete impl_; }

bool Event::valid() const { return impl_ != nullptr; }

void Event::set() {
  if (!impl_) return;
  {
    std::lock_guard<std::mutex> g(impl_->m);
    impl_->signalled = true;
  }
  // One set may release only one waiter; notify_one plus the consume below guarantees it.
  impl_->cv.notify_one();
}

void Event::reset() {
  if (!impl_) return;
  std::lock_guard<std::mutex> g(impl_->m);
  impl_->signalled = false;
}

WaitResult Event::wait(uint32_t timeoutMs) {
  if (!impl_) return WaitResult::Failed;
  std::unique_lock<std::mutex> g(impl_->m);
  if (timeoutMs == kWaitForever) {
    impl_->cv.wait(g, [this] { return impl_->signalled; });
  } else {
    // A steady deadline: wall-clock jumps neither shorten nor stretch the wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!impl_->cv.wait_until(g, deadline, [this] { return impl_->signalled; }))
      return WaitResult::TimedOut;
  }
  impl_->signalled = false;
  return WaitResult::Signalled;
}

}  // namespace qv::platform
