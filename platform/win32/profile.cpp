// Profile files through the Windows profile calls; Windows resolves bare names to its directory.
// <windows.h> first: profile.h takes back the name WriteProfileString from its macro.
#include <windows.h>

#include "qvlink/platform/profile.h"
// <windows.h> maps WriteProfileString to WriteProfileStringA; keep our own name.
#undef WriteProfileString

#include <cstring>

namespace qv::platform {

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                           char* buf, uint32_t bufSize, const char* fileName) {
  if (buf == nullptr || bufSize == 0) return 0;
  buf[0] = '\0';
  // Null section or key would make Windows list names instead of reading a value.
  if (section == nullptr || key == nullptr || fileName == nullptr) return 0;
  const DWORD n = GetPrivateProfileStringA(section, key, defaultText != nullptr ? defaultText : "",
                                           buf, bufSize, fileName);
  buf[bufSize - 1] = '\0';
  return n < bufSize ? static_cast<uint32_t>(n) : bufSize - 1;
}

bool WriteProfileString(const char* section, const char* key, const char* value,
                        const char* fileName) {
  // Null key or value would delete a section or key; this call only sets values.
  if (section == nullptr || key == nullptr || value == nullptr || fileName == nullptr) return false;
  return WritePrivateProfileStringA(section, key, value, fileName) != 0;
}

bool ResolveProfilePath(const char* fileName, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (fileName == nullptr) return false;
  const bool bare = std::strchr(fileName, '\\') == nullptr && std::strchr(fileName, '/') == nullptr &&
                    std::strchr(fileName, ':') == nullptr;
  const size_t nameLen = std::strlen(fileName);
  if (!bare) {
    if (nameLen >= outSize) return false;
    std::memcpy(out, fileName, nameLen + 1);
    return true;
  }
  char dir[MAX_PATH];
  const UINT dirLen = GetWindowsDirectoryA(dir, MAX_PATH);
  if (dirLen == 0 || dirLen >= MAX_PATH) return false;
  const bool sep = dir[dirLen - 1] == '\\';
  const size_t total = dirLen + (sep ? 0 : 1) + nameLen;
  if (total >= outSize) return false;
  std::memcpy(out, dir, dirLen);
  size_t pos = dirLen;
  if (!sep) out[pos++] = '\\';
  std::memcpy(out + pos, fileName, nameLen + 1);
  return true;
}

}  // namespace qv::platform
