#include "transmit.h"

#include "link_test_support.h"

using namespace qv::driver;
using namespace qv::driver::test;
using qv::platform::WaitResult;

namespace {
struct TxTest : LinkFixture {
  // A record built in place and sent; for the cases that do not look at the record afterwards.
  int Send(MessageRecord r) { return TransmitMessage(d, r); }
  int Command(uint8_t command, MessageRecord r) { return SendDeviceCommand(d, command, r); }
  static Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end() - 1); }
};
}  // namespace

TEST_F(TxTest, J1708VehicleMessageByteExact) {
  EXPECT_EQ(Send(Record(1, {0x80, 0xBE, 0x10})), ERR_Success);
  ASSERT_EQ(seam.written.size(), 1u);
  EXPECT_EQ(seam.written[0], Wire({0x01, 0x00, 0x12, 0x34, 0x00, 0x01, 0x14, 0x03, 0x80, 0xBE, 0x10}));
  EXPECT_EQ(d.txMessageCount.load(), 1);
  EXPECT_TRUE(seam.waitedOn.empty());
}

TEST_F(TxTest, WriterBusyGives137AfterPolls) {
  d.writeBusy = true;
  EXPECT_EQ(Send(Record(1, {0x80})), ERR_TX_QUEUE_FULL);
  EXPECT_EQ(seam.sleptMs, 150u);
  EXPECT_TRUE(seam.written.empty());
  seam.sleptMs = 0;
  EXPECT_EQ(Send(Record(1, {0x80}, true)), ERR_TX_QUEUE_FULL);
  EXPECT_EQ(seam.sleptMs, 750u);
}

TEST_F(TxTest, BlockingSendWaitsForEchoAndResends) {
  MessageRecord r = Record(1, {0x80, 1}, true);
  seam.script = {WaitResult::TimedOut, WaitResult::TimedOut, WaitResult::Signalled};
  EXPECT_EQ(TransmitMessage(d, r), ERR_Success);
  EXPECT_EQ(seam.written.size(), 3u);
  EXPECT_EQ(seam.waitedOn[0], kEvJ1708Echo);
  seam.written.clear();
  seam.script.clear();
  EXPECT_EQ(TransmitMessage(d, r), ERR_HARDWARE_NOT_RESPONDING);
  EXPECT_EQ(seam.written.size(), 11u);
  seam.script = {WaitResult::Failed};
  EXPECT_EQ(TransmitMessage(d, r), ERR_HARDWARE_NOT_RESPONDING);
  seam.waitedOn.clear();
  EXPECT_EQ(Send(Record(5, {1}, true)), ERR_Success);  // nothing to wait for
  EXPECT_TRUE(seam.waitedOn.empty());
}

TEST_F(TxTest, RfAckModeUsesFrameIdsAndTxStatus) {
  d.rfAckEnabled = true;
  d.frameId = 254;
  seam.script = {WaitResult::Signalled, WaitResult::Signalled};
  EXPECT_EQ(Send(Record(1, {0x80, 1})), ERR_Success);
  EXPECT_EQ(Send(Record(1, {0x80, 1})), ERR_Success);
  ASSERT_EQ(seam.written.size(), 2u);
  EXPECT_EQ(seam.written[0][4], 255);
  EXPECT_EQ(seam.written[1][4], 1);  // 0 skipped
  EXPECT_EQ(seam.waitedOn[0], kEvTxStatus);
  // Device messages are never acknowledged.
  seam.written.clear();
  EXPECT_EQ(Send(Record(0, {0x1B})), ERR_Success);
  EXPECT_EQ(seam.written[0][4], 0);
}

TEST_F(TxTest, J1939ShortLongAndRefused) {
  EXPECT_EQ(Send(Record(2, {0x18, 0xFE, 0xF1, 0x00, 1, 2, 3, 4, 5, 6, 7, 8})), ERR_Success);
  EXPECT_EQ(Payload(seam.written[0]), (Bytes{0x02, 0x14, 12, 0x18, 0xFE, 0xF1, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}));
  MessageRecord nine = Record(2, {0x18, 0xEF, 0x00, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  nine.transportMode = 16;
  seam.written.clear();
  EXPECT_EQ(TransmitMessage(d, nine), ERR_MESSAGE_TOO_LONG);
  EXPECT_TRUE(seam.written.empty());
}

TEST_F(TxTest, LongRtsCtsNineBytes) {
  MessageRecord r = Record(2, {0x18, 0xEF, 0x00, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  r.destAddress = 0x00;
  r.sourceAddress = 0xF9;
  seam.script = {WaitResult::Signalled};  // the adapter's echo of the announcement
  EXPECT_EQ(TransmitMessage(d, r), ERR_Success);
  ASSERT_EQ(seam.written.size(), 2u);
  EXPECT_EQ(Payload(seam.written[0]), (Bytes{0x02, 0x23, 10, 0x10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Payload(seam.written[1]), (Bytes{0x02, 0x24, 12, 0x18, 0xEC, 0x00, 0xF9, 0x10, 9, 0, 2, 7, 0, 0xEF, 0}));
  EXPECT_EQ(r.length, 9u);
  EXPECT_EQ(r.handedOver, 9);
  EXPECT_EQ(d.rtsRunningTotal.load(), 9);
  EXPECT_EQ(d.rtsSendState.load(), kRtsSendBusy);
}

TEST_F(TxTest, LongBamFiftyBytesWaitsPerChunk) {
  Bytes data{0x1C, 0xFE, 0xCA, 0x00};
  for (uint8_t i = 0; i < 50; ++i) data.push_back(i);
  MessageRecord r = Record(2, data);
  r.transportMode = 0x80;
  seam.script = {WaitResult::Signalled, WaitResult::Signalled, WaitResult::Signalled};
  EXPECT_EQ(TransmitMessage(d, r), ERR_Success);
  ASSERT_EQ(seam.written.size(), 3u);
  const Bytes last = Payload(seam.written[2]);
  EXPECT_EQ(last, (Bytes{0x02, 0x23, 2, 0x22, 49, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(seam.waitedOn, (std::vector<EventId>{kEvJ1939Confirm, kEvBamChunkAccepted, kEvBamChunkSent}));
  EXPECT_EQ(d.bamRunningTotal.load(), 50);
}

TEST_F(TxTest, LongSendFailureGives152AndRtsTakeover) {
  Bytes data{0x18, 0xEF, 0x00, 0xF9};
  data.resize(4 + 98, 0x11);
  MessageRecord r = Record(2, data);
  d.echoSettingJ1939 = 1;
  seam.script = {WaitResult::Signalled};  // announcement echoed, then no progress reports
  EXPECT_EQ(TransmitMessage(d, r), ERR_COULD_NOT_TX);
  EXPECT_EQ(seam.written.size(), 2u + 4u);  // chunk 1, announcement, chunk 2 four times
  EXPECT_EQ(d.longEchoLength, 0);  // a failed send leaves no copy for later echoes
  // The abandoned send still holds rtsSendState; the next one takes it over after 25 polls.
  r = Record(2, data);
  seam.sleptMs = 0;
  seam.script = {WaitResult::Signalled, WaitResult::Signalled, WaitResult::Signalled};
  EXPECT_EQ(TransmitMessage(d, r), ERR_Success);
  EXPECT_GE(seam.sleptMs, 250u);
  r = Record(2, data);
  r.transportMode = 0x40;
  EXPECT_EQ(TransmitMessage(d, r), ERR_COULD_NOT_TX);
}

TEST_F(TxTest, DeviceCommandsAndLocalModem) {
  d.deviceQueue.write_index = 10;  // something queued
  EXPECT_EQ(Command(17, Record(0, {0, 0})), ERR_Success);
  EXPECT_TRUE(ByteQueue_IsEmpty(d.deviceQueue));
  EXPECT_EQ(Payload(seam.written[0]), (Bytes{0x00, 0x11, 0x00, 0x00}));
  EXPECT_EQ(Command(14, Record(0, {3, 0x0C})), ERR_Success);
  EXPECT_EQ(seam.written[1], (Bytes{0x7E, 0x00, 0x08, 0x08, 0x14, 0x43, 0x48, 0x00, 0x00, 0x00, 0x0C, 0x4C}));
  EXPECT_EQ(Command(14, Record(0, {1, 0xAB, 0xCD})), ERR_Success);
  EXPECT_EQ(d.rfAddress.load(), 0xABCD);
  EXPECT_EQ(Command(14, Record(0, {39})), ERR_Success);
  EXPECT_EQ(seam.written[2], (Bytes{0x7E, 0x00, 0x04, 0x08, 0x14, 'F', 'R', 0x4B}));
  EXPECT_EQ(Command(14, Record(0x10, {1, 'N', 'a', 'm', 'e', 0})), ERR_Success);
  EXPECT_STREQ(d.vklStrings[0], "Name");
  EXPECT_EQ(seam.written.size(), 3u);
}

TEST_F(TxTest, AcknowledgedCommand) {
  MessageRecord r = Record(2, {});
  EXPECT_EQ(SendAcknowledgedCommand(d, 16, r), ERR_Success);
  EXPECT_EQ(Payload(seam.written[0]), (Bytes{0x82, 0x10}));
  d.rfAckEnabled = true;
  seam.written.clear();
  EXPECT_EQ(SendAcknowledgedCommand(d, 16, r), ERR_HARDWARE_NOT_RESPONDING);
  EXPECT_EQ(seam.written.size(), 11u);
  seam.script = {WaitResult::Signalled};
  EXPECT_EQ(SendAcknowledgedCommand(d, 16, r), ERR_Success);
}

TEST_F(TxTest, OversizedRecordsRefused) {
  MessageRecord r = Record(1, {});
  r.length = 200;  // does not fit one frame
  EXPECT_EQ(TransmitMessage(d, r), ERR_MESSAGE_TOO_LONG);
  r.length = 0xFFFFFFFF;  // lying length
  EXPECT_EQ(TransmitMessage(d, r), ERR_MESSAGE_TOO_LONG);
  EXPECT_TRUE(seam.written.empty());
}
