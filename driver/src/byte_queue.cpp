#include "byte_queue.h"

#include <cstring>

namespace qv::driver {

namespace {
constexpr int32_t kMask = kByteQueueCapacity - 1;
}

bool ByteQueue_Init(ByteQueue& q) {
  std::memset(q.data, 0, sizeof q.data);
  q.used = 0;
  q.capacity = kByteQueueCapacity;
  q.write_index = 0;
  q.read_index = 0;
  q.dropped = 0;
  return true;
}

void ByteQueue_Clear(ByteQueue& q) {
  q.write_index = 0;
  q.read_index = 0;
  q.used = 0;
}

bool ByteQueue_IsEmpty(const ByteQueue& q) { return q.read_index == q.write_index; }

int32_t ByteQueue_FreeSpace(const ByteQueue& q) {
  if (q.write_index < q.read_index) return q.read_index - q.write_index;
  if (q.write_index == q.read_index) return kByteQueueCapacity;
  return kByteQueueCapacity - (q.write_index - q.read_index);
}

int32_t ByteQueue_RecordLength(const ByteQueue& q) {
  const uint8_t hi = q.data[(q.read_index + 1) & kMask];
  const uint8_t lo = q.data[(q.read_index + 2) & kMask];
  return hi * 256 + lo + 3;
}

bool ByteQueue_Put(ByteQueue& q, const uint8_t* record, size_t size) {
  // A record whose length bytes disagree with its size would misplace every later record.
  if (size < 3 || size >= static_cast<size_t>(kByteQueueCapacity)) return false;
  if (static_cast<size_t>(record[1]) * 256 + record[2] + 3 != size) return false;
  const int32_t s = static_cast<int32_t>(size);
  if (!ByteQueue_IsEmpty(q) && ByteQueue_FreeSpace(q) <= s) {
    const int32_t r = ByteQueue_RecordLength(q);
    q.read_index += r;
    if (q.read_index > kMask) q.read_index -= kByteQueueCapacity;
    q.used -= r;
    ++q.dropped;
  }
  if (ByteQueue_FreeSpace(q) <= s) {
    ++q.dropped;
    return false;
  }
  if (q.write_index + s <= kByteQueueCapacity) {
    std::memcpy(q.data + q.write_index, record, size);
    q.write_index += s;
    if (q.write_index == kByteQueueCapacity) q.write_index = 0;
  } else {
    const int32_t first = kByteQueueCapacity - q.write_index;
    std::memcpy(q.data + q.write_index, record, static_cast<size_t>(first));
    std::memcpy(q.data, record + first, static_cast<size_t>(s - first));
    q.write_index = s - first;
  }
  q.used += s;
  return true;
}

bool ByteQueue_Take(ByteQueue& q, uint8_t* out, size_t outCapacity, uint32_t& outSize) {
  if (ByteQueue_IsEmpty(q)) return false;
  const int32_t size = ByteQueue_RecordLength(q);
  const bool fits = static_cast<size_t>(size) <= outCapacity;
  if (q.read_index + size > kByteQueueCapacity) {
    const int32_t first = kByteQueueCapacity - q.read_index;
    if (fits) {
      std::memcpy(out, q.data + q.read_index, static_cast<size_t>(first));
      std::memcpy(out + first, q.data, static_cast<size_t>(size - first));
    }
    q.read_index = size - first;
  } else {
    if (fits) std::memcpy(out, q.data + q.read_index, static_cast<size_t>(size));
    q.read_index = (q.read_index + size) & kMask;
  }
  q.used -= size;
  if (!fits) {
    outSize = 0;
    return false;
  }
  outSize = static_cast<uint32_t>(size);
  return true;
}

}  // namespace qv::driver
