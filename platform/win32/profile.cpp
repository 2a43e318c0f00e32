// Profile files through the Windows profile calls; Windows resolves bare names to its directory.
// <windows.h> first: profile.h takes back the name WriteProfileString from its macro.
#include <windows.h>

#include "qvlink/platform/profile.h"
// <windows.h> maps WriteProfileString to WriteProfileStringA; keep our own name.
#undef WriteProfileString

#include <cstring>

#include "../common/text_rules.h"

namespace qv::platform {

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                           char* buf, uint32_t bufSize, const char* fileName) {
  if (buf == nullptr || bufSize == 0) return 0;
  buf[0] = '\0';
  const char* fallback = defaultText != nullptr ? defaultText : "";
  // A null section or key would make Windows list names: like a missing key, it gives the default.
  if (section == nullptr || key == nullptr || fileName == nullptr) {
    const size_t len = std::strlen(fallback);
    const size_t n = len < bufSize ? len : bufSize - 1;
    std::memcpy(buf, fallback, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
  }
  const DWORD n = GetPrivateProfileStringA(section, key, fallback, buf, bufSize, fileName);
  buf[bufSize - 1] = '\0';
  return n < bufSize ? static_cast<uint32_t>(n) : bufSize - 1;
}

bool WriteProfileString(const char* section, const char* key, const char* value,
                        const char* fileName) {
  // A null key deletes the section and a null value the key, as on POSIX.
  if (fileName == nullptr || !detail::ProfileTextAcceptable(section, key, value)) return false;
  return WritePrivateProfileStringA(section, key, value, fileName) != 0;
}

bool ResolveProfilePath(const char* fileName, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (fileName == nullptr || fileName[0] == '\0') return false;  // no name is no file
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
