// The platform contract's Windows host: the runner script sets up COM9, the registry is the
// real one, and a notified client is a hidden window.
#define NOMINMAX
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "contract_host.h"

const char* const kTestLibraryFile = "qvtestlib.dll";
const bool kTimeCriticalGranted = true;

bool PrepareHost() { return true; }

int ServeEchoPeer() { return 2; }  // the peer is the Linux build's

void SetEnv(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }

std::string OwnProgramPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  return path;
}

std::string ProfileDirectory() {
  char dir[MAX_PATH];
  return std::string(dir, GetWindowsDirectoryA(dir, MAX_PATH));
}

bool PutRegistryString(const char* keyPath, const char* name, const char* value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const auto size = static_cast<DWORD>(std::strlen(value) + 1);
  const bool ok = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 size) == ERROR_SUCCESS;
  const DWORD number = 5;
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  RegCloseKey(key);
  return ok;
}

void RemoveRegistryKey(const char* keyPath) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
  const std::string path = keyPath;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.substr(0, path.find_last_of('\\')).c_str());
}

struct Client::Impl {
  UINT id;
  HWND window;
};

Client::Client(uint32_t id)
    : impl_(new Impl{id, CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                         nullptr, nullptr)}) {}

Client::~Client() { DestroyWindow(impl_->window); }

qv::platform::WindowHandle Client::window() const { return impl_->window; }

int Client::received(int expected) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int count = 0;
  MSG msg;
  while (count < expected && std::chrono::steady_clock::now() < end) {
    if (!PeekMessageA(&msg, impl_->window, 0, 0, PM_REMOVE))
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    else if (msg.message == impl_->id)
      count += msg.wParam == 0 && msg.lParam == 0 ? 1 : 1000;
  }
  return count;
}
