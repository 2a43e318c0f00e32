// Rules both back ends apply to untrusted text (INI files, application arguments) before it
// reaches the operating system, so the two accept exactly the same names and settings.
#pragma once
#include <cstdint>

namespace qv::platform::detail {

enum class Parity : uint8_t { None, Even, Odd, Mark, Space };

struct LineSettings {
  uint32_t baud = 0;
  Parity parity = Parity::None;
  uint8_t dataBits = 8;
  uint8_t stopBits = 1;  // 1 or 2; 1.5 is taken as 2 (termios offers nothing between)
};

// Parses "baud[,parity[,data[,stop]]]"; missing trailing fields take n, 8, 1.
bool ParseSettings(const char* text, LineSettings& out);

// "COMn" (any case, optional "\\.\" prefix), n = 1..255. Returns 0 when the name is not one.
unsigned ParsePortNumber(const char* name);

// False when a profile write would break the file's line structure (and so could plant other
// sections or keys): a line break anywhere, an empty or ']' section name, an empty key or one
// with '=' or starting with ';' or '['. A null key or value (a deletion) passes.
bool ProfileTextAcceptable(const char* section, const char* key, const char* value);

}  // namespace qv::platform::detail
