// The twenty exported entry points of QV_API. Each is a thin gate over the process-wide
// device: the closing refusal and the device-id test live here, the work elsewhere.
#include <cstring>

#include "QV_API.h"
#include "commands.h"
#include "context.h"
#include "receive.h"
#include "startup.h"
#include "transmit.h"

using namespace qv::driver;

namespace {
bool Closing() { return TheDevice().closingFlag.load(); }
bool IdValid(uint8_t id) { return (id & 0x80) != 0; }

// Counts a reader or sender in for its whole call, so a close from another thread (after which
// the library may be unloaded) waits until a blocking read or send has left the driver.
struct CallerInside {
  CallerInside() { TheDevice().callersInside.fetch_add(1, std::memory_order_acq_rel); }
  ~CallerInside() { TheDevice().callersInside.fetch_sub(1, std::memory_order_acq_rel); }
  CallerInside(const CallerInside&) = delete;
  CallerInside& operator=(const CallerInside&) = delete;
};
}  // namespace

extern "C" {

QV_EXPORT int32_t QV_STDCALL Initialize_Hardware(DeviceSettings* settings, const char* protocol, uint8_t attach) {
  return OpenDevice(TheDevice(), settings, protocol, attach);
}

QV_EXPORT int32_t QV_STDCALL Restore_Hardware(uint8_t deviceId, const char* protocol, uint8_t keepOpen) {
  return CloseDevice(TheDevice(), deviceId, protocol, keepOpen);
}

QV_EXPORT int32_t QV_STDCALL Transmit_Message(uint8_t deviceId, MessageRecord* record) {
  const CallerInside inside;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  if (!IdValid(deviceId) || record == nullptr) return ERR_INVALID_DEVICE;
  return TransmitMessage(TheDevice(), *record);
}

QV_EXPORT int32_t QV_STDCALL Receive_Message(uint8_t deviceId, MessageRecord* record) {
  const CallerInside inside;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  if (record == nullptr) return ERR_INVALID_DEVICE;
  QvSetReturnedLength(record, 0);
  if (!IdValid(deviceId)) return ERR_INVALID_DEVICE;
  return ReceiveMessage(TheDevice(), *record);
}

QV_EXPORT int32_t QV_STDCALL Receive_Transport_Message(uint8_t deviceId, MessageRecord* record) {
  if (!IdValid(deviceId) || record == nullptr) return ERR_INVALID_DEVICE;
  return ReceiveLongMessage(TheDevice(), *record);
}

QV_EXPORT int32_t QV_STDCALL SendQVCommand(uint8_t deviceId, uint8_t protocol, uint8_t command, const uint8_t* data,
                                           uint8_t length) {
  (void)deviceId;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  return DeviceSendQVCommand(TheDevice(), protocol, command, data, length);
}

QV_EXPORT int32_t QV_STDCALL Set_Transport_Address(uint8_t deviceId, uint8_t address) {
  (void)deviceId;
  return DeviceSetTransportAddress(TheDevice(), address);
}

QV_EXPORT int32_t QV_STDCALL GetHardwareStatus(uint8_t deviceId, uint8_t* status) {
  (void)deviceId;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  if (status == nullptr) return 0;
  return DeviceGetHardwareStatus(TheDevice(), status);
}

QV_EXPORT int32_t QV_STDCALL GetVersions(uint8_t deviceId, void* unused) {
  (void)deviceId;
  (void)unused;
  if (Closing()) return ERR_HARDWARE_NOT_RESPONDING;
  return DeviceGetVersions(TheDevice());
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
