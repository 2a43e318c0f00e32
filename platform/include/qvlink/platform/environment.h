// Environment variables and path joining.
#pragma once
#include <cstddef>

namespace qv::platform {

// Copies the variable's value into out. Returns false when it is unset or does not fit.
bool GetEnvironment(const char* name, char* out, size_t outSize);

// The platform's path separator: '\\' on Win32, '/' on POSIX.
char PathSeparator();

// Joins a and b with the separator into out (none after an empty a). Returns false, out
// empty, when it does not fit or a part is null.
bool JoinPath(const char* a, const char* b, char* out, size_t outSize);

}  // namespace qv::platform
