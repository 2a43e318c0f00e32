#include "frame_reader.h"

#include <cstring>

#include "api_frame.h"

namespace qv::driver {

long PortFrameSource::read(uint8_t* buf, size_t count, uint32_t timeoutMs) { return port_.read(buf, count, timeoutMs); }
size_t PortFrameSource::bytesWaiting() { return port_.bytesWaiting(); }
void PortFrameSource::purge() { port_.purge(true, false); }

namespace {

void CountError(Device& d) { d.rxFrameErrorCount.fetch_add(1, std::memory_order_relaxed); }

size_t CarryLeft(const Device& d) { return static_cast<size_t>(d.rxCarryLength - d.rxCarryPos); }

// Reads from the bytes held back first, then from the port.
long ReadBytes(Device& d, FrameSource& src, uint8_t* buf, size_t count, uint32_t timeoutMs) {
  size_t got = 0;
  const size_t fromCarry = CarryLeft(d) < count ? CarryLeft(d) : count;
  if (fromCarry) {
    std::memcpy(buf, d.rxCarry + d.rxCarryPos, fromCarry);
    d.rxCarryPos = static_cast<uint16_t>(d.rxCarryPos + fromCarry);
    got = fromCarry;
  }
  if (got == count) return static_cast<long>(got);
  const long r = src.read(buf + got, count - got, timeoutMs);
  if (r < 0) return got ? static_cast<long>(got) : -1;
  return static_cast<long>(got + static_cast<size_t>(r));
}

// Hands bytes back to the reader so a frame hidden behind a bad one is not lost. Only what
// starts at the next delimiter is kept: everything before it would be skipped anyway.
void PushBack(Device& d, const uint8_t* bytes, size_t n) {
  const void* hit = n ? std::memchr(bytes, qv::frame::kStartDelimiter, n) : nullptr;
  if (!hit) return;
  const size_t skip = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
  bytes += skip;
  n -= skip;
  uint8_t merged[sizeof d.rxCarry];
  const size_t rest = CarryLeft(d);
  if (n + rest > sizeof merged) return;  // cannot happen: pushed bytes came from carry or port
  std::memcpy(merged, bytes, n);
  std::memcpy(merged + n, d.rxCarry + d.rxCarryPos, rest);
  std::memcpy(d.rxCarry, merged, n + rest);
  d.rxCarryPos = 0;
  d.rxCarryLength = static_cast<uint16_t>(n + rest);
}

size_t BytesWaiting(Device& d, FrameSource& src) { return CarryLeft(d) + src.bytesWaiting(); }

}  // namespace

void ResetFrameReader(Device& d) {
  d.rxCarryLength = 0;
  d.rxCarryPos = 0;
}

uint16_t ReadFrameHeader(Device& d, FrameSource& src) {
  uint8_t* h = d.rxFrameBuffer;
  long got = ReadBytes(d, src, h, 1, kHeaderReadTimeoutMs);
  if (got != 1) {
    if (got < 0) CountError(d);
    return 0;
  }
  if (h[0] != qv::frame::kStartDelimiter) {
    // Garbage: one error for the run, then skip to the next delimiter among what has arrived.
    CountError(d);
    for (;;) {
      got = ReadBytes(d, src, h, 1, 0);
      if (got != 1) return 0;
      if (h[0] == qv::frame::kStartDelimiter) break;
    }
  }
  got = ReadBytes(d, src, h + 1, 2, kHeaderReadTimeoutMs);
  if (got != 2) {
    CountError(d);
    if (got > 0) PushBack(d, h + 1, static_cast<size_t>(got));
    return 0;
  }
  return static_cast<uint16_t>(h[1] * 256 + h[2]);
}

bool ReadRadioFrames(Device& d, FrameSource& src) {
  uint8_t* h = d.rxFrameBuffer;
  while (BytesWaiting(d, src) != 0) {
    const uint16_t len = ReadFrameHeader(d, src);
    if (len == 0) return false;
    if (len > kMaxFrameLength) {
      // Cannot be a frame of ours: re-synchronise on the next delimiter instead of reading it.
      CountError(d);
      PushBack(d, h + 1, 2);
      continue;
    }
    const size_t want = static_cast<size_t>(len) + 1;
    const long got = ReadBytes(d, src, h + 3, want, kDataReadTimeoutMs);
    if (got < 0) {
      CountError(d);
      return false;
    }
    const size_t n = static_cast<size_t>(got);
    if (n < want) {
      // Short read (length lied, or the rest never came): the record would be misplaced.
      CountError(d);
      PushBack(d, h + 1, n + 2);
      continue;
    }
    if (n < 3) {
      CountError(d);  // API identifier only
      return false;
    }
    if (!qv::frame::FrameChecksumValid(h + 3, n - 1)) {
      CountError(d);
      PushBack(d, h + 1, n + 2);
      continue;
    }
    {
      platform::LockGuard g(d.frameQueueLock);
      d.rxFrameCount.fetch_add(1, std::memory_order_relaxed);
      QueuePut(d, d.rxFrameQueue, h, n + 2);
    }
    SetEvent(d, kEvFrameAvailable);
  }
  return true;
}

}  // namespace qv::driver
