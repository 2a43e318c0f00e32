// Device command layer: the three commands handled here first (echo 52, filters 16, CAN
// filters 17) and the plain pass-through of every other command.
#include "commands.h"

#include <cstring>

#include "QV_API.h"
#include "context.h"
#include "device_protocol.h"
#include "qvlink/platform/clock.h"
#include "transmit.h"

namespace qv::driver {
namespace {

bool FirstEightZero(const uint8_t* data, size_t n) {
  // Only the bytes the caller gave are read; a shorter buffer counts as zero-padded.
  const size_t m = n < 8 ? n : 8;
  for (size_t i = 0; i < m; ++i)
    if (data[i] != 0) return false;
  return true;
}

bool ListHas(const uint8_t* list, size_t count, const uint8_t* entry) {
  for (size_t off = 0; off + kJ1939EntrySize <= count; off += kJ1939EntrySize)
    if (std::memcmp(list + off, entry, kJ1939EntrySize) == 0) return true;
  return false;
}

// Sends J1939 filter data as acknowledged commands 16 of at most six entries each.
int SendJ1939Filters(CommandSink& sink, const uint8_t* data, size_t n) {
  constexpr size_t kPerMessage = kEntriesPerMessage * kJ1939EntrySize;
  if (n <= kPerMessage) return sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_FILTER, data, n);
  int result = 0;
  for (size_t off = 0; off < n; off += kPerMessage) {
    const size_t part = n - off < kPerMessage ? n - off : kPerMessage;
    result = sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_FILTER, data + off, part);
  }
  return result;
}

int J1708Filters(CommandState& s, CommandSink& sink, const uint8_t* d, size_t n) {
  if (s.filterStateJ1708 == 1 && n != 0) ClearAdapterFilters(sink, QV_PROTOCOL_J1708);
  const int r = sink.acknowledged(QV_PROTOCOL_J1708, QV_CMD_FILTER, d, n);
  s.filterStateJ1708 = NextFilterState(d, n);
  return r;
}

int J1939Filters(CommandState& s, CommandSink& sink, const uint8_t* d, size_t n) {
  // Room for the entries that are new in this call (at most the list's capacity).
  uint8_t fresh[kFilterListSize];
  const uint8_t* sendData = d;
  size_t sendCount = n;
  if (n == 0 || (n == kJ1939EntrySize && FirstEightZero(d, n))) {
    s.j1939FilterCount = 0;
  } else if (s.j1939FilterCount > 0) {
    size_t freshCount = 0;
    bool anyNew = false;
    for (size_t off = 0; off + kJ1939EntrySize <= n; off += kJ1939EntrySize) {
      const uint8_t* e = d + off;
      if (ListHas(s.j1939FilterList, s.j1939FilterCount, e) || ListHas(fresh, freshCount, e)) continue;
      anyNew = true;
      if (s.j1939FilterCount + kJ1939EntrySize <= sizeof s.j1939FilterList) {
        std::memcpy(s.j1939FilterList + s.j1939FilterCount, e, kJ1939EntrySize);
        s.j1939FilterCount = static_cast<uint16_t>(s.j1939FilterCount + kJ1939EntrySize);
      }
      // An entry beyond the list's room is still sent: the adapter gets what was asked for.
      if (freshCount + kJ1939EntrySize <= sizeof fresh) {
        std::memcpy(fresh + freshCount, e, kJ1939EntrySize);
        freshCount += kJ1939EntrySize;
      }
    }
    if (!anyNew) return 0;
    sendData = fresh;
    sendCount = freshCount;
  } else {
    const size_t whole = n / kJ1939EntrySize * kJ1939EntrySize;
    const size_t keep = whole < sizeof s.j1939FilterList ? whole : sizeof s.j1939FilterList / kJ1939EntrySize * kJ1939EntrySize;
    std::memcpy(s.j1939FilterList, d, keep);
    s.j1939FilterCount = static_cast<uint16_t>(keep);
    if (s.filterStateJ1939 == 1 && n != 0) ClearAdapterFilters(sink, QV_PROTOCOL_J1939);
  }
  const int r = SendJ1939Filters(sink, sendData, sendCount);
  s.filterStateJ1939 = NextFilterState(d, n);
  return r;
}

int CanFilters(CommandState& s, CommandSink& sink, const uint8_t* d, size_t n) {
  const size_t keep = n < sizeof s.canFilterList ? n : sizeof s.canFilterList;
  std::memcpy(s.canFilterList, d, keep);
  s.canFilterCount = static_cast<uint16_t>(keep);
  if (s.filterStateCan == 1 && n != 0) ClearAdapterFilters(sink, QV_PROTOCOL_CAN);
  const int r = sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_CAN_FILTER, d, n);
  s.filterStateCan = NextFilterState(d, n);
  return r;
}

}  // namespace

uint8_t NextFilterState(const uint8_t* data, size_t n) {
  // An empty list carries no bytes to be zero (it comes as a null pointer): state 3, so the
  // next list is not taken for one after a pass-all and the start-up pass list survives.
  if (n == 0) return 3;
  return FirstEightZero(data, n) ? 1 : 2;
}

void ClearAdapterFilters(CommandSink& sink, uint8_t protocol, bool partnerStays) {
  // Command 16's lists and the pass list on code 2 serve J1939 and CAN alike: they are emptied
  // only when no client of the other stays.
  switch (protocol) {
    case QV_PROTOCOL_J1708:
      sink.acknowledged(QV_PROTOCOL_J1708, QV_CMD_FILTER, nullptr, 0);
      break;
    case QV_PROTOCOL_J1939:
      if (partnerStays) break;
      sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_FILTER, nullptr, 0);
      sink.device(QV_PROTOCOL_J1939, proto::kCmdPassList, nullptr, 0);
      break;
    case QV_PROTOCOL_CAN:
      if (!partnerStays) sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_FILTER, nullptr, 0);
      sink.acknowledged(QV_PROTOCOL_J1939, QV_CMD_CAN_FILTER, nullptr, 0);
      sink.sleepMs(2);
      break;
    default:
      break;
  }
}

void ForgetAdapterFilters(CommandState& s, uint8_t side) {
  if (side == QV_PROTOCOL_J1708) s.filterStateJ1708 = 0;
  if (side != QV_PROTOCOL_J1939) return;
  s.filterStateJ1939 = s.filterStateCan = 0;
  s.j1939FilterCount = s.canFilterCount = 0;
}

int RunCommand(CommandState& s, CommandSink& sink, uint8_t protocol, uint8_t command,
               const uint8_t* data, size_t n) {
  static const uint8_t kNone[1] = {0};
  if (data == nullptr) {
    data = kNone;
    n = 0;
  }
  if (command == QV_CMD_ECHO) {
    uint8_t v = n > 0 ? data[0] : 0;
    if (v >= 0x30) v = static_cast<uint8_t>(v - 0x30);
    switch (protocol) {
      case QV_PROTOCOL_J1708:
      case QV_PROTOCOL_J1939:
      case QV_PROTOCOL_CAN:
      case QV_PROTOCOL_IO:
        sink.setEcho(protocol, v);
        return 0;
      default:
        return ERR_INVALID_COMMAND;
    }
  }
  if (command == QV_CMD_FILTER && protocol == QV_PROTOCOL_J1708) return J1708Filters(s, sink, data, n);
  if (command == QV_CMD_FILTER && protocol == QV_PROTOCOL_J1939) return J1939Filters(s, sink, data, n);
  if (command == QV_CMD_CAN_FILTER && protocol == QV_PROTOCOL_J1939) return CanFilters(s, sink, data, n);
  return sink.device(protocol, command, data, n);
}

void FillHardwareStatus(uint8_t j1939, uint8_t j1708, uint8_t can, uint8_t* status) {
  status[0] = 5;  // byte 1 is the caller's
  status[2] = j1939;
  status[3] = 0;
  status[4] = j1708;
  status[5] = 0;
  status[6] = can;
  status[7] = 0;
  status[8] = 0;
}

namespace {

void FillRecord(MessageRecord& rec, uint8_t protocol, const uint8_t* data, size_t n) {
  rec.protocol = protocol;
  if (n > sizeof rec.body) n = sizeof rec.body;
  if (n > 0) std::memcpy(rec.body, data, n);
  rec.length = static_cast<uint32_t>(n);
}

class DeviceSink final : public CommandSink {
 public:
  explicit DeviceSink(Device& d) : d_(d) {}
  int acknowledged(uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) override {
    MessageRecord rec{};
    FillRecord(rec, protocol, data, n);
    return SendAcknowledgedCommand(d_, command, rec);
  }
  int device(uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) override {
    MessageRecord rec{};
    FillRecord(rec, protocol, data, n);
    return SendDeviceCommand(d_, command, rec);
  }
  void sleepMs(uint32_t ms) override { d_.seam->sleepMs(ms); }
  void setEcho(uint8_t protocol, uint8_t value) override {
    if (protocol == QV_PROTOCOL_J1708) d_.echoSettingJ1708.store(value);
    else if (protocol == QV_PROTOCOL_IO) d_.echoSettingIo.store(value);
    else d_.echoSettingJ1939.store(value);
  }

 private:
  Device& d_;
};

}  // namespace

int DeviceRunCommand(Device& d, uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) {
  DeviceSink sink(d);
  platform::LockGuard g(d.commandLock);
  return RunCommand(d.commands, sink, protocol, command, data, n);
}

void DeviceForgetAdapterFilters(Device& d, uint8_t side) {
  platform::LockGuard g(d.commandLock);
  ForgetAdapterFilters(d.commands, side);
}

void DeviceClearFilters(Device& d, uint8_t protocol, bool partnerStays) {
  DeviceSink sink(d);
  ClearAdapterFilters(sink, protocol, partnerStays);
}

int DeviceSendQVCommand(Device& d, uint8_t protocol, uint8_t command, const uint8_t* data, uint8_t n) {
  DeviceRunCommand(d, protocol, command, data, n);
  return 0;  // the outcome reaches the caller only through later traffic
}

int DeviceSetTransportAddress(Device& d, uint8_t address) {
  const uint8_t data[2] = {QV_OPT_TRANSPORT_ADDRESS, address};
  DeviceSink sink(d);
  sink.device(QV_PROTOCOL_J1939, QV_CMD_OPTION, data, sizeof data);
  return 0;
}

int DeviceGetVersions(Device& d) {
  OutgoingFrame f;
  f.protocol = QV_PROTOCOL_DEVICE;
  std::memcpy(f.frame, kVersionRequestFrame, sizeof kVersionRequestFrame);
  f.size = sizeof kVersionRequestFrame;
  return SendFrame(d, f);
}

int DeviceGetHardwareStatus(Device& d, uint8_t* status) {
  FillHardwareStatus(d.protocolStatusJ1939.load(), d.protocolStatusJ1708.load(), d.protocolStatusCan.load(), status);
  return 0;
}

}  // namespace qv::driver
