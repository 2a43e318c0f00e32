// The INI reader and writer on any file text: reads never run past their buffer or leave it
// unterminated, and a file the writer has changed still reads within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "qvlink/platform/profile.h"

namespace {
const std::string& Path() {
  static const std::string p = "/tmp/qv-fuzz-profile-" + std::to_string(getpid()) + ".ini";
  return p;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(Path().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  // Each read opens and parses the file: a few names and sizes keep the run fast.
  const char* sections[] = {"DeviceInformation1", "Logging", ""};
  const char* keys[] = {"DeviceParams", "LoggingType"};
  for (const char* s : sections) {
    for (const char* k : keys) {
      for (uint32_t cap : {2u, 300u}) {
        char buf[301];
        std::memset(buf, 0x5A, sizeof buf);
        const uint32_t n = qv::platform::ReadProfileString(s, k, "dflt", buf, cap, Path().c_str());
        if (n >= cap || buf[n] != '\0' || buf[cap] != 0x5A) __builtin_trap();
      }
    }
  }
  // Value text from the input's first bytes, without line breaks so it can be written.
  std::string value(reinterpret_cast<const char*>(data), size < 24 ? size : 24);
  for (char& c : value)
    if (c == '\n' || c == '\r' || c == '\0') c = '_';
  if (qv::platform::WriteProfileString("Fuzz", "Key", value.c_str(), Path().c_str())) {
    char back[64];
    std::memset(back, 0x5A, sizeof back);
    const uint32_t n = qv::platform::ReadProfileString("Fuzz", "Key", "", back, 32, Path().c_str());
    if (n >= 32 || back[n] != '\0' || back[32] != 0x5A) __builtin_trap();
  }
  return 0;
}
