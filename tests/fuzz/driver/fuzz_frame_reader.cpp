// Any byte stream, delivered in pieces whose sizes come from the input, through the frame
// reader: every queued record must be a checked frame whose length bytes match its size.
#include <cstring>
#include <memory>

#include "api_frame.h"
#include "frame_reader.h"
#include "fuzz_device.h"
#include "io_threads.h"

using namespace qv::driver;

namespace {
class Source : public FrameSource {
 public:
  const uint8_t* p;
  size_t n, pos = 0;
  long read(uint8_t* buf, size_t count, uint32_t) override {
    const size_t k = count < n - pos ? count : n - pos;
    std::memcpy(buf, p + pos, k);
    pos += k;
    return static_cast<long>(k);
  }
  size_t bytesWaiting() override { return n - pos; }
  void purge() override { pos = n; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Device& d = FuzzDevice();
  InitQueues(d);
  Source s;
  s.p = data;
  s.n = size;
  for (int guard = 0; s.pos < s.n && guard < 100000; ++guard) ReadRadioFrames(d, s);
  while (d.rxCarryLength > d.rxCarryPos) ReadRadioFrames(d, s);
  uint8_t buf[128];
  uint32_t n = 0;
  while (ByteQueue_Take(d.rxFrameQueue, buf, sizeof buf, n)) {
    if (n < 5 || buf[0] != 0x7E || static_cast<size_t>(buf[1] * 256 + buf[2]) + 3 != n) __builtin_trap();
  }
  return 0;
}
