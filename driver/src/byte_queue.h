// Fixed-size circular queue of length-prefixed records: byte 0 free, bytes 1-2 a big-endian
// length L, then L bytes. None of the operations lock; the caller holds the queue's lock.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::driver {

constexpr int32_t kByteQueueCapacity = 2048;

struct ByteQueue {
  uint8_t data[kByteQueueCapacity];
  int32_t used;
  int32_t capacity;
  int32_t write_index;
  int32_t read_index;
  uint32_t dropped;  // records lost for want of room (oldest dropped or new one refused); wraps
};

// Empties the queue, zeroes its bytes and its drop count. Always true.
bool ByteQueue_Init(ByteQueue& q);
// Stores one record of `size` bytes whose bytes 1-2 must hold size - 3. Drops the oldest
// record once when short of room. False (nothing stored) when it still does not fit, when
// size < 3 or when the length bytes disagree with size. Every record lost for want of room
// (the oldest dropped, or this one refused) adds one to `dropped`.
bool ByteQueue_Put(ByteQueue& q, const uint8_t* record, size_t size);
// Copies the oldest record into out (capacity outCapacity) and removes it. False when empty.
// A record larger than outCapacity is removed and discarded (false, outSize 0): never copied past out.
bool ByteQueue_Take(ByteQueue& q, uint8_t* out, size_t outCapacity, uint32_t& outSize);
// Indices and used to 0; the data bytes and the drop count stay.
void ByteQueue_Clear(ByteQueue& q);
// Free bytes; 2048 when empty.
int32_t ByteQueue_FreeSpace(const ByteQueue& q);
// L + 3 of the record at read_index.
int32_t ByteQueue_RecordLength(const ByteQueue& q);
bool ByteQueue_IsEmpty(const ByteQueue& q);

}  // namespace qv::driver
