// Environment variables and Windows path joining.
#include "qvlink/platform/environment.h"

#include <cstdlib>
#include <cstring>

namespace qv::platform {

bool GetEnvironment(const char* name, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (name == nullptr) return false;
  const char* value = std::getenv(name);
  if (value == nullptr) return false;
  const size_t len = std::strlen(value);
  if (len >= outSize) return false;
  std::memcpy(out, value, len + 1);
  return true;
}

char PathSeparator() { return '\\'; }

bool JoinPath(const char* a, const char* b, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (a == nullptr || b == nullptr) return false;
  const size_t la = std::strlen(a);
  const size_t lb = std::strlen(b);
  // Either separator already ending a is kept; Windows accepts both.
  const bool needSep = la > 0 && a[la - 1] != '\\' && a[la - 1] != '/';
  const size_t total = la + (needSep ? 1 : 0) + lb;
  if (total >= outSize) return false;
  std::memcpy(out, a, la);
  size_t pos = la;
  if (needSep) out[pos++] = '\\';
  std::memcpy(out + pos, b, lb);
  out[total] = '\0';
  return true;
}

}  // namespace qv::platform
