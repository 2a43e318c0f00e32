// SettingsStore over the platform's profile files and environment.
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
  void WriteString(const char* section, const char* key, const char* value,
                   const char* fileName) override {
    platform::WriteProfileString(section, key, value, fileName);
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
