// Decoding of RP1210 reads and of the vehicle messages the tool shows in words.
#include <gtest/gtest.h>

#include "decode.h"

namespace qv::tools {
namespace {

using V = std::vector<uint8_t>;

TEST(ParseJ1939Read, SingleFrameLayoutAndBounds) {
  // Time stamp 00 00 01 02, PGN 61444, priority 3, SA 00, DA byte 00 (PDU2: read as FF), 8 data bytes.
  const V buf = {0x00, 0x00, 0x01, 0x02, 0x04, 0xF0, 0x00, 0x03, 0x00, 0x00,
                 0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0x00, 0xFF, 0x7D};
  const auto m = ParseJ1939Read(buf.data(), buf.size(), false);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->timeStamp, 0x102u);  // (priority, source, PDU2 destination: qvlink monitor's lines)
  EXPECT_EQ(m->pgn, 61444u);
  EXPECT_EQ(m->data, V(buf.begin() + 10, buf.end()));
  // Only the returned count is looked at: a short count gives fewer data bytes, or nothing.
  EXPECT_EQ(ParseJ1939Read(buf.data(), 12, false)->data, (V{0xF0, 0x7D}));
  EXPECT_TRUE(ParseJ1939Read(buf.data(), 10, false)->data.empty());
  EXPECT_FALSE(ParseJ1939Read(buf.data(), 9, false));
  EXPECT_FALSE(ParseJ1939Read(nullptr, 20, false));
}

TEST(ParseJ1939Read, Pdu1KeepsDestinationAndEchoByteShiftsTheHeader) {
  const V buf = {0, 0, 0, 9, 1, 0x00, 0xEA, 0x00, 0x06, 0xF9, 0x17, 0xEC, 0xFE, 0x00};
  const auto m = ParseJ1939Read(buf.data(), buf.size(), true);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->echoed);
  EXPECT_EQ(m->pgn, kPgnRequest);
  EXPECT_EQ(m->priority, 6);
  EXPECT_EQ(m->source, 0xF9);
  EXPECT_EQ(m->destination, 0x17);
  EXPECT_EQ(m->data, (V{0xEC, 0xFE, 0x00}));
  EXPECT_FALSE(ParseJ1939Read(buf.data(), 10, true));
}

// A bad checksum is flagged and kept (a good one stripped: qvlink monitor's J1708 test).
TEST(ParseJ1708Read, BadChecksumFlaggedAndKept) {
  const V buf = {0, 0, 0, 5, 128, 190, 0x40, 0x1F, 0x62};  // the message bytes sum to 0x1FF
  const auto m = ParseJ1708Read(buf.data(), buf.size(), false);
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->checksumOk);
  EXPECT_EQ(m->body.size(), 4u);
  EXPECT_EQ(DescribeJ1708(*m).rfind("bad checksum", 0), 0u);
  EXPECT_FALSE(ParseJ1708Read(buf.data(), 4, false));  // time stamp only
}

TEST(ParseJ1587, ParameterLengthsAndOverruns) {
  const auto p = ParseJ1587({84, 10, 190, 1, 2, 200, 3, 7, 8, 9, 100, 5});
  ASSERT_TRUE(p);
  ASSERT_EQ(p->size(), 4u);
  EXPECT_EQ((*p)[1].value, (V{1, 2}));
  EXPECT_EQ((*p)[2].pid, 200);
  EXPECT_EQ((*p)[2].value, (V{7, 8, 9}));
  EXPECT_EQ((*p)[3].value, (V{5}));
  EXPECT_FALSE(ParseJ1587({190, 1}));        // 2-byte PID cut short
  EXPECT_FALSE(ParseJ1587({200, 4, 1, 2}));  // count beyond the end
  EXPECT_FALSE(ParseJ1587({200}));           // count byte missing
  EXPECT_EQ(ParseJ1587({84, 1, 254, 9})->size(), 1u);  // 254 ends the parameters
  EXPECT_FALSE(J1587EngineSpeedRpm(*ParseJ1587({84, 1})));
}

TEST(ParseCanRead, StandardAndExtended) {
  const V ext = {0, 0, 0, 1, 1, 0x18, 0xFE, 0xF1, 0x00, 0xAA, 0xBB};
  auto m = ParseCanRead(ext.data(), ext.size(), false);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->extended);
  EXPECT_EQ(m->id, 0x18FEF100u);
  EXPECT_EQ(m->data, (V{0xAA, 0xBB}));
  const V std11 = {0, 0, 0, 1, 0, 0x00, 0x00, 0x07, 0xDF, 0x02, 0x01, 0x00};
  m = ParseCanRead(std11.data(), std11.size(), false);
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->extended);
  EXPECT_EQ(m->id, 0x7DFu);
  EXPECT_EQ(m->data.size(), 3u);
  EXPECT_FALSE(ParseCanRead(ext.data(), 8, false));
}

// (PDU1 and PDU2 identifiers: qvlink's monitor and request lines.)
TEST(J1939CanId, DataPageAndPriority) {
  EXPECT_EQ(J1939CanId(6, 0x1EF00, 0xF9, 0x21), 0x19EF21F9u);
  EXPECT_EQ(J1939CanId(0xFF, 0xEF00, 1, 2), 0x1CEF0201u);      // priority kept to 3 bits
}

TEST(SignalDecoders, Eec1AndCcvsScalingAndNotAvailable) {
  EXPECT_DOUBLE_EQ(*Eec1EngineSpeedRpm({0xF0, 0x7D, 0x7D, 0x40, 0x1F, 0, 0xFF, 0x7D}), 1000.0);
  EXPECT_FALSE(Eec1EngineSpeedRpm({0, 0, 0, 0xFF, 0xFF, 0, 0, 0}));
  EXPECT_FALSE(Eec1EngineSpeedRpm({0, 0, 0, 0x40}));
  EXPECT_DOUBLE_EQ(*CcvsVehicleSpeedKmh({0xFF, 0x00, 0x50, 0xFF}), 80.0);
  EXPECT_FALSE(CcvsVehicleSpeedKmh({0xFF, 0x00, 0xFB}));
  EXPECT_FALSE(CcvsVehicleSpeedKmh({0xFF, 0x00}));
}

// (Two faults with their lamp: the demo's DM1 line.)
TEST(DecodeDm1, HighSpnBitsPaddingAndPartialSlots) {
  // The top three SPN bits, conversion method and FMI 31.
  const auto big = DecodeDm1({0, 0, 0x34, 0x12, 0xFF, 0x85});
  ASSERT_TRUE(big);
  ASSERT_EQ(big->faults.size(), 1u);
  EXPECT_EQ(big->faults[0].spn, 0x71234u);
  EXPECT_EQ(big->faults[0].fmi, 31);
  EXPECT_TRUE(big->faults[0].conversionMethod);
  EXPECT_EQ(big->faults[0].occurrences, 5);
  // Single-frame DM1 with no fault, 0xFF padding and a partial trailing slot.
  EXPECT_TRUE(DecodeDm1({0, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF})->faults.empty());
  EXPECT_TRUE(DecodeDm1({0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3})->faults.empty());
  EXPECT_FALSE(DecodeDm1({0x04}));
}

// (A VIN ended by '*': the request test's line.)
TEST(DecodeVin, NoTextOrBinaryIsRefused) {
  EXPECT_FALSE(DecodeVin({'*'}));
  EXPECT_FALSE(DecodeVin({}));
  EXPECT_FALSE(DecodeVin({'A', 0x00, 'B'}));
}

// (J1939 lines: qvlink monitor's and request's own.)
TEST(MonitorLines, CanLikeCandump) {
  CanMessage c{0, false, false, 0x7DF, {2, 1, 0}};
  EXPECT_EQ(CanLine(5, 7, c), "(5.000007) 7DF       [3] 02 01 00");
  EXPECT_EQ(HexBytes(nullptr, 0), "");
}

}  // namespace
}  // namespace qv::tools
