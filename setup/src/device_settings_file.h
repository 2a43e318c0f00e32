// The device entries of QV121032.ini that the setup program reads and rewrites:
// [VendorInformation] Devices and [DeviceInformation<n>] DeviceParams, in the Windows-directory
// copy and, when it is in use, the per-user VirtualStore copy.
#pragma once
#include <cstddef>
#include <cstdint>

#include "setup_state.h"

namespace qv::setup {

constexpr const char* kIniFileName = "QV121032.ini";
constexpr uint32_t kReadSize = 511;
constexpr size_t kMaxDevices = 99;
constexpr size_t kMaxPieceLength = 31;
constexpr size_t kMaxPortNameLength = 31;
constexpr int kControlDevice = 101;

// The fields of one DeviceParams value as scanned with "%s %u %u %u %u".
struct DeviceParams {
  char portName[kMaxPortNameLength + 1] = {};
  uint32_t field[4] = {};  // baudRate, rfAddress, lineFormat, rfChannel
  int scanned = 0;         // fields scanned, 0..5
};

// Scans a value (commas taken as spaces). Gives false, with nothing scanned, when the first
// field does not fit its buffer.
bool ScanDeviceParams(const char* value, DeviceParams& out);

// Takes a device list apart at every comma and space. Gives the number of devices, or -1 when
// the list holds more than kMaxDevices pieces. A piece longer than kMaxPieceLength gives
// device number -1, which no write uses.
int SplitDeviceList(const char* list, int* devices, size_t maxDevices);

// Start-up decision on the copies; WorkingFilePath points at "QV121032.ini" afterwards.
void DecideIniCopies(SetupState& s);
void PointAtWindowsCopy(SetupState& s);
void PointAtVirtualCopy(SetupState& s);

// What a rewrite of one device's DeviceParams came to.
enum class FieldWrite : uint8_t {
  Written,
  Skipped,  // no DeviceParams, or one that cannot be written back
  Failed,   // the file refused the write
};

// What a walk over one copy's device list came to, for the program's report.
struct ListWrite {
  bool hasList = false;  // the copy lists at least one device
  int written[kMaxDevices] = {};
  size_t writtenCount = 0;
  int skipped[kMaxDevices] = {};
  size_t skippedCount = 0;
  bool failed = false;
  bool Ok() const { return writtenCount > 0 && !failed; }
};

int Get_COM(SetupState& s, int device);               // 1..99, else 0
int8_t Read_Device_Channel(SetupState& s, int device);
FieldWrite Change_Device_Address(SetupState& s, int device, uint32_t address);
FieldWrite Change_Device_Channel(SetupState& s, int device, uint32_t channel);
// Writes the channel into every listed device of every copy in use; gives 1. `report`, when
// given, receives the outcome per copy: [0] the Windows-directory copy, [1] the per-user one.
int SetIniCH(SetupState& s, uint32_t channel, ListWrite* report = nullptr);

// Rewrites the address of every device listed in the working copy.
ListWrite ChangeAddressOfListedDevices(SetupState& s, uint32_t address);

}  // namespace qv::setup
