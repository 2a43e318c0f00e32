// Auto-reset event with bounded waits (Win32 auto-reset event semantics): a set releases
// exactly one wait; a set with no waiter stays set until the next wait consumes it.
#pragma once
#include <cstdint>

namespace qv::platform {

enum class WaitResult : uint8_t { Signalled, TimedOut, Failed };

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const;  // false when the OS object could not be created
  void set();
  void reset();
  // Waits up to timeoutMs (kWaitForever: no limit). Signalled consumes the set.
  WaitResult wait(uint32_t timeoutMs);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace qv::platform
