// Auto-reset event: a Win32 event object created auto-reset and not signalled.
#include "qvlink/platform/event.h"

#include <windows.h>

#include <new>

namespace qv::platform {

struct Event::Impl {
  HANDLE handle;
};

Event::Event() : impl_(new (std::nothrow) Impl{nullptr}) {
  if (impl_ != nullptr) impl_->handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Event::~Event() {
  if (impl_ != nullptr && impl_->handle != nullptr) CloseHandle(impl_->handle);
  delete impl_;
}

bool Event::valid() const { return impl_ != nullptr && impl_->handle != nullptr; }

void Event::set() {
  if (valid()) SetEvent(impl_->handle);
}

void Event::reset() {
  if (valid()) ResetEvent(impl_->handle);
}

WaitResult Event::wait(uint32_t timeoutMs) {
  if (!valid()) return WaitResult::Failed;
  const DWORD r = WaitForSingleObject(impl_->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs);
  if (r == WAIT_OBJECT_0) return WaitResult::Signalled;
  if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
  return WaitResult::Failed;
}

}  // namespace qv::platform
