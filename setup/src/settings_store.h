// The profile-file and environment seam of the device settings file: the platform's profile
// reader/writer and environment in the program, an in-memory store in unit tests.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::setup {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // GetPrivateProfileString semantics with no default: characters copied, 0 when absent.
  virtual uint32_t ReadString(const char* section, const char* key, char* buf, uint32_t bufSize,
                              const char* fileName) = 0;
  // False when the file could not be written (read-only, no permission, no directory).
  virtual bool WriteString(const char* section, const char* key, const char* value,
                           const char* fileName) = 0;
  // The path a profile file name stands for, for messages; false when it does not fit.
  virtual bool ResolvePath(const char* fileName, char* out, size_t outSize) = 0;
  virtual bool FileExists(const char* fileName) = 0;
  // False when unset or too long for out.
  virtual bool GetEnv(const char* name, char* out, size_t outSize) = 0;
  virtual char PathSeparator() = 0;
};

// The platform back end (qv_platform's profile, environment).
SettingsStore& PlatformSettingsStore();

}  // namespace qv::setup
