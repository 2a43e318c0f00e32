// Lock over a pthread mutex (std::mutex would do, but this keeps the Impl trivially small).
#include "qvlink/platform/lock.h"

#include <mutex>

namespace qv::platform {

struct Lock::Impl {
  std::mutex m;
};

Lock::Lock() : impl_(new Impl) {}
Lock::~Lock() { delete impl_; }
void Lock::lock() { impl_->m.lock(); }
void Lock::unlock() { impl_->m.unlock(); }

}  // namespace qv::platform
