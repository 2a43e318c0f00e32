// qvlink-sim: serves the simulated modem, adapter and vehicle bus on a pseudo-terminal until
// SIGINT, SIGTERM or SIGHUP, and removes its port link when it stops.
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qvlink/sim/simulator.h"
#include "serial_pty.h"

namespace {

constexpr char kHelp[] =
    "usage: qvlink-sim [--port-dir DIR --port NAME] [options]\n"
    "Serves a simulated radio modem (Digi XBee, API mode), QvLink adapter and vehicle bus on a\n"
    "pseudo-terminal until SIGINT (Ctrl-C), SIGTERM or SIGHUP. The first line printed is the\n"
    "pty's path; on stop it prints what the PC sent (long-from-pc ..., bus-frames-from-pc N).\n"
    "\n"
    "  --port-dir DIR --port NAME\n"
    "                    link DIR/NAME (e.g. COM5) to the pty, for programs run with\n"
    "                    QV_PORT_DIR=DIR; the link is removed when the simulator stops. A link\n"
    "                    left by a simulator that died is replaced; one that leads to a running\n"
    "                    simulator is refused. DIR/.NAME.lock holds the owner's process id.\n"
    "  --serial HEX      modem serial number SH:SL (default 0013A20040A1B2C3)\n"
    "  --my HEX          modem 16-bit address MY (default 1234; FFFF: none)\n"
    "  --channel N       radio channel of the modem and the adapter, decimal, up to 26 (default 12)\n"
    "  --address N       the adapter's radio address, decimal (default 12345)\n"
    "  --firmware HEX    the adapter's firmware version (default 4100)\n"
    "  --rx64            the modem reports received data as 64-bit-address frames (0x80)\n"
    "  --no-bus          no scripted bus traffic (requests for VIN, EEC1, CCVS, DM1 and the\n"
    "                    address claim are still answered)\n"
    "  --keepalive MS    the adapter asks for a keep-alive every MS ms (default 0: never)\n"
    "  --line-baud N     pace the line at N baud 8N1 both ways, as a serial line would\n"
    "                    (default 0: as fast as the pty takes the bytes)\n"
    "  --faults LIST     faults, comma separated; \":pc\" picks the PC-to-modem direction,\n"
    "                    otherwise they hit frames to the PC:\n"
    "                      drop=N[:pc]       drop the next N frames\n"
    "                      dup=N[:pc]        send the next N frames twice\n"
    "                      delay=N:MS[:pc]   hold the next N frames (and what follows) MS ms\n"
    "                      corrupt=KIND[:N]  spoil the next N frames (default 1); KIND checksum,\n"
    "                                        bit (one data bit), length (+2) or noise (before)\n"
    "                      droprate=P        drop P percent of the frames (repeatable pattern)\n"
    "                      split             write to the PC one byte at a time\n"
    "                      noack=N           the next N radio sends get \"no acknowledgement\"\n"
    "                      modem-silent      the modem answers nothing\n"
    "                      adapter-silent    the adapter answers nothing\n"
    "  -v                every frame to stderr in hex\n"
    "  -h, --help        this text\n"
    "Exit codes: 0 stopped by a signal, or --help; 1 no pseudo-terminal, or the port link\n"
    "            could not be made or leads to a running simulator; 2 bad command line.\n";

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

int Usage(const std::string& why) {
  std::fprintf(stderr, "qvlink-sim: %s (qvlink-sim --help tells every option)\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  std::string portDir, port, faults;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string inlineValue;
    bool hasInline = false;
    if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      inlineValue = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
      hasInline = true;
    }
    if (a == "-h" || a == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    const bool flag = a == "--rx64" || a == "--no-bus" || a == "-v";
    const bool known = flag || a == "--port-dir" || a == "--port" || a == "--faults" || a == "--serial" ||
                       a == "--my" || a == "--channel" || a == "--address" || a == "--firmware" ||
                       a == "--keepalive" || a == "--line-baud";
    if (!known) return Usage(a.rfind('-', 0) == 0 ? "unknown option " + a : "unexpected argument '" + a + "'");
    if (flag && hasInline) return Usage(a + " takes no value");
    std::string v;
    if (!flag) {
      if (hasInline) v = inlineValue;
      else if (i + 1 < argc) v = argv[++i];
      else return Usage(a + " needs a value");
    }
    unsigned long long n = 0;
    auto take = [&](int base, unsigned long long max) {
      if (!parseNum(v.c_str(), base, max, n)) {
        std::fprintf(stderr, "qvlink-sim: bad value '%s' for %s (qvlink-sim --help tells every option)\n", v.c_str(),
                     a.c_str());
        std::exit(2);
      }
    };
    if (a == "--port-dir") portDir = v;
    else if (a == "--port") port = v;
    else if (a == "--faults") faults = v;
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
  }
  if (!portDir.empty() && port.empty()) return Usage("--port is required with --port-dir");
  if (portDir.empty() && !port.empty()) return Usage("--port-dir is required with --port");
  if (port.find('/') != std::string::npos) return Usage("--port is a name in --port-dir, such as COM5");
  // The service thread inherits this mask, so only sigwait below sees the signals.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  qv::sim::Simulator sim(cfg);
  if (!faults.empty() && !sim.applyFaults(faults)) {
    std::fprintf(stderr, "qvlink-sim: bad fault list '%s' (qvlink-sim --help tells every fault)\n", faults.c_str());
    return 2;
  }
  if (!sim.start()) {
    std::fprintf(stderr, "qvlink-sim: cannot open a pseudo-terminal\n");
    return 1;
  }
  // Declared after the simulator, so it goes first on every way out: no link outlives the pty.
  qv::sim::PortLink link;
  if (!port.empty()) {
    long holder = 0;
    switch (link.make(portDir, port, sim.slavePath(), &holder)) {
      case qv::sim::PortLink::Result::Made: break;
      case qv::sim::PortLink::Result::InUse:
        if (holder > 0) std::fprintf(stderr, "qvlink-sim: %s in %s is in use by process %ld\n", port.c_str(), portDir.c_str(), holder);
        else std::fprintf(stderr, "qvlink-sim: %s in %s is in use by another simulator\n", port.c_str(), portDir.c_str());
        return 1;
      case qv::sim::PortLink::Result::Failed:
        std::fprintf(stderr, "qvlink-sim: cannot create %s/%s: %s\n", portDir.c_str(), port.c_str(), std::strerror(errno));
        return 1;
    }
  }
  std::printf("%s\n", sim.slavePath().c_str());
  if (!port.empty()) std::printf("%s/%s -> %s\n", portDir.c_str(), port.c_str(), sim.slavePath().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&set, &sig);
  link.release();
  // What the PC sent, for scripts that drive the simulator from outside (one line each).
  for (const auto& l : sim.longFromPc())
    std::printf("long-from-pc %s pgn=%u bytes=%zu complete=%d fnv=%08x\n", l.bam ? "bam" : "rts",
                static_cast<unsigned>(l.pgn), l.data.size(), l.complete ? 1 : 0, Fnv1a(l.data));
  std::printf("bus-frames-from-pc %zu\n", sim.busFramesFromPc().size());
  std::fflush(stdout);
  sim.stop();
  return 0;
}
