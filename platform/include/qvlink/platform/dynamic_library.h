// Dynamic libraries by bare name: Win32 LoadLibraryA("N") (N.dll); POSIX dlopen("libN.so")
// with the default search order (our libraries carry RUNPATH $ORIGIN). Loads are counted:
// each successful load needs one free.
#pragma once

namespace qv::platform {

using LibraryHandle = void*;

// Returns nullptr when the library cannot be loaded or the name holds a path (/, and on Win32
// also \\ and :).
LibraryHandle LoadLibraryByName(const char* bareName);
// Returns nullptr when the symbol is missing.
void* FindLibrarySymbol(LibraryHandle lib, const char* name);
void FreeLibraryHandle(LibraryHandle lib);

}  // namespace qv::platform
