#include <gtest/gtest.h>

#include <vector>

#include "byte_queue.h"

using namespace qv::driver;

namespace {
std::vector<uint8_t> Record(size_t size, uint8_t fill) {
  std::vector<uint8_t> r(size, fill);
  r[0] = 0x7E;
  r[1] = static_cast<uint8_t>((size - 3) >> 8);
  r[2] = static_cast<uint8_t>((size - 3) & 0xFF);
  return r;
}
struct QueueTest : ::testing::Test {
  ByteQueue q;
  void SetUp() override { ByteQueue_Init(q); }
  // The oldest record (empty when Take refuses), taken into a buffer with room for 2048 bytes.
  std::vector<uint8_t> Take() {
    std::vector<uint8_t> out(2048);
    uint32_t n = 0;
    out.resize(ByteQueue_Take(q, out.data(), out.size(), n) ? n : 0);
    return out;
  }
};
}  // namespace

TEST_F(QueueTest, PutTakeRoundTripAndMinimumRecord) {
  uint8_t out[32];
  uint32_t n = 99;
  EXPECT_FALSE(ByteQueue_Take(q, out, sizeof out, n));  // empty: nothing taken, n untouched
  EXPECT_EQ(n, 99u);
  auto a = Record(3, 0);  // L = 0
  auto b = Record(10, 0x55);
  ASSERT_TRUE(ByteQueue_Put(q, a.data(), a.size()));
  ASSERT_TRUE(ByteQueue_Put(q, b.data(), b.size()));
  EXPECT_EQ(q.used, 13);
  EXPECT_EQ(Take(), a);
  EXPECT_EQ(Take(), b);
  EXPECT_TRUE(ByteQueue_IsEmpty(q));
}

TEST_F(QueueTest, RefusesLyingOrOversizedRecords) {
  auto r = Record(10, 1);
  r[2] = 9;  // claims 12 bytes
  EXPECT_FALSE(ByteQueue_Put(q, r.data(), r.size()));
  auto big = Record(2048, 1);
  EXPECT_FALSE(ByteQueue_Put(q, big.data(), big.size()));
  EXPECT_TRUE(ByteQueue_IsEmpty(q));
  uint8_t two[2] = {0, 0};
  EXPECT_FALSE(ByteQueue_Put(q, two, 2));
  auto max = Record(2047, 1);  // the largest record an empty queue takes
  EXPECT_TRUE(ByteQueue_Put(q, max.data(), max.size()));
}

TEST_F(QueueTest, FullQueueDropsExactlyOneOldestPerPut) {
  auto r = Record(100, 7);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ByteQueue_Put(q, r.data(), r.size()));  // 2000 bytes
  EXPECT_EQ(q.used, 2000);
  auto s = Record(100, 8);
  EXPECT_EQ(q.dropped, 0u);
  ASSERT_TRUE(ByteQueue_Put(q, s.data(), s.size()));  // 48 free: one dropped, fits
  EXPECT_EQ(q.used, 2000);
  EXPECT_EQ(q.dropped, 1u);
  // A record that still does not fit after the single drop is refused; the drop stands and
  // both losses count.
  auto huge = Record(400, 9);
  EXPECT_FALSE(ByteQueue_Put(q, huge.data(), huge.size()));
  EXPECT_EQ(q.used, 1900);
  EXPECT_EQ(q.dropped, 3u);
  ByteQueue_Clear(q);  // a clear forgets the records, not the loss
  EXPECT_EQ(q.dropped, 3u);
}

TEST_F(QueueTest, ExactFillIsShortOfRoom) {
  auto a = Record(1000, 1);
  auto b = Record(1048, 2);  // would fill exactly 2048 bytes
  ASSERT_TRUE(ByteQueue_Put(q, a.data(), a.size()));
  ASSERT_TRUE(ByteQueue_Put(q, b.data(), b.size()));
  EXPECT_EQ(q.used, 1048);  // a was dropped to make room
  EXPECT_EQ(Take(), b);
}

TEST_F(QueueTest, WrappedRecordAndStraddlingLengthBytes) {
  for (int start : {2046, 2047, 2040}) {
    ByteQueue_Init(q);
    q.read_index = q.write_index = start;
    auto r = Record(20, static_cast<uint8_t>(start));
    ASSERT_TRUE(ByteQueue_Put(q, r.data(), r.size()));
    EXPECT_EQ(q.write_index, (start + 20) - 2048);
    EXPECT_EQ(ByteQueue_RecordLength(q), 20);
    EXPECT_EQ(Take(), r);
    EXPECT_EQ(q.read_index, q.write_index);
  }
}

TEST_F(QueueTest, TakeIntoTooSmallBufferDiscardsWithoutOverrun) {
  auto r = Record(50, 3);
  ASSERT_TRUE(ByteQueue_Put(q, r.data(), r.size()));
  uint8_t out[20 + 4];
  out[20] = 0xAB;
  uint32_t n = 5;
  EXPECT_FALSE(ByteQueue_Take(q, out, 20, n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(out[20], 0xAB);
  EXPECT_TRUE(ByteQueue_IsEmpty(q));
}
