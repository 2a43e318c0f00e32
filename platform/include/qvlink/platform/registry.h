// Registry, read only, below HKEY_LOCAL_MACHINE.
// POSIX: file registry.ini in the profile directory; section = key path
// (e.g. Software\Morvane\QV_Device\Device01), key = value name.
#pragma once
#include <cstdint>

namespace qv::platform {

// Reads a string value into buf (terminated, cut to bufSize - 1). Returns false when the key
// or the value is missing.
bool ReadRegistryString(const char* keyPath, const char* valueName, char* buf, uint32_t bufSize);

}  // namespace qv::platform
