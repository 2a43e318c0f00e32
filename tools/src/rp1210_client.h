// The RP1210 library as an application sees it: QV121032 loaded by its bare name through the
// platform loader, its eight entry points bound by name with the types of QV121032.h.
#pragma once

#include <cstdint>
#include <string>

#include "QV121032.h"

namespace qv::tools {

class Rp1210Library {
 public:
  Rp1210Library() = default;
  ~Rp1210Library() { unload(); }
  Rp1210Library(const Rp1210Library&) = delete;
  Rp1210Library& operator=(const Rp1210Library&) = delete;

  // False with a one-line reason when the library or one of the entry points is missing.
  bool load(const char* bareName, std::string* why);
  void unload();
  bool loaded() const { return lib_ != nullptr; }

  int16_t connect(int16_t device, const char* protocol, void* window = nullptr) const;
  int16_t disconnect(int16_t client) const;
  int16_t send(int16_t client, const uint8_t* msg, int16_t size, bool block) const;
  int16_t read(int16_t client, uint8_t* buf, int16_t size, bool block) const;
  int16_t command(int16_t number, int16_t client, uint8_t* data, int16_t size) const;
  void readVersion(char out[4]) const;
  int16_t hardwareStatus(int16_t client, uint8_t out[16]) const;
  // The library's name for a result code, "code N" when it has none.
  std::string errorName(int code) const;

 private:
  void* lib_ = nullptr;
  decltype(&RP1210_ClientConnect) connect_ = nullptr;
  decltype(&RP1210_ClientDisconnect) disconnect_ = nullptr;
  decltype(&RP1210_SendMessage) send_ = nullptr;
  decltype(&RP1210_ReadMessage) read_ = nullptr;
  decltype(&RP1210_SendCommand) command_ = nullptr;
  decltype(&RP1210_ReadVersion) version_ = nullptr;
  decltype(&RP1210_GetErrorMsg) errorMsg_ = nullptr;
  decltype(&RP1210_GetHardwareStatus) status_ = nullptr;
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
