// Dynamic libraries: LoadLibraryA by bare name (Windows adds .dll and searches as usual).
#include "qvlink/platform/dynamic_library.h"

#include <windows.h>

namespace qv::platform {

LibraryHandle LoadLibraryByName(const char* bareName) {
  if (bareName == nullptr || bareName[0] == '\0') return nullptr;
  // A bare name only, as on POSIX: a path from an INI file must not steer the loader elsewhere.
  for (const char* c = bareName; *c != '\0'; ++c)
    if (*c == '\\' || *c == '/' || *c == ':') return nullptr;
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(bareName));
}

void* FindLibrarySymbol(LibraryHandle lib, const char* name) {
  if (lib == nullptr || name == nullptr) return nullptr;
  // FARPROC to void* goes through an integer so the cast is well defined on both widths.
  return reinterpret_cast<void*>(
      reinterpret_cast<uintptr_t>(GetProcAddress(static_cast<HMODULE>(lib), name)));
}

void FreeLibraryHandle(LibraryHandle lib) {
  if (lib != nullptr) FreeLibrary(static_cast<HMODULE>(lib));
}

}  // namespace qv::platform
