// The open-port settings text, the same on every system.
#include <cstdio>
#include <cstring>

#include "qvlink/platform/serial_port.h"

namespace qv::platform {

bool BuildSerialSettingsText(uint32_t baud, uint8_t lineFormat, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  // Data bits and stop bits are the first two decimal digits of the line format; a single
  // digit format reads as "0d", which the settings parser rejects.
  char digits[4];
  std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned>(lineFormat));
  char text[40];
  const int n = std::snprintf(text, sizeof text, "%lu,n,%c,%c", static_cast<unsigned long>(baud), digits[0], digits[1]);
  if (n < 0 || static_cast<size_t>(n) >= outSize) return false;
  std::memcpy(out, text, static_cast<size_t>(n) + 1);
  return true;
}

}  // namespace qv::platform
