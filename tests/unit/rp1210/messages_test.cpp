// Send and read translation, byte-exact, and the refusals.
#include <cstring>

#include "QV121032.h"
#include "context.h"
#include "fake_env.h"

using namespace qvtest;
using qv::rp1210::Ctx;

namespace {

Bytes Body(const MessageRecord& r) { return Bytes(r.body, r.body + r.length); }

int16_t Send(int16_t id, const Bytes& m, int16_t block = 0) {
  return RP1210_SendMessage(id, reinterpret_cast<const char*>(m.data()), static_cast<int16_t>(m.size()), 0, block);
}

}  // namespace

TEST_F(Rp1210Test, J1939SendTranslation) {
  ASSERT_EQ(Connect("J1939"), 1);
  // PDU2 PGN 0xFECA, priority 6, source F9, destination FF.
  ASSERT_EQ(Send(1, {0xCA, 0xFE, 0x00, 0x06, 0xF9, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, 1), 0);
  // PDU1 request to 0x17: the destination goes into PS.
  ASSERT_EQ(Send(1, {0x00, 0xEA, 0x00, 0x06, 0xF9, 0x17, 0xEC, 0xFE, 0x00}), 0);
  // Long message with the BAM bit.
  Bytes longMsg = {0xEC, 0xFE, 0x00, 0x86, 0x00, 0xFF};
  for (int i = 0; i < 1785; ++i) longMsg.push_back(static_cast<uint8_t>(i));
  ASSERT_EQ(Send(1, longMsg), 0);
  auto tx = Driver().of("Transmit_Message");
  ASSERT_EQ(tx.size(), 3u);
  EXPECT_EQ(tx[0].deviceId, 0x81);
  EXPECT_EQ(tx[0].record.protocol, 2);
  EXPECT_EQ(Body(tx[0].record), (Bytes{0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(tx[0].record.blockFlag, 1);
  EXPECT_EQ(tx[0].record.sourceAddress, 0xF9);
  EXPECT_EQ(tx[0].record.destAddress, 0xFF);
  EXPECT_EQ(tx[0].record.transportMode, 0);
  EXPECT_EQ(Body(tx[1].record), (Bytes{0x18, 0xEA, 0x17, 0xF9, 0xEC, 0xFE, 0x00}));
  EXPECT_EQ(tx[2].record.length, 1789u);
  EXPECT_EQ(tx[2].record.transportMode, 0x80);
  EXPECT_EQ(tx[2].record.body[0], 0x18);
  EXPECT_EQ(tx[2].record.body[4 + 1784], static_cast<uint8_t>(1784));
  // The rest of the record stays zero.
  EXPECT_EQ(tx[0].record.body[12], 0);
  EXPECT_EQ(tx[0].record.echoFlag, 0);
  // The application packetizes (the flag is process-wide: the last connect sets it).
  ASSERT_EQ(Connect("J1708", 1, 1), 2);
  ASSERT_EQ(Send(1, {0xCA, 0xFE, 0x00, 0x86, 0xF9, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 0);
  EXPECT_EQ(Driver().of("Transmit_Message").back().record.transportMode, 16);
  EXPECT_EQ(Driver().of("Transmit_Message").back().record.body[0], 0x18);
}

TEST_F(Rp1210Test, CanAndPassThroughSends) {
  ASSERT_EQ(Connect("CAN"), 1);
  ASSERT_EQ(Connect("J1708"), 2);
  ASSERT_EQ(Send(1, {0x00, 0x07, 0xDF, 0x02, 0x01, 0x00}), 0);
  ASSERT_EQ(Send(1, {0x01, 0x98, 0xEA, 0xFF, 0xF9, 0xEC, 0xFE, 0x00}), 0);
  ASSERT_EQ(Send(2, {0x80, 0xBE, 0x10, 0x20}), 0);
  const auto tx = Driver().of("Transmit_Message");
  EXPECT_EQ(tx[0].record.protocol, 2);
  EXPECT_EQ(Body(tx[0].record), (Bytes{0x87, 0xDF, 0x02, 0x01, 0x00}));
  EXPECT_EQ(Body(tx[1].record), (Bytes{0x18, 0xEA, 0xFF, 0xF9, 0xEC, 0xFE, 0x00}));  // bit 7 cleared
  EXPECT_EQ(tx[2].record.protocol, 1);
  EXPECT_EQ(Body(tx[2].record), (Bytes{0x80, 0xBE, 0x10, 0x20}));
}

TEST_F(Rp1210Test, SendRefusals) {
  ASSERT_EQ(Connect("J1939"), 1);
  ASSERT_EQ(Connect("CAN"), 2);
  ASSERT_EQ(Connect("J1708"), 3);
  EXPECT_EQ(Send(4, {1, 2, 3}), 129);
  EXPECT_EQ(Send(0, {1, 2, 3}), 129);
  EXPECT_EQ(Send(1, {0, 0xEA, 0, 6, 0}), 160);  // shorter than the J1939 header
  EXPECT_EQ(RP1210_SendMessage(3, nullptr, 4, 0, 0), 160);
  EXPECT_EQ(RP1210_SendMessage(3, "ab", -1, 0, 0), 160);
  EXPECT_EQ(Send(3, Bytes(2068, 1)), 141);
  EXPECT_EQ(Send(3, Bytes(2067, 1)), 0);
  EXPECT_EQ(Send(1, Bytes(2070, 1)), 141);
  EXPECT_EQ(Send(1, Bytes(2069, 1)), 0);
  EXPECT_EQ(Driver().of("Transmit_Message").size(), 2u);
  Driver().transmitResult = 152;
  EXPECT_EQ(Send(3, {1, 2}), 152);
}

// A CAN message is one classic frame: type byte, 4-byte identifier (both kinds), 0 to 8 data bytes.
TEST_F(Rp1210Test, CanSendsOnlyWhatIsOneFrame) {
  ASSERT_EQ(Connect("CAN"), 1);
  const struct {
    size_t size;
    int16_t result;
  } rows[] = {{0, 160}, {1, 160}, {4, 160}, {5, 0}, {13, 0}, {14, 141}, {2068, 141}};
  for (const auto& row : rows) {
    Driver().calls.clear();
    Bytes m(row.size, 0x5A);
    if (!m.empty()) m[0] = 1;
    EXPECT_EQ(Send(1, m), row.result) << row.size;
    const auto tx = Driver().of("Transmit_Message");
    if (row.result != 0) {
      EXPECT_TRUE(tx.empty()) << row.size;
      continue;
    }
    ASSERT_EQ(tx.size(), 1u);
    EXPECT_EQ(Body(tx[0].record), Bytes(m.begin() + 1, m.end())) << row.size;
  }
}

TEST_F(Rp1210Test, J1939ReadTranslation) {
  ASSERT_EQ(Connect("J1939"), 1);
  const Bytes ts = {0x10, 0x20, 0x30, 0x40};
  Bytes single = ts;
  for (int b : {0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5}) single.push_back(static_cast<uint8_t>(b));
  Driver().inbox.push_back({single, 0});
  char buf[64] = {};
  ASSERT_EQ(RP1210_ReadMessage(1, buf, 25, 1), 15);
  EXPECT_EQ(Bytes(buf, buf + 16),
            (Bytes{0x10, 0x20, 0x30, 0x40, 0xCA, 0xFE, 0x00, 0x06, 0xF9, 0x00, 1, 2, 3, 4, 5, 0}));
  auto rx = Driver().of("Receive_Message");
  EXPECT_EQ(rx[0].record.protocol, 2);
  EXPECT_EQ(rx[0].record.blockFlag, 1);
  EXPECT_EQ(rx[0].record.transportMode, 0);

  // PDU1, 8 data bytes, echo on: echo byte after the time stamp.
  Bytes echoed = ts;
  for (int b : {0x01, 0x0C, 0xEA, 0x17, 0x00, 0xEC, 0xFE, 0x00, 1, 2, 3, 4, 5}) echoed.push_back(static_cast<uint8_t>(b));
  Driver().inbox.push_back({echoed, 1});
  std::memset(buf, 0, sizeof buf);
  ASSERT_EQ(RP1210_ReadMessage(1, buf, 64, 0), 19);
  EXPECT_EQ(Bytes(buf, buf + 19), (Bytes{0x10, 0x20, 0x30, 0x40, 0x01, 0x00, 0xEA, 0x00, 0x03, 0x00, 0x17, 0xEC,
                                         0xFE, 0x00, 1, 2, 3, 4, 5}));

  // Echo on, not an echo: a PDU1 destination reads as the claimed address.
  Ctx().claimedAddress = 0x33;
  echoed[4] = 0;
  Driver().inbox.push_back({echoed, 1});
  ASSERT_EQ(RP1210_ReadMessage(1, buf, 64, 0), 19);
  EXPECT_EQ(static_cast<uint8_t>(buf[10]), 0x33);

  // Long reassembled message, echo off: destination is the claimed address when PF < 240.
  Bytes longMsg = ts;
  for (int b : {0x00, 0xEF, 0x00, 0x00}) longMsg.push_back(static_cast<uint8_t>(b));
  for (int i = 0; i < 1785; ++i) longMsg.push_back(static_cast<uint8_t>(i * 7));
  Driver().inbox.push_back({longMsg, 0});
  std::vector<char> big(1900);
  ASSERT_EQ(RP1210_ReadMessage(1, big.data(), 1900, 0), 1795);
  EXPECT_EQ(Bytes(big.begin() + 4, big.begin() + 10), (Bytes{0x00, 0xEF, 0x00, 0x00, 0x00, 0x33}));
  EXPECT_EQ(static_cast<uint8_t>(big[10 + 1784]), static_cast<uint8_t>(1784 * 7));
}

TEST_F(Rp1210Test, J1939ReadPriorityMaskFollowsByteEight) {
  ASSERT_EQ(Connect("J1939"), 1);
  Bytes m = {0, 0, 0, 0, 0x18, 0xF0, 0x04, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  Driver().inbox.push_back({m, 0});
  char buf[64] = {};
  buf[8] = static_cast<char>(0xF9);  // left over from the previous message
  ASSERT_EQ(RP1210_ReadMessage(1, buf, 64, 0), 18);
  EXPECT_EQ(Driver().of("Receive_Message")[0].record.transportMode, 0x80);
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(static_cast<uint8_t>(buf[4]), 0x04);  // PDU2: PGN low is the group extension
  EXPECT_EQ(static_cast<uint8_t>(buf[5]), 0xF0);
  EXPECT_EQ(buf[9], 0);
}

// A message is delivered whole or refused with 141 and dropped, so the next read moves on.
TEST_F(Rp1210Test, ReadDeliversWholeMessagesAndDropsWhatDoesNotFit) {
  auto& ini = Files()["QV121032.ini"];
  ini["Logging"]["LoggingType"] = "1";
  ini["Logging"]["FileName"] = logPath;
  ASSERT_EQ(Connect("J1939"), 1);
  ASSERT_EQ(Connect("J1708"), 2);
  const Bytes j1939 = {0, 0, 0, 1, 0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5};  // L = 13
  const Bytes j1939Out = {0, 0, 0, 1, 0xCA, 0xFE, 0x00, 0x06, 0xF9, 0x00, 1, 2, 3, 4, 5};  // L + 2
  Bytes j1708(10);
  for (int i = 0; i < 10; ++i) j1708[i] = static_cast<uint8_t>(0xA0 + i);
  Bytes j1708Zero = j1708;
  j1708Zero.push_back(0);
  struct Row {
    int16_t client, size, result;
    bool taken;     // the driver was asked for the message
    Bytes written;  // the buffer's first bytes; the rest stays as it was
  };
  const Row rows[] = {
      {1, 9, 141, false, {}},       // no J1939 message fits: the driver is not asked
      {1, 14, 141, true, {}},       // L + 1
      {1, 15, 15, true, j1939Out},  // L + 2: whole, no trailing zero
      {1, 24, 15, true, j1939Out},  // L + 11
      {1, 25, 15, true, j1939Out},  // L + 12
      {2, 0, 141, false, {}},
      {2, 9, 141, true, {}},
      {2, 10, 10, true, j1708},      // exactly fits: no room for the zero
      {2, 11, 10, true, j1708Zero},  // the record's trailing zero
  };
  uint32_t drops[2] = {};
  for (const Row& row : rows) {
    Driver().inbox = {{row.client == 1 ? j1939 : j1708, 0}};
    char buf[64];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(RP1210_ReadMessage(row.client, buf, row.size, 0), row.result) << row.client << "/" << row.size;
    Bytes expected = row.written;
    expected.resize(sizeof buf, 0x55);
    EXPECT_EQ(Bytes(buf, buf + sizeof buf), expected) << row.client << "/" << row.size;
    EXPECT_EQ(Driver().inbox.empty(), row.taken) << row.client << "/" << row.size;
    if (row.taken && row.result == 141) ++drops[row.client - 1];
    EXPECT_EQ(Ctx().slots[row.client - 1].droppedReads, drops[row.client - 1]);
    Driver().inbox.clear();
    EXPECT_EQ(RP1210_ReadMessage(row.client, buf, 64, 0), 0);  // nothing was kept back
  }
  EXPECT_EQ(RP1210_ReadMessage(2, nullptr, 10, 0), 141);
  EXPECT_EQ(RP1210_ClientDisconnect(1), 0);  // the loss is told again at the disconnect
  const std::string log = ReadLog();
  const size_t loss = log.find("RXLOSS,ClientID=1,Dropped=" + std::to_string(drops[0]) + "\n");
  EXPECT_NE(loss, std::string::npos) << log;
  EXPECT_LT(log.find("Disconnect,ClientID=1\n"), loss) << log;
  EXPECT_EQ(log.find("RXLOSS,ClientID=2"), std::string::npos);  // still connected
  EXPECT_NE(log.find("RXDROP,ClientID=1,Size=14,Need=15,Dropped=1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("RXDROP,ClientID=2,Size=9,Need=10,Dropped=1\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Size=9,Need=15"), std::string::npos);  // refused before any message was taken
}

TEST_F(Rp1210Test, ReadResultsAndProtocols) {
  EXPECT_EQ(RP1210_ReadMessage(1, nullptr, 0, 0), 129);
  ASSERT_EQ(Connect("CAN"), 1);
  ASSERT_EQ(Connect("IO"), 2);
  char buf[32];
  EXPECT_EQ(RP1210_ReadMessage(1, buf, 32, 0), 0);
  Driver().inbox.push_back({{1, 2, 3}, 0});
  EXPECT_EQ(RP1210_ReadMessage(2, buf, 32, 0), 3);
  auto rx = Driver().of("Receive_Message");
  EXPECT_EQ(rx[0].record.protocol, 2);
  EXPECT_EQ(rx[1].record.protocol, 0x27);
  // A driver error is no message: nothing converted, nothing written. 142 (the port is gone)
  // reaches the application, which would otherwise read on for ever; others read as nothing.
  for (int32_t code : {142, 134}) {
    Driver().receiveError = code;
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(RP1210_ReadMessage(1, buf, 32, 1), code == 142 ? 142 : 0) << code;
    EXPECT_EQ(RP1210_ReadMessage(2, buf, 32, 1), code == 142 ? 142 : 0) << code;
    EXPECT_EQ(buf[0], 0x55);
  }
  Driver().receiveError = 0;
}
