// Dynamic libraries by bare name: N opens libN.so through the loader's normal search.
#include "qvlink/platform/dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace qv::platform {

namespace {

// The folder of the module this code is linked into (the library or program that calls us).
std::string OwnModuleDirectory() {
  Dl_info info{};
  std::string path;
  if (dladdr(reinterpret_cast<void*>(&OwnModuleDirectory), &info) != 0 && info.dli_fname &&
      info.dli_fname[0] == '/')
    path = info.dli_fname;
  if (path.empty()) {  // the main program may be reported by a bare or relative name
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    path.assign(exe, static_cast<size_t>(n));
  }
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

LibraryHandle LoadLibraryByName(const char* bareName) {
  if (bareName == nullptr || bareName[0] == '\0') return nullptr;
  std::string name(bareName);
  // A bare name only: a path from an INI file must not steer the loader elsewhere.
  if (name.find('/') != std::string::npos) return nullptr;
  // Names written for Windows may carry the .dll suffix LoadLibraryA would add itself.
  if (name.size() > 4) {
    const std::string tail = name.substr(name.size() - 4);
    if ((tail[0] == '.') && (tail[1] == 'd' || tail[1] == 'D') && (tail[2] == 'l' || tail[2] == 'L') &&
        (tail[3] == 'l' || tail[3] == 'L'))
      name.resize(name.size() - 4);
  }
  const std::string file = "lib" + name + ".so";
  if (LibraryHandle h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  // RUNPATH $ORIGIN is honoured only for the object that calls dlopen; an interposed
  // dlopen (sanitizer run-times, preload shims) hides ours, so look beside us explicitly.
  const std::string dir = OwnModuleDirectory();
  if (dir.empty()) return nullptr;
  const std::string beside = dir + "/" + file;
  return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindLibrarySymbol(LibraryHandle lib, const char* name) {
  // dlsym(NULL, ...) would search the whole process; a missing handle finds nothing.
  if (lib == nullptr || name == nullptr || name[0] == '\0') return nullptr;
  return dlsym(lib, name);
}

void FreeLibraryHandle(LibraryHandle lib) {
  if (lib != nullptr) dlclose(lib);
}

}  // namespace qv::platform
