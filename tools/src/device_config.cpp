#include "device_config.h"

#include <cstdlib>
#include <filesystem>

#include "qvlink/platform/clock.h"
#include "qvlink/platform/profile.h"
#include "qvlink/platform/serial_port.h"
#include "rp1210_client.h"

namespace qv::tools {
namespace {

// A default no INI value can hold, so "absent" and "empty" stay apart.
constexpr char kAbsent[] = "\x01";

struct Value {
  bool present = false;
  std::string text;
};

Value Read(const std::string& section, const char* key) {
  char buf[256];
  qv::platform::ReadProfileString(section.c_str(), key, kAbsent, buf, sizeof buf, kIniName);
  Value v;
  v.present = std::string(buf) != kAbsent;
  if (v.present) v.text = buf;
  return v;
}

std::string IniPath() {
  char path[512];
  if (!qv::platform::ResolveProfilePath(kIniName, path, sizeof path)) return kIniName;
  return path;
}

bool IniExists(std::string* path) {
  *path = IniPath();
  std::error_code ec;
  return std::filesystem::is_regular_file(*path, ec);
}

std::string Section(const char* prefix, int id) { return prefix + std::to_string(id); }

// Field k (0-based) of a comma-separated value.
std::string Field(const std::string& text, size_t k) {
  size_t start = 0;
  for (size_t i = 0; i < k; ++i) {
    start = text.find(',', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  return text.substr(start, text.find(',', start) - start);
}

// AT "DH" in an API frame; the modem answers with 0x88, frame id, 'D', 'H', status, value.
bool ModemAnswers(const std::string& port, const std::string& params) {
  const uint32_t baud = static_cast<uint32_t>(std::strtoul(Field(params, 1).c_str(), nullptr, 10));
  const uint8_t format = static_cast<uint8_t>(std::strtoul(Field(params, 3).substr(0, 2).c_str(), nullptr, 10));
  char settings[64];
  if (!qv::platform::BuildSerialSettingsText(baud ? baud : 115200, format ? format : 81, settings, sizeof settings))
    return false;
  qv::platform::SerialPort sp;
  qv::platform::SerialConfig cfg;
  cfg.settings = settings;
  if (sp.open(port.c_str(), cfg) != qv::platform::SerialOpenError::None) return false;
  const uint8_t body[] = {0x08, 0x52, 'D', 'H'};
  uint8_t sum = 0;
  for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
  const uint8_t frame[] = {0x7E, 0x00, sizeof body, body[0], body[1], body[2], body[3], static_cast<uint8_t>(0xFF - sum)};
  if (sp.write(frame, sizeof frame) != static_cast<long>(sizeof frame)) return false;
  const uint8_t want[] = {0x88, 0x52, 'D', 'H'};
  size_t matched = 0;
  const uint32_t start = qv::platform::TickMs();
  while (qv::platform::TickMs() - start < 500) {
    uint8_t b = 0;
    const long n = sp.read(&b, 1, 50);
    if (n < 0) return false;
    if (n == 0) continue;
    matched = b == want[matched] ? matched + 1 : (b == want[0] ? 1 : 0);
    if (matched == sizeof want) return true;
  }
  return false;
}

}  // namespace

bool ParseIdList(const std::string& text, std::vector<int>* ids) {
  ids->clear();
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, end - at);
    if (item.empty() || item.size() > 5) return false;
    int v = 0;
    for (char c : item) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 32767) return false;
    ids->push_back(v);
    at = end + 1;
  }
  return !ids->empty();
}

namespace {

// The ids a [VendorInformation] key lists; what is wrong with the key goes to problems.
std::vector<int> ListedIds(const char* key, std::vector<std::string>& problems) {
  std::vector<int> ids;
  const Value list = Read("VendorInformation", key);
  if (!list.present) problems.push_back(std::string("[VendorInformation] has no ") + key + " key");
  else if (!ParseIdList(list.text, &ids))
    problems.push_back(std::string("[VendorInformation] ") + key + " '" + list.text + "' is not a comma-separated id list");
  return ids;
}

}  // namespace

IniInventory ReadInventory() {
  IniInventory inv;
  inv.fileFound = IniExists(&inv.path);
  if (!inv.fileFound) return inv;
  inv.vendor = Read("VendorInformation", "Name").text;
  for (int id : ListedIds("Devices", inv.problems)) {
    IniDevice d;
    d.id = id;
    const std::string s = Section("DeviceInformation", id);
    const Value params = Read(s, "DeviceParams");
    d.present = params.present && !params.text.empty();
    d.params = params.text;
    d.name = Read(s, "DeviceName").text;
    d.description = Read(s, "DeviceDescription").text;
    if (!d.present) inv.problems.push_back("device " + std::to_string(id) + " is listed but [" + s + "] has no DeviceParams value");
    inv.devices.push_back(d);
  }
  for (int id : ListedIds("Protocols", inv.problems)) {
    IniProtocol p;
    p.id = id;
    const std::string s = Section("ProtocolInformation", id);
    const Value str = Read(s, "ProtocolString");
    p.present = str.present && !str.text.empty();
    p.string = str.text;
    p.description = Read(s, "ProtocolDescription").text;
    p.speed = Read(s, "ProtocolSpeed").text;
    p.devices = Read(s, "Devices").text;
    if (!p.present) inv.problems.push_back("protocol " + std::to_string(id) + " is listed but [" + s + "] has no ProtocolString value");
    inv.protocols.push_back(p);
  }
  return inv;
}

bool DefaultDevice(int16_t* device, std::string* why) {
  std::string path;
  if (!IniExists(&path)) {
    *why = std::string(kIniName) + " not found at " + path + ": set QV_PROFILE_DIR or run QvLink Setup";
    return false;
  }
  const Value devices = Read("VendorInformation", "Devices");
  std::vector<int> ids;
  if (!devices.present || !ParseIdList(devices.text, &ids)) {
    *why = std::string("no device list in [VendorInformation] Devices of ") + path + ": give --device N";
    return false;
  }
  *device = static_cast<int16_t>(ids.front());
  return true;
}

bool CheckDeviceConfigured(int16_t device, std::string* why) {
  std::string path;
  if (!IniExists(&path)) {
    *why = std::string(kIniName) + " not found at " + path + ": set QV_PROFILE_DIR or run QvLink Setup";
    return false;
  }
  const std::string s = Section("DeviceInformation", device);
  const Value params = Read(s, "DeviceParams");
  if (!params.present) {
    std::string listed = Read("VendorInformation", "Devices").text;
    *why = "device " + std::to_string(device) + " is not in " + path + " (no [" + s + "] DeviceParams" +
           (listed.empty() ? std::string(")") : "; devices listed: " + listed + ")");
    return false;
  }
  if (params.text.empty()) {
    *why = "[" + s + "] DeviceParams is empty in " + path + ": run QvLink Setup to pair the adapter";
    return false;
  }
  return true;
}

std::string DevicePort(int16_t device) {
  return Field(Read(Section("DeviceInformation", device), "DeviceParams").text, 0);
}

std::string DescribeConnectFailure(const Rp1210Library& lib, int code, int16_t device, int* exitCode) {
  const std::string name = lib.errorName(code);
  const std::string dev = "device " + std::to_string(device);
  *exitCode = kExitConfig;
  switch (code) {
    case kErrDllNotInitialized:
      return "connect failed (" + name + "): the driver library QV_API could not be loaded, or the port in " +
             "DeviceParams is not a COM port: check libQV_API is installed beside QV121032";
    case kErrInvalidClientId:
      return "connect failed (" + name + "): a key in " + IniPath() + " is present with an empty value: give it a value or remove it";
    case kErrClientAlreadyConnected:
      *exitCode = kExitLink;
      return "connect failed (" + name + "): this protocol is already connected on " + dev;
    case kErrClientAreaFull:
      *exitCode = kExitLink;
      return "connect failed (" + name + "): all client slots are taken";
    case kErrInvalidProtocol:
      return "connect failed (" + name + "): the protocol is not one the library knows";
    case kErrInvalidDevice: break;
    default:
      *exitCode = kExitLink;
      return "connect failed (" + name + ")";
  }
  std::string why;
  if (!CheckDeviceConfigured(device, &why)) return "connect failed (" + name + "): " + why;
  *exitCode = kExitLink;
  const std::string params = Read(Section("DeviceInformation", device), "DeviceParams").text;
  const std::string port = Field(params, 0);
  qv::platform::SerialPort sp;
  qv::platform::SerialConfig cfg;
  switch (sp.open(port.c_str(), cfg)) {
    case qv::platform::SerialOpenError::NotFound:
      return "connect failed (" + name + "): port " + port + " not found: check the radio modem is plugged in and DeviceParams names its port";
    case qv::platform::SerialOpenError::Busy:
      return "connect failed (" + name + "): port " + port + " is in use by another program: close it and try again";
    case qv::platform::SerialOpenError::None: break;
    default:
      return "connect failed (" + name + "): port " + port + " cannot be opened: check its permissions and settings";
  }
  sp.close();
  if (!ModemAnswers(port, params))
    return "connect failed (" + name + "): the radio modem on " + port + " does not answer: check it is in API mode at the DeviceParams baud rate";
  return "connect failed (" + name + "): the adapter does not answer through the modem on " + port +
         ": check it is powered, in range, and that DeviceParams holds its address and channel (QvLink Setup)";
}

std::string DemoIniText(int16_t device, const char* port, uint16_t adapterAddress, uint8_t channel) {
  const std::string id = std::to_string(device);
  std::string t =
      "[VendorInformation]\nName=QvLink Wireless J1708/J1939 Adapter\nAddress1=QvLink\nCity=Unknown\n"
      "Country=Unknown\nPhone=0\nFax=0\nVersion=1.0\nRP1210=C\nTimestampWeight=1000\nAutoDetectCapable=No\n"
      "Devices=" + id + "\nProtocols=1,2,3\n\n";
  t += "[DeviceInformation" + id + "]\nDeviceID=" + id +
       "\nDeviceDescription=QvLink demo adapter (simulated)\nDeviceName=QvLink\nDeviceParams=" + port + ",115200," +
       std::to_string(adapterAddress) + ",81," + std::to_string(channel) + "\nMultiCANChannels=1\nMultiJ1939Channels=1\n\n";
  const char* protocols[][3] = {{"J1939", "SAE J1939 Protocol", "250"},
                                {"J1708", "SAE J1708 Protocol", "9600"},
                                {"CAN", "CAN Network Protocol", "250"}};
  for (int i = 0; i < 3; ++i)
    t += "[ProtocolInformation" + std::to_string(i + 1) + "]\nProtocolString=" + protocols[i][0] +
         "\nProtocolDescription=" + protocols[i][1] + "\nProtocolSpeed=" + protocols[i][2] +
         "\nProtocolParams=none\nDevices=" + id + "\n\n";
  t += "[ReconnectSettings]\nReconnectTime=0\n\n[Logging]\nLoggingType=0\nFileName=QV121032.log\nSocket=0\n\n"
       "[Packing]\nPackingType=0\n\n[TXBlock]\nTXBlockType=0\n\n[TXErrorCounters]\nCounterEnable=0\n\n"
       "[RFAck]\nDevices=" + id + "\nRFAck=0\n\n[Filter]\nFilterType=0\n";
  return t;
}

}  // namespace qv::tools
