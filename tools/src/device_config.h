// What QV121032.ini says about devices and protocols, read through the platform's profile
// reader, and plain-words reasons for a connect that failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::tools {

class Rp1210Library;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // the operation ran and did not succeed
inline constexpr int kExitUsage = 2;     // bad command line
inline constexpr int kExitConfig = 3;    // QV121032.ini missing, device unknown, bad entry
inline constexpr int kExitLink = 4;      // port absent or busy, modem or adapter silent

inline constexpr char kIniName[] = "QV121032.ini";

// Comma-separated decimal ids ("101,102"); false on anything else (spaces, empty items).
bool ParseIdList(const std::string& text, std::vector<int>* ids);

struct IniDevice {
  int id = 0;
  bool present = false;  // [DeviceInformationN] has DeviceParams
  std::string name, description, params;
};
struct IniProtocol {
  int id = 0;
  bool present = false;  // [ProtocolInformationN] has ProtocolString
  std::string string, description, speed, devices;
};
struct IniInventory {
  std::string path;
  bool fileFound = false;
  std::string vendor;
  std::vector<IniDevice> devices;
  std::vector<IniProtocol> protocols;
  std::vector<std::string> problems;  // one line each
};
IniInventory ReadInventory();

// The device to use when the command line names none: the first of [VendorInformation]
// Devices. False with a reason when there is none.
bool DefaultDevice(int16_t* device, std::string* why);

// Checks before connecting, so the user learns which of the many causes of code 134 it is:
// the file exists and the device has a DeviceParams value. False with a reason.
bool CheckDeviceConfigured(int16_t device, std::string* why);

// The port name of the device's DeviceParams (characters before the first comma).
std::string DevicePort(int16_t device);

// One line saying what failed and what to check, for a connect result that is not a client
// id. Sets *exitCode to kExitConfig or kExitLink. For ERR_INVALID_DEVICE after the
// configuration checks passed, probes the port: absent, busy, modem silent, adapter silent.
std::string DescribeConnectFailure(const Rp1210Library& lib, int code, int16_t device, int* exitCode);

// A complete QV121032.ini for one device on `port` (DeviceParams port,115200,address,81,channel),
// with the three protocols, in the form strict RP1210 readers accept: every key has a value,
// no duplicates, plain ASCII, every listed id has its section.
std::string DemoIniText(int16_t device, const char* port, uint16_t adapterAddress, uint8_t channel);

}  // namespace qv::tools
