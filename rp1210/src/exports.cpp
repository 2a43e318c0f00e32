// The RP1210 entry points: the eight of the original interface and three of RP1210C.
#include "QV121032.h"
#include "clients.h"
#include "commands.h"
#include "context.h"
#include "messages.h"
#include "status_text.h"

using namespace qv::rp1210;
using qv::platform::LockGuard;

extern "C" {

QV_EXPORT int16_t QV_STDCALL RP1210_ClientConnect(void* hwndClient, int16_t nDeviceID, const char* fpchProtocol,
                                                  int32_t, int32_t, int16_t nIsAppPacketizingIncomingMsgs) {
  const LockGuard entry(EntryLock());
  return ClientConnect(hwndClient, nDeviceID, fpchProtocol, nIsAppPacketizingIncomingMsgs);
}

QV_EXPORT int16_t QV_STDCALL RP1210_ClientDisconnect(int16_t nClientID) {
  const LockGuard entry(EntryLock());
  return ClientDisconnect(nClientID);
}

QV_EXPORT int16_t QV_STDCALL RP1210_SendMessage(int16_t nClientID, const char* fpchClientMessage, int16_t nMessageSize,
                                                int16_t, int16_t nBlockOnSend) {
  const LockGuard entry(EntryLock());
  return SendMessage(nClientID, fpchClientMessage, nMessageSize, nBlockOnSend);
}

QV_EXPORT int16_t QV_STDCALL RP1210_ReadMessage(int16_t nClientID, char* fpchAPIMessage, int16_t nBufferSize,
                                                int16_t nBlockOnRead) {
  const LockGuard entry(EntryLock());
  return ReadMessage(nClientID, fpchAPIMessage, nBufferSize, nBlockOnRead);
}

QV_EXPORT int16_t QV_STDCALL RP1210_SendCommand(int16_t nCommandNumber, int16_t nClientID, char* fpchClientCommand,
                                                int16_t nMessageSize) {
  const LockGuard entry(EntryLock());
  return SendCommand(nCommandNumber, nClientID, fpchClientCommand, nMessageSize);
}

QV_EXPORT int16_t QV_STDCALL RP1210_ReadVersion(char* fpchDLLMajorVersion, char* fpchDLLMinorVersion,
                                                char* fpchAPIMajorVersion, char* fpchAPIMinorVersion) {
  const LockGuard entry(EntryLock());
  return ReadVersion(fpchDLLMajorVersion, fpchDLLMinorVersion, fpchAPIMajorVersion, fpchAPIMinorVersion);
}

QV_EXPORT int16_t QV_STDCALL RP1210_GetErrorMsg(int16_t ErrorCode, char* fpchDescription) {
  const LockGuard entry(EntryLock());
  return GetErrorMsg(ErrorCode, fpchDescription);
}

QV_EXPORT int16_t QV_STDCALL RP1210_GetHardwareStatus(int16_t nClientID, char* fpchClientInfo, int16_t nInfoSize,
                                                      int16_t) {
  const LockGuard entry(EntryLock());
  return GetHardwareStatus(nClientID, fpchClientInfo, nInfoSize);
}

QV_EXPORT int16_t QV_STDCALL RP1210_ReadDetailedVersion(int16_t nClientID, char* fpchAPIVersionInfo,
                                                        char* fpchDLLVersionInfo, char* fpchFWVersionInfo) {
  const LockGuard entry(EntryLock());
  return ReadDetailedVersion(nClientID, fpchAPIVersionInfo, fpchDLLVersionInfo, fpchFWVersionInfo);
}

QV_EXPORT int16_t QV_STDCALL RP1210_GetLastErrorMsg(int16_t ErrorCode, int32_t* SubErrorCode, char* fpchDescription,
                                                    int16_t) {
  const LockGuard entry(EntryLock());
  return GetLastErrorMsg(ErrorCode, SubErrorCode, fpchDescription);
}

QV_EXPORT int16_t QV_STDCALL RP1210_Ioctl(int16_t nClientID, int32_t nIoctlID, void* pInput, void* pOutput) {
  const LockGuard entry(EntryLock());
  return Ioctl(nClientID, nIoctlID, pInput, pOutput);
}

}  // extern "C"
