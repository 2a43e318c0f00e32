// Device command layer: echo settings, filter state rules, adapter options, transport
// address, hardware status, version request. The filter rules run over a small sink so they
// can be checked without a port or threads.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::driver {

struct Device;

constexpr size_t kFilterListSize = 260;
constexpr size_t kJ1939EntrySize = 8;
constexpr size_t kEntriesPerMessage = 6;

// Per-library command state: zero at load, never reset by a close.
struct CommandState {
  uint8_t filterStateJ1708 = 0;
  uint8_t filterStateJ1939 = 0;
  uint8_t filterStateCan = 0;
  uint8_t j1939FilterList[kFilterListSize] = {};
  uint16_t j1939FilterCount = 0;  // bytes, whole entries only
  uint8_t canFilterList[kFilterListSize] = {};
  uint16_t canFilterCount = 0;
};

// Where the command layer's traffic goes. The device's own sink sends through the transmit path.
class CommandSink {
 public:
  virtual ~CommandSink() = default;
  virtual int acknowledged(uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) = 0;
  virtual int device(uint8_t protocol, uint8_t command, const uint8_t* data, size_t n) = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  // Echo settings live in the device (the receive path reads them).
  virtual void setEcho(uint8_t protocol, uint8_t value) = 0;
};

// Runs command K for protocol P and returns the command's own result (0, 137, 142, 144...).
// Data may be shorter than 8 bytes: the all-zero test reads only what is there (missing bytes
// count as zero).
int RunCommand(CommandState& s, CommandSink& sink, uint8_t protocol, uint8_t command,
               const uint8_t* data, size_t n);

// Clears a protocol's filters on the adapter (close and the filter rules). `partnerStays`:
// closing J1939 or CAN while a client of the other stays; the two share the adapter's code 2
// lists, so only what the closing one alone uses is cleared (CAN: its standard list; J1939:
// nothing), or the client that stays would stop receiving.
void ClearAdapterFilters(CommandSink& sink, uint8_t protocol, bool partnerStays = false);

// The adapter empties a side's filters when that side's protocol starts (code 1 J1708, code 2
// J1939 and CAN): what the driver remembers having sent there goes with them, so the next
// filter command is sent whole rather than skipped as already set.
void ForgetAdapterFilters(CommandState& s, uint8_t side);

// The filterState value after a filter command: 1 all-zero (the given bytes, at most 8),
// 2 other non-empty data, 3 no data.
uint8_t NextFilterState(const uint8_t* data, size_t n);

// Fills bytes 0 and 2..8 of a hardware status block.
void FillHardwareStatus(uint8_t j1939, uint8_t j1708, uint8_t can, uint8_t* status);

// The 8-byte version request frame handed to the writer by GetVersions. Its length field
// counts the four bytes it carries: a count of 5 would make the modem take the next frame's
// delimiter as this one's checksum and lose that frame.
constexpr uint8_t kVersionRequestFrame[8] = {0x7E, 0x00, 0x04, 0x02, 0x55, 0x00, 0x1B, 0x8D};

// The same over the device's transmit path; DeviceRunCommand returns the command's result.
int DeviceRunCommand(Device& d, uint8_t protocol, uint8_t command, const uint8_t* data, size_t n);
void DeviceClearFilters(Device& d, uint8_t protocol, bool partnerStays = false);
void DeviceForgetAdapterFilters(Device& d, uint8_t side);

// Entry-point bodies over the process-wide device.
int DeviceSendQVCommand(Device& d, uint8_t protocol, uint8_t command, const uint8_t* data, uint8_t n);
int DeviceSetTransportAddress(Device& d, uint8_t address);
int DeviceGetVersions(Device& d);
int DeviceGetHardwareStatus(Device& d, uint8_t* status);

}  // namespace qv::driver
