// Module names of running processes through the process status calls.
#include "qvlink/platform/process_list.h"

#include <windows.h>
#include <psapi.h>

namespace qv::platform {

bool VisitProcessModules(ModuleVisitor visitor, void* context) {
  if (visitor == nullptr) return false;
  DWORD pids[1024];
  DWORD needed = 0;
  if (!EnumProcesses(pids, sizeof(pids), &needed)) return false;
  const DWORD count = needed / sizeof(DWORD);
  for (DWORD i = 0; i < count; ++i) {
    // 0x410: PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
    HANDLE process = OpenProcess(0x410, FALSE, pids[i]);
    if (process == nullptr) continue;
    HMODULE modules[260];
    DWORD modNeeded = 0;
    bool stop = false;
    if (EnumProcessModules(process, modules, sizeof(modules), &modNeeded)) {
      DWORD modCount = modNeeded / sizeof(HMODULE);
      if (modCount > 260) modCount = 260;  // more modules than the array holds: walk what we got
      for (DWORD m = 0; m < modCount && !stop; ++m) {
        char name[260];
        const DWORD len = GetModuleBaseNameA(process, modules[m], name, sizeof(name));
        if (len == 0) continue;
        name[len < sizeof(name) ? len : sizeof(name) - 1] = '\0';
        stop = visitor(name, context);
      }
    }
    CloseHandle(process);
    if (stop) return true;
  }
  return false;
}

}  // namespace qv::platform
