// The simulator's encoders against bytes worked out by hand from the protocol description.
#include <gtest/gtest.h>

#include "qvlink/sim/codec.h"

using qv::sim::Bytes;
namespace s = qv::sim;

// (The SH answer is pinned byte for byte by the wire tests.)
TEST(SimCodec, ModemSideFrames) {
  EXPECT_EQ(s::encodeTxStatus(0x01, 0x00), (Bytes{0x7E, 0x00, 0x03, 0x89, 0x01, 0x00, 0x75}));
  // Version reply from address 12345 (0x3039), RSSI 0x28.
  EXPECT_EQ(s::encodeRx16(0x3039, 0x28, 0, {0x00, 0x9B, 0x1B, 0x41, 0x00}),
            (Bytes{0x7E, 0x00, 0x0A, 0x81, 0x30, 0x39, 0x28, 0x00, 0x00, 0x9B, 0x1B, 0x41, 0x00, 0xF6}));
  const Bytes rx64 = s::encodeRx64(0x0013A20040B0C0D0ULL, 0x28, 0, {0x02});
  ASSERT_EQ(rx64.size(), 16u);
  EXPECT_EQ(rx64[3], 0x80);
  EXPECT_EQ(rx64[14], 0x02);  // RF data at frame offset 14
  EXPECT_EQ(s::encodeTxRequest(0x00, 0x3039, {0x00, 0x11, 0x00, 0x00}),
            (Bytes{0x7E, 0x00, 0x09, 0x01, 0x00, 0x30, 0x39, 0x00, 0x00, 0x11, 0x00, 0x00, 0x84}));
}

TEST(SimCodec, ParserTakesPiecesNoiseAndEscapeLikeBytes) {
  s::FrameParser p;
  const Bytes f = s::encodeFrame(0x81, {0x30, 0x39, 0x28, 0x00, 0x7E, 0x7D, 0x11, 0x13});
  const Bytes noise{0x00, 0x55};
  p.feed(noise.data(), noise.size());
  for (uint8_t b : f) p.feed(&b, 1);  // one byte at a time
  auto body = p.next();
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(*body, Bytes(f.begin() + 3, f.end() - 1));  // 0x7E/0x7D inside stay data
  EXPECT_EQ(p.skippedBytes(), 2u);
  EXPECT_FALSE(p.next().has_value());

  Bytes bad = f;
  bad.back() ^= 1;
  p.feed(bad.data(), bad.size());
  EXPECT_FALSE(p.next().has_value());
  EXPECT_EQ(p.badChecksums(), 1u);

  // A header too long to hold sends the parser hunting; the next good frame still comes out.
  const Bytes huge{0x7E, 0xFF, 0xFF, 0x01, 0x02};
  p.feed(huge.data(), huge.size());
  p.feed(f.data(), f.size());
  EXPECT_EQ(p.oversize(), 1u);
  EXPECT_TRUE(p.next().has_value());
}

TEST(SimCodec, J1939IdentifiersAndJ1708Checksum) {
  EXPECT_EQ(s::encodeJ1939Id({3, 61444, 0x00, 0xFF}), (Bytes{0x0C, 0xF0, 0x04, 0x00}));
  EXPECT_EQ(s::encodeJ1939Id({6, 59904, 0xF9, 0x00}), (Bytes{0x18, 0xEA, 0x00, 0xF9}));
  const Bytes req{0x18, 0xEA, 0x00, 0xF9};
  EXPECT_EQ(s::pgnOf(req.data()), 59904u);
  const auto id = s::decodeJ1939Id(req.data());
  EXPECT_EQ(id.priority, 6);
  EXPECT_EQ(id.da, 0x00);
  EXPECT_EQ(id.sa, 0xF9);
  const Bytes ccvs{0x18, 0xFE, 0xF1, 0x00};
  EXPECT_EQ(s::pgnOf(ccvs.data()), 65265u);
  EXPECT_EQ(s::decodeJ1939Id(ccvs.data()).da, 0xFF);

  const Bytes m{128, 190, 0x40, 0x1F};
  const uint8_t c = s::j1708Checksum(m.data(), m.size());
  EXPECT_EQ(static_cast<uint8_t>(128 + 190 + 0x40 + 0x1F + c), 0);
  EXPECT_EQ(c, 0x63);
}
