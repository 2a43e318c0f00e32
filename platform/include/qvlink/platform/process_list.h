// Names of the modules loaded in running processes.
// Win32: EnumProcesses / OpenProcess(0x410) / EnumProcessModules / GetModuleBaseNameA.
// POSIX: for each /proc/<pid>, the executable's basename and the basenames of the files
// mapped in /proc/<pid>/maps. Processes that cannot be examined are skipped.
#pragma once

namespace qv::platform {

// Called with each module base name; return true to stop the walk.
using ModuleVisitor = bool (*)(const char* moduleBaseName, void* context);

// Walks every module of every process in turn. Returns true when the visitor stopped the
// walk, false when it saw every module (or the list could not be read).
bool VisitProcessModules(ModuleVisitor visitor, void* context);

}  // namespace qv::platform
