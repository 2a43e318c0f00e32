// qvlink-sim: serves the simulated modem, adapter and vehicle bus on a pseudo-terminal until
// SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qvlink/sim/simulator.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: qvlink-sim [--port-dir DIR --port COM5] [--serial HEX] [--my HEX]\n"
               "                  [--channel N] [--address N] [--firmware HEX] [--rx64]\n"
               "                  [--no-bus] [--keepalive MS] [--line-baud N] [--faults LIST] [-v]\n"
               "faults: drop=N[:pc] dup=N[:pc] delay=N:MS[:pc] corrupt=checksum|bit|length|noise[:N]\n"
               "        droprate=P split noack=N modem-silent adapter-silent (comma separated)\n");
}

bool parseNum(const char* s, int base, unsigned long long max, unsigned long long& out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(s, &end, base);
  return errno == 0 && *end == '\0' && out <= max;
}

// FNV-1a of a payload: lets a script compare what was sent with what arrived.
uint32_t Fnv1a(const qv::sim::Bytes& data) {
  uint32_t h = 2166136261u;
  for (uint8_t b : data) h = (h ^ b) * 16777619u;
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  std::string portDir, port, faults;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long long n = 0;
    auto take = [&](int base, unsigned long long max) {
      if (!parseNum(v, base, max, n)) {
        std::fprintf(stderr, "qvlink-sim: bad value for %s\n", a.c_str());
        std::exit(2);
      }
      ++i;
    };
    if (a == "--port-dir" && v) { portDir = v; ++i; }
    else if (a == "--port" && v) { port = v; ++i; }
    else if (a == "--faults" && v) { faults = v; ++i; }
    else if (a == "--serial") { take(16, ~0ULL); cfg.modemSerial = n; }
    else if (a == "--my") { take(16, 0xFFFF); cfg.modemMy = static_cast<uint16_t>(n); }
    else if (a == "--channel") {
      take(10, 0x1A);
      cfg.modemChannel = static_cast<uint8_t>(n);
      cfg.adapterChannel = static_cast<uint8_t>(n);
    }
    else if (a == "--address") { take(10, 0xFFFF); cfg.adapterAddress = static_cast<uint16_t>(n); }
    else if (a == "--firmware") { take(16, 0xFFFF); cfg.firmwareVersion = static_cast<uint16_t>(n); }
    else if (a == "--keepalive") { take(10, 3600000); cfg.keepAliveIntervalMs = static_cast<uint32_t>(n); }
    else if (a == "--line-baud") { take(10, 4000000); cfg.lineBaud = static_cast<uint32_t>(n); }
    else if (a == "--rx64") cfg.rxPacket64 = true;
    else if (a == "--no-bus") cfg.busTraffic = false;
    else if (a == "-v") cfg.verbose = true;
    else { usage(); return 2; }
  }
  if (portDir.empty() != port.empty()) {
    usage();
    return 2;
  }
  // The service thread inherits this mask, so only sigwait below sees the signals.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  qv::sim::Simulator sim(cfg);
  if (!faults.empty() && !sim.applyFaults(faults)) {
    std::fprintf(stderr, "qvlink-sim: bad fault list '%s'\n", faults.c_str());
    return 2;
  }
  if (!sim.start()) {
    std::fprintf(stderr, "qvlink-sim: cannot open a pseudo-terminal\n");
    return 1;
  }
  if (!port.empty() && !sim.linkPort(portDir, port)) {
    std::fprintf(stderr, "qvlink-sim: cannot create %s/%s\n", portDir.c_str(), port.c_str());
    return 1;
  }
  std::printf("%s\n", sim.slavePath().c_str());
  if (!port.empty()) std::printf("%s/%s -> %s\n", portDir.c_str(), port.c_str(), sim.slavePath().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&set, &sig);
  // What the PC sent, for scripts that drive the simulator from outside (one line each).
  for (const auto& l : sim.longFromPc())
    std::printf("long-from-pc %s pgn=%u bytes=%zu complete=%d fnv=%08x\n", l.bam ? "bam" : "rts",
                static_cast<unsigned>(l.pgn), l.data.size(), l.complete ? 1 : 0, Fnv1a(l.data));
  std::printf("bus-frames-from-pc %zu\n", sim.busFramesFromPc().size());
  std::fflush(stdout);
  sim.stop();
  return 0;
}
