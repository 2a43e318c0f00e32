// qvlink: the QvLink link from the command line, over the RP1210 library as applications use it.
#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "device_config.h"

int main(int argc, char** argv) {
  using namespace qv::tools;
  std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult r = ParseArgs(args);
  if (!r.ok) {
    std::fprintf(stderr, "qvlink: %s\n", r.error.c_str());
    return kExitUsage;
  }
  const Options& o = r.options;
  if (o.help) {
    std::fputs(HelpText(o.command).c_str(), stdout);
    return kExitOk;
  }
  switch (o.command) {
    case Command::Demo: return RunDemo(o);
    case Command::Monitor: return RunMonitor(o);
    case Command::Send: return RunSend(o);
    case Command::Request: return RunRequest(o);
    case Command::Status: return RunStatus(o);
    case Command::Version: return RunVersion(o);
    case Command::Devices: return RunDevices(o);
    case Command::None: break;
  }
  std::fputs(HelpText(Command::None).c_str(), stderr);
  return kExitUsage;
}
