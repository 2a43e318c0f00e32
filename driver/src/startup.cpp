// Device start-up and shutdown behind Initialize_Hardware and Restore_Hardware.
#include "startup.h"

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "context.h"
#include "device_protocol.h"
#include "io_threads.h"
#include "qvlink/platform/clock.h"
#include "qvlink/platform/registry.h"
#include "receive.h"
#include "transmit.h"

namespace qv::driver {
namespace {

constexpr uint32_t kSettleMs = 1000;
constexpr uint32_t kStepMs = 5;
constexpr uint32_t kChannelMs = 10;
constexpr uint32_t kHandOverMs = 50;
constexpr uint32_t kCloseMs = 20;
constexpr uint32_t kVersionTries = 7;
constexpr uint32_t kVersionRetryMs = 15;
constexpr uint32_t kModemTries = 5;
constexpr uint32_t kModemFirstMs = 3;
constexpr uint32_t kWriteBusyPolls = 500;  // the writer clears writeBusy within 25 ms
constexpr uint32_t kCallerLeavePolls = 2000;  // callers leave within one 10 ms wait slice; a bound, not a pace
constexpr uint8_t kVersionQuery = 0x1B;
constexpr uint8_t kHandOverChannel = 12;

bool PortNameUsable(const char* name) {
  char copy[sizeof(DeviceSettings::portName) + 1];
  std::memcpy(copy, name, sizeof(DeviceSettings::portName));
  copy[sizeof(DeviceSettings::portName)] = 0;  // the caller's field need not be terminated
  return std::strstr(copy, "Com") != nullptr || std::strstr(copy, "COM") != nullptr;
}

void Sleep(Device& d, uint32_t ms) { d.seam->sleepMs(ms); }

int Command(Device& d, uint8_t protocol, uint8_t command, std::initializer_list<uint8_t> data) {
  MessageRecord rec{};
  rec.protocol = protocol;
  size_t i = 0;
  for (uint8_t b : data) rec.body[i++] = b;
  rec.length = static_cast<uint32_t>(i);
  return SendDeviceCommand(d, command, rec);
}

int CommandBytes(Device& d, uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) {
  MessageRecord rec{};
  rec.protocol = protocol;
  std::memcpy(rec.body, data, n);
  rec.length = static_cast<uint32_t>(n);
  return SendDeviceCommand(d, command, rec);
}

// Reads one Device message without blocking; returns its length (0: none).
uint32_t ReadDeviceMessage(Device& d, MessageRecord& rec) {
  std::memset(&rec, 0, sizeof rec);
  rec.protocol = QV_PROTOCOL_DEVICE;
  const int r = ReceiveMessage(d, rec);
  if (r <= 0) return 0;
  const uint32_t n = QvReturnedLength(&rec);
  return n <= QV_MESSAGE_RETURNED_DATA_MAX ? n : 0;
}

// The adapter's firmware version, fresh from a query; empty when it did not answer.
std::optional<uint16_t> QueryAdapterVersion(Device& d) {
  MessageRecord q{};
  q.protocol = QV_PROTOCOL_DEVICE;
  q.body[0] = kVersionQuery;
  q.length = 1;
  TransmitMessage(d, q);
  MessageRecord rec;
  for (uint32_t i = 0; i < kVersionTries; ++i) {
    const uint32_t n = ReadDeviceMessage(d, rec);
    if (n > 0) {
      if (auto v = ParseVersionReply(QvReturnedData(&rec), n)) return v;
    }
    Sleep(d, kVersionRetryMs);
  }
  return std::nullopt;
}

// No answer within the tries counts as a version below the threshold.
bool AdapterVersionAtLeast(Device& d, uint16_t threshold) {
  const auto v = QueryAdapterVersion(d);
  return v && *v >= threshold;
}

// The protocol start waits for the modem's report that the adapter's radio took the frame,
// with RF acknowledgement on or off: it is where a silent adapter shows, since a version
// reply may come too late on a slow link without the adapter being gone.
int StartProtocol(Device& d, uint8_t side) {
  const uint8_t data[1] = {QV_OPT_PROTOCOL_START};
  uint8_t payload[proto::kMaxTxPayload];
  const size_t n = proto::EncodeDeviceCommand(payload, sizeof payload, side, QV_CMD_OPTION, data, sizeof data);
  OutgoingFrame f;
  if (n == 0 || !MakeTxFrame(d, f, side, payload, n)) return ERR_MESSAGE_TOO_LONG;
  return SendFrameAndWait(d, f, true);
}

bool ModemAnswers(Device& d) {
  Command(d, QV_PROTOCOL_DEVICE, QV_CMD_MODEM, {proto::kModemQueryDh});
  Sleep(d, kModemFirstMs);
  MessageRecord rec;
  for (uint32_t i = 0; i < kModemTries; ++i) {
    const uint32_t n = ReadDeviceMessage(d, rec);
    if (n > 6 && QvReturnedData(&rec)[2] == 'D') return true;
    Sleep(d, 1);
  }
  return false;
}

uint8_t AdapterSide(uint8_t code) { return code == QV_PROTOCOL_CAN ? static_cast<uint8_t>(QV_PROTOCOL_J1939) : code; }

bool IsVehicleProtocol(uint8_t code) {
  return code == QV_PROTOCOL_J1708 || code == QV_PROTOCOL_J1939 || code == QV_PROTOCOL_CAN;
}

bool ChannelActedOn(uint8_t ch) { return ch >= 10 && ch <= 23; }

void SendLinkCounters(Device& d) {
  MessageRecord rec{};
  rec.protocol = QV_PROTOCOL_DEVICE;
  const uint16_t counters[5] = {d.rxFrameCount.load(), d.rxFrameErrorCount.load(), d.txMessageCount.load(), 0,
                                d.j1939RecordCount.load()};
  rec.body[0] = 0x00;  // message type
  for (size_t i = 0; i < 5; ++i) {
    rec.body[1 + 2 * i] = static_cast<uint8_t>(counters[i] & 0xFF);
    rec.body[2 + 2 * i] = static_cast<uint8_t>(counters[i] >> 8);
  }
  rec.length = 11;
  TransmitMessage(d, rec);
}

void Shutdown(Device& d) {
  d.openDeviceId.store(0);
  if (d.counterReport.load() && d.threadsRunning.load()) SendLinkCounters(d);
  StopThreadsAndTeardown(d);
  d.closingFlag.store(false);
}

uint8_t* AttachedCount(Device& d, uint8_t code) {
  d.openLock.assertHeld();
  if (code == QV_PROTOCOL_J1939) return &d.attachedJ1939;
  if (code == QV_PROTOCOL_CAN) return &d.attachedCan;
  return nullptr;
}

void Attach(Device& d, uint8_t code) {
  if (uint8_t* n = AttachedCount(d, code)) ++*n;
}

// Counts the client out; true when a client of the protocol sharing its adapter lists stays.
bool Detach(Device& d, uint8_t code) {
  uint8_t* n = AttachedCount(d, code);
  if (n == nullptr) return false;
  if (*n > 0) --*n;
  return *AttachedCount(d, code == QV_PROTOCOL_J1939 ? QV_PROTOCOL_CAN : QV_PROTOCOL_J1939) > 0;
}

// Steps 3-6 of the close, shared by Restore_Hardware and a failed start-up.
void CloseProtocol(Device& d, uint8_t deviceId, uint8_t code, bool keepOpen) {
  const bool partnerStays = Detach(d, code) && keepOpen;
  // J1939 and CAN read one queue: it is read the way the client that stays reads it.
  if (partnerStays) d.canMode.store(code == QV_PROTOCOL_J1939 ? 1 : 0);
  if (!keepOpen) d.attachedJ1939 = d.attachedCan = 0;
  if (d.threadsRunning.load()) {
    DeviceClearFilters(d, code, partnerStays);
    Sleep(d, kCloseMs);
    if (!keepOpen) {
      Command(d, QV_PROTOCOL_DEVICE, QV_CMD_MODEM, {proto::kModemReset});
      Sleep(d, kChannelMs);
    }
  }
  if (!keepOpen) Shutdown(d);
  ReleaseSlot(d.table, deviceId);
}

// Step 5: the adapter handshake. 0 on success, else the reason (134).
int Handshake(Device& d, const DeviceSettings& s, uint8_t code) {
  if (ChannelActedOn(s.rfChannel)) {
    Command(d, QV_PROTOCOL_DEVICE, QV_CMD_MODEM, {proto::kModemSetChannel, s.rfChannel});
    Sleep(d, kChannelMs);
  }
  Sleep(d, kSettleMs);
  if (s.rfAck == 1 || s.rfAck == 2) {
    const bool modem = ModemAnswers(d);
    if (s.rfAck == 2 || (modem && AdapterVersionAtLeast(d, 0x2217))) {
      Command(d, QV_PROTOCOL_DEVICE, QV_CMD_OPTION, {QV_OPT_RF_ACK, QV_OPT_RF_ACK_ON});
      d.rfAckEnabled.store(true);
    }
  }
  bool feature = false;
  if (AdapterVersionAtLeast(d, 0x3100)) {
    feature = !AdapterVersionAtLeast(d, 0x4000) || AdapterVersionAtLeast(d, 0x4100);
  }
  d.versionFeature.store(feature);

  const uint8_t side = AdapterSide(code);
  Sleep(d, kStepMs);
  if (StartProtocol(d, side) != 0) return ERR_INVALID_DEVICE;
  DeviceForgetAdapterFilters(d, side);
  Sleep(d, kStepMs);
  Command(d, side, QV_CMD_OPTION, {QV_OPT_PROTOCOL_MODE, QV_OPT_ON});
  Sleep(d, kStepMs);
  if (code == QV_PROTOCOL_J1708) Command(d, QV_PROTOCOL_J1708, QV_CMD_OPTION, {QV_OPT_J1708_MODE, 0x00});
  Sleep(d, kStepMs);
  int last = Command(d, QV_PROTOCOL_DEVICE, proto::kCmdStart30, {proto::kStart30Go});
  Sleep(d, 1);
  if (code == QV_PROTOCOL_J1708 || code == QV_PROTOCOL_NETWORK) {
    const uint8_t zeros[8] = {};
    last = DeviceRunCommand(d, code, QV_CMD_FILTER, zeros, 6);
    Sleep(d, 1);
  }
  if (last != 0) return ERR_INVALID_DEVICE;
  Sleep(d, kStepMs);
  d.txBlockType.store(s.txBlockType & 0xFF);
  d.counterReport.store(s.counterEnable != 0);
  if (code == QV_PROTOCOL_J1939) {
    static const uint8_t kPass[16] = {0x00, 0xEA, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00,
                                      0x00, 0xEE, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00};
    CommandBytes(d, QV_PROTOCOL_J1939, proto::kCmdPassList, kPass, sizeof kPass);
    d.canMode.store(0);
    if (s.packingType == 1) Command(d, QV_PROTOCOL_J1939, QV_CMD_OPTION, {QV_OPT_PACKING, QV_OPT_PACKING_ON});
  } else if (code == QV_PROTOCOL_CAN) {
    d.canMode.store(1);
    if (s.packingType == 1) Command(d, QV_PROTOCOL_J1939, QV_CMD_OPTION, {QV_OPT_PACKING, QV_OPT_PACKING_ON});
  }
  return 0;
}

// Steps 4.1-4.9: take a slot, open the port, start the threads. The new id, or 0 on failure
// (everything opened so far undone).
uint8_t OpenHardware(Device& d, const DeviceSettings& s, uint8_t code) {
  if (d.table.openCount >= kSlotCount || d.threadsRunning.load()) return 0;
  char name[sizeof s.portName + 1];
  std::memcpy(name, s.portName, sizeof s.portName);
  name[sizeof s.portName] = 0;
  const uint8_t id = TakeSlot(d.table, name);
  if (id == 0) return 0;
  bool ok = PortNameUsable(s.portName) && OpenPort(d, s) && CreateSharedObjects(d);
  if (ok) {
    // The queues are made empty before any thread can touch them.
    InitQueues(d);
    ok = StartThreads(d);
  }
  if (!ok) {
    StopThreadsAndTeardown(d);
    d.table.openCount = static_cast<uint8_t>(d.table.openCount + 1);  // ReleaseSlot counts it down
    ReleaseSlot(d.table, id);
    return 0;
  }
  d.rfAddress.store(static_cast<uint16_t>(s.rfAddress & 0xFFFF));
  {
    platform::LockGuard g(d.stateLock);
    std::memset(d.vklStrings, 0, sizeof d.vklStrings);
  }
  // Nothing of a previous open carries over into this one.
  d.rfAckEnabled.store(false);
  d.versionFeature.store(false);
  d.txBlockType.store(0);
  d.counterReport.store(false);
  d.canMode.store(code == QV_PROTOCOL_CAN ? 1 : 0);
  if (code == QV_PROTOCOL_J1708) d.protocolStatusJ1708.fetch_or(1);
  if (code == QV_PROTOCOL_J1939) d.protocolStatusJ1939.fetch_or(1);
  if (code == QV_PROTOCOL_CAN) d.protocolStatusCan.fetch_or(1);
  d.reconnectTime.store(s.reconnectTime);
  d.table.openCount = static_cast<uint8_t>(d.table.openCount + 1);
  d.openDeviceId.store(id);

  if (IsVehicleProtocol(code) && ChannelActedOn(s.rfChannel)) {
    Command(d, QV_PROTOCOL_DEVICE, QV_CMD_MODEM, {proto::kModemSetChannel, kHandOverChannel});
    Sleep(d, kChannelMs);
    Sleep(d, kHandOverMs);
    const uint16_t a = d.rfAddress.load();
    const uint8_t payload[14] = {0x00, 0x00, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a & 0xFF),
                                 s.rfChannel, 0x10, 0x00, 'Q', 'v', 'L', 'i', 'n', 'k', 0x00};
    CommandBytes(d, QV_PROTOCOL_VKL, proto::kCmdChannelHandOver, payload, sizeof payload);
    Sleep(d, kChannelMs);
  }
  return id;
}

}  // namespace

uint8_t TakeSlot(DeviceTable& t, const char* portName) {
  if (t.openCount >= kSlotCount) return 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (t.ids[i] != 0) continue;
    t.ids[i] = static_cast<uint8_t>((i + 1) | 0x80);
    std::memset(t.names[i], 0, kSlotNameSize);
    const size_t len = portName ? strnlen(portName, kSlotNameSize) : 0;
    if (len) std::memcpy(t.names[i], portName, len);
    return t.ids[i];
  }
  return 0;
}

void ReleaseSlot(DeviceTable& t, uint8_t id) {
  if (id == 0) return;
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (t.ids[i] != id) continue;
    t.ids[i] = 0;
    std::memset(t.names[i], 0xFF, kSlotNameSize);
    if (t.openCount > 0) t.openCount = static_cast<uint8_t>(t.openCount - 1);
    return;
  }
}

uint8_t ProtocolCodeOf(const char* name) {
  if (name == nullptr) return QV_PROTOCOL_DEVICE;
  static const struct {
    const char* text;
    uint8_t code;
  } kNames[] = {{"VKL", QV_PROTOCOL_VKL},   {"J1708", QV_PROTOCOL_J1708}, {"J1939", QV_PROTOCOL_J1939},
                {"CAN", QV_PROTOCOL_CAN},   {"Device", QV_PROTOCOL_DEVICE}, {"IO", QV_PROTOCOL_IO},
                {"Network", QV_PROTOCOL_NETWORK}};
  for (const auto& n : kNames)
    if (std::strstr(name, n.text) != nullptr) return n.code;
  return QV_PROTOCOL_DEVICE;
}

bool RegistryKeyFor(uint8_t deviceNumber, char* out, size_t outSize) {
  const int n = std::snprintf(out, outSize, "Software\\Morvane\\QV_Device\\Device%02u", static_cast<unsigned>(deviceNumber));
  return n > 0 && static_cast<size_t>(n) < outSize;
}

namespace {
bool ParseDecimal(const char* text, uint32_t& out) {
  uint64_t v = 0;
  size_t i = 0;
  while (text[i] == ' ') ++i;
  const size_t start = i;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  if (i == start) return false;
  out = static_cast<uint32_t>(v);
  return true;
}
}  // namespace

void ReadRegistrySettings(DeviceSettings& s) {
  char key[64];
  if (!RegistryKeyFor(s.deviceNumber, key, sizeof key)) return;
  char value[260];
  if (platform::ReadRegistryString(key, "Port", value, sizeof value) &&
      (std::strstr(value, "Com") != nullptr || std::strstr(value, "COM") != nullptr)) {
    std::memset(s.portName, 0, sizeof s.portName);
    std::memcpy(s.portName, value, strnlen(value, 4));
    uint32_t baud = 0;
    if (platform::ReadRegistryString(key, "Parameter1", value, sizeof value) && ParseDecimal(value, baud))
      s.baudRate = baud;
  }
  uint32_t address = 0;
  if (platform::ReadRegistryString(key, "RF Address", value, sizeof value) && ParseDecimal(value, address))
    s.rfAddress = address;
}

std::optional<uint16_t> ParseVersionReply(const uint8_t* data, size_t n) {
  if (n < 1) return std::nullopt;
  size_t rf = 0;
  if (data[0] == 0x81) rf = 5;
  else if (data[0] == 0x80) rf = 11;
  else return std::nullopt;
  if (n < rf + 4) return std::nullopt;
  const uint8_t* p = data + rf;
  const size_t m = n - rf;
  if ((p[1] & 0x7F) != kVersionQuery) return std::nullopt;
  // Two reply layouts are in the field: the query byte repeated after the type, or not.
  if (m >= 5 && p[2] == kVersionQuery) return static_cast<uint16_t>(p[3] << 8 | p[4]);
  return static_cast<uint16_t>(p[2] << 8 | p[3]);
}

int32_t OpenDevice(Device& d, DeviceSettings* settings, const char* protocol, uint8_t attach) {
  if (d.closingFlag.load()) return ERR_HARDWARE_NOT_RESPONDING;
  if (settings == nullptr) return ERR_INVALID_DEVICE;
  platform::LockGuard g(d.openLock);
  DeviceSettings& s = *settings;
  const bool handshake = s.deviceNumber == 0;
  if (!handshake) ReadRegistrySettings(s);
  const uint8_t code = ProtocolCodeOf(protocol);
  uint8_t id = 0;
  if (attach == 0) {
    id = OpenHardware(d, s, code);
    if (id == 0) return ERR_INVALID_DEVICE;
  } else {
    // A protocol can only be attached to a device that is open.
    if (!d.threadsRunning.load()) return ERR_INVALID_DEVICE;
    if (code == QV_PROTOCOL_J1708) d.protocolStatusJ1708.fetch_or(1);
    if (code == QV_PROTOCOL_J1939) d.protocolStatusJ1939.fetch_or(1);
    if (code == QV_PROTOCOL_CAN) d.protocolStatusCan.fetch_or(1);
  }
  Attach(d, code);
  if (handshake && Handshake(d, s, code) != 0) {
    if (attach == 0) {
      CloseProtocol(d, id, code, false);
    } else {
      // The device stays with the clients already attached to it.
      DeviceClearFilters(d, code, Detach(d, code));
      Sleep(d, kCloseMs);
    }
    return ERR_INVALID_DEVICE;
  }
  return attach == 0 ? id : 0;
}

int32_t CloseDevice(Device& d, uint8_t deviceId, const char* protocol, uint8_t keepOpen) {
  d.closingFlag.store(true);
  if (keepOpen == 0) {
    // The device goes (and the library may be unloaded next): every call still inside ends
    // its waits and leaves first. New calls see closingFlag and are refused.
    d.callersLeave.store(true);
    for (uint32_t i = 0; i < kCallerLeavePolls && d.callersInside.load() > 0; ++i) platform::SleepMs(1);
    d.callersLeave.store(false);
  }
  for (uint32_t i = 0; i < kWriteBusyPolls && d.writeBusy.load(); ++i) Sleep(d, 1);
  platform::LockGuard g(d.openLock);
  CloseProtocol(d, deviceId, ProtocolCodeOf(protocol), keepOpen != 0);
  d.closingFlag.store(false);
  return 0;
}

}  // namespace qv::driver
