// Test doubles for the driver's link: a seam that plays the writer thread and scripts waits.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "api_frame.h"
#include "context.h"
#include "io_threads.h"

namespace qv::driver::test {

using Bytes = std::vector<uint8_t>;

// Plays the writer: every hand-over is recorded and writeBusy released at once. Waits return
// scripted results (TimedOut when the script is empty); sleeps are only summed. onWrite plays
// what happens on the line while a frame is being written.
class FakeSeam : public LinkSeam {
 public:
  std::vector<Bytes> written;
  std::deque<platform::WaitResult> script;
  std::vector<EventId> waitedOn;
  uint32_t sleptMs = 0;
  std::function<void(Device&)> onWrite;

  void sleepMs(uint32_t ms) override { sleptMs += ms; }
  platform::WaitResult wait(Device&, EventId ev, uint32_t) override {
    waitedOn.push_back(ev);
    if (script.empty()) return platform::WaitResult::TimedOut;
    auto r = script.front();
    script.pop_front();
    return r;
  }
  void signalWriter(Device& d) override {
    {
      platform::LockGuard g(d.txLock);
      written.emplace_back(d.txBuffer, d.txBuffer + d.txLength);
      d.writeBusy.store(false);
    }
    if (onWrite) onWrite(d);
  }
};

struct LinkFixture : ::testing::Test {
  std::unique_ptr<Device> dev = std::make_unique<Device>();
  FakeSeam seam;
  Device& d = *dev;
  void SetUp() override {
    ASSERT_TRUE(CreateSharedObjects(d));
    InitQueues(d);
    d.seam = &seam;
    d.rfAddress = 0x1234;
  }
};

// A message record for `protocol` carrying `data`.
inline MessageRecord Record(uint8_t protocol, const Bytes& data, bool block = false) {
  MessageRecord r = {};
  r.protocol = protocol;
  if (!data.empty()) std::memcpy(r.body, data.data(), data.size());
  r.length = static_cast<uint32_t>(data.size());
  r.blockFlag = block ? 1 : 0;
  return r;
}
// `a` followed by each of `more`.
template <typename... More>
Bytes Cat(Bytes a, const More&... more) {
  (a.insert(a.end(), more.begin(), more.end()), ...);
  return a;
}
// A frame as the reader stores it (no checksum): 7E, length, frame data.
inline Bytes Stored(const Bytes& frameData) {
  return Cat({0x7E, static_cast<uint8_t>(frameData.size() >> 8), static_cast<uint8_t>(frameData.size() & 0xFF)}, frameData);
}
// A whole wire frame with checksum.
inline Bytes Wire(const Bytes& frameData) {
  Bytes b(frameData.size() + 4);
  b.resize(qv::frame::BuildFrame(b.data(), b.size(), frameData.data(), frameData.size()));
  return b;
}
// RX 0x81 frame data from source 0x1234 carrying RF payload.
inline Bytes Rx16(const Bytes& rf) { return Cat({0x81, 0x12, 0x34, 0x28, 0x00}, rf); }

}  // namespace qv::driver::test
