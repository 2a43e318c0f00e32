// Calling convention and export markers for the two libraries' entry points.
// The 32-bit Windows build uses __stdcall (WINAPI), as RP1210 applications expect;
// everywhere else the platform's default convention applies.
#pragma once

#if defined(_WIN32)
#define QV_STDCALL __stdcall
#define QV_EXPORT
#else
#define QV_STDCALL
#define QV_EXPORT __attribute__((visibility("default")))
#endif
