#include "status_text.h"

#include <cstdio>
#include <cstring>

#include "QV_API.h"
#include "clients.h"
#include "driver_binding.h"
#include "trace_log.h"

namespace qv::rp1210 {
namespace {

const char* const kTexts[] = {
    "ERR_DLL_NOT_INITIALIZED",     "ERR_INVALID_CLIENT_ID",     "ERR_CLIENT_ALREADY_CONNECTED",
    "ERR_CLIENT_AREA_FULL",        "ERR_FREE_MEMORY",           "ERR_NOT_ENOUGH_MEMORY",
    "ERR_INVALID_DEVICE",          "ERR_DEVICE_IN_USE",         "ERR_INVALID_PROTOCOL",
    "ERR_TX_QUEUE_FULL",           "ERR_TX_QUEUE_CORRUPT",      "ERR_RX_QUEUE_FULL",
    "ERR_RX_QUEUE_CORRUPT",        "ERR_MESSAGE_TOO_LONG",      "ERR_HARDWARE_NOT_RESPONDING",
    "ERR_COMMAND_NOT_SUPPORTED",   "ERR_INVALID_COMMAND",       "ERR_TXMESSAGE_STATUS",
    "ERR_ADDRESS_CLAIM_FAILED",    "ERR_CANNOT_SET_PRIORITY",   "ERR_CLIENT_DISCONNECTED",
    "ERR_CONNECT_NOT_ALLOWED",     "ERR_CHANGE_MODE_FAILED",    "ERR_BUS_OFF",
    "ERR_COULD_NOT_TX",            "ERR_ADDRESS_CLAIMED",       "ERR_ADDRESS_LOST",
    "ERR_CODE_NOT_FOUND",          "ERR_BLOCK_NOT_ALLOWED",     "ERR_MULTIPLE_CLIENTS_CONNECTED",
    "ERR_ADDRESS_NEVER_CLAIMED",   "ERR_WINDOW_HANDLE_REQUIRED", "ERR_MESSAGE_NOT_SENT",
    "ERR_MAX_NOTIFY_EXCEEDED",     "ERR_MAX_FILTERS_EXCEEDED",  "ERR_HARDWARE_STATUS_CHANGE"};
static_assert(sizeof kTexts / sizeof kTexts[0] == 163 - 128 + 1, "one text per code 128..163");

}  // namespace

const char* ErrorText(int16_t code) {
  if (code == 0) return "ERR_Success";
  if (code < 128 || code > 163) return nullptr;
  return kTexts[code - 128];
}

int16_t GetErrorMsg(int16_t code, char* description) {
  const char* text = ErrorText(code);
  if (text == nullptr || description == nullptr) return ERR_CODE_NOT_FOUND;
  std::memcpy(description, text, std::strlen(text) + 1);
  return 0;
}

int16_t ReadDetailedVersion(int16_t nClientID, char* apiVersion, char* dllVersion, char* firmwareVersion) {
  if (FindClient(nClientID) == nullptr) return ERR_INVALID_CLIENT_ID;
  // The API text matches RP1210_ReadVersion's characters. The adapter's version reaches the PC
  // only as a Device message, which belongs to whichever application reads it, so it is not known.
  const char* const texts[] = {"2.0", QV_RP1210_VERSION_TEXT, "unknown"};
  char* const outs[] = {apiVersion, dllVersion, firmwareVersion};
  for (int i = 0; i < 3; ++i) {
    if (outs[i] == nullptr) continue;
    std::snprintf(outs[i], kDetailedVersionSize, "%s", texts[i]);
  }
  return 0;
}

int16_t GetLastErrorMsg(int16_t code, int32_t* subErrorCode, char* description) {
  if (subErrorCode != nullptr) *subErrorCode = -1;
  return GetErrorMsg(code, description);
}

int16_t Ioctl(int16_t nClientID, int32_t, void*, void*) {
  if (FindClient(nClientID) == nullptr) return ERR_INVALID_CLIENT_ID;
  return ERR_COMMAND_NOT_SUPPORTED;
}

int16_t ReadVersion(char* dllMajor, char* dllMinor, char* apiMajor, char* apiMinor) {
  if (dllMajor != nullptr) *dllMajor = static_cast<char>(0xB0);
  if (dllMinor != nullptr) *dllMinor = 'a';
  if (apiMajor != nullptr) *apiMajor = '2';
  if (apiMinor != nullptr) *apiMinor = '0';
  return 0;
}

int16_t GetHardwareStatus(int16_t nClientID, char* info, int16_t infoSize) {
  const Context& c = Ctx();
  uint8_t block[kStatusBlockSize] = {};
  int result;
  if (info == nullptr || infoSize < static_cast<int16_t>(kStatusBlockSize)) {
    result = ERR_MESSAGE_TOO_LONG;  // nowhere to put the whole block: write none of it
  } else if (FindClient(nClientID) == nullptr) {
    result = ERR_INVALID_CLIENT_ID;
    std::memcpy(info, block, sizeof block);
  } else {
    result = DriverBound() ? c.binding.api.getHardwareStatus(c.deviceId, block) : ERR_DLL_NOT_INITIALIZED;
    block[1] = static_cast<uint8_t>(c.j1939Clients + c.j1708Clients + c.canClients);
    if (c.j1939Clients != 0) {
      block[2] |= 1;
      block[3] = c.j1939Clients;
    }
    if (c.j1708Clients != 0) {
      block[4] |= 1;
      block[5] = c.j1708Clients;
    }
    if (c.canClients != 0) {
      block[6] |= 1;
      block[7] = c.canClients;
    }
    std::memcpy(info, block, sizeof block);
  }
  if (TraceOn()) {
    char line[kCallLineSize];
    std::snprintf(line, sizeof line, "GetHardwareStatus,ClientID=%d,RET=%d,Hardware=%d,J1708=%d,J1939=%d", nClientID,
                  result, static_cast<int8_t>(block[0]), static_cast<int8_t>(block[4]), static_cast<int8_t>(block[2]));
    WriteTraceLine(line);
  }
  return static_cast<int16_t>(result);
}

}  // namespace qv::rp1210
