// The two INI files: QV121032.ini (device settings, options) and QvFilter.ini (per-application
// J1939 filters).
#pragma once
#include <cstddef>
#include <cstdint>

#include "QV_API.h"

namespace qv::rp1210 {

constexpr const char* kDeviceIniFile = "QV121032.ini";
constexpr const char* kFilterIniFile = "QvFilter.ini";
// The reader's default text: a value reading exactly this is absent.
constexpr const char* kAbsentText = "DEVICE NOT FOUND";
constexpr uint32_t kConfigValueSize = 64;
constexpr uint32_t kFilterValueSize = 50;
constexpr int kMaxApps = 5;
constexpr size_t kMaxAppNameChars = 39;

// Leading white space, optional sign, digits up to the first non-digit; no digits give 0.
// At most maxChars characters of text are looked at.
int32_t ParseDecimal(const char* text, size_t maxChars = SIZE_MAX);

// Parses a DeviceParams value into the settings' port, baud, address, format and channel.
// Returns false for a value the positional reading cannot take apart safely.
bool ParseDeviceParams(const char* value, DeviceSettings* settings);

// Fills settings from QV121032.ini for device n and sets up the trace log.
// Returns 0, ERR_INVALID_CLIENT_ID (an empty value) or ERR_INVALID_DEVICE.
int ReadDeviceConfig(int16_t n, DeviceSettings* settings);

// One parsed application of QvFilter.ini.
struct AppEntry {
  char name[kFilterValueSize];
  uint8_t filters[5][7];
};

struct AppTable {
  int count;
  AppEntry apps[kMaxApps];
};

// Reads QvFilter.ini; false when a key is present but empty or total is out of range.
bool ReadFilterFile(AppTable* table);

// Seven bytes from the fixed character positions 1-3, 5-7, ... 25-27 of an AppFilter value.
void ParseAppFilter(const char* value, uint8_t out[7]);

// True when a module whose name (longer than one character) occurs inside appName is loaded.
bool AppIsRunning(const char* appName);

// Hands the filters of every running configured application to the J1939 filter command.
// Returns 1 when at least one entry was applied, else 0.
int ApplyAppFilter();

}  // namespace qv::rp1210
