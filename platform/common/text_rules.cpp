// Text rules shared by the back ends: serial settings, port names, profile writes.
#include "text_rules.h"

#include <string_view>

namespace qv::platform::detail {

namespace {

const char* SkipSpaces(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace

bool ParseSettings(const char* text, LineSettings& out) {
  if (text == nullptr) return false;
  const char* p = SkipSpaces(text);
  uint64_t baud = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    baud = baud * 10u + static_cast<uint64_t>(*p - '0');
    if (++digits > 8) return false;  // far beyond any UART
    ++p;
  }
  if (digits == 0 || baud == 0) return false;
  out.baud = static_cast<uint32_t>(baud);
  p = SkipSpaces(p);
  if (*p == '\0') return true;
  if (*p++ != ',') return false;

  p = SkipSpaces(p);
  switch (*p) {
    case 'n': case 'N': out.parity = Parity::None; break;
    case 'e': case 'E': out.parity = Parity::Even; break;
    case 'o': case 'O': out.parity = Parity::Odd; break;
    case 'm': case 'M': out.parity = Parity::Mark; break;
    case 's': case 'S': out.parity = Parity::Space; break;
    default: return false;
  }
  p = SkipSpaces(p + 1);
  if (*p == '\0') return true;
  if (*p++ != ',') return false;

  p = SkipSpaces(p);
  if (*p < '5' || *p > '8') return false;
  out.dataBits = static_cast<uint8_t>(*p - '0');
  p = SkipSpaces(p + 1);
  if (*p == '\0') return true;
  if (*p++ != ',') return false;

  p = SkipSpaces(p);
  if (p[0] == '1' && p[1] == '.' && p[2] == '5') {
    out.stopBits = 2;
    p += 3;
  } else if (*p == '1' || *p == '2') {
    out.stopBits = static_cast<uint8_t>(*p - '0');
    ++p;
  } else {
    return false;
  }
  p = SkipSpaces(p);
  return *p == '\0';
}

unsigned ParsePortNumber(const char* name) {
  if (name == nullptr) return 0;
  if (name[0] == '\\' && name[1] == '\\' && name[2] == '.' && name[3] == '\\') name += 4;
  if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
      (name[2] != 'M' && name[2] != 'm'))
    return 0;
  const char* p = name + 3;
  unsigned n = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    n = n * 10u + static_cast<unsigned>(*p - '0');
    if (++digits > 3) return 0;
    ++p;
  }
  if (*p != '\0' || digits == 0 || n == 0 || n > 255) return 0;
  return n;
}

namespace {
std::string_view Trim(const char* text) {
  std::string_view s(text);
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasLineBreak(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}
}  // namespace

bool ProfileTextAcceptable(const char* section, const char* key, const char* value) {
  if (section == nullptr) return false;
  const std::string_view sec = Trim(section);
  if (sec.empty() || HasLineBreak(sec) || sec.find(']') != std::string_view::npos) return false;
  if (key != nullptr) {
    const std::string_view k = Trim(key);
    if (k.empty() || HasLineBreak(k) || k.find('=') != std::string_view::npos || k.front() == ';' ||
        k.front() == '[')
      return false;
  }
  return value == nullptr || !HasLineBreak(Trim(value));
}

}  // namespace qv::platform::detail
