#include "clients.h"

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "config.h"
#include "driver_binding.h"
#include "trace_log.h"

namespace qv::rp1210 {
namespace {

const char* const kKnownProtocols[] = {"J1708", "J1939", "CAN", "VKL", "Network", "PWM",
                                       "ATEC",  "GMUART", "OBD", "IO",  "Haldex",  "Device"};

bool KnownProtocol(const char* protocol) {
  for (const char* name : kKnownProtocols)
    if (Contains(protocol, name)) return true;
  return false;
}

void FreeSlot(int index) { Ctx().slots[index] = ClientSlot{}; }

int CountSlotsOnPort(const char* portName) {
  int count = 0;
  for (const ClientSlot& slot : Ctx().slots)
    if (slot.clientId != 0 && Contains(slot.portName, portName)) ++count;
  return count;
}

// Lowers the counter this client's connect raised, whatever its stored name reads as now.
void UncountClient(CountedAs counted) {
  Context& c = Ctx();
  uint8_t* counter = counted == CountedAs::J1939   ? &c.j1939Clients
                     : counted == CountedAs::J1708 ? &c.j1708Clients
                     : counted == CountedAs::Can   ? &c.canClients
                                                   : nullptr;
  if (counter != nullptr && *counter > 0) --*counter;
}

int ConnectSteps(void* hwndClient, int16_t nDeviceID, const char* protocol, int16_t appPacketizing,
                 bool* configRead) {
  Context& c = Ctx();
  if (nDeviceID == 0) return ERR_INVALID_DEVICE;
  if (protocol == nullptr) return ERR_INVALID_PROTOCOL;  // nothing to match, nothing to trace

  DeviceSettings settings{};
  const int config = ReadDeviceConfig(nDeviceID, &settings);
  if (TraceOn()) {
    char line[kConnectLineSize];
    std::snprintf(line, sizeof line, "GetINI,DeviceID=%d,Protocol=%s, ret=%d", nDeviceID, protocol, config);
    WriteTraceLine(line);
  }
  if (config != 0) return config;
  *configRead = true;

  settings.notifyWindow = hwndClient;
  if (c.slots[kMaxClients - 1].clientId != 0) return ERR_CLIENT_AREA_FULL;
  if (!KnownProtocol(protocol)) return ERR_INVALID_PROTOCOL;

  uint8_t portOpen = 0;
  for (const ClientSlot& slot : c.slots) {
    if (slot.clientId == 0 || !Contains(slot.portName, settings.portName)) continue;
    if (Contains(slot.protocolName, protocol)) return ERR_CLIENT_ALREADY_CONNECTED;
    portOpen = 1;
  }

  if (!BindDriver(settings.portName)) return ERR_DLL_NOT_INITIALIZED;
  const int32_t init = c.binding.api.initializeHardware(&settings, protocol, portOpen);
  if (init == ERR_INVALID_DEVICE) return ERR_INVALID_DEVICE;
  c.filterType = settings.filterType;
  if (portOpen == 0) c.deviceId = static_cast<uint8_t>(init);

  c.appPacketizing = static_cast<uint8_t>(appPacketizing);

  int index = -1;
  for (int i = 0; i < kMaxClients; ++i) {
    if (c.slots[i].clientId == 0) {
      index = i;
      break;
    }
  }
  if (index < 0) return ERR_CLIENT_AREA_FULL;
  ClientSlot& slot = c.slots[index];
  std::memcpy(slot.portName, settings.portName, kSlotNameSize);
  slot.portName[kSlotNameSize - 1] = 0;
  std::memset(slot.protocolName, 0, sizeof slot.protocolName);
  std::strncpy(slot.protocolName, protocol, kStoredProtocolChars);
  slot.clientId = static_cast<uint8_t>(index + 1);
  slot.countedAs = CountedAs::None;
  slot.droppedReads = 0;

  const int id = index + 1;
  if (Contains(protocol, "CAN")) {
    ++c.canClients;
    slot.countedAs = CountedAs::Can;
    return id;
  }
  if (Contains(protocol, "VKL")) return id;
  if (Contains(protocol, "J1708")) {
    ++c.j1708Clients;
    slot.countedAs = CountedAs::J1708;
    return id;
  }
  if (Contains(protocol, "J1939")) {
    ++c.j1939Clients;
    slot.countedAs = CountedAs::J1939;
    return id;
  }
  if (Contains(protocol, "Device") || Contains(protocol, "Network") || Contains(protocol, "IO")) return id;

  // A protocol the driver cannot serve: the application never learns this id, so the slot
  // and the driver attachment are undone as a disconnect would.
  const uint8_t others = CountSlotsOnPort(slot.portName) > 1 ? 1 : 0;
  c.binding.api.restoreHardware(c.deviceId, slot.protocolName, others);
  if (others == 0) ReleaseDriver();
  FreeSlot(index);
  return ERR_INVALID_DEVICE;
}

}  // namespace

ClientSlot* FindClient(int16_t nClientID) {
  if (nClientID < 1 || nClientID > kMaxClients) return nullptr;
  ClientSlot& slot = Ctx().slots[nClientID - 1];
  return slot.clientId != 0 ? &slot : nullptr;
}

int16_t ClientConnect(void* hwndClient, int16_t nDeviceID, const char* protocol, int16_t appPacketizing) {
  bool configRead = false;
  const int result = ConnectSteps(hwndClient, nDeviceID, protocol, appPacketizing, &configRead);
  if (configRead && TraceOn()) {
    char line[kConnectLineSize] = {};
    std::snprintf(line, sizeof line, "ClientConnect,DeviceID=%d,Protocol=%s, ret=%d", nDeviceID, protocol, result);
    WriteTraceLine(line);
  }
  return static_cast<int16_t>(result);
}

int16_t ClientDisconnect(int16_t nClientID) {
  Context& c = Ctx();
  if (TraceOn()) {
    char line[kDisconnectLineSize];
    std::snprintf(line, sizeof line, "Disconnect,ClientID=%d", nClientID);
    WriteTraceLine(line);
  }
  ClientSlot* slot = FindClient(nClientID);
  if (slot == nullptr) return ERR_INVALID_CLIENT_ID;
  // The loss this library saw for the client, once more where a reader of the log looks last.
  // The driver's own queue drops have no way across its interface.
  if (slot->droppedReads != 0 && TraceOn()) {
    char line[kConnectLineSize];
    std::snprintf(line, sizeof line, "RXLOSS,ClientID=%d,Dropped=%u", nClientID,
                  static_cast<unsigned>(slot->droppedReads));
    WriteTraceLine(line);
  }

  if (DriverBound()) {
    const int onPort = CountSlotsOnPort(slot->portName);
    if (Contains(slot->protocolName, "HALDEX")) {
      const uint8_t byte = 0x11;
      ForwardCommand(*slot, 23, &byte, 1);
    }
    const uint8_t others = onPort > 1 ? 1 : 0;
    c.filters.j1708Count = 0;
    c.filters.j1939Count = 0;
    const int32_t restored = c.binding.api.restoreHardware(c.deviceId, slot->protocolName, others);
    if (others == 0) ReleaseDriver();
    if (restored != 0) return static_cast<int16_t>(restored);
  } else {
    // The driver was released by an earlier failed close: nothing left to call, just leave.
    c.filters.j1708Count = 0;
    c.filters.j1939Count = 0;
  }

  UncountClient(slot->countedAs);
  FreeSlot(nClientID - 1);
  if (c.j1939Clients == 0 && c.j1708Clients == 0 && c.canClients == 0) CloseTraceLog();
  return 0;
}

}  // namespace qv::rp1210
