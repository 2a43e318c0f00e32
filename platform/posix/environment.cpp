// Environment variables and '/'-joined paths.
#include "qvlink/platform/environment.h"

#include <cstdlib>
#include <cstring>

namespace qv::platform {

bool GetEnvironment(const char* name, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (name == nullptr || name[0] == '\0') return false;
  const char* v = std::getenv(name);
  if (v == nullptr) return false;
  const size_t len = std::strlen(v);
  if (len >= outSize) return false;
  std::memcpy(out, v, len + 1);
  return true;
}

char PathSeparator() { return '/'; }

bool JoinPath(const char* a, const char* b, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (a == nullptr || b == nullptr) return false;
  const size_t la = std::strlen(a);
  const size_t lb = std::strlen(b);
  // No doubled separator when a already ends with one; an empty a leaves b alone.
  const bool sep = la > 0 && a[la - 1] != '/';
  const size_t total = la + (sep ? 1u : 0u) + lb;
  if (total >= outSize) return false;
  std::memcpy(out, a, la);
  size_t pos = la;
  if (sep) out[pos++] = '/';
  std::memcpy(out + pos, b, lb);
  out[total] = '\0';
  return true;
}

}  // namespace qv::platform
