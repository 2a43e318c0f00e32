// Commands (exact device commands sent), status block, version and error texts.
#include "fake_env.h"

using namespace qvtest;

namespace {

int16_t Cmd(int16_t number, int16_t id, Bytes data) {
  return RP1210_SendCommand(number, id, reinterpret_cast<char*>(data.data()), static_cast<int16_t>(data.size()));
}

struct Sent {
  uint8_t code, command;
  Bytes data;
  bool operator==(const Sent&) const = default;
};

std::vector<Sent> Commands() {
  std::vector<Sent> out;
  for (const auto& c : Driver().of("SendQVCommand")) out.push_back({c.protocolCode, c.command, c.data});
  return out;
}

std::ostream& operator<<(std::ostream& os, const Sent& s) {
  os << "{" << int(s.code) << "," << int(s.command) << ",[";
  for (auto b : s.data) os << std::hex << int(b) << " ";
  return os << "]}";
}

Bytes Repeat(const Bytes& part, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// One RP1210 CAN filter entry: type byte, mask, header, most significant first.
Bytes CanEntry(uint8_t type, uint32_t mask, uint32_t header) {
  return {type,
          static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 8),
          static_cast<uint8_t>(mask),
          static_cast<uint8_t>(header >> 24), static_cast<uint8_t>(header >> 16), static_cast<uint8_t>(header >> 8),
          static_cast<uint8_t>(header)};
}

}  // namespace

// Each row is one command on client 1 (J1939), 2 (J1708) or 3 (CAN), in order: its result and
// the exact device commands it sent (protocol code, command, data). The filter lists are
// replaced whole, at most 20 J1939, 10 J1708 and 20 CAN entries; a partial last J1939 entry reads
// zeros, a partial CAN entry is refused.
TEST_F(Rp1210Test, CommandsSendExactDeviceCommands) {
  ConnectEach({"J1939", "J1708", "CAN"});
  const Bytes allOnes = {0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00};  // a J1939 entry of seven ones
  // CAN entries and the adapter's form of them (header, then mask); the first entry's type
  // decides whether the list is standard or extended.
  const Bytes a = CanEntry(0, 0x7FF, 0x7E8), b = CanEntry(0, 0x7F0, 0x7E0), x = CanEntry(1, 0x1FFFFFFF, 0x18FEF100);
  const Bytes aSent = {0, 0, 0x07, 0xE8, 0, 0, 0x07, 0xFF}, bSent = {0, 0, 0x07, 0xE0, 0, 0, 0x07, 0xF0};
  const struct {
    int16_t number, client;
    Bytes data;
    int16_t result;
    std::vector<Sent> sent;
  } rows[] = {
      {4, 1, {0x01, 0x00, 0xEF, 0x00, 0, 0, 0}, 0, {{2, 16, {0x00, 0xEF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00}}}},
      {4, 1, {0x04, 0x00, 0xEF, 0x00, 0, 0x17, 0, 0x08, 0x00, 0xEF, 0x00, 0, 0x00, 0x21}, 0,
       {{2, 16, {0x00, 0xEF, 0x00, 0x17, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xEF, 0x21, 0x00, 0x00, 0x00, 0xFF, 0x00}}}},
      {4, 1, {0x03, 0xCA, 0xFE, 0x00, 6, 0, 0}, 0, {{2, 16, {0x18, 0xFE, 0xCA, 0x00, 0x1C, 0xFF, 0xFF, 0x00}}}},
      {4, 1, {0x01, 0x00, 0xEA}, 0, {{2, 16, {0x00, 0xEA, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00}}}},
      {4, 1, Bytes(21 * 7, 1), 162, {}},
      {4, 1, Bytes(20 * 7, 1), 0, {{2, 16, Repeat(allOnes, 20)}}},
      {259, 1, {}, 0, {{2, 16, Bytes(8, 0)}}},  // low byte 3: pass all
      {79, 1, {}, 143, {}},
      {23, 1, Bytes(256, 1), 141, {}},  // would not fit the one-byte length
      {23, 1, Bytes(255, 1), 0, {{2, 23, Bytes(255, 1)}}},
      {18, 2, {1}, 0, {}},  // an empty list: nothing sent
      {7, 2, {128, 136}, 0, {{1, 16, {0x80, 0xFF, 0, 0, 0, 0, 0x88, 0xFF, 0, 0, 0, 0}}}},
      {18, 2, {1}, 0, {{1, 18, {0x80, 0xFF, 0, 0, 0, 0, 0x88, 0xFF, 0, 0, 0, 0}}}},
      {15, 2, {0x30}, 0, {{1, 23, {1, 1}}}},
      {15, 2, {1}, 0, {{1, 23, {1, 0}}}},
      {15, 2, {7}, 0, {{1, 15, {}}}},
      {3, 2, {}, 0, {{1, 16, {0, 0, 0, 0, 0, 0}}}},
      {17, 2, {}, 0, {{1, 16, {}}}},
      {7, 2, Bytes(11, 128), 162, {}},
      {7, 2, Bytes(10, 128), 0, {{1, 16, Repeat({0x80, 0xFF, 0, 0, 0, 0}, 10)}}},
      {3, 3, {}, 0, {{2, 17, {0, 0, 0, 0}}, {2, 16, {0, 0, 0, 0, 0, 0, 0, 0}}}},
      {17, 3, {}, 0, {{2, 17, {}}, {2, 16, {}}}},
      {5, 3, Join({a, b}), 0, {{2, 17, Join({aSent, bSent})}}},
      {5, 3, Join({a, Bytes(b.begin(), b.end() - 1)}), 160, {}},
      {5, 3, Join({a, {0}}), 0, {{2, 17, aSent}}},  // a lone type byte after the last entry
      {5, 3, Join({a, x}), 0, {{2, 17, Join({aSent, {0, 0, 0xF1, 0x00, 0, 0, 0xFF, 0xFF}})}}},
      {5, 3, Join({x, a}), 0,
       {{2, 16, {0x18, 0xFE, 0xF1, 0x00, 0x1F, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0xE8, 0x00, 0x00, 0x07, 0xFF}}}},
      {5, 3, Repeat(a, 21), 162, {}},
      {5, 3, Repeat(a, 20), 0, {{2, 17, Repeat(aSent, 20)}}},
      {16, 3, {1}, 0, {{2, 52, {1}}}},
      {90, 3, {1, 2}, 0, {{7, 90, {}}}},
  };
  for (const auto& row : rows) {
    Driver().calls.clear();
    EXPECT_EQ(Cmd(row.number, row.client, row.data), row.result) << row.number << " on " << row.client;
    EXPECT_EQ(Commands(), row.sent) << row.number << " on " << row.client;
  }
}

// A null pointer with a size: nothing is sent and the J1708 list (sent again by command 18)
// stays, for every command that reads data; a negative size likewise.
TEST_F(Rp1210Test, CommandDataThatIsNotThereIsRefused) {
  ConnectEach({"J1939", "J1708", "CAN"});
  ASSERT_EQ(Cmd(7, 2, {128, 136}), 0);
  Driver().calls.clear();
  const struct {
    int16_t number, client;
  } rows[] = {{4, 1}, {5, 3}, {7, 2}, {14, 1}, {15, 2}, {16, 1}, {16, 3}, {18, 2}, {19, 1}, {23, 2}};
  char data[16] = {1, 2, 3};
  for (const auto& row : rows) {
    EXPECT_EQ(RP1210_SendCommand(row.number, row.client, nullptr, 7), 160) << row.number;
    EXPECT_EQ(RP1210_SendCommand(row.number, row.client, data, -1), 160) << row.number;
  }
  EXPECT_TRUE(Driver().calls.empty());
  EXPECT_EQ(Ctx().filters.j1708Count, 2);
  // Commands that read no data do not look at the pointer.
  EXPECT_EQ(RP1210_SendCommand(17, 2, nullptr, 7), 0);
  EXPECT_EQ(RP1210_SendCommand(19, 2, nullptr, 7), 0);
  EXPECT_EQ(Commands(), (std::vector<Sent>{{1, 16, {}}}));
}

// The claim goes out as a J1939 message and sets the driver's transport address, unless the
// application packetizes itself; a client that is not J1939 sends nothing.
TEST_F(Rp1210Test, AddressClaimGoesOutAndSetsTheTransportAddress) {
  ConnectEach({"J1939", "J1708"});
  EXPECT_EQ(Cmd(19, 1, {0xF9, 1, 2, 3, 4, 5, 6, 7, 8, 99}), 0);
  EXPECT_EQ(Cmd(19, 2, {0x80}), 0);
  auto tx = Driver().of("Transmit_Message");
  ASSERT_EQ(tx.size(), 1u);
  EXPECT_EQ(Bytes(tx[0].record.body, tx[0].record.body + tx[0].record.length),
            (Bytes{0x18, 0xEE, 0xFF, 0xF9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(tx[0].record.blockFlag, 0);
  auto addr = Driver().of("Set_Transport_Address");
  ASSERT_EQ(addr.size(), 1u);
  EXPECT_EQ(addr[0].data, Bytes{0xF9});
  EXPECT_EQ(Ctx().claimedAddress, 0xF9);
  ASSERT_EQ(Connect("CAN", 1, 1), 3);  // the flag is process-wide: the last connect sets it
  EXPECT_EQ(Cmd(19, 1, {0x80, 1, 2, 3, 4, 5, 6, 7, 8}), 0);
  EXPECT_EQ(Driver().of("Set_Transport_Address").size(), 1u);
  EXPECT_EQ(Driver().of("Transmit_Message").size(), 2u);
}

TEST_F(Rp1210Test, PerApplicationFilter) {
  Files()["QV121032.ini"]["Filter"]["FilterType"] = "1";
  auto& f = Files()["QvFilter.ini"];
  f["NumberApps"]["total"] = "2";
  f["App1"]["AppName"] = "absent.exe";
  f["App1"]["AppFilter1"] = "001,000,239,000,000,000,000";
  f["App2"]["AppName"] = "diag.exe tool.exe";
  f["App2"]["AppFilter1"] = "000,000,239,000,000,000,000";  // flags 0: skipped
  f["App2"]["AppFilter2"] = "003,202,254";  // cut short: the priority and the rest read as zeros
  f["App2"]["AppFilter3"] = "005,000,234,000,000,023,000";
  Modules() = {"libc.so.6", "x", "tool.exe"};
  ASSERT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(Cmd(3, 1, {}), 0);
  std::vector<Sent> expected = {
      {2, 16, {0x00, 0xFE, 0xCA, 0x00, 0x1C, 0xFF, 0xFF, 0x00}},
      {2, 16, {0x00, 0xEA, 0x00, 0x17, 0x00, 0xFF, 0x00, 0xFF}},
  };
  EXPECT_EQ(Commands(), expected);
  Modules() = {"other"};
  EXPECT_EQ(Cmd(3, 1, {}), 0);  // nobody running: pass all
  EXPECT_EQ(Commands().back(), (Sent{2, 16, Bytes(8, 0)}));
  Modules() = {"tool.exe"};
  f["App1"]["AppFilter4"] = "";  // an empty key spoils the whole file
  EXPECT_EQ(Cmd(3, 1, {}), 0);
  EXPECT_EQ(Commands().back(), (Sent{2, 16, Bytes(8, 0)}));
  f["App1"].erase("AppFilter4");
  f["NumberApps"]["total"] = "6";  // more than the table holds: refused
  EXPECT_EQ(Cmd(3, 1, {}), 0);
  EXPECT_EQ(Commands().back(), (Sent{2, 16, Bytes(8, 0)}));
  f["NumberApps"]["total"] = "2";
  f["App2"]["AppName"] = std::string(40, 'a') + "tool.exe";  // longer than 39: refused
  Driver().calls.clear();
  EXPECT_EQ(Cmd(3, 1, {}), 0);
  EXPECT_EQ(Commands(), (std::vector<Sent>{{2, 16, Bytes(8, 0)}}));
}

// A client's disconnect lowers the counter its connect raised, whatever its stored 7-character
// name reads as: the status block and command 0 (reset, refused with two counted clients) follow
// the clients present.
TEST_F(Rp1210Test, OddNamesLowerTheCounterTheirConnectRaised) {
  EXPECT_EQ(Cmd(0, 1, {}), 129);
  Driver().status[2] = 2;  // the adapter's own J1939 bit: the library's bit is added to it
  const Bytes can = {5, 2, 3, 1, 0, 0, 1, 1};
  const struct {
    const char* name;
    const char* stored;
    Bytes with;  // status block bytes 0 to 7 while both clients are connected
  } rows[] = {{"J1708", "J1708", {5, 2, 3, 1, 1, 1, 0, 0}},
              {"J1708CAN", "J1708CA", can},
              {"HALDEXCAN", "HALDEXC", can},
              {"HALDEXIO", "HALDEXI", {5, 1, 3, 1, 0, 0, 0, 0}}};
  for (const auto& row : rows) {
    Driver().calls.clear();
    ASSERT_EQ(Connect("J1939"), 1) << row.name;  // stays while the odd client comes and goes
    ASSERT_EQ(Connect(row.name), 2) << row.name;
    EXPECT_STREQ(Ctx().slots[1].protocolName, row.stored);
    char block[16];
    ASSERT_EQ(RP1210_GetHardwareStatus(1, block, 16, 0), 0);
    EXPECT_EQ(Bytes(block, block + 8), row.with) << row.name;
    EXPECT_EQ(Cmd(0, 1, {}), row.with[1] > 1 ? 157 : 0) << row.name;

    ASSERT_EQ(RP1210_ClientDisconnect(2), 0) << row.name;
    ASSERT_EQ(RP1210_GetHardwareStatus(1, block, 16, 0), 0);
    EXPECT_EQ(Bytes(block, block + 8), (Bytes{5, 1, 3, 1, 0, 0, 0, 0})) << row.name;
    // A stored name with HALDEX holds no protocol the command path knows, so its disconnect
    // byte is refused there and nothing reaches the adapter; the close goes on.
    EXPECT_TRUE(Commands().empty()) << row.name;
    const auto restore = Driver().of("Restore_Hardware");
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_EQ(restore[0].protocol, row.stored);
    EXPECT_EQ(restore[0].flag, 1);

    ASSERT_EQ(RP1210_ClientDisconnect(1), 0) << row.name;
  }
}

TEST_F(Rp1210Test, HardwareStatusBlock) {
  char block[16];
  std::memset(block, 0x77, sizeof block);
  EXPECT_EQ(RP1210_GetHardwareStatus(1, block, 16, 0), 129);
  EXPECT_EQ(Bytes(block, block + 16), Bytes(16, 0));
  ASSERT_EQ(Connect("Device"), 1);
  Driver().status[2] = 2;
  ASSERT_EQ(RP1210_GetHardwareStatus(1, block, 16, 0), 0);
  EXPECT_EQ(Bytes(block, block + 16), (Bytes{5, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(RP1210_GetHardwareStatus(1, nullptr, 16, 0), 141);
  std::memset(block, 0x5A, sizeof block);
  EXPECT_EQ(RP1210_GetHardwareStatus(1, block, 15, 0), 141);  // too small for the block: untouched
  EXPECT_EQ(block[0], 0x5A);
  EXPECT_EQ(RP1210_GetHardwareStatus(1, block, 256, 0), 0);
}

// Both text calls per code: the result, then the text, its zero and nothing past it, or nothing
// written at all; the sub-error is -1 and the client id is not needed.
TEST(ErrorText, PerCode) {
  const struct {
    int16_t code, result;
    const char* text;
  } rows[] = {{0, 0, "ERR_Success"}, {128, 0, "ERR_DLL_NOT_INITIALIZED"}, {163, 0, "ERR_HARDWARE_STATUS_CHANGE"},
              {164, 155, nullptr}, {127, 155, nullptr}};
  for (const auto& row : rows) {
    for (const bool last : {false, true}) {
      char text[40];
      std::memset(text, 'z', sizeof text);
      int32_t sub = 7;
      EXPECT_EQ(last ? RP1210_GetLastErrorMsg(row.code, &sub, text, 9) : RP1210_GetErrorMsg(row.code, text),
                row.result) << row.code;
      std::string want = row.text != nullptr ? std::string(row.text) + '\0' : "";
      want.resize(sizeof text, 'z');
      EXPECT_EQ(std::string(text, sizeof text), want) << row.code;
      EXPECT_EQ(sub, last ? -1 : 7) << row.code;
    }
  }
  char text[81];
  EXPECT_EQ(RP1210_GetLastErrorMsg(129, nullptr, text, 9), 0);
  EXPECT_EQ(RP1210_GetLastErrorMsg(129, nullptr, nullptr, 1), 155);
}

TEST_F(Rp1210Test, VersionsAndIoctl) {
  char v[4][2] = {{'x', 'y'}, {'x', 'y'}, {'x', 'y'}, {'x', 'y'}};
  EXPECT_EQ(RP1210_ReadVersion(v[0], v[1], v[2], v[3]), 0);
  EXPECT_EQ(std::string({v[0][0], v[1][0], v[2][0], v[3][0]}), "\xB0" "a20");
  for (auto& c : v) EXPECT_EQ(c[1], 'y');
  EXPECT_EQ(RP1210_ReadVersion(nullptr, nullptr, nullptr, nullptr), 0);
  char texts[3][20];
  std::memset(texts, 'z', sizeof texts);
  EXPECT_EQ(RP1210_ReadDetailedVersion(1, texts[0], texts[1], texts[2]), 129);
  EXPECT_EQ(texts[0][0], 'z');
  ASSERT_EQ(Connect("J1939"), 1);
  ASSERT_EQ(RP1210_ReadDetailedVersion(1, texts[0], texts[1], texts[2]), 0);
  EXPECT_STREQ(texts[0], "2.0");  // as RP1210_ReadVersion's API characters
  EXPECT_STREQ(texts[2], "unknown");
  EXPECT_EQ(RP1210_ReadDetailedVersion(1, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(Driver().of("SendQVCommand").empty());

  uint8_t out[8];
  std::memset(out, 0x5A, sizeof out);
  EXPECT_EQ(RP1210_Ioctl(1, 3, out, out), 143);
  EXPECT_EQ(Bytes(out, out + 8), Bytes(8, 0x5A));
  EXPECT_EQ(RP1210_Ioctl(2, 1, nullptr, nullptr), 129);
}

// Command 45 writes the bus speed and its zero into the command buffer; nothing goes to the adapter.
TEST_F(Rp1210Test, ProtocolConnectionSpeedIsWrittenAsText) {
  ConnectEach({"J1939", "J1708", "CAN", "IO"});
  const struct {
    int16_t number, client, size, result;
    std::string text;
  } rows[] = {{45, 1, 17, 0, "250000"}, {45, 3, 17, 0, "250000"}, {45, 2, 5, 0, "9600"},
              {301, 2, 17, 0, "9600"},  {45, 2, 4, 141, ""},        {45, 4, 17, 143, ""}};
  for (const auto& row : rows) {
    char buf[20];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(RP1210_SendCommand(row.number, row.client, buf, row.size), row.result) << row.client << "/" << row.size;
    Bytes expected(row.text.c_str(), row.text.c_str() + row.text.size() + (row.result == 0));  // and its zero
    expected.resize(sizeof buf, 0x55);
    EXPECT_EQ(Bytes(buf, buf + sizeof buf), expected) << row.client << "/" << row.size;
  }
  EXPECT_EQ(RP1210_SendCommand(45, 1, nullptr, 17), 141);
  EXPECT_TRUE(Driver().calls.size() == Driver().of("Initialize_Hardware").size());
}
