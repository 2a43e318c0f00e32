#include "api_frame.h"

#include <cstring>

namespace qv::frame {

uint8_t FrameChecksum(const uint8_t* apiIdOn, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + apiIdOn[i]);
  return static_cast<uint8_t>(0xFF - sum);
}

bool FrameChecksumValid(const uint8_t* apiIdOn, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i <= count; ++i) sum = static_cast<uint8_t>(sum + apiIdOn[i]);
  return sum == 0xFF;
}

size_t BuildFrame(uint8_t* out, size_t outSize, const uint8_t* frameData, size_t count) {
  if (count == 0 || count > 0xFFFF || outSize < count + kOverhead) return 0;
  out[0] = kStartDelimiter;
  out[1] = static_cast<uint8_t>(count >> 8);
  out[2] = static_cast<uint8_t>(count & 0xFF);
  std::memmove(out + kHeaderSize, frameData, count);
  out[kHeaderSize + count] = FrameChecksum(out + kHeaderSize, count);
  return count + kOverhead;
}

}  // namespace qv::frame
