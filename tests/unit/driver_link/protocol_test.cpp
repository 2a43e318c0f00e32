// Encoders not already pinned byte for byte by the transmit tests (AT and TX frames, vehicle
// messages, device commands, the RTS/CTS announcement are).
#include <gtest/gtest.h>

#include <vector>

#include "api_frame.h"
#include "device_protocol.h"

using namespace qv::driver::proto;
using Bytes = std::vector<uint8_t>;

TEST(Frames, TxRequestRefusesPayloadPastTransmitBuffer) {
  uint8_t payload[120] = {};
  uint8_t out[200];
  EXPECT_EQ(BuildTxRequest(out, sizeof out, 0, 1, payload, 119), 128u);
  EXPECT_EQ(BuildTxRequest(out, sizeof out, 0, 1, payload, 120), 0u);
}

TEST(Payloads, CommandMessage) {
  uint8_t out[64];
  const uint8_t cmd[] = {0x1B, 0x01, 0x02};
  size_t n = EncodeCommandMessage(out, sizeof out, 0x10, cmd, 3, "AB", "C");
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x10, 0x1B, 'A', 'B', 0, 'C', 0, 0x01, 0x02}));
  n = EncodeCommandMessage(out, sizeof out, 0x00, cmd, 1, nullptr, nullptr);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x00, 0x1B}));
}

TEST(Payloads, BroadcastAnnouncement) {
  uint8_t out[16];
  const uint8_t pdu2[4] = {0x18, 0xFE, 0xEC, 0x00};  // VIN, PF 254
  const size_t n = EncodeLongAnnouncement(out, sizeof out, true, pdu2, 0x33, 0x00, 1785);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x02, 0x24, 12, 0x1C, 0xEC, 0xFF, 0x00, 0x20, 0xF9, 0x06, 255, 0xFF, 0xEC, 0xFE, 0}));
}

// A chunk: 02 23, payload length + 1, sequence (10 first, 11 middle, 12 last; 2x for a
// broadcast), its share of the message, FF padding.
TEST(Payloads, ChunkingOfLongMessages) {
  std::vector<uint8_t> data(1785);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  const struct { size_t total, chunk; bool bam; size_t payload, pad; uint8_t seq; } rows[] = {
      {49, 1, false, 49, 7, 0x10}, {50, 1, false, 49, 0, 0x10},   {98, 2, false, 49, 7, 0x12},
      {1785, 2, false, 49, 0, 0x11}, {1785, 37, true, 21, 7, 0x22},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.total << " bytes, chunk " << row.chunk);
    uint8_t out[128];
    const size_t n = EncodeLongChunk(out, sizeof out, row.bam, data.data(), row.total, row.chunk);
    EXPECT_EQ(ChunkPayloadSize(row.total, row.chunk), row.payload);
    ASSERT_EQ(n, 4 + row.payload + row.pad);
    const auto from = data.begin() + static_cast<std::ptrdiff_t>((row.chunk - 1) * 49);
    Bytes want{0x02, 0x23, static_cast<uint8_t>(row.payload + 1), row.seq};
    want.insert(want.end(), from, from + static_cast<std::ptrdiff_t>(row.payload));
    want.resize(n, 0xFF);
    EXPECT_EQ(Bytes(out, out + n), want);
  }
  EXPECT_EQ(ChunkCount(49), 1u);
}

TEST(Payloads, RxHeadIsBoundsChecked) {
  RxHead h;
  const uint8_t shortFrame[9] = {0x7E, 0, 6, 0x81, 0, 0, 0, 0, 1};
  EXPECT_FALSE(ReadRxHead(shortFrame, sizeof shortFrame, h));
  const uint8_t f[10] = {0x7E, 0, 7, 0x81, 0, 0, 0, 0, 0x81, 0x9F};
  ASSERT_TRUE(ReadRxHead(f, sizeof f, h));
  EXPECT_TRUE(h.marked);
  EXPECT_EQ(h.type, 0x1F);
  uint8_t f64[14] = {0x7E, 0, 11, 0x80};
  EXPECT_FALSE(ReadRxHead(f64, sizeof f64, h));
}
