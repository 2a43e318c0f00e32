#include "commands.h"

#include <cstdio>
#include <cstring>

#include "clients.h"
#include "config.h"
#include "driver_binding.h"
#include "messages.h"
#include "trace_log.h"

namespace qv::rp1210 {
namespace {

// The application's bytes; anything past what it passed reads as 0, never past its buffer.
struct Bytes {
  const uint8_t* p;
  int n;
  uint8_t operator[](int i) const { return i >= 0 && i < n ? p[i] : 0; }
};

int Device(uint8_t code, uint8_t command, const uint8_t* data, int length) {
  if (!DriverBound()) return ERR_DLL_NOT_INITIALIZED;
  const Context& c = Ctx();
  return c.binding.api.sendQVCommand(c.deviceId, code, command, length > 0 ? data : nullptr,
                                     static_cast<uint8_t>(length));
}

int SendJ1708List(uint8_t code, uint8_t command) {
  const FilterLists& f = Ctx().filters;
  return Device(code, command, f.j1708, f.j1708Count * 6);
}

// RP1210 CAN filter entries are 9 bytes (type, mask, header), standard and extended alike.
constexpr int kCanFilterEntryBytes = 9;

int BuildCanLists(const Bytes& d) {
  FilterLists& f = Ctx().filters;
  int count = 0;
  for (int off = 0; off < d.n - 1; off += kCanFilterEntryBytes) {
    // An entry cut short would be completed with bytes the application never passed.
    if (off + kCanFilterEntryBytes > d.n) return ERR_MESSAGE_NOT_SENT;
    ++count;
  }
  if (count > kCanMaxEntries) return ERR_MAX_FILTERS_EXCEEDED;
  const bool standard = d[0] == 0;  // the first entry's type decides for the whole list
  uint8_t* list = standard ? f.canStd : f.canExt;
  for (int i = 0; i < count; ++i) {
    const int off = i * kCanFilterEntryBytes;
    uint8_t* e = list + i * 8;
    if (standard) {
      const uint8_t entry[8] = {0, 0, d[off + 7], d[off + 8], 0, 0, d[off + 3], d[off + 4]};
      std::memcpy(e, entry, 8);
    } else {
      for (int k = 0; k < 4; ++k) e[k] = d[off + 5 + k];
      for (int k = 0; k < 4; ++k) e[4 + k] = d[off + 1 + k];
    }
  }
  if (standard) {
    f.canStdCount = static_cast<uint8_t>(count);
    Device(QV_PROTOCOL_J1939, QV_CMD_CAN_FILTER, f.canStd, count * 8);
  } else {
    f.canExtCount = static_cast<uint8_t>(count);
    Device(QV_PROTOCOL_J1939, QV_CMD_FILTER, f.canExt, count * 8);
  }
  return 0;
}

// Commands that take the application's data bytes (19 only as a J1939 address claim).
bool ReadsData(uint8_t number) {
  switch (number) {
    case 4: case 5: case 7: case 14: case 15: case 16: case 18: case 23:
      return true;
    default:
      return false;
  }
}

int ClaimAddress(const ClientSlot& slot, const Bytes& d) {
  Context& c = Ctx();
  uint8_t msg[14] = {0x00, 0xEE, 0x00, 6, d[0], 0xFF};
  for (int i = 0; i < 8; ++i) msg[6 + i] = d[1 + i];
  c.claimedAddress = d[0];
  const int result = InternalSend(slot, msg, sizeof msg, 0);
  if (c.appPacketizing == 0 && DriverBound()) c.binding.api.setTransportAddress(c.deviceId, d[0]);
  return result;
}

// RP1210C Get_Protocol_Connection_Speed: the bus speed as text, written into the command buffer.
constexpr uint8_t kGetProtocolConnectionSpeed = 45;
constexpr int kSpeedTextMax = 17;

int ConnectionSpeed(const ClientSlot& slot, char* out, int16_t size) {
  const int code = CommandProtocolCode(slot.protocolName);
  if (code < 0) return ERR_INVALID_PROTOCOL;
  const char* speed = code == QV_PROTOCOL_J1708                              ? "9600"
                      : code == QV_PROTOCOL_J1939 || code == QV_PROTOCOL_CAN ? "250000"
                                                                             : nullptr;
  if (speed == nullptr) return ERR_COMMAND_NOT_SUPPORTED;  // no bus of its own
  const int needed = static_cast<int>(std::strlen(speed)) + 1;
  static_assert(sizeof "250000" <= kSpeedTextMax);
  if (out == nullptr || size < needed) return ERR_MESSAGE_TOO_LONG;  // as for a short status buffer
  std::memcpy(out, speed, static_cast<size_t>(needed));
  return 0;
}

}  // namespace

int CommandProtocolCode(const char* name) {
  if (Contains(name, "J1708")) return QV_PROTOCOL_J1708;
  if (Contains(name, "IO")) return QV_PROTOCOL_IO;
  if (Contains(name, "Device")) return QV_PROTOCOL_DEVICE;
  if (Contains(name, "VKL")) return QV_PROTOCOL_VKL;
  if (Contains(name, "J1939")) return QV_PROTOCOL_J1939;
  if (Contains(name, "CAN")) return QV_PROTOCOL_CAN;
  if (Contains(name, "Network")) return QV_PROTOCOL_NETWORK;
  return -1;
}

int SendJ1939FilterList(const uint8_t* data, int size) {
  const Bytes d{data, data != nullptr && size > 0 ? size : 0};
  int count = 0;
  for (int off = 0; off < d.n; off += 7) ++count;
  if (count > kJ1939MaxEntries) return ERR_MAX_FILTERS_EXCEEDED;
  FilterLists& f = Ctx().filters;
  f.j1939Count = 0;
  for (int off = 0; off < d.n; off += 7) {
    const uint8_t flags = d[off], p0 = d[off + 1], p1 = d[off + 2];
    const uint8_t priority = d[off + 4], source = d[off + 5], dest = d[off + 6];
    uint32_t mask = 0;
    if (flags & 0x01) mask = p1 < 240 ? 0x00FF0000u : 0x00FFFF00u;
    if (flags & 0x02) mask |= 0x1C000000u;
    if (flags & 0x04) mask |= 0x000000FFu;
    if (flags & 0x08) mask |= 0x0000FF00u;
    uint8_t* e = f.j1939 + f.j1939Count * 8;
    e[0] = (mask & 0x1C000000u) ? static_cast<uint8_t>((priority << 2) & 0x1C) : 0;
    e[1] = p1;
    if (p1 < 240 && ((mask >> 8) & 0xFF) == 0xFF)
      e[2] = dest;
    else if (p1 >= 240)
      e[2] = p0;
    else
      e[2] = 0;
    e[3] = (mask & 0xFF) == 0xFF ? source : 0;
    e[4] = static_cast<uint8_t>(mask >> 24);
    e[5] = static_cast<uint8_t>(mask >> 16);
    e[6] = static_cast<uint8_t>(mask >> 8);
    e[7] = static_cast<uint8_t>(mask);
    ++f.j1939Count;
  }
  Device(QV_PROTOCOL_J1939, QV_CMD_FILTER, f.j1939, f.j1939Count * 8);
  return 0;
}

int ForwardCommand(const ClientSlot& slot, int16_t nCommandNumber, const uint8_t* data, int16_t nMessageSize) {
  Context& c = Ctx();
  FilterLists& f = c.filters;
  const Bytes d{data, data != nullptr && nMessageSize > 0 ? nMessageSize : 0};
  const int code = CommandProtocolCode(slot.protocolName);
  if (code < 0) return ERR_INVALID_PROTOCOL;
  const uint8_t own = static_cast<uint8_t>(code);
  const bool isCan = code == QV_PROTOCOL_CAN, isJ1939 = code == QV_PROTOCOL_J1939,
             isJ1708 = code == QV_PROTOCOL_J1708;
  const uint8_t side = isCan ? static_cast<uint8_t>(QV_PROTOCOL_J1939) : own;  // CAN rides on the J1939 side
  const uint8_t number = static_cast<uint8_t>(nCommandNumber);
  const bool claim = isJ1939 && nCommandNumber == 19;
  // Bytes the application says it passed but did not: read as none, they would still change
  // the adapter's state (an empty filter list), so nothing is sent.
  if ((claim || ReadsData(number)) && (nMessageSize < 0 || (data == nullptr && nMessageSize > 0)))
    return ERR_MESSAGE_NOT_SENT;
  if (claim) return ClaimAddress(slot, d);

  static const uint8_t zeros[8] = {};
  switch (number) {
    case 0:
      return c.j1939Clients + c.j1708Clients + c.canClients > 1 ? ERR_MULTIPLE_CLIENTS_CONNECTED : 0;
    case 3:
      if (isCan) {
        f.canStdCount = f.canExtCount = 0;
        Device(QV_PROTOCOL_J1939, QV_CMD_CAN_FILTER, zeros, 4);
        return Device(QV_PROTOCOL_J1939, QV_CMD_FILTER, zeros, 8);
      }
      if (isJ1939) {
        f.j1939Count = 0;
        if (c.filterType == 1 && ApplyAppFilter() == 1) return 0;
        return Device(QV_PROTOCOL_J1939, QV_CMD_FILTER, zeros, 8);
      }
      if (isJ1708) {
        f.j1708Count = 0;
        return Device(QV_PROTOCOL_J1708, QV_CMD_FILTER, zeros, 6);
      }
      return Device(own, number, nullptr, 0);
    case 4:
      return SendJ1939FilterList(d.p, d.n) == ERR_MAX_FILTERS_EXCEEDED ? ERR_MAX_FILTERS_EXCEEDED : 0;
    case 5:
      return BuildCanLists(d);
    case 7: {
      if (d.n > kJ1708MaxEntries) return ERR_MAX_FILTERS_EXCEEDED;
      f.j1708Count = 0;
      for (int i = 0; i < d.n; ++i) {
        const uint8_t entry[6] = {d[i], 0xFF, 0, 0, 0, 0};
        std::memcpy(f.j1708 + f.j1708Count * 6, entry, 6);
        ++f.j1708Count;
      }
      return SendJ1708List(own, QV_CMD_FILTER);
    }
    case 14:
    case 23:
      // The device takes a one-byte length: a longer block would be cut without notice.
      if (d.n > 255) return ERR_MESSAGE_TOO_LONG;
      return Device(own, number, d.p, d.n);
    case 15: {
      const uint8_t mode = d[0];
      if (mode == 0 || mode == '0') {
        const uint8_t bytes[2] = {QV_OPT_J1708_MODE, 1};
        return Device(own, QV_CMD_OPTION, bytes, 2);
      }
      if (mode == 1 || mode == '1') {
        const uint8_t bytes[2] = {QV_OPT_J1708_MODE, 0};
        return Device(own, QV_CMD_OPTION, bytes, 2);
      }
      return Device(own, number, nullptr, 0);
    }
    case 16: {
      const uint8_t echo = d[0];
      return Device(side, QV_CMD_ECHO, &echo, 1);
    }
    case 17:
      if (isCan) {
        f.canStdCount = f.canExtCount = 0;
        Device(QV_PROTOCOL_J1939, QV_CMD_CAN_FILTER, nullptr, 0);
      }
      if (isCan || isJ1939) f.j1939Count = 0;
      if (isJ1708) f.j1708Count = 0;
      return Device(side, QV_CMD_FILTER, nullptr, 0);
    case 18:
      if (isJ1708 && d[0] == 1 && f.j1708Count > 0) SendJ1708List(QV_PROTOCOL_J1708, number);
      return 0;
    case 19:
      return 0;
    default:
      break;
  }
  if (number >= 80) return Device(own, number, nullptr, 0);
  // Standard numbers this adapter has no action for: say so instead of pretending success.
  return ERR_COMMAND_NOT_SUPPORTED;
}

int16_t SendCommand(int16_t nCommandNumber, int16_t nClientID, char* data, int16_t nMessageSize) {
  int result;
  const ClientSlot* slot = FindClient(nClientID);
  if (slot == nullptr)
    result = ERR_INVALID_CLIENT_ID;
  else if (static_cast<uint8_t>(nCommandNumber) == kGetProtocolConnectionSpeed)
    result = ConnectionSpeed(*slot, data, nMessageSize);  // the one command that writes its buffer
  else
    result = ForwardCommand(*slot, nCommandNumber, reinterpret_cast<const uint8_t*>(data), nMessageSize);
  if (TraceOn()) {
    char head[kCallHeadSize];
    std::snprintf(head, sizeof head, "TXCMD,ClientID=%d,CMD#=%d,Size=%d,RET=%d,CMD=", nClientID, nCommandNumber,
                  nMessageSize, result);
    WriteTraceCall(head, reinterpret_cast<const uint8_t*>(data), nMessageSize);
  }
  return static_cast<int16_t>(result);
}

}  // namespace qv::rp1210
