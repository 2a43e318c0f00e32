#include "fake_env.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "QV121032.h"
#include "driver_binding.h"

namespace qvtest {
namespace {

FakeDriver g_driver;
Profile g_files;
std::vector<std::string> g_modules;

int32_t QV_STDCALL FakeInit(DeviceSettings* s, const char* protocol, uint8_t attach) {
  g_driver.calls.push_back({.name = "Initialize_Hardware", .protocol = protocol, .flag = attach, .settings = *s});
  return attach ? 0 : g_driver.initResult;
}
int32_t QV_STDCALL FakeRestore(uint8_t id, const char* protocol, uint8_t keepOpen) {
  g_driver.calls.push_back({.name = "Restore_Hardware", .deviceId = id, .protocol = protocol, .flag = keepOpen});
  return g_driver.restoreResult;
}
int32_t QV_STDCALL FakeTransmit(uint8_t id, MessageRecord* r) {
  g_driver.calls.push_back({.name = "Transmit_Message", .deviceId = id, .record = *r});
  return g_driver.transmitResult;
}
int32_t QV_STDCALL FakeReceive(uint8_t id, MessageRecord* r) {
  g_driver.calls.push_back({.name = "Receive_Message", .deviceId = id, .record = *r});
  QvSetReturnedLength(r, 0);
  if (g_driver.receiveError) return g_driver.receiveError;
  if (g_driver.inbox.empty()) return 0;
  auto [data, echo] = g_driver.inbox.front();
  g_driver.inbox.erase(g_driver.inbox.begin());
  std::memcpy(QvReturnedData(r), data.data(), data.size());
  QvSetReturnedLength(r, static_cast<uint32_t>(data.size()));
  r->echoFlag = echo;
  return static_cast<int32_t>(data.size());
}
int32_t QV_STDCALL FakeCommand(uint8_t id, uint8_t code, uint8_t command, const uint8_t* data, uint8_t length) {
  g_driver.calls.push_back({.name = "SendQVCommand", .deviceId = id, .protocolCode = code, .command = command,
                            .data = length > 0 ? Bytes(data, data + length) : Bytes()});
  return 0;
}
int32_t QV_STDCALL FakeStub(int32_t, int32_t) { return 135; }
int32_t QV_STDCALL FakeVersions(uint8_t, void*) { return 0; }
int32_t QV_STDCALL FakeStatus(uint8_t id, uint8_t* block) {
  g_driver.calls.push_back({.name = "GetHardwareStatus", .deviceId = id});
  std::memcpy(block, g_driver.status, sizeof g_driver.status);
  return 0;
}
int32_t QV_STDCALL FakeTransport(uint8_t, MessageRecord*) { return 0; }
int32_t QV_STDCALL FakeSetAddress(uint8_t id, uint8_t address) {
  g_driver.calls.push_back({.name = "Set_Transport_Address", .deviceId = id, .data = {address}});
  return 0;
}

const qv::rp1210::DriverApi kFakeApi{&FakeInit,   &FakeRestore,  &FakeTransmit, &FakeReceive,   &FakeCommand,
                                     &FakeStub,   &FakeVersions, &FakeStatus,   &FakeTransport, &FakeSetAddress};

uint32_t FakeProfile(const char* section, const char* key, const char* def, char* buf, uint32_t size,
                     const char* file) {
  std::string value = def;
  if (auto f = g_files.find(file); f != g_files.end())
    if (auto s = f->second.find(section); s != f->second.end())
      if (auto k = s->second.find(key); k != s->second.end()) value = k->second;
  if (size == 0) return 0;
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buf, value.data(), n);
  buf[n] = 0;
  return static_cast<uint32_t>(n);
}

bool FakeModules(qv::platform::ModuleVisitor visit, void* context) {
  for (const auto& m : g_modules)
    if (visit(m.c_str(), context)) return true;
  return false;
}

uint32_t FakeTick() { return 0x1A2B; }
qv::platform::LocalTime FakeNow() { return {2026, 3, 7, 9, 5, 4, 0}; }

}  // namespace

std::vector<DriverCall> FakeDriver::of(const std::string& name) const {
  std::vector<DriverCall> out;
  for (const auto& c : calls)
    if (c.name == name) out.push_back(c);
  return out;
}

FakeDriver& Driver() { return g_driver; }
Profile& Files() { return g_files; }
std::vector<std::string>& Modules() { return g_modules; }

void WriteDefaultIni() {
  auto& ini = g_files["QV121032.ini"];
  ini["DeviceInformation1"]["DeviceParams"] = "COM4,115200,777,81,15";
  ini["ReconnectSettings"]["ReconnectTime"] = "30";
  ini["Logging"]["LoggingType"] = "0";
  ini["Packing"]["PackingType"] = "1";
  ini["TXBlock"]["TXBlockType"] = "2";
  ini["TXErrorCounters"]["CounterEnable"] = "257";
  ini["RFAck"]["Devices"] = "1";
  ini["RFAck"]["RFAck"] = "2";
  ini["Filter"]["FilterType"] = "0";
}

void Rp1210Test::SetUp() {
  qv::rp1210::InstallTestDriver(&kFakeApi);
  qv::rp1210::ResetContext();
  auto& s = qv::rp1210::Ctx().services;
  s.readProfile = &FakeProfile;
  s.visitModules = &FakeModules;
  s.tick = &FakeTick;
  s.localTime = &FakeNow;
  g_driver = FakeDriver{};
  g_files.clear();
  g_modules.clear();
  WriteDefaultIni();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  logPath = std::string(::testing::TempDir()) + "rp1210_" + info->name() + "_" + std::to_string(getpid()) + ".log";
  std::remove(logPath.c_str());
}

void Rp1210Test::TearDown() {
  qv::rp1210::ResetContext();
  qv::rp1210::InstallTestDriver(nullptr);
  std::remove(logPath.c_str());
}

int16_t Rp1210Test::Connect(const char* protocol, int16_t device, int16_t packetizing) {
  return RP1210_ClientConnect(nullptr, device, protocol, 0, 0, packetizing);
}

void Rp1210Test::ConnectEach(std::initializer_list<const char*> protocols) {
  int16_t id = 0;
  for (const char* p : protocols) ASSERT_EQ(Connect(p), ++id) << p;
}

void Rp1210Test::LogToFile() {
  g_files["QV121032.ini"]["Logging"]["LoggingType"] = "1";
  g_files["QV121032.ini"]["Logging"]["FileName"] = logPath;
}

std::string Rp1210Test::ReadLog() const {
  if (qv::rp1210::Ctx().log.file != nullptr) std::fflush(qv::rp1210::Ctx().log.file);
  std::ifstream in(logPath, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace qvtest
