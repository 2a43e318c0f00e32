#include "driver_binding.h"

#include "qvlink/platform/dynamic_library.h"

namespace qv::rp1210 {
namespace {

template <typename Fn>
bool Look(void* library, const char* name, Fn* out) {
  void* symbol = qv::platform::FindLibrarySymbol(library, name);
  if (symbol == nullptr) return false;
  *out = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

bool BindDriver(const char* portName, const char* libraryName) {
  if (!Contains(portName, "Com") && !Contains(portName, "COM")) return false;
  DriverBinding& b = Ctx().binding;
  if (b.testApi != nullptr) {
    b.api = *b.testApi;
    ++b.references;
    return true;
  }
  void* library = qv::platform::LoadLibraryByName(libraryName);
  if (library == nullptr) return false;
  DriverApi api{};
  const bool all = Look(library, "Initialize_Hardware", &api.initializeHardware) &&
                   Look(library, "Restore_Hardware", &api.restoreHardware) &&
                   Look(library, "Transmit_Message", &api.transmitMessage) &&
                   Look(library, "Receive_Message", &api.receiveMessage) &&
                   Look(library, "SendQVCommand", &api.sendQVCommand) &&
                   Look(library, "ConfigureVKL", &api.configureVKL) &&
                   Look(library, "GetVersions", &api.getVersions) &&
                   Look(library, "GetHardwareStatus", &api.getHardwareStatus) &&
                   Look(library, "Receive_Transport_Message", &api.receiveTransportMessage) &&
                   Look(library, "Set_Transport_Address", &api.setTransportAddress);
  if (!all) {
    qv::platform::FreeLibraryHandle(library);
    return false;
  }
  b.library = library;
  b.api = api;
  ++b.references;
  return true;
}

void ReleaseDriver() {
  DriverBinding& b = Ctx().binding;
  if (b.references == 0) return;
  --b.references;
  if (b.testApi == nullptr && b.library != nullptr) qv::platform::FreeLibraryHandle(b.library);
  if (b.references == 0) b.library = nullptr;
}

bool DriverBound() { return Ctx().binding.references > 0; }

void InstallTestDriver(const DriverApi* api) { Ctx().binding.testApi = api; }

}  // namespace qv::rp1210
