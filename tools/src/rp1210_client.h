// The RP1210 library as an application sees it: QV121032 loaded by its bare name through the
// platform loader (QV121032.dll on Windows, libQV121032.so beside the caller elsewhere) and its
// eleven entry points bound by name, with the types and calling convention of QV121032.h.
// qvlink, the integration tests and the Windows session program all load it through here.
#pragma once

#include <cstdint>
#include <string>

#include "QV121032.h"

namespace qv::tools {

// The entry points, called as an application calls them (any argument, hostile ones included).
struct Rp1210Api {
  decltype(&RP1210_ClientConnect) connect = nullptr;
  decltype(&RP1210_ClientDisconnect) disconnect = nullptr;
  decltype(&RP1210_SendMessage) send = nullptr;
  decltype(&RP1210_ReadMessage) read = nullptr;
  decltype(&RP1210_SendCommand) command = nullptr;
  decltype(&RP1210_GetHardwareStatus) status = nullptr;
  decltype(&RP1210_ReadVersion) version = nullptr;
  decltype(&RP1210_GetErrorMsg) errorText = nullptr;
  decltype(&RP1210_ReadDetailedVersion) detailedVersion = nullptr;
  decltype(&RP1210_GetLastErrorMsg) lastError = nullptr;
  decltype(&RP1210_Ioctl) ioctl = nullptr;
};

// One loaded library. Not copyable; unloads when destroyed. The calls below, and every pointer
// in api(), may be used only while loaded() is true.
class Rp1210Library {
 public:
  Rp1210Library() = default;
  ~Rp1210Library() { unload(); }
  Rp1210Library(const Rp1210Library&) = delete;
  Rp1210Library& operator=(const Rp1210Library&) = delete;

  // Loads the library by bare name (no path) and binds all eleven entry points. True when every
  // one is bound; otherwise false, nothing stays loaded and *why (when not null) says in one line
  // which library or entry point is missing. A loaded library is unloaded first.
  bool load(const char* bareName, std::string* why);
  void unload();
  bool loaded() const { return lib_ != nullptr; }
  const Rp1210Api& api() const { return api_; }

  // The calls qvlink makes, with the arguments it never varies filled in.
  int16_t connect(int16_t device, const char* protocol, void* window = nullptr) const;
  int16_t disconnect(int16_t client) const;
  int16_t send(int16_t client, const uint8_t* msg, int16_t size, bool block) const;
  int16_t read(int16_t client, uint8_t* buf, int16_t size, bool block) const;
  int16_t command(int16_t number, int16_t client, uint8_t* data, int16_t size) const;
  void readVersion(char out[4]) const;
  int16_t hardwareStatus(int16_t client, uint8_t out[16]) const;
  // The library's name for a result code; "code N" when it has none or nothing is loaded.
  std::string errorName(int code) const;

 private:
  void* lib_ = nullptr;
  Rp1210Api api_;
};

// RP1210 codes the tool reacts to.
inline constexpr int kErrDllNotInitialized = 128;
inline constexpr int kErrInvalidClientId = 129;
inline constexpr int kErrClientAlreadyConnected = 130;
inline constexpr int kErrClientAreaFull = 131;
inline constexpr int kErrInvalidDevice = 134;
inline constexpr int kErrInvalidProtocol = 136;
inline constexpr int kErrHardwareNotResponding = 142;
inline constexpr int kErrCouldNotTx = 152;

// A connect result is a client id when it is 1..10.
inline bool IsClientId(int16_t r) { return r >= 1 && r <= 10; }

}  // namespace qv::tools
