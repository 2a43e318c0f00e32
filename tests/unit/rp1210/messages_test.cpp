// Send and read translation, byte-exact, and the refusals.
#include <tuple>

#include "fake_env.h"

using namespace qvtest;

namespace {

// Every field of a driver record, the whole body included.
auto Fields(const MessageRecord& r) {
  return std::tuple(r.protocol, Bytes(r.body, r.body + sizeof r.body), r.length, r.blockFlag, r.transportMode,
                    r.echoFlag, r.sourceAddress, r.destAddress, r.unused, r.handedOver);
}

int16_t Send(int16_t id, const Bytes& m, int16_t block = 0) {
  return RP1210_SendMessage(id, reinterpret_cast<const char*>(m.data()), static_cast<int16_t>(m.size()), 0, block);
}

}  // namespace

// Each row is one send on client 1 (J1939), 2 (CAN) or 3 (J1708): its result and, when it went
// out, the driver record's protocol, body and transport mode; the rest of the record stays zero.
TEST_F(Rp1210Test, SendsReachTheDriverExactly) {
  ConnectEach({"J1939", "CAN", "J1708"});
  Bytes data1785;
  for (int i = 0; i < 1785; ++i) data1785.push_back(static_cast<uint8_t>(i));
  const Bytes frame = Join({{1}, Bytes(12, 0x5A)});  // a CAN frame of 8 data bytes
  struct Row {
    int16_t client;
    Bytes message;
    int16_t result;
    uint8_t protocol = 0;
    Bytes body = {};
    uint8_t transportMode = 0;
    int16_t block = 0;
  };
  const Row rows[] = {
      // PDU2 PGN 0xFECA, priority 6, source F9, destination FF.
      {1, {0xCA, 0xFE, 0x00, 0x06, 0xF9, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 2,
       {0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 1},
      // PDU1 request to 0x17: the destination goes into PS.
      {1, {0x00, 0xEA, 0x00, 0x06, 0xF9, 0x17, 0xEC, 0xFE, 0x00}, 0, 2, {0x18, 0xEA, 0x17, 0xF9, 0xEC, 0xFE, 0x00}},
      {1, Join({{0xEC, 0xFE, 0x00, 0x86, 0x00, 0xFF}, data1785}), 0, 2, Join({{0x18, 0xFE, 0xEC, 0x00}, data1785}), 0x80},
      {1, {0, 0xEA, 0, 6, 0}, 160},  // shorter than the J1939 header
      {1, Bytes(2070, 1), 141},
      {1, Bytes(2069, 1), 0, 2, Join({{0x04, 0x01, 0x01, 0x01}, Bytes(2063, 1)})},
      {2, {0x00, 0x07, 0xDF, 0x02, 0x01, 0x00}, 0, 2, {0x87, 0xDF, 0x02, 0x01, 0x00}},
      // Extended: bit 7 of the identifier cleared.
      {2, {0x01, 0x98, 0xEA, 0xFF, 0xF9, 0xEC, 0xFE, 0x00}, 0, 2, {0x18, 0xEA, 0xFF, 0xF9, 0xEC, 0xFE, 0x00}},
      // A CAN message is one classic frame: type byte, 4-byte identifier, 0 to 8 data bytes.
      {2, Bytes(frame.begin(), frame.begin() + 4), 160},
      {2, Bytes(frame.begin(), frame.begin() + 5), 0, 2, Bytes(4, 0x5A)},
      {2, frame, 0, 2, Bytes(12, 0x5A)},
      {2, Join({frame, {0x5A}}), 141},
      {3, {0x80, 0xBE, 0x10, 0x20}, 0, 1, {0x80, 0xBE, 0x10, 0x20}},
      {3, Bytes(2068, 1), 141},
      {3, Bytes(2067, 1), 0, 1, Bytes(2067, 1)},
      {4, {1, 2, 3}, 129},
      {0, {1, 2, 3}, 129},
  };
  for (const Row& row : rows) {
    Driver().calls.clear();
    EXPECT_EQ(Send(row.client, row.message, row.block), row.result) << row.client << ": " << row.message.size();
    const auto tx = Driver().of("Transmit_Message");
    ASSERT_EQ(tx.size(), row.result == 0 ? 1u : 0u);
    if (tx.empty()) continue;
    MessageRecord want{};
    want.protocol = row.protocol;
    std::copy(row.body.begin(), row.body.end(), want.body);
    want.length = static_cast<uint32_t>(row.body.size());
    want.blockFlag = static_cast<uint8_t>(row.block);
    want.transportMode = row.transportMode;
    if (row.client == 1) {
      want.sourceAddress = row.message[4];
      want.destAddress = row.message[5];
    }
    EXPECT_EQ(tx[0].deviceId, 0x81);
    EXPECT_TRUE(Fields(tx[0].record) == Fields(want)) << row.client << ": " << row.message.size();
  }
  EXPECT_EQ(RP1210_SendMessage(3, nullptr, 4, 0, 0), 160);
  EXPECT_EQ(RP1210_SendMessage(3, "ab", -1, 0, 0), 160);
  Driver().transmitResult = 152;
  EXPECT_EQ(Send(3, {1, 2}), 152);
  // The application packetizes (the flag is process-wide: the last connect sets it).
  ASSERT_EQ(Connect("Device", 1, 1), 4);
  ASSERT_EQ(Send(1, {0xCA, 0xFE, 0x00, 0x86, 0xF9, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 152);
  EXPECT_EQ(Driver().of("Transmit_Message").back().record.transportMode, 16);
}

// Each row is one J1939 message from the driver (after its time stamp) and what the application
// reads after the same stamp: the echo byte when echo is on, PGN, priority, source, destination
// (the claimed address for PDU1 but an echo), data; nothing after it. The buffer's byte 8, left
// from an earlier message, asks the driver for the priority mask.
TEST_F(Rp1210Test, J1939ReadsTranslateExactly) {
  ASSERT_EQ(Connect("J1939"), 1);
  Bytes data1785;
  for (int i = 0; i < 1785; ++i) data1785.push_back(static_cast<uint8_t>(i * 7));
  const Bytes pdu1 = {0x0C, 0xEA, 0x17, 0x00, 0xEC, 0xFE, 0x00, 1, 2, 3, 4, 5};
  const struct {
    Bytes fromDriver;
    uint8_t echo, claimed, leftover8;
    Bytes read;
    uint8_t transportMode;
  } rows[] = {
      {{0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5}, 0, 0, 0, {0xCA, 0xFE, 0x00, 0x06, 0xF9, 0x00, 1, 2, 3, 4, 5}, 0},
      {Join({{0x01}, pdu1}), 1, 0x33, 0, {0x01, 0x00, 0xEA, 0x00, 0x03, 0x00, 0x17, 0xEC, 0xFE, 0x00, 1, 2, 3, 4, 5}, 0},
      {Join({{0x00}, pdu1}), 1, 0x33, 0, {0x00, 0x00, 0xEA, 0x00, 0x03, 0x00, 0x33, 0xEC, 0xFE, 0x00, 1, 2, 3, 4, 5}, 0},
      {Join({{0x00, 0xEF, 0x00, 0x00}, data1785}), 0, 0x33, 0, Join({{0x00, 0xEF, 0x00, 0x00, 0x00, 0x33}, data1785}), 0},
      {{0x18, 0xF0, 0x04, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 0, 0xF9,
       {0x04, 0xF0, 0x00, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, 0x80},
  };
  const Bytes ts = {0x10, 0x20, 0x30, 0x40};
  for (const auto& row : rows) {
    Driver().calls.clear();
    Driver().inbox.push_back({Join({ts, row.fromDriver}), row.echo});
    Ctx().claimedAddress = row.claimed;
    std::vector<char> buf(2048, 0x55);
    buf[8] = static_cast<char>(row.leftover8);
    const Bytes want = Join({ts, row.read});
    ASSERT_EQ(RP1210_ReadMessage(1, buf.data(), 2048, 1), static_cast<int16_t>(want.size()));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(want.size())), want) << row.read.size();
    EXPECT_EQ(buf[want.size()], 0x55);
    const auto rx = Driver().of("Receive_Message");
    ASSERT_EQ(rx.size(), 1u);
    EXPECT_EQ(rx[0].record.protocol, 2);
    EXPECT_EQ(rx[0].record.blockFlag, 1);
    EXPECT_EQ(rx[0].record.transportMode, row.transportMode);
  }
}

// A message is delivered whole or refused with 141 and dropped, so the next read moves on.
TEST_F(Rp1210Test, ReadDeliversWholeMessagesAndDropsWhatDoesNotFit) {
  LogToFile();
  ConnectEach({"J1939", "J1708"});
  const Bytes j1939 = {0, 0, 0, 1, 0x18, 0xFE, 0xCA, 0xF9, 1, 2, 3, 4, 5};  // L = 13
  const Bytes j1939Out = {0, 0, 0, 1, 0xCA, 0xFE, 0x00, 0x06, 0xF9, 0x00, 1, 2, 3, 4, 5};  // L + 2
  const Bytes j1708 = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9}, j1708Zero = Join({j1708, {0}});
  struct Row {
    int16_t client, size, result;
    bool taken;     // the driver was asked for the message
    Bytes written;  // the buffer's first bytes; the rest stays as it was
  };
  const Row rows[] = {
      {1, 9, 141, false, {}},       // no J1939 message fits: the driver is not asked
      {1, 14, 141, true, {}},       // L + 1
      {1, 15, 15, true, j1939Out},  // L + 2: exactly fits
      {1, 16, 15, true, j1939Out},  // whole, no trailing zero
      {2, 0, 141, false, {}},
      {2, -1, 141, false, {}},
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
    EXPECT_EQ(Driver().of("Receive_Message").back().record.protocol, row.client == 1 ? 2 : 1);
  }
  EXPECT_EQ(RP1210_ReadMessage(2, nullptr, 10, 0), 141);
  EXPECT_EQ(RP1210_ClientDisconnect(1), 0);  // the loss is told again at the disconnect
  const std::string log = ReadLog();
  const size_t loss = log.find("RXLOSS,ClientID=1,Dropped=" + std::to_string(drops[0]) + "\n");
  EXPECT_NE(loss, std::string::npos) << log;
  EXPECT_LT(log.find("Disconnect,ClientID=1\n"), loss) << log;
  EXPECT_EQ(log.find("RXLOSS,ClientID=2"), std::string::npos);  // still connected
  EXPECT_NE(log.find("RXDROP,ClientID=1,Size=14,Need=15,Dropped=1\n"), std::string::npos) << log;
}

TEST_F(Rp1210Test, ReadResultsAndProtocols) {
  EXPECT_EQ(RP1210_ReadMessage(1, nullptr, 0, 0), 129);
  ConnectEach({"CAN", "IO"});
  char buf[32];
  Driver().inbox.push_back({{1, 2, 3}, 0});
  EXPECT_EQ(RP1210_ReadMessage(1, buf, 32, 0), 3);  // a CAN frame as the driver gave it
  EXPECT_EQ(RP1210_ReadMessage(2, buf, 32, 0), 0);
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
}
