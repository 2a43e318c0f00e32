// Thread: CreateThread with a small trampoline to the plain entry function.
#include "qvlink/platform/thread.h"

#include <windows.h>

#include <new>

namespace qv::platform {

struct Thread::Impl {
  HANDLE handle = nullptr;
  Entry entry = nullptr;
  void* arg = nullptr;

  static DWORD WINAPI Run(LPVOID param) {
    auto* impl = static_cast<Impl*>(param);
    impl->entry(impl->arg);
    return 0;
  }
};

Thread::~Thread() {
  join();
  delete impl_;
}

bool Thread::start(Entry entry, void* arg) {
  if (entry == nullptr) return false;
  if (impl_ == nullptr) impl_ = new (std::nothrow) Impl;
  if (impl_ == nullptr || impl_->handle != nullptr) return false;  // one thread per object
  impl_->entry = entry;
  impl_->arg = arg;
  impl_->handle = CreateThread(nullptr, 0, Impl::Run, impl_, 0, nullptr);
  return impl_->handle != nullptr;
}

bool Thread::setTimeCritical() {
  if (impl_ == nullptr || impl_->handle == nullptr) return false;
  return SetThreadPriority(impl_->handle, THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

bool Thread::join() {
  if (impl_ == nullptr || impl_->handle == nullptr) return true;
  if (GetThreadId(impl_->handle) == GetCurrentThreadId()) return false;  // would never end
  if (WaitForSingleObject(impl_->handle, INFINITE) != WAIT_OBJECT_0) return false;
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
  return true;
}

bool Thread::running() const {
  return impl_ != nullptr && impl_->handle != nullptr &&
         WaitForSingleObject(impl_->handle, 0) == WAIT_TIMEOUT;
}

bool ThreadsJoinableAtUnload() { return false; }

}  // namespace qv::platform
