// Run-time binding to the driver library QV_API: loaded by bare name, ten entry points by name.
#pragma once
#include <cstdint>

#include "context.h"

namespace qv::rp1210 {

constexpr const char* kDriverLibraryName = "QV_API";

// Binds the driver for a device on portName; false when the port is not a COM port, the
// library cannot be loaded or one of the ten names is missing (the library is then released).
bool BindDriver(const char* portName, const char* libraryName = kDriverLibraryName);

// Releases one reference of the driver library.
void ReleaseDriver();

// True while the entry points may be called (a bind not yet released).
bool DriverBound();

// Unit tests install fake entry points here instead of loading a library; null restores loading.
void InstallTestDriver(const DriverApi* api);

}  // namespace qv::rp1210
