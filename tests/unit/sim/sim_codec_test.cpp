// The simulator's frame parser: what it takes from a line that is not clean.
#include <gtest/gtest.h>

#include "qvlink/sim/codec.h"

using qv::sim::Bytes;
namespace s = qv::sim;

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
