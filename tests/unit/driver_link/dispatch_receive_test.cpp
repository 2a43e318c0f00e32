#include <algorithm>

#include "dispatcher.h"
#include "link_test_support.h"
#include "receive.h"

using namespace qv::driver;
using namespace qv::driver::test;
using qv::platform::WaitResult;

namespace {
struct RouteTest : LinkFixture {
  RouteOutcome Route(Bytes frameData) {
    Bytes f = Stored(frameData);
    f.resize(128);
    return RouteFrame(d, f.data(), frameData.size() + 3);
  }
  bool Signalled(EventId ev) { return d.events[ev]->wait(0) == WaitResult::Signalled; }
  int Receive(uint8_t protocol) {
    rec = {};
    rec.protocol = protocol;
    return ReceiveMessage(d, rec);
  }
  // The next message queued for `protocol` (empty when none), its length as returned.
  Bytes Take(uint8_t protocol) {
    const int r = Receive(protocol);
    EXPECT_EQ(QvReturnedLength(&rec), static_cast<uint32_t>(std::max(r, 0)));
    return r > 0 ? Bytes(QvReturnedData(&rec), QvReturnedData(&rec) + r) : Bytes{};
  }
  MessageRecord rec = {};
};
// J1708 adapter message: type, key (4), message bytes.
Bytes J1708(uint8_t type, uint32_t key, Bytes msg) {
  return Rx16(Cat({0x01, static_cast<uint8_t>(type | 0x80), static_cast<uint8_t>(msg.size() + 4), static_cast<uint8_t>(key >> 24),
                   static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)},
                  msg));
}
// One CAN record body: stamp, identifier, data.
Bytes Rec(uint8_t type, Bytes stamp, Bytes id, Bytes data) {
  return Cat({type, static_cast<uint8_t>(8 + data.size())}, stamp, id, data);
}
Bytes Batch(std::vector<Bytes> recs) {
  Bytes rf{0x02};
  for (auto& r : recs) rf.insert(rf.end(), r.begin(), r.end());
  rf[1] |= 0x80;
  return Rx16(rf);
}
Bytes Notice(uint8_t control, uint16_t size, uint8_t sa) {
  return Rec(37, {1, 2, 3, 4}, {0x1C, 0xEC, 0xFF, sa}, {control, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), 2, 0xFF, 0xEC, 0xFE, 0x00});
}
Bytes Chunk(uint8_t s, Bytes payload) {
  return Rx16(Cat({0x02, 0x80 | 38, static_cast<uint8_t>(payload.size() + 5), 9, 9, 9, 9, s}, payload));
}
}  // namespace

// A request that comes while the answer is being written is answered too: the event is cleared
// before the answer goes, never after.
TEST_F(RouteTest, KeepAliveRequestDuringTheAnswerStaysSet) {
  SetEvent(d, kEvKeepAlive);
  seam.onWrite = [](Device& device) { SetEvent(device, kEvKeepAlive); };
  AnswerKeepAlive(d);
  ASSERT_EQ(seam.written.size(), 1u);
  EXPECT_EQ(Bytes(seam.written[0].begin() + 8, seam.written[0].end() - 1), (Bytes{0x00, 0x11, 0x00, 0x00}));
  EXPECT_TRUE(Signalled(kEvKeepAlive));
}

TEST_F(RouteTest, ModemFramesSetOnlyTheirEvents) {
  // A TX status counts only when delivered (status 1 is not) and for the frame a sender waits
  // for (0: none awaited).
  const struct { uint8_t awaited, frameId, status; bool counts; } rows[] = {
      {0, 1, 0, false}, {1, 2, 0, false}, {1, 1, 1, false}, {1, 1, 0, true}, {1, 1, 2, true}, {1, 1, 3, true}};
  for (const auto& row : rows) {
    d.awaitedTxFrameId = row.awaited;
    EXPECT_EQ(Route({0x89, row.frameId, row.status}), RouteOutcome::Handled);
    EXPECT_EQ(Signalled(kEvTxStatus), row.counts) << int(row.awaited) << int(row.frameId) << int(row.status);
  }
  EXPECT_EQ(Route({0x88, 0x14, 'D', 'H', 0x00, 0x00}), RouteOutcome::Handled);
  EXPECT_TRUE(Signalled(kEvDeviceData));
  EXPECT_FALSE(Signalled(kEvDeviceReply));
  EXPECT_EQ(Take(0), (Bytes{0x88, 0x14, 'D', 'H', 0x00, 0x00}));
  Route(Rx16({0x00, 0x80 | 17}));  // the adapter's keep-alive request wakes the responder
  EXPECT_TRUE(Signalled(kEvKeepAlive));
  EXPECT_TRUE(Signalled(kEvDeviceReply));
}

// Where a frame lands: unmarked or short ones nowhere, an unknown protocol in the device queue
// without waking anyone, a 64-bit RX frame moved onto the 16-bit layout; J1708 records with the
// echo byte when echo is on, CAN records with their type byte in CAN mode.
TEST_F(RouteTest, FramesLandInTheirQueueOrNowhere) {
  const Bytes j1708{0x80, 0xBE, 1, 2, 3};
  const struct {
    const char* what;
    Bytes frame;
    RouteOutcome outcome;
    uint8_t protocol;
    Bytes queued;
    uint8_t echo, can;
  } rows[] = {
      {"unmarked", Rx16({0x01, 0x1F, 5, 0, 0, 0, 1, 0x80}), RouteOutcome::Dropped, 1, {}, 0, 0},
      {"short", {0x81, 0x12}, RouteOutcome::Dropped, 1, {}, 0, 0},
      {"unknown protocol", Rx16({0x05, 0x81, 0xAA}), RouteOutcome::Routed, 0,
       {0x81, 0x12, 0x34, 0x28, 0x00, 0x05, 0x01, 0xAA}, 0, 0},
      {"64-bit", {0x80, 1, 2, 3, 4, 5, 6, 0x12, 0x34, 0x28, 0x00, 0x27, 0x85, 0x42}, RouteOutcome::Routed, 0x27,
       {0x81, 0x12, 0x34, 0x28, 0x00, 0x27, 0x05, 0x42}, 0, 0},
      {"J1708, 20-byte entry", J1708(0x10 + 5, 0x01020304, j1708), RouteOutcome::Routed, 1,
       {1, 2, 3, 4, 0x80, 0xBE, 1, 2, 3}, 0, 0},
      {"J1708 echo on", J1708(31, 0x05060708, j1708), RouteOutcome::Routed, 1,
       {5, 6, 7, 8, 1, 0x80, 0xBE, 1, 2, 3}, 1, 0},
      {"CAN", Batch({Rec(0x21, {0, 0, 0, 1}, {0x80 | 0x01, 0x23, 0x00, 0x00}, {7})}), RouteOutcome::Routed, 2,
       {0, 0, 0, 1, 0, 0x01, 0x23, 0x00, 0x00, 7}, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    d.echoSettingJ1708 = row.echo;
    d.canMode = row.can;
    EXPECT_EQ(Route(row.frame), row.outcome);
    EXPECT_FALSE(Signalled(kEvDeviceData));
    EXPECT_EQ(Take(row.protocol), row.queued);
  }
  EXPECT_TRUE(Signalled(kEvJ1708Echo));
  EXPECT_EQ(d.protocolStatusJ1708.load() & 2, 2);
  EXPECT_EQ(d.protocolStatusCan.load() & 2, 2);
}

TEST_F(RouteTest, DuplicateKeyDroppedAcrossProtocols) {
  d.rfAckEnabled = true;
  EXPECT_EQ(Route(J1708(5, 0xA1B2C3D4, {0x80, 1})), RouteOutcome::Routed);
  EXPECT_EQ(Route(J1708(5, 0xA1B2C3D4, {0x80, 1})), RouteOutcome::Routed);  // still notified
  EXPECT_EQ(Take(1), (Bytes{0x00, 0xB2, 0xC3, 0xD4, 0x80, 1}));  // first key byte zeroed
  EXPECT_EQ(Receive(1), 0);
  // Same key on J1939 after a J1708 message: dropped too.
  Route(J1708(5, 0x11111111, {0x80, 2}));
  Bytes b = Batch({Rec(0x21, {0x11, 0x11, 0x11, 0x11}, {0x18, 0xFE, 0xF1, 0x00}, {1})});
  Route(b);
  EXPECT_EQ(Receive(2), 0);
}

TEST_F(RouteTest, BatchSplitsInRecordOrder) {
  Route(Batch({Rec(0x21, {0, 0, 0, 1}, {0x0C, 0xF0, 0x04, 0x00}, {1, 2, 3, 4, 5, 6, 7, 8}),
               Rec(0x21, {0, 0, 0, 2}, {0x18, 0xFE, 0xF1, 0x00}, {9}),
               Rec(159, {0, 0, 0, 3}, {0x18, 0xEA, 0x00, 0xF9}, {0xEC, 0xFE, 0x00})}));
  EXPECT_EQ(d.j1939RecordCount.load(), 3);
  EXPECT_TRUE(Signalled(kEvJ1939Confirm));
  EXPECT_TRUE(Signalled(kEvJ1939Data));  // wakes a blocking reader
  EXPECT_EQ(Take(2), (Bytes{0, 0, 0, 1, 0x0C, 0xF0, 0x04, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(Take(2), (Bytes{0, 0, 0, 2, 0x18, 0xFE, 0xF1, 0x00, 9}));
  EXPECT_EQ(Receive(2), 0);  // echo not queued while echo is off
  d.echoSettingJ1939 = 1;
  Route(Batch({Rec(159, {0, 0, 0, 4}, {0x18, 0xEA, 0x00, 0xF9}, {0xEC, 0xFE, 0x00})}));
  EXPECT_EQ(Take(2), (Bytes{0, 0, 0, 4, 1, 0x18, 0xEA, 0x00, 0xF9, 0xEC, 0xFE, 0x00}));  // echo byte 1
  EXPECT_EQ(rec.echoFlag, 1);
}

TEST_F(RouteTest, LongEchoCopyStandsForOneAnnouncementEchoOnly) {
  d.echoSettingJ1939 = 1;
  const Bytes longMsg{0x18, 0xEF, 0x00, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::memcpy(d.longEchoCopy, longMsg.data(), longMsg.size());
  d.longEchoLength = static_cast<uint16_t>(longMsg.size());
  const Bytes cm{0x10, 9, 0, 2, 0xFF, 0x00, 0xEF, 0x00};
  for (uint8_t key : {uint8_t{1}, uint8_t{2}}) Route(Batch({Rec(159, {0, 0, 0, key}, {0x1C, 0xEC, 0x00, 0xF9}, cm)}));
  EXPECT_EQ(Take(2), Cat({0, 0, 0, 1, 1}, longMsg));
  EXPECT_EQ(Take(2), Cat({0, 0, 0, 2, 1, 0x1C, 0xEC, 0x00, 0xF9}, cm));  // the next TP.CM echo is itself
}

TEST_F(RouteTest, BatchRecordsRunningPastFrameOrTooShortAreDroppedAndCounted) {
  Bytes b = Batch({Rec(0x21, {0, 0, 0, 1}, {0x18, 0xFE, 0xF1, 0x00}, {1})});
  b.push_back(0x21);
  b.push_back(40);  // claims 40 body bytes that are not there
  b.push_back(1);
  Route(b);
  EXPECT_EQ(d.malformedCount.load(), 1);
  EXPECT_EQ(Receive(2), 9);
  EXPECT_EQ(Receive(2), 0);
  Route(Batch({Bytes{0x21, 2, 0xAA, 0xBB}}));  // 13-byte entry: no room for a stamp
  EXPECT_EQ(Receive(2), 0);
  EXPECT_EQ(d.malformedCount.load(), 2);
  b = Batch({Rec(0x21, {0, 0, 0, 2}, {0x18, 0xFE, 0xF1, 0x00}, {1})});
  b.push_back(0x21);  // a lone type byte ends the frame
  Route(b);
  EXPECT_EQ(d.malformedCount.load(), 3);
  EXPECT_EQ(Receive(2), 9);
}

TEST_F(RouteTest, ReassemblyInOrderDuplicateAndGap) {
  Route(Batch({Notice(32, 20, 0x00)}));
  EXPECT_EQ(d.bam.state.load(), kBamAssembling);
  Route(Chunk(0x20, {1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(d.pendingAck.load(), 0x20);
  Route(Chunk(0x22, {99}));  // sequence 2 right after 0: ignored
  Route(Chunk(0x21, {8, 9, 10, 11, 12, 13, 14}));
  Route(Chunk(0x21, {77}));  // repeated 1: ignored
  Route(Chunk(0x22, {15, 16, 17, 18, 19, 20, 0xFF}));
  EXPECT_EQ(d.bam.state.load(), kBamComplete);
  EXPECT_EQ(d.bam.chunks, 3);
  Bytes want{1, 2, 3, 4, 0x00, 0xFE, 0xEC, 0x00};
  for (uint8_t i = 1; i <= 20; ++i) want.push_back(i);
  EXPECT_EQ(Take(2), want);
  EXPECT_EQ(d.bam.state.load(), kBamIdle);
}

TEST_F(RouteTest, SmallestLongMessageAndBamBeforeRts) {
  Route(Batch({Notice(16, 9, 0x21)}));
  Route(Chunk(0x10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF}));
  Route(Batch({Notice(32, 9, 0x22)}));
  Route(Chunk(0x20, {9, 8, 7, 6, 5, 4, 3, 2, 1}));
  rec = {};
  EXPECT_EQ(ReceiveLongMessage(d, rec), 17);
  EXPECT_EQ(QvReturnedData(&rec)[7], 0x22);
  EXPECT_EQ(ReceiveLongMessage(d, rec), 17);
  EXPECT_EQ(QvReturnedData(&rec)[7], 0x21);
  EXPECT_EQ(ReceiveLongMessage(d, rec), 0);
}

TEST_F(RouteTest, ChunkPastBufferAbortsAndNextTransferWorks) {
  Route(Batch({Notice(32, 1785, 0x00)}));
  Bytes big(110, 0x5A);
  for (int i = 0; i < 16; ++i) Route(Chunk(static_cast<uint8_t>(0x20 | (i % 4)), big));
  EXPECT_EQ(d.bam.fill, 8 + 16 * 110);
  EXPECT_EQ(d.bam.state.load(), kBamAssembling);
  Route(Chunk(0x20, big));  // would run past the 1808-byte buffer: assembly given up
  EXPECT_EQ(d.bam.state.load(), kBamIdle);
  EXPECT_EQ(d.malformedCount.load(), 1);
  Route(Rx16({0x02, 0x80 | 38, 1}));  // chunk frame shorter than 16 bytes
  EXPECT_EQ(d.malformedCount.load(), 2);
  Route(Batch({Notice(32, 9, 0x00)}));  // the next transfer is not stuck
  Route(Chunk(0x20, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(d.bam.state.load(), kBamComplete);
  Route(Batch({Notice(32, 2000, 0x00)}));  // can never be held: refused, complete one kept
  EXPECT_EQ(d.bam.state.load(), kBamComplete);
}

TEST_F(RouteTest, SendProgressMatchesRunningTotals) {
  d.rtsRunningTotal = 9;
  Route(Rx16({0x02, 0x80 | 32, 6, 0, 0, 0, 1, 16, 8}));
  EXPECT_FALSE(Signalled(kEvRtsChunkAccepted));
  Route(Rx16({0x02, 0x80 | 32, 6, 0, 0, 0, 2, 16, 9}));
  EXPECT_TRUE(Signalled(kEvRtsChunkAccepted));
  Route(Rx16({0x02, 0x80 | 32, 6, 0, 0, 0, 3, 17, 9}));
  EXPECT_FALSE(Signalled(kEvRtsChunkSent));  // only with versionFeature
  d.versionFeature = true;
  Route(Rx16({0x02, 0x80 | 32, 6, 0, 0, 0, 4, 17, 9}));
  EXPECT_TRUE(Signalled(kEvRtsChunkSent));
}

TEST_F(RouteTest, ReceiveUnknownProtocolAndBlockingShutdown) {
  EXPECT_EQ(Receive(0x33), ERR_INVALID_PROTOCOL);
  rec = {};
  rec.protocol = 1;
  rec.blockFlag = 1;
  d.stopFlag = true;  // a blocking read returns 0 when the device stops
  EXPECT_EQ(ReceiveMessage(d, rec), 0);
  EXPECT_TRUE(Signalled(kEvReadFinished));
}
