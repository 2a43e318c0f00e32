// SettingsStore over the platform's profile files and environment.
#include <cstdio>

#include "qvlink/platform/environment.h"
#include "qvlink/platform/profile.h"
#include "settings_store.h"

namespace qv::setup {

namespace {

class PlatformStore final : public SettingsStore {
 public:
  uint32_t ReadString(const char* section, const char* key, char* buf, uint32_t bufSize,
                      const char* fileName) override {
    return platform::ReadProfileString(section, key, "", buf, bufSize, fileName);
  }
  bool WriteString(const char* section, const char* key, const char* value,
                   const char* fileName) override {
    return platform::WriteProfileString(section, key, value, fileName);
  }
  bool ResolvePath(const char* fileName, char* out, size_t outSize) override {
    return platform::ResolveProfilePath(fileName, out, outSize);
  }
  bool FileExists(const char* fileName) override {
    char path[1024];
    if (!platform::ResolveProfilePath(fileName, path, sizeof path)) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
  }
  bool GetEnv(const char* name, char* out, size_t outSize) override {
    return platform::GetEnvironment(name, out, outSize);
  }
  char PathSeparator() override { return platform::PathSeparator(); }
};

}  // namespace

SettingsStore& PlatformSettingsStore() {
  static PlatformStore store;
  return store;
}

}  // namespace qv::setup
