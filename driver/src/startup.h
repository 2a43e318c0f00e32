// Device start-up and shutdown: the device table, the registry read, the adapter and modem
// handshake with its probes, and the close of a protocol or of the whole device.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include "QV_API.h"

namespace qv::driver {

struct Device;

constexpr size_t kSlotCount = 6;
constexpr size_t kSlotNameSize = 16;

// Six slots 1..6; a taken slot's id is its number with bit 7 set.
struct DeviceTable {
  uint8_t ids[kSlotCount] = {};
  uint8_t names[kSlotCount][kSlotNameSize] = {
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  uint8_t openCount = 0;
};

// Takes the first free slot for the port (first 16 bytes of the name); 0 when none is free.
uint8_t TakeSlot(DeviceTable& t, const char* portName);
// Frees the slot holding id; an id that no slot holds changes nothing.
void ReleaseSlot(DeviceTable& t, uint8_t id);

// Protocol name to code: "VKL", "J1708", "J1939", "CAN", "Device", "IO", "Network" in that
// order, case-sensitive substrings, first match wins; none (or no name): Device.
uint8_t ProtocolCodeOf(const char* name);

// "Software\Morvane\QV_Device\DeviceNN" (two digits at least). False when out is too small.
bool RegistryKeyFor(uint8_t deviceNumber, char* out, size_t outSize);
// Overwrites port name, baud rate and radio address from the registry. A missing key or value,
// or a number that does not parse, leaves that field as it was.
void ReadRegistrySettings(DeviceSettings& s);

// Parses the firmware version out of a Device message as Receive_Message delivers it (from the
// API identifier on). Empty when the message is not a version reply.
std::optional<uint16_t> ParseVersionReply(const uint8_t* data, size_t n);

// Entry-point bodies over a device.
int32_t OpenDevice(Device& d, DeviceSettings* settings, const char* protocol, uint8_t attach);
int32_t CloseDevice(Device& d, uint8_t deviceId, const char* protocol, uint8_t keepOpen);

}  // namespace qv::driver
