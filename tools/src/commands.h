// The qvlink commands; each returns the process exit code (device_config.h).
#pragma once

#include "args.h"

namespace qv::tools {

int RunDemo(const Options& o);
int RunMonitor(const Options& o);
int RunSend(const Options& o);
int RunRequest(const Options& o);
int RunStatus(const Options& o);
int RunVersion(const Options& o);
int RunDevices(const Options& o);

}  // namespace qv::tools
