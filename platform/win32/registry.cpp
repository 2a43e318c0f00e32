// Registry string values below HKEY_LOCAL_MACHINE.
#include "qvlink/platform/registry.h"

#include <windows.h>

namespace qv::platform {

bool ReadRegistryString(const char* keyPath, const char* valueName, char* buf, uint32_t bufSize) {
  if (buf == nullptr || bufSize == 0) return false;
  buf[0] = '\0';
  if (keyPath == nullptr || valueName == nullptr) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  // Read into a local buffer first: a value longer than the caller's is cut, not refused.
  char local[1024];
  DWORD type = 0;
  DWORD size = sizeof(local) - 1;
  const LONG r = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(local), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  if (size > sizeof(local) - 1) size = sizeof(local) - 1;
  local[size] = '\0';  // registry strings need not be terminated
  uint32_t n = 0;
  while (n + 1 < bufSize && local[n] != '\0') {
    buf[n] = local[n];
    ++n;
  }
  buf[n] = '\0';
  return true;
}

}  // namespace qv::platform
