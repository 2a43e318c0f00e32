// Frame reader: turns the serial byte stream into checked API frames in rxFrameQueue.
#pragma once
#include <cstddef>
#include <cstdint>

#include "context.h"

namespace qv::driver {

// The reader's view of the serial port, so tests and fuzzers can feed it any stream.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Reads up to count bytes, waiting at most timeoutMs (0: only what is there). Returns the
  // count stored, or -1 on a port error.
  virtual long read(uint8_t* buf, size_t count, uint32_t timeoutMs) = 0;
  virtual size_t bytesWaiting() = 0;
  virtual void purge() = 0;
};

// Adapts the device's serial port.
class PortFrameSource final : public FrameSource {
 public:
  explicit PortFrameSource(platform::SerialPort& p) : port_(p) {}
  long read(uint8_t* buf, size_t count, uint32_t timeoutMs) override;
  size_t bytesWaiting() override;
  void purge() override;

 private:
  platform::SerialPort& port_;
};

constexpr uint32_t kHeaderReadTimeoutMs = 2000;  // the port's read total constant
constexpr uint32_t kDataReadTimeoutMs = 250;
constexpr uint16_t kMaxFrameLength = kRxFrameBufferSize - 4;  // L that fits RxFrameBuffer

// Length L of the next frame, or 0 when no good header was read (errors counted).
uint16_t ReadFrameHeader(Device& d, FrameSource& src);
// Reads and queues frames until no input remains (true) or a read failed (false).
bool ReadRadioFrames(Device& d, FrameSource& src);
// Forgets bytes held back for re-synchronisation (a new open).
void ResetFrameReader(Device& d);

}  // namespace qv::driver
