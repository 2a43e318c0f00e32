// The twenty exported entry points of QV_API. Each is a thin gate over the process-wide
// device: the closing refusal and the device-id test live here, the work elsewhere.
#include <atomic>
#include <cstring>

#include "QV_API.h"
#include "commands.h"
#include "context.h"
#include "io_threads.h"
#include "receive.h"
#include "startup.h"
#include "transmit.h"

using namespace qv::driver;

namespace {
// Set for good once the device has been destroyed at unload or exit: a client thread that
// calls in after that is refused before anything of the device is touched.
std::atomic<bool> g_deviceGone{false};
bool Gone() { return g_deviceGone.load(); }

bool Closing() { return TheDevice().closingFlag.load(); }
bool IdValid(uint8_t id) { return (id & 0x80) != 0; }

// Counts a caller in for its whole call, so a close from another thread (after which the
// library may be unloaded) waits until every call that uses the device has left the driver.
// Counted before the closing test, and the close sets its flag before it counts: one of the
// two always sees the other.
struct CallerInside {
  CallerInside() { TheDevice().callersInside.fetch_add(1); }
  ~CallerInside() { TheDevice().callersInside.fetch_sub(1); }
  CallerInside(const CallerInside&) = delete;
  CallerInside& operator=(const CallerInside&) = delete;
};

// 0 when a call for this id may use the device; 142 while closing or once the port is lost,
// 134 for an id that no open device holds (nothing is sent, nothing is waited for).
int32_t Refusal(uint8_t id) {
  const Device& d = TheDevice();
  if (d.closingFlag.load()) return ERR_HARDWARE_NOT_RESPONDING;
  if (id == 0 || d.openDeviceId.load() != id) return ERR_INVALID_DEVICE;
  if (d.portLost.load()) return ERR_HARDWARE_NOT_RESPONDING;
  return 0;
}

// A call that ended because the port went away or the last close began says so with 142.
int32_t Outcome(int32_t result) {
  const Device& d = TheDevice();
  return (result != 0 || d.portLost.load()) && d.threadsStopping() ? ERR_HARDWARE_NOT_RESPONDING : result;
}

// Runs when the process exits or the library is unloaded. A device that was never closed is
// stopped here, so the process can end and the port is released; the device itself goes only
// when nothing can touch it any more.
struct DeviceReaper {
  DeviceReaper() = default;
  DeviceReaper(const DeviceReaper&) = delete;
  DeviceReaper& operator=(const DeviceReaper&) = delete;
  ~DeviceReaper() {
    if (!AbandonDevice(TheDevice())) return;  // a client thread is still inside: it stays
    g_deviceGone.store(true);
    DestroyTheDevice();
  }
} g_reaper;
}  // namespace

extern "C" {

QV_EXPORT int32_t QV_STDCALL Initialize_Hardware(DeviceSettings* settings, const char* protocol, uint8_t attach) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  return OpenDevice(TheDevice(), settings, protocol, attach);
}

QV_EXPORT int32_t QV_STDCALL Restore_Hardware(uint8_t deviceId, const char* protocol, uint8_t keepOpen) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  return CloseDevice(TheDevice(), deviceId, protocol, keepOpen);
}

QV_EXPORT int32_t QV_STDCALL Transmit_Message(uint8_t deviceId, MessageRecord* record) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  const CallerInside inside;
  if (const int32_t refused = Refusal(deviceId)) return refused;
  if (record == nullptr) return ERR_INVALID_DEVICE;
  return Outcome(TransmitMessage(TheDevice(), *record));
}

QV_EXPORT int32_t QV_STDCALL Receive_Message(uint8_t deviceId, MessageRecord* record) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  const CallerInside inside;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  if (record == nullptr) return ERR_INVALID_DEVICE;
  QvSetReturnedLength(record, 0);
  if (!IdValid(deviceId)) return ERR_INVALID_DEVICE;
  // What arrived before a lost port is still delivered; after it, nothing more will come.
  const int32_t got = ReceiveMessage(TheDevice(), *record);
  return got == 0 ? Outcome(got) : got;
}

QV_EXPORT int32_t QV_STDCALL Receive_Transport_Message(uint8_t deviceId, MessageRecord* record) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  const CallerInside inside;
  if (!IdValid(deviceId) || record == nullptr) return ERR_INVALID_DEVICE;
  return ReceiveLongMessage(TheDevice(), *record);
}

QV_EXPORT int32_t QV_STDCALL SendQVCommand(uint8_t deviceId, uint8_t protocol, uint8_t command, const uint8_t* data,
                                           uint8_t length) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  const CallerInside inside;
  if (const int32_t refused = Refusal(deviceId)) return refused;
  return Outcome(DeviceSendQVCommand(TheDevice(), protocol, command, data, length));
}

QV_EXPORT int32_t QV_STDCALL Set_Transport_Address(uint8_t deviceId, uint8_t address) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  const CallerInside inside;
  if (const int32_t refused = Refusal(deviceId)) return refused;
  return Outcome(DeviceSetTransportAddress(TheDevice(), address));
}

QV_EXPORT int32_t QV_STDCALL GetHardwareStatus(uint8_t deviceId, uint8_t* status) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  (void)deviceId;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  if (status == nullptr) return 0;
  return DeviceGetHardwareStatus(TheDevice(), status);
}

QV_EXPORT int32_t QV_STDCALL GetVersions(uint8_t deviceId, void* unused) {
  if (Gone()) return ERR_HARDWARE_NOT_RESPONDING;
  (void)unused;
  const CallerInside inside;
  if (const int32_t refused = Refusal(deviceId)) return refused;
  return Outcome(DeviceGetVersions(TheDevice()));
}

#define QV_STUB(name)                                           \
  QV_EXPORT int32_t QV_STDCALL name(int32_t a, int32_t b) {     \
    (void)a;                                                    \
    (void)b;                                                    \
    return ERR_DEVICE_IN_USE;                                   \
  }
QV_STUB(ConfigureCAN)
QV_STUB(ConfigurePWM)
QV_STUB(ConfigureUART)
QV_STUB(ConfigureVKL)
QV_STUB(Configure_Transmit_Message)
QV_STUB(Configure_Receive_Message)
QV_STUB(Set_Filter)
QV_STUB(Set_Trigger)
QV_STUB(BeginDataLog)
QV_STUB(UploadDataLog)
QV_STUB(SetVerboseMode)
#undef QV_STUB

}  // extern "C"
