// Registry reads from registry.ini in the profile directory.
#include "qvlink/platform/registry.h"

#include <cstring>
#include <vector>

#include "qvlink/platform/profile.h"

namespace qv::platform {

namespace {
// Control characters no INI value carries after trimming: tells "absent" from any value.
constexpr char kAbsent[] = "\x01qv-registry-absent\x02";
}  // namespace

bool ReadRegistryString(const char* keyPath, const char* valueName, char* buf, uint32_t bufSize) {
  if (buf == nullptr || bufSize == 0) return false;
  buf[0] = '\0';
  if (keyPath == nullptr || valueName == nullptr) return false;
  // Large enough for the sentinel whatever the caller's buffer is.
  const uint32_t size = bufSize > sizeof kAbsent ? bufSize : static_cast<uint32_t>(sizeof kAbsent);
  std::vector<char> tmp(size);
  const uint32_t n =
      ReadProfileString(keyPath, valueName, kAbsent, tmp.data(), size, "registry.ini");
  if (n == sizeof kAbsent - 1 && std::memcmp(tmp.data(), kAbsent, n) == 0) return false;
  const uint32_t copy = n < bufSize - 1 ? n : bufSize - 1;
  std::memcpy(buf, tmp.data(), copy);
  buf[copy] = '\0';
  return true;
}

}  // namespace qv::platform
