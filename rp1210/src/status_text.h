// Hardware status block, version characters and the error texts.
#pragma once
#include <cstdint>

namespace qv::rp1210 {

constexpr int kStatusBlockSize = 16;

// Writes the 16-byte block into info; a buffer declared smaller than that is refused with 141.
int16_t GetHardwareStatus(int16_t nClientID, char* info, int16_t infoSize);
int16_t ReadVersion(char* dllMajor, char* dllMinor, char* apiMajor, char* apiMinor);
int16_t GetErrorMsg(int16_t code, char* description);

// The text of a result code, or null when the code has none.
const char* ErrorText(int16_t code);

}  // namespace qv::rp1210
