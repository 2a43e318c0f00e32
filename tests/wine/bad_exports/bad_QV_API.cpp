// Nineteen of the twenty driver entry points (Transmit_Message missing), one extra export, and
// no .def file: on i686 every name comes out decorated (_Name@N).
#include <stdint.h>

#define ENTRY(name) extern "C" __declspec(dllexport) int32_t __stdcall name(void*, void*) { return 0; }
ENTRY(BeginDataLog) ENTRY(ConfigureCAN) ENTRY(ConfigurePWM) ENTRY(ConfigureUART) ENTRY(ConfigureVKL)
ENTRY(Configure_Receive_Message) ENTRY(Configure_Transmit_Message) ENTRY(GetHardwareStatus)
ENTRY(GetVersions) ENTRY(Receive_Message) ENTRY(Receive_Transport_Message) ENTRY(SetVerboseMode)
ENTRY(Set_Filter) ENTRY(Set_Transport_Address) ENTRY(Set_Trigger) ENTRY(UploadDataLog) ENTRY(Extra)
extern "C" __declspec(dllexport) int32_t __stdcall Initialize_Hardware(void*, void*, void*) { return 0; }
extern "C" __declspec(dllexport) int32_t __stdcall Restore_Hardware(void*, void*, void*) { return 0; }
extern "C" __declspec(dllexport) int32_t SendQVCommand(int, int, int, int, int) { return 0; }  // not stdcall
