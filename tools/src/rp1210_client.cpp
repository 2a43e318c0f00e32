#include "rp1210_client.h"

#include <cstring>

#include "qvlink/platform/dynamic_library.h"

namespace qv::tools {
namespace {

template <typename F>
bool Bind(void* lib, const char* name, F& out, std::string* why) {
  out = reinterpret_cast<F>(qv::platform::FindLibrarySymbol(lib, name));
  if (out == nullptr && why != nullptr && why->empty()) *why = std::string("the library has no entry point ") + name;
  return out != nullptr;
}

}  // namespace

bool Rp1210Library::load(const char* bareName, std::string* why) {
  unload();
  lib_ = qv::platform::LoadLibraryByName(bareName);
  if (lib_ == nullptr) {
    if (why) *why = std::string("cannot load the RP1210 library ") + bareName + " (is it installed beside this program?)";
    return false;
  }
  if (why) why->clear();
  Rp1210Api& a = api_;
  bool ok = Bind(lib_, "RP1210_ClientConnect", a.connect, why);
  ok = Bind(lib_, "RP1210_ClientDisconnect", a.disconnect, why) && ok;
  ok = Bind(lib_, "RP1210_SendMessage", a.send, why) && ok;
  ok = Bind(lib_, "RP1210_ReadMessage", a.read, why) && ok;
  ok = Bind(lib_, "RP1210_SendCommand", a.command, why) && ok;
  ok = Bind(lib_, "RP1210_GetHardwareStatus", a.status, why) && ok;
  ok = Bind(lib_, "RP1210_ReadVersion", a.version, why) && ok;
  ok = Bind(lib_, "RP1210_GetErrorMsg", a.errorText, why) && ok;
  ok = Bind(lib_, "RP1210_ReadDetailedVersion", a.detailedVersion, why) && ok;
  ok = Bind(lib_, "RP1210_GetLastErrorMsg", a.lastError, why) && ok;
  ok = Bind(lib_, "RP1210_Ioctl", a.ioctl, why) && ok;
  if (!ok) unload();
  return ok;
}

void Rp1210Library::unload() {
  if (lib_ != nullptr) qv::platform::FreeLibraryHandle(lib_);
  lib_ = nullptr;
  api_ = Rp1210Api{};
}

int16_t Rp1210Library::connect(int16_t device, const char* protocol, void* window) const {
  return api_.connect(window, device, protocol, 0, 0, 0);
}

int16_t Rp1210Library::disconnect(int16_t client) const { return api_.disconnect(client); }

int16_t Rp1210Library::send(int16_t client, const uint8_t* msg, int16_t size, bool block) const {
  return api_.send(client, reinterpret_cast<const char*>(msg), size, 0, block ? 1 : 0);
}

int16_t Rp1210Library::read(int16_t client, uint8_t* buf, int16_t size, bool block) const {
  return api_.read(client, reinterpret_cast<char*>(buf), size, block ? 1 : 0);
}

int16_t Rp1210Library::command(int16_t number, int16_t client, uint8_t* data, int16_t size) const {
  return api_.command(number, client, reinterpret_cast<char*>(data), size);
}

void Rp1210Library::readVersion(char out[4]) const { api_.version(&out[0], &out[1], &out[2], &out[3]); }

int16_t Rp1210Library::hardwareStatus(int16_t client, uint8_t out[16]) const {
  return api_.status(client, reinterpret_cast<char*>(out), 16, 0);
}

std::string Rp1210Library::errorName(int code) const {
  // The library writes at most 31 bytes; the rest is room to spare.
  char text[80] = {};
  if (api_.errorText != nullptr && code >= -32768 && code <= 32767 && api_.errorText(static_cast<int16_t>(code), text) == 0) {
    text[sizeof text - 1] = '\0';
    return text;
  }
  return "code " + std::to_string(code);
}

}  // namespace qv::tools
