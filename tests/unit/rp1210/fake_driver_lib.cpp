// Stand-in driver library for the loading test: exports the bound names, does nothing.
#include "QV_API.h"

extern "C" {
QV_EXPORT int32_t QV_STDCALL Initialize_Hardware(DeviceSettings*, const char*, uint8_t) { return 0x81; }
QV_EXPORT int32_t QV_STDCALL Restore_Hardware(uint8_t, const char*, uint8_t) { return 0; }
QV_EXPORT int32_t QV_STDCALL Transmit_Message(uint8_t, MessageRecord*) { return 0; }
QV_EXPORT int32_t QV_STDCALL Receive_Message(uint8_t, MessageRecord*) { return 0; }
QV_EXPORT int32_t QV_STDCALL SendQVCommand(uint8_t, uint8_t, uint8_t, const uint8_t*, uint8_t) { return 0; }
#ifndef QV_FAKE_WITHOUT_CONFIGURE_VKL
QV_EXPORT int32_t QV_STDCALL ConfigureVKL(int32_t, int32_t) { return 135; }
#endif
QV_EXPORT int32_t QV_STDCALL GetVersions(uint8_t, void*) { return 0; }
QV_EXPORT int32_t QV_STDCALL GetHardwareStatus(uint8_t, uint8_t* s) {
  s[0] = 5;
  return 0;
}
QV_EXPORT int32_t QV_STDCALL Receive_Transport_Message(uint8_t, MessageRecord*) { return 0; }
QV_EXPORT int32_t QV_STDCALL Set_Transport_Address(uint8_t, uint8_t) { return 0; }
}
