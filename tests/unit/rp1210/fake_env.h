// Test doubles: an in-memory profile store, a recording driver, a fixed clock; the one header
// the library's unit tests include.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "QV121032.h"
#include "QV_API.h"
#include "config.h"
#include "context.h"

namespace qvtest {

using qv::rp1210::Ctx;

using Bytes = std::vector<uint8_t>;

// The parts one after another.
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct DriverCall {
  std::string name;
  uint8_t deviceId = 0;
  std::string protocol{};
  uint8_t flag = 0;  // attach / keepOpen
  uint8_t protocolCode = 0;
  uint8_t command = 0;
  Bytes data{};
  MessageRecord record{};
  DeviceSettings settings{};
};

struct FakeDriver {
  std::vector<DriverCall> calls;
  int32_t initResult = 0x81;
  int32_t restoreResult = 0;
  int32_t transmitResult = 0;
  int32_t receiveError = 0;  // returned (with nothing delivered) instead of the inbox
  // Messages handed out by Receive_Message, in order: returned data and echo flag.
  std::vector<std::pair<Bytes, uint8_t>> inbox;
  uint8_t status[16] = {5, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<DriverCall> of(const std::string& name) const;
};

FakeDriver& Driver();

// [file][section][key] = value; a missing entry reads as the reader's default text.
using Profile = std::map<std::string, std::map<std::string, std::map<std::string, std::string>>>;
Profile& Files();

// Modules reported as loaded in running processes.
std::vector<std::string>& Modules();

// A complete, valid QV121032.ini for device 1 on COM4.
void WriteDefaultIni();

class Rp1210Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  int16_t Connect(const char* protocol, int16_t device = 1, int16_t packetizing = 0);
  // Connects each protocol on device 1, expecting client ids 1, 2, 3... in order.
  void ConnectEach(std::initializer_list<const char*> protocols);
  // Turns the trace log on, written to logPath.
  void LogToFile();
  std::string logPath;
  std::string ReadLog() const;
};

}  // namespace qvtest
