// The INI reader and writer on any file text: reads never run past their buffer or leave it
// unterminated, and a file the writer has changed still reads within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "qvlink/platform/profile.h"
#include "temp_dir.h"

namespace {
const std::string& Path() {
  static const std::string p = "/tmp/qv-fuzz-profile-" + std::to_string(getpid()) + ".ini";
  return p;
}

// Stops the run when a read into `cap` bytes left its bounds or miscounted.
void ReadWithin(const char* section, const char* key, uint32_t cap) {
  if (GuardedRead(section, key, "dflt", Path(), cap).find('\n') != std::string::npos)
    __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(Path().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  // Each read opens and parses the file: a few names and sizes keep the run fast.
  for (const char* s : {"DeviceInformation1", "Logging", ""})
    for (const char* k : {"DeviceParams", "LoggingType"})
      for (uint32_t cap : {2u, 300u}) ReadWithin(s, k, cap);
  // Value text from the input's first bytes, without line breaks so it can be written.
  std::string value(reinterpret_cast<const char*>(data), size < 24 ? size : 24);
  for (char& c : value)
    if (c == '\n' || c == '\r' || c == '\0') c = '_';
  if (qv::platform::WriteProfileString("Fuzz", "Key", value.c_str(), Path().c_str()))
    ReadWithin("Fuzz", "Key", 32);
  return 0;
}
