// Profile (INI) files, with GetPrivateProfileStringA / WritePrivateProfileStringA semantics.
//
// A bare file name (no directory) resolves to the profile directory: the Windows directory on
// Win32; $QV_PROFILE_DIR, default /etc/qvlink, on POSIX.
#pragma once
#include <cstddef>
#include <cstdint>

// <windows.h> maps WriteProfileString to the win.ini call WriteProfileStringA; this name is ours.
#ifdef WriteProfileString
#undef WriteProfileString
#endif

namespace qv::platform {

// Copies the value of [section] key into buf (always terminated when bufSize > 0) and returns
// the number of characters copied. A missing file, section or key copies defaultText; a key
// present with an empty value copies nothing and returns 0. Longer values are cut to
// bufSize - 1. Section and key names match case-insensitively; white space around names and
// values is trimmed; the first of duplicate keys wins. A null section, key or file name copies
// defaultText too.
uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                           char* buf, uint32_t bufSize, const char* fileName);

// Sets [section] key = value, replacing the value in place and keeping every other line,
// comment and the order of the file; adds a missing section or key; creates the file. A null
// value deletes the key, a null key the whole section. Refuses (false, file untouched) text that
// would break the file's lines: a line break anywhere, a section name with ']', an empty key
// or one with '=' or starting with ';' or '['.
// Returns false on failure, also for a file without write permission (the POSIX form of the
// read-only attribute). POSIX: the new text goes to a temporary file renamed over the old one,
// which keeps the old owner and mode; a file with several hard links, or one whose owner or
// directory does not allow that, is rewritten in place.
bool WriteProfileString(const char* section, const char* key, const char* value,
                        const char* fileName);

// Resolves a profile file name to a path as the reader uses it. Returns false when it does
// not fit.
bool ResolveProfilePath(const char* fileName, char* out, size_t outSize);

}  // namespace qv::platform
