// What the platform contract needs from the system it runs on, one source per system
// (contract_host_posix.cpp, contract_host_win32.cpp): set-up, paths, the registry and a client
// that takes notifications.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "qvlink/platform/notify.h"

// The test library's file name as the process list shows it.
extern const char* const kTestLibraryFile;

// Whether Thread::setTimeCritical() must succeed here: Windows grants it to any program,
// POSIX refuses it without privileges, which is no fault.
extern const bool kTimeCriticalGranted;

// Makes COM9 lead to an echoing peer and the profile directory a scratch one, where the runner
// has not done so (tests/wine/run_platform.sh does for Windows). False, after printing why,
// when it cannot.
bool PrepareHost();

// Serves as COM9's far end for the Windows runs under Wine (POSIX only): prints the path of a
// pty whose far end echoes every byte, and echoes until told to hang up or idle for two
// minutes. The exit code.
int ServeEchoPeer();

// Sets (value) or removes (nullptr) a variable of this process's environment.
void SetEnv(const char* name, const char* value);

// This program's full path; empty when the system will not say.
std::string OwnProgramPath();

// Where a bare profile file name resolves to.
std::string ProfileDirectory();

// Writes a string value below HKEY_LOCAL_MACHINE (POSIX: registry.ini) and, where values have
// types, a DWORD value "Number" beside it. False when the key cannot be written.
bool PutRegistryString(const char* keyPath, const char* name, const char* value);

// Removes what PutRegistryString wrote under keyPath, and keyPath's parent key if now empty.
void RemoveRegistryKey(const char* keyPath);

// A client of notifications: on Windows a hidden window, on POSIX a pipe whose write end is the
// window value. received() counts notifications of `id` for up to three seconds, until
// `expected`; one that is not a plain notification (wParam or lParam set, a value other than 1)
// counts 1000.
class Client {
 public:
  explicit Client(uint32_t id);
  ~Client();
  qv::platform::WindowHandle window() const;
  int received(int expected);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
