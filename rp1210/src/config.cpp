#include "config.h"

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "context.h"
#include "trace_log.h"

namespace qv::rp1210 {
namespace {

constexpr size_t kMaxPortChars = 9;
constexpr size_t kMaxNumberChars = 9;

enum class Value { Absent, Empty, Present };

Value ReadValue(const char* section, const char* key, char* buf, uint32_t size, const char* file) {
  std::memset(buf, 0, size);
  const uint32_t n = Ctx().services.readProfile(section, key, kAbsentText, buf, size, file);
  if (n == 0) return Value::Empty;
  if (std::strcmp(buf, kAbsentText) == 0) return Value::Absent;
  return Value::Present;
}

// Reads one optional number of QV121032.ini into out (0 when the key is absent); false when the
// key is there but empty, which the caller refuses.
bool ReadNumber(const char* section, const char* key, int32_t& out) {
  char buf[kConfigValueSize];
  const Value v = ReadValue(section, key, buf, sizeof buf, kDeviceIniFile);
  out = v == Value::Present ? ParseDecimal(buf) : 0;
  return v != Value::Empty;
}

}  // namespace

int32_t ParseDecimal(const char* text, size_t maxChars) {
  if (text == nullptr) return 0;
  size_t i = 0;
  while (i < maxChars && text[i] != 0 &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' || text[i] == '\v' ||
          text[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < maxChars && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  while (i < maxChars && text[i] >= '0' && text[i] <= '9') {
    if (value < 100000000000LL) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (negative) value = -value;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

bool ParseDeviceParams(const char* value, DeviceSettings* s) {
  const size_t len = std::strlen(value);
  const char* c1 = std::strchr(value, ',');
  if (c1 == nullptr) return false;
  const char* c2 = std::strchr(c1 + 1, ',');
  if (c2 == nullptr) return false;
  const char* c3 = std::strchr(c2 + 1, ',');
  if (c3 == nullptr) return false;
  const size_t portLen = static_cast<size_t>(c1 - value);
  const size_t baudLen = static_cast<size_t>(c2 - c1 - 1);
  const size_t addrLen = static_cast<size_t>(c3 - c2 - 1);
  if (portLen > kMaxPortChars || baudLen > kMaxNumberChars || addrLen > kMaxNumberChars) return false;
  std::memset(s->portName, 0, sizeof s->portName);
  std::memcpy(s->portName, value, portLen);
  s->baudRate = static_cast<uint32_t>(ParseDecimal(c1 + 1, baudLen));
  s->rfAddress = static_cast<uint32_t>(ParseDecimal(c2 + 1, addrLen));
  // Positional: two characters of line format, then the channel three characters later.
  const size_t formatAt = static_cast<size_t>(c3 + 1 - value);
  s->lineFormat = static_cast<uint8_t>(ParseDecimal(value + formatAt, 2));
  const size_t channelAt = formatAt + 3;
  s->rfChannel = channelAt < len ? static_cast<uint8_t>(ParseDecimal(value + channelAt, 2)) : 0;
  return true;
}

int ReadDeviceConfig(int16_t n, DeviceSettings* s) {
  SwitchTraceLogOff();
  char number[16];
  std::snprintf(number, sizeof number, "%d", static_cast<int>(n));
  char section[32];
  std::snprintf(section, sizeof section, "DeviceInformation%.3s", number);

  char buf[kConfigValueSize];
  const char* file = kDeviceIniFile;
  switch (ReadValue(section, "DeviceParams", buf, sizeof buf, file)) {
    case Value::Empty: return ERR_INVALID_CLIENT_ID;
    case Value::Absent: return ERR_INVALID_DEVICE;
    case Value::Present: break;
  }
  s->deviceNumber = 0;
  if (!ParseDeviceParams(buf, s)) return ERR_INVALID_DEVICE;

  int32_t x = 0;
  if (!ReadNumber("ReconnectSettings", "ReconnectTime", x)) return ERR_INVALID_CLIENT_ID;
  s->reconnectTime = static_cast<uint32_t>(x);

  const Value v = ReadValue("Logging", "LoggingType", buf, sizeof buf, file);
  if (v == Value::Empty) return ERR_INVALID_CLIENT_ID;
  SetUpTraceLog(buf, v == Value::Present, file);

  if (!ReadNumber("Packing", "PackingType", x)) return ERR_INVALID_CLIENT_ID;
  s->packingType = static_cast<uint32_t>(x);
  if (!ReadNumber("TXBlock", "TXBlockType", x)) return ERR_INVALID_CLIENT_ID;
  s->txBlockType = static_cast<uint32_t>(x);
  if (!ReadNumber("TXErrorCounters", "CounterEnable", x)) return ERR_INVALID_CLIENT_ID;
  s->counterEnable = static_cast<uint8_t>(x);

  // RF acknowledgement applies only to the devices listed beside it.
  s->rfAck = 0;
  if (ReadValue("RFAck", "Devices", buf, sizeof buf, file) == Value::Empty) return ERR_INVALID_CLIENT_ID;
  if (std::strcmp(buf, kAbsentText) != 0 && Contains(buf, number)) {
    if (!ReadNumber("RFAck", "RFAck", x)) return ERR_INVALID_CLIENT_ID;
    s->rfAck = static_cast<uint8_t>(x);
  }

  if (!ReadNumber("Filter", "FilterType", x)) return ERR_INVALID_CLIENT_ID;
  s->filterType = static_cast<uint8_t>(x);
  return 0;
}

void ParseAppFilter(const char* value, uint8_t out[7]) {
  const size_t len = std::strlen(value);
  for (size_t i = 0; i < 7; ++i) {
    const size_t at = i * 4;
    out[i] = at < len ? static_cast<uint8_t>(ParseDecimal(value + at, 3)) : 0;
  }
}

bool ReadFilterFile(AppTable* table) {
  std::memset(table, 0, sizeof *table);
  char buf[kFilterValueSize];
  const char* file = kFilterIniFile;
  Value v = ReadValue("NumberApps", "total", buf, sizeof buf, file);
  if (v == Value::Empty) return false;
  const int32_t total = v == Value::Present ? ParseDecimal(buf) : 0;
  // More applications than the table holds: refuse the file rather than guess which to drop.
  if (total < 0 || total > kMaxApps) return false;
  for (int i = 0; i < total; ++i) {
    char section[8];
    std::snprintf(section, sizeof section, "App%d", i + 1);
    AppEntry& app = table->apps[i];
    v = ReadValue(section, "AppName", buf, sizeof buf, file);
    if (v == Value::Empty) return false;
    std::memcpy(app.name, buf, sizeof app.name);
    app.name[sizeof app.name - 1] = 0;
    for (int k = 0; k < 5; ++k) {
      char key[16];
      std::snprintf(key, sizeof key, "AppFilter%d", k + 1);
      v = ReadValue(section, key, buf, sizeof buf, file);
      if (v == Value::Empty) return false;
      ParseAppFilter(buf, app.filters[k]);  // the absent text reads as zeros
    }
  }
  table->count = total;
  return true;
}

namespace {

struct RunningSearch {
  const char* appName;
};

bool VisitModule(const char* moduleName, void* context) {
  const auto* search = static_cast<const RunningSearch*>(context);
  return moduleName != nullptr && std::strlen(moduleName) > 1 && Contains(search->appName, moduleName);
}

}  // namespace

bool AppIsRunning(const char* appName) {
  RunningSearch search{appName};
  return Ctx().services.visitModules(&VisitModule, &search);
}

int ApplyAppFilter() {
  AppTable table;
  if (!ReadFilterFile(&table)) return 0;
  int applied = 0;
  for (int i = 0; i < table.count; ++i) {
    const AppEntry& app = table.apps[i];
    // A name longer than the table's room is refused instead of matched on a cut text.
    if (app.name[0] == 0 || std::strlen(app.name) > kMaxAppNameChars) continue;
    if (std::strcmp(app.name, kAbsentText) == 0) continue;
    if (!AppIsRunning(app.name)) continue;
    for (const auto& entry : app.filters) {
      if (entry[0] == 0) continue;
      SendJ1939FilterList(entry, 7);
      applied = 1;
    }
  }
  return applied;
}

}  // namespace qv::rp1210
