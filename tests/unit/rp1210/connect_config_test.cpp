// Configuration reading, client table rules and the trace log.
#include <tuple>

#include "fake_env.h"

using namespace qvtest;

// The positional read: a port of at most 9 characters, baud and address of at most 9 digits read
// as far as they are digits, two characters of format, then the channel.
TEST(DeviceParams, PositionalFields) {
  const struct {
    const char* value;
    bool ok;
    const char* port = "";
    uint32_t baud = 0, address = 0;
    uint8_t format = 0, channel = 0;
  } rows[] = {
      {"COM4,115200,777,81,15", true, "COM4", 115200, 777, 81, 15},
      {"COM4,115200,777,81", true, "COM4", 115200, 777, 81, 0},
      {"COM4,115200,777,8,15", true, "COM4", 115200, 777, 8, 5},  // a one-character format shifts the channel
      {"COM12, 12abc,-3,81,2", true, "COM12", 12, static_cast<uint32_t>(-3), 81, 2},
      {"COM456789,115200000,777,81,15", true, "COM456789", 115200000, 777, 81, 15},
      {"COM4,115200,777", false},
      {"COM4115200", false},
      {"COM4567890,115200,777,81,15", false},  // a port of 10 characters
      {"COM4,1152000000,777,81,15", false},    // a number of 10 digits
  };
  for (const auto& row : rows) {
    DeviceSettings s{};
    ASSERT_EQ(qv::rp1210::ParseDeviceParams(row.value, &s), row.ok) << row.value;
    if (!row.ok) continue;
    EXPECT_EQ(std::tuple(std::string(s.portName), s.baudRate, s.rfAddress, s.lineFormat, s.rfChannel),
              std::tuple(std::string(row.port), row.baud, row.address, row.format, row.channel))
        << row.value;
  }
}

// Each row edits the default INI; the settings handed to the driver follow.
TEST_F(Rp1210Test, ConfigFillsEverySetting) {
  auto& ini = Files()["QV121032.ini"];
  const struct {
    const char* what;
    void (*edit)(std::map<std::string, std::map<std::string, std::string>>&);
    uint32_t reconnect, packing;
    uint8_t rfAck;
  } rows[] = {
      {"as written", [](auto&) {}, 30, 1, 2},
      {"an absent key reads 0", [](auto& i) { i.erase("Packing"); }, 30, 0, 2},
      {"Devices is a substring test", [](auto& i) { i["RFAck"]["Devices"] = "10,12"; }, 30, 1, 2},
      {"device 1 not in Devices", [](auto& i) { i["RFAck"]["Devices"] = "2,3"; }, 30, 1, 0},
      {"Devices absent: RFAck is not read", [](auto& i) { i["RFAck"].erase("Devices"); }, 30, 1, 0},
  };
  for (const auto& row : rows) {
    WriteDefaultIni();
    row.edit(ini);
    ASSERT_EQ(Connect("J1939"), 1) << row.what;
    const DeviceSettings s = Driver().of("Initialize_Hardware").back().settings;
    // The rest as written; CounterEnable 257 gives its low byte.
    EXPECT_EQ(std::tuple(s.reconnectTime, s.packingType, s.rfAck, s.deviceNumber, std::string(s.portName),
                         s.txBlockType, s.counterEnable, s.filterType),
              std::tuple(row.reconnect, row.packing, row.rfAck, 0u, std::string("COM4"), 2u, 1u, 0u))
        << row.what;
    ASSERT_EQ(RP1210_ClientDisconnect(1), 0);
  }
}

TEST_F(Rp1210Test, EmptyValueFailsWith129AndAbsentDeviceWith134) {
  auto& ini = Files()["QV121032.ini"];
  const char* keys[][2] = {{"ReconnectSettings", "ReconnectTime"}, {"Logging", "LoggingType"},
                           {"Packing", "PackingType"},             {"TXBlock", "TXBlockType"},
                           {"TXErrorCounters", "CounterEnable"},   {"RFAck", "Devices"},
                           {"RFAck", "RFAck"},                     {"Filter", "FilterType"},
                           {"DeviceInformation1", "DeviceParams"}};
  for (auto& k : keys) {
    WriteDefaultIni();
    ini[k[0]][k[1]] = "";
    EXPECT_EQ(Connect("J1939"), 129) << k[1];
  }
  WriteDefaultIni();
  ini["DeviceInformation1"]["DeviceParams"] = "DEVICE NOT FOUND";  // reads as absent
  EXPECT_EQ(Connect("J1939"), 134);
  ini["DeviceInformation1"]["DeviceParams"] = "COM4,115200";  // too few fields
  EXPECT_EQ(Connect("J1939"), 134);
  EXPECT_EQ(Connect("J1939", 0), 134);
  EXPECT_TRUE(Driver().calls.empty());
}

TEST_F(Rp1210Test, SectionNameUsesFirstThreeDigits) {
  Files()["QV121032.ini"]["DeviceInformation123"]["DeviceParams"] = "COM7,9600,1,81,12";
  ASSERT_EQ(Connect("J1939", 12345), 1);
  EXPECT_STREQ(Driver().of("Initialize_Hardware")[0].settings.portName, "COM7");
}

TEST_F(Rp1210Test, ProtocolNamesAndTheAttachFlag) {
  EXPECT_EQ(Connect("Foo"), 136);
  EXPECT_EQ(Connect(nullptr), 136);
  EXPECT_EQ(Connect("j1939"), 136);  // case-sensitive
  EXPECT_EQ(Connect("J1939:Baud=250"), 1);
  EXPECT_EQ(Connect("J1939:Baud=250"), 2);  // only 7 characters are kept: J1939:B
  EXPECT_EQ(Connect("J1939"), 130);  // "J1939:B" contains the whole of "J1939"
  EXPECT_EQ(Connect("J1708"), 3);
  auto init = Driver().of("Initialize_Hardware");
  ASSERT_EQ(init.size(), 3u);
  EXPECT_EQ(init[0].flag, 0);
  for (size_t i = 1; i < init.size(); ++i) EXPECT_EQ(init[i].flag, 1);
  EXPECT_EQ(init[0].protocol, "J1939:Baud=250");  // the whole string goes to the driver
}

TEST_F(Rp1210Test, ProtocolPassingOnlyTheNameTestIsUndone) {
  EXPECT_EQ(Connect("ATEC"), 134);
  EXPECT_EQ(Driver().of("Initialize_Hardware").size(), 1u);
  auto restore = Driver().of("Restore_Hardware");
  ASSERT_EQ(restore.size(), 1u);
  EXPECT_EQ(restore[0].flag, 0);
  EXPECT_EQ(Ctx().binding.references, 0u);
  EXPECT_EQ(Connect("J1939"), 1);  // the slot was given back
}

TEST_F(Rp1210Test, TenSlotsAndTheSlotTenRule) {
  const char* names[] = {"J1939", "J1708", "CAN", "Device", "IO", "Network", "VKL",
                         "J1939:Baud=250", "J1939:Baud=500", "J1939:Baud=Auto"};
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Connect(names[i]), i + 1) << names[i];
  EXPECT_EQ(Connect("J1939:X"), 131);
  ASSERT_EQ(RP1210_ClientDisconnect(3), 0);
  EXPECT_EQ(Connect("CAN"), 131);  // slot 10 still taken
  ASSERT_EQ(RP1210_ClientDisconnect(10), 0);
  EXPECT_EQ(Connect("CAN"), 3);  // lowest free slot
  EXPECT_EQ(Connect("J1939:Z"), 10);
}

TEST_F(Rp1210Test, DisconnectRules) {
  EXPECT_EQ(RP1210_ClientDisconnect(0), 129);
  EXPECT_EQ(RP1210_ClientDisconnect(11), 129);
  EXPECT_EQ(RP1210_ClientDisconnect(1), 129);
  ConnectEach({"J1939", "J1708"});
  ASSERT_EQ(RP1210_ClientDisconnect(1), 0);
  ASSERT_EQ(RP1210_ClientDisconnect(2), 0);
  auto restore = Driver().of("Restore_Hardware");
  ASSERT_EQ(restore.size(), 2u);
  EXPECT_EQ(restore[0].deviceId, 0x81);
  EXPECT_EQ(restore[1].flag, 0);
  EXPECT_EQ(Ctx().binding.references, 1u);  // two binds, one release
  Driver().initResult = 0x82;
  ASSERT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(Driver().of("Initialize_Hardware").back().flag, 0);
  EXPECT_EQ(Ctx().deviceId, 0x82);
}

TEST_F(Rp1210Test, FailedCloseKeepsTheSlotAndNeverCallsTheReleasedDriver) {
  ASSERT_EQ(Connect("J1939"), 1);
  Driver().restoreResult = 142;
  EXPECT_EQ(RP1210_ClientDisconnect(1), 142);
  EXPECT_EQ(Ctx().slots[0].clientId, 1);
  EXPECT_EQ(Ctx().binding.references, 0u);
  const size_t before = Driver().calls.size();
  const char msg[] = {0, (char)0xEA, 0, 6, 0, 0, 1, 2, 3};
  EXPECT_EQ(RP1210_SendMessage(1, msg, sizeof msg, 0, 0), 128);
  char buf[64];
  EXPECT_EQ(RP1210_ReadMessage(1, buf, sizeof buf, 0), 128);
  EXPECT_EQ(RP1210_SendCommand(16, 1, buf, 1), 128);
  EXPECT_EQ(RP1210_GetHardwareStatus(1, buf, 16, 0), 128);
  EXPECT_EQ(RP1210_ClientDisconnect(1), 0);  // leaves without the driver
  EXPECT_EQ(Driver().calls.size(), before);
  EXPECT_EQ(Ctx().slots[0].clientId, 0);
}

TEST_F(Rp1210Test, BindRefusesPortsWithoutCom) {
  Files()["QV121032.ini"]["DeviceInformation1"]["DeviceParams"] = "com4,115200,777,81,15";
  EXPECT_EQ(Connect("J1939"), 128);
  Files()["QV121032.ini"]["DeviceInformation1"]["DeviceParams"] = "Com4,115200,777,81,15";
  EXPECT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(Driver().of("Initialize_Hardware").size(), 1u);
}

TEST_F(Rp1210Test, InitializeRefusalIs134AndKeepsTheReference) {
  Driver().initResult = 134;
  EXPECT_EQ(Connect("J1939"), 134);
  EXPECT_EQ(Ctx().binding.references, 1u);
  EXPECT_EQ(Ctx().slots[0].clientId, 0);
}

// Trace log

TEST_F(Rp1210Test, TraceLogFormatsAreExact) {
  LogToFile();
  ASSERT_EQ(Connect("J1939"), 1);
  const char msg[] = {(char)0xCA, (char)0xFE, 0, 6, (char)0xF9, (char)0xFF, 0x05, (char)0xAB};
  RP1210_SendMessage(1, msg, sizeof msg, 0, 1);
  char cmd[1] = {1};
  RP1210_SendCommand(16, 1, cmd, 1);
  char block[16];
  Driver().status[2] = 2;
  RP1210_GetHardwareStatus(1, block, 16, 0);
  RP1210_ReadMessage(1, block, 16, 0);  // nothing waiting: no line
  std::memset(block, 0x0C, sizeof block);
  RP1210_ReadMessage(7, block, 16, 0);
  RP1210_ClientDisconnect(12);
  EXPECT_EQ(ReadLog(),
            "VKL LOG File\n3-7-2026  9:5:4\n"
            "1a2b\nGetINI,DeviceID=1,Protocol=J1939, ret=0\n"
            "1a2b\nClientConnect,DeviceID=1,Protocol=J1939, ret=1\n"
            "1a2b\nSendMSG,ClientID=1,Block=1,Size=8,RET=0,MSG=ca fe 0 6 f9 ff 5 ab \n"
            "1a2b\nTXCMD,ClientID=1,CMD#=16,Size=1,RET=0,CMD=1 \n"
            "1a2b\nGetHardwareStatus,ClientID=1,RET=0,Hardware=5,J1708=0,J1939=3\n"
            "1a2b\nRXMSG,ClientID=7,Block=0,Size=16,Ret=129,MSG=c c c c c c c c c c c c c c c c \n"
            "1a2b\nDisconnect,ClientID=12\n");
}

TEST_F(Rp1210Test, TraceLogModesAndClosing) {
  auto& ini = Files()["QV121032.ini"];
  ini["Logging"]["FileName"] = logPath;
  ini["Logging"]["LoggingType"] = "2";
  ini["Logging"]["Socket"] = "5000";
  ASSERT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(ReadLog(), "");
  ini["Logging"]["LoggingType"] = "4";
  ini["Logging"].erase("Socket");
  ASSERT_EQ(Connect("J1708"), 2);
  EXPECT_EQ(ReadLog(), "VKL LOG File\n3-7-2026  9:5:4\n");  // header, then nothing
  ini["Logging"]["LoggingType"] = "1";
  ini["Logging"]["FileName"] = "/nonexistent-dir/x.log";
  EXPECT_EQ(Connect("CAN"), 3);  // a log that cannot open never fails the call
  EXPECT_EQ(Ctx().log.mode, 0);
  ini["Logging"]["FileName"] = logPath;
  ASSERT_EQ(Connect("Device"), 4);
  ASSERT_EQ(Connect("J1939:B2"), 5);  // second header
  ASSERT_EQ(RP1210_ClientDisconnect(1), 0);
  ASSERT_EQ(RP1210_ClientDisconnect(2), 0);
  ASSERT_EQ(RP1210_ClientDisconnect(3), 0);
  ASSERT_EQ(RP1210_ClientDisconnect(5), 0);  // last J1939/J1708/CAN client: the log closes
  EXPECT_EQ(Ctx().log.file, nullptr);
  ASSERT_EQ(RP1210_ClientDisconnect(4), 0);
  const std::string log = ReadLog();
  size_t headers = 0;
  for (size_t at = log.find("VKL LOG File"); at != std::string::npos; at = log.find("VKL LOG File", at + 1))
    ++headers;
  EXPECT_EQ(headers, 3u);
  EXPECT_NE(log.find("Disconnect,ClientID=5\n"), std::string::npos);
  EXPECT_EQ(log.find("Disconnect,ClientID=4"), std::string::npos);
}

TEST_F(Rp1210Test, LongTraceLinesAreCut) {
  LogToFile();
  const std::string longName = "J1939" + std::string(200, 'x');
  ASSERT_EQ(Connect(longName.c_str()), 1);
  const std::vector<char> big(1500, 0x7f);
  RP1210_SendMessage(1, big.data(), static_cast<int16_t>(big.size()), 0, 0);
  const std::string log = ReadLog();
  const size_t at = log.find("GetINI");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find('\n', at) - at, 99u);  // 100-character line buffer
  const size_t dump = log.find("MSG=", log.find("SendMSG"));
  ASSERT_NE(dump, std::string::npos);
  EXPECT_EQ(log.find('\n', dump) - dump - 4, 599u * 3);  // whole bytes only, as many as the dump holds
}
