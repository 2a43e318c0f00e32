// Hardware status block, version characters and the error texts.
#pragma once
#include <cstdint>

namespace qv::rp1210 {

constexpr int kStatusBlockSize = 16;

// Writes the 16-byte block into info; a buffer declared smaller than that is refused with 141.
int16_t GetHardwareStatus(int16_t nClientID, char* info, int16_t infoSize);
int16_t ReadVersion(char* dllMajor, char* dllMinor, char* apiMajor, char* apiMinor);
int16_t GetErrorMsg(int16_t code, char* description);

// RP1210C additions. Each text is at most 16 characters and a zero byte; null pointers are skipped.
constexpr int kDetailedVersionSize = 17;
int16_t ReadDetailedVersion(int16_t nClientID, char* apiVersion, char* dllVersion, char* firmwareVersion);
// GetErrorMsg's text and result; the sub-error is -1 (no more precise cause known).
int16_t GetLastErrorMsg(int16_t code, int32_t* subErrorCode, char* description);
// No I/O control of RP1210C is one this adapter can honour.
int16_t Ioctl(int16_t nClientID, int32_t nIoctlID, void* input, void* output);

// The text of a result code, or null when the code has none.
const char* ErrorText(int16_t code);

}  // namespace qv::rp1210
