// The eight RP1210 names, one with the wrong argument size and one with the default convention.
#include <stdint.h>

extern "C" {
__declspec(dllexport) int16_t __stdcall RP1210_ClientConnect(void*, int, void*, int, int, int) { return 0; }
__declspec(dllexport) int16_t __stdcall RP1210_ClientDisconnect(int) { return 0; }
__declspec(dllexport) int16_t __stdcall RP1210_SendMessage(int, void*, int, int, int) { return 0; }
__declspec(dllexport) int16_t __stdcall RP1210_ReadMessage(int, void*, int, int) { return 0; }
__declspec(dllexport) int16_t __stdcall RP1210_SendCommand(int, int, void*, int) { return 0; }
__declspec(dllexport) int16_t __stdcall RP1210_ReadVersion(void*, void*, void*) { return 0; }  // 12, not 16
__declspec(dllexport) int16_t RP1210_GetErrorMsg(int, void*) { return 0; }                   // cdecl
__declspec(dllexport) int16_t __stdcall RP1210_GetHardwareStatus(int, void*, int, int) { return 0; }
}
