// Process modules from /proc: each process's executable and the files it has mapped.
#include "qvlink/platform/process_list.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

namespace qv::platform {

namespace {

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// The basename of a path, without the " (deleted)" mark of replaced files.
std::string BaseName(std::string path) {
  static const char kDeleted[] = " (deleted)";
  const size_t dl = sizeof kDeleted - 1;
  if (path.size() > dl && path.compare(path.size() - dl, dl, kDeleted) == 0)
    path.resize(path.size() - dl);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Visits the process's modules once each; true when the visitor asked to stop.
bool VisitOne(const char* pid, ModuleVisitor visitor, void* context) {
  std::unordered_set<std::string> seen;
  const std::string dir = std::string("/proc/") + pid;

  char target[4096];
  const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    target[n] = '\0';
    std::string base = BaseName(target);
    if (!base.empty()) {
      seen.insert(base);
      if (visitor(base.c_str(), context)) return true;
    }
  }

  FILE* maps = std::fopen((dir + "/maps").c_str(), "re");
  if (maps == nullptr) return false;
  char* line = nullptr;
  size_t cap = 0;
  bool stop = false;
  while (!stop && getline(&line, &cap, maps) > 0) {
    // address perms offset dev inode [path]; only file paths name modules.
    const char* path = std::strchr(line, '/');
    if (path == nullptr) continue;
    std::string p(path);
    while (!p.empty() && (p.back() == '\n' || p.back() == '\r')) p.pop_back();
    std::string base = BaseName(p);
    if (base.empty() || !seen.insert(base).second) continue;
    stop = visitor(base.c_str(), context);
  }
  std::free(line);
  std::fclose(maps);
  return stop;
}

}  // namespace

bool VisitProcessModules(ModuleVisitor visitor, void* context) {
  if (visitor == nullptr) return false;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool stopped = false;
  while (!stopped) {
    const dirent* e = readdir(proc);
    if (e == nullptr) break;
    if (!AllDigits(e->d_name)) continue;
    stopped = VisitOne(e->d_name, visitor, context);
  }
  closedir(proc);
  return stopped;
}

}  // namespace qv::platform
