// qvlink demo: the whole link, from the RP1210 calls down to the simulated adapter and bus,
// in one process and a few seconds, with nothing to set up.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "decode.h"
#include "device_config.h"
#include "qvlink/platform/clock.h"
#include "qvlink/sim/simulator.h"
#include "session.h"

namespace qv::tools {
namespace {

namespace fs = std::filesystem;

constexpr int16_t kDemoDevice = 101;
constexpr char kDemoPort[] = "COM5";
constexpr size_t kLongSize = 1785;
constexpr uint32_t kLongPgn = 0xEF00;  // proprietary A, peer to peer
constexpr uint8_t kOurAddress = 0xF9;
constexpr uint8_t kEngine = 0x00;
constexpr uint32_t kDemoLineBaud = 115200;  // the modem's line, 8N1

// A private directory for the port link and the profile files, removed on every way out.
class TempDir {
 public:
  bool create() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return false;
    std::random_device rd;
    for (int attempt = 0; attempt < 20; ++attempt) {
      const fs::path p = base / ("qvlink-demo-" + std::to_string(rd()));
      if (fs::create_directory(p, ec) && !ec) {
        path_ = p;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, ec);
        return true;
      }
    }
    return false;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool WriteDemoIni(const fs::path& file, uint16_t adapterAddress, uint8_t channel) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << DemoIniText(kDemoDevice, kDemoPort, adapterAddress, channel);
  out.close();
  return static_cast<bool>(out);
}

struct Tally {
  uint32_t j1939 = 0, j1708 = 0, sent = 0, longReceived = 0, longSent = 0, errors = 0;
  uint32_t eec1 = 0, ccvs = 0, dm1 = 0, mid128 = 0;
  std::optional<double> rpm, kmh, j1708Rpm, j1708Kmh;
  std::optional<Dm1> lastDm1;
  bool dm1Shown = false;
  std::optional<std::string> vin;
  std::vector<std::string> errorLines;

  void error(const std::string& line) {
    ++errors;
    if (errorLines.size() < 5) errorLines.push_back(line);
  }
};

std::string FaultList(const Dm1& d) {
  std::string s;
  for (const auto& f : d.faults) {
    char b[48];
    std::snprintf(b, sizeof b, "%sSPN %u FMI %u (x%u)", s.empty() ? "" : ", ", static_cast<unsigned>(f.spn), f.fmi,
                  f.occurrences);
    s += b;
  }
  if (d.lamps & 0x0C) s += ", amber lamp";
  if (d.lamps & 0x30) s += ", red lamp";
  return s.empty() ? "no active faults" : s;
}

void TakeJ1939(Tally& t, const std::vector<uint8_t>& buf, int n) {
  const auto m = ParseJ1939Read(buf.data(), static_cast<size_t>(n), false);
  if (!m) {
    t.error("J1939 read of " + std::to_string(n) + " bytes is shorter than its header");
    return;
  }
  ++t.j1939;
  if (m->data.size() > 8) ++t.longReceived;
  switch (m->pgn) {
    case kPgnEec1:
      if (const auto v = Eec1EngineSpeedRpm(m->data)) t.rpm = v, ++t.eec1;
      break;
    case kPgnCcvs:
      if (const auto v = CcvsVehicleSpeedKmh(m->data)) t.kmh = v, ++t.ccvs;
      break;
    case kPgnDm1:
      if (const auto d = DecodeDm1(m->data)) {
        ++t.dm1;
        t.lastDm1 = d;
        if (!t.dm1Shown) {
          std::printf("  DM1 from %02X: %s\n", m->source, FaultList(*d).c_str());
          t.dm1Shown = true;
        }
      }
      break;
    case kPgnVin:
      if (const auto v = DecodeVin(m->data)) t.vin = v;
      else t.error("VIN message with unreadable text: " + HexBytes(m->data));
      break;
    default: break;
  }
}

void TakeJ1708(Tally& t, const std::vector<uint8_t>& buf, int n) {
  const auto m = ParseJ1708Read(buf.data(), static_cast<size_t>(n), false);
  if (!m) {
    t.error("J1708 read of " + std::to_string(n) + " bytes holds no message");
    return;
  }
  ++t.j1708;
  if (!m->checksumOk) {
    t.error("J1708 message from MID " + std::to_string(m->mid) + " with a bad checksum");
    return;
  }
  if (m->mid != kMidEngine) return;
  const auto params = ParseJ1587(m->body);
  if (!params) {
    t.error("J1708 MID 128 message with malformed parameters");
    return;
  }
  ++t.mid128;
  if (const auto v = J1587EngineSpeedRpm(*params)) t.j1708Rpm = v;
  if (const auto v = J1587RoadSpeedKmh(*params)) t.j1708Kmh = v;
}

// Reads whatever both clients have waiting; true when anything came.
bool Poll(const Session& j1939, const Session& j1708, Tally& t, std::vector<uint8_t>& buf) {
  bool any = false;
  for (int i = 0; i < 32; ++i) {
    const int n = j1939.read(buf);
    if (n <= 0) break;
    TakeJ1939(t, buf, n);
    any = true;
  }
  for (int i = 0; i < 32; ++i) {
    const int n = j1708.read(buf);
    if (n <= 0) break;
    TakeJ1708(t, buf, n);
    any = true;
  }
  return any;
}

std::string Value(const std::optional<double>& v, const char* unit) {
  if (!v) return std::string("--- ") + unit;
  char b[32];
  std::snprintf(b, sizeof b, "%.1f %s", *v, unit);
  return b;
}

void PrintLive(const Tally& t, uint32_t second) {
  std::printf("  %2us  engine %-12s vehicle %-11s | J1708 MID 128 %-12s %-11s | DM1 %zu faults\n",
              static_cast<unsigned>(second), Value(t.rpm, "rpm").c_str(), Value(t.kmh, "km/h").c_str(),
              Value(t.j1708Rpm, "rpm").c_str(), Value(t.j1708Kmh, "km/h").c_str(),
              t.lastDm1 ? t.lastDm1->faults.size() : size_t{0});
  std::fflush(stdout);
}

int Fail(const std::string& why) {
  std::printf("\nDEMO FAILED: %s\n", why.c_str());
  std::fflush(stdout);
  PrintError("demo failed: " + why);
  return kExitFailure;
}

// Watches the simulated adapter take the long message in, so the user sees it move.
void ShowProgress(const qv::sim::Simulator& sim, uint32_t since, const std::atomic<bool>& done) {
  size_t last = SIZE_MAX;
  for (;;) {
    const bool finished = done.load();  // read first, so the last state printed is the final one
    size_t got = 0;
    for (const auto& l : sim.longFromPc())
      if (l.timeMs >= since) got = l.data.size();
    if (got != last) {
      const size_t bar = got * 30 / kLongSize;
      std::printf("\r  long message  [%-30s] %4zu/%zu bytes", std::string(bar, '#').c_str(), got, kLongSize);
      std::fflush(stdout);
      last = got;
    }
    if (finished) return;
    sim.waitFor([&] { return done.load(); }, 100);
  }
}

// The bus as it goes by, one line a second.
void ShowLiveTraffic(uint32_t liveMs, const Session& j1939, const Session& j1708, Tally& t, std::vector<uint8_t>& buf) {
  std::printf("Live traffic for %u s:\n", static_cast<unsigned>(liveMs / 1000));
  const uint32_t t0 = qv::platform::TickMs();
  uint32_t nextLine = 1000;
  for (uint32_t elapsed = 0; elapsed < liveMs; elapsed = qv::platform::TickMs() - t0) {
    if (!Poll(j1939, j1708, t, buf)) qv::platform::SleepMs(2);
    if (elapsed >= nextLine) {
      PrintLive(t, nextLine / 1000);
      nextLine += 1000;
    }
  }
  if (nextLine <= liveMs) PrintLive(t, liveMs / 1000);
}

// The VIN: a request to the engine, answered by a broadcast long message.
void RequestVin(Rp1210Library& lib, const Session& j1939, const Session& j1708, Tally& t, std::vector<uint8_t>& buf) {
  std::printf("\nRequesting the VIN (PGN 65260) from the engine at %02X ...\n", kEngine);
  const auto request = J1939Transmit(kPgnRequest, 6, false, kOurAddress, kEngine, {0xEC, 0xFE, 0x00});
  const int sentRequest = lib.send(j1939.client(), request.data(), static_cast<int16_t>(request.size()), true);
  if (sentRequest == 0) ++t.sent;
  else t.error("VIN request not sent: " + lib.errorName(sentRequest));
  const uint32_t t0 = qv::platform::TickMs();
  while (sentRequest == 0 && !t.vin && qv::platform::TickMs() - t0 < 6000)
    if (!Poll(j1939, j1708, t, buf)) qv::platform::SleepMs(2);
  if (t.vin) std::printf("  VIN %s (in %u ms)\n", t.vin->c_str(), static_cast<unsigned>(qv::platform::TickMs() - t0));
  else std::printf("  no VIN arrived\n");
}

// A long message of the largest size, by RTS/CTS to the engine, checked on the adapter's side.
void SendLongMessage(Rp1210Library& lib, const qv::sim::Simulator& sim, const Session& j1939, Tally& t) {
  std::vector<uint8_t> payload(kLongSize);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
  const auto longMsg = J1939Transmit(kLongPgn, 6, false, kOurAddress, kEngine, payload);
  std::printf("\nSending %zu bytes (PGN %u) by RTS/CTS to %02X:\n", kLongSize, static_cast<unsigned>(kLongPgn), kEngine);
  std::fflush(stdout);
  const uint32_t since = sim.nowMs();
  std::atomic<bool> done{false};
  std::thread progress(ShowProgress, std::cref(sim), since, std::cref(done));
  const uint32_t t0 = qv::platform::TickMs();
  const int sentLong = lib.send(j1939.client(), longMsg.data(), static_cast<int16_t>(longMsg.size()), true);
  const uint32_t longMs = qv::platform::TickMs() - t0;
  // The last chunk's report may trail the send's return by a radio exchange.
  bool arrived = false;
  if (sentLong == 0) {
    arrived = sim.waitFor(
        [&] {
          for (const auto& l : sim.longFromPc())
            if (l.timeMs >= since && l.complete) return true;
          return false;
        },
        2000);
  }
  done = true;
  progress.join();
  bool intact = false;
  for (const auto& l : sim.longFromPc())
    if (l.timeMs >= since && l.complete) intact = !l.bam && l.pgn == kLongPgn && l.da == kEngine && l.data == payload;
  if (sentLong != 0) {
    t.error("long message not sent: " + lib.errorName(sentLong));
    std::printf("\n  failed: %s\n", lib.errorName(sentLong).c_str());
  } else if (!arrived || !intact) {
    t.error(arrived ? "the adapter received the long message with different bytes"
                    : "the adapter did not receive the whole long message");
    std::printf("\n  the adapter did not receive it intact\n");
  } else {
    ++t.sent;
    ++t.longSent;
    std::printf("\n  sent in %u ms, the adapter received all %zu bytes intact\n", static_cast<unsigned>(longMs), kLongSize);
  }
}

// The summary, then the verdict: the first thing that did not happen, or passed.
int Summarise(const Tally& t, const qv::sim::Counters& c, const qv::sim::SimConfig& cfg) {
  std::printf("\nSummary\n");
  std::printf("  received    J1939 %u messages (EEC1 %u, CCVS %u, DM1 %u), J1708 %u (MID 128: %u)\n", t.j1939, t.eec1,
              t.ccvs, t.dm1, t.j1708, t.mid128);
  std::printf("  sent        %u messages (VIN request, long message)\n", t.sent);
  std::printf("  long        %u received (DM1, VIN), %u sent (%zu bytes)\n", t.longReceived, t.longSent, kLongSize);
  std::printf("  radio       %u frames to the PC, %u from the PC, %u bad frames\n", c.framesToPc, c.framesFromPc,
              c.badFramesFromPc);
  std::printf("  VIN         %s\n", t.vin ? t.vin->c_str() : "(none)");
  std::printf("  line        simulated at %u baud 8N1, as the modem's serial line: the times above are a real link's\n",
              static_cast<unsigned>(cfg.lineBaud));
  std::printf("  errors      %u\n", t.errors);
  for (const auto& e : t.errorLines) std::printf("    %s\n", e.c_str());

  if (t.errors != 0) return Fail(t.errorLines.empty() ? "errors during the run" : t.errorLines.front());
  if (t.eec1 == 0) return Fail("no engine speed (EEC1) arrived");
  if (t.ccvs == 0) return Fail("no vehicle speed (CCVS) arrived");
  if (t.mid128 == 0) return Fail("no J1708 message from MID 128 arrived");
  if (t.dm1 == 0) return Fail("no DM1 fault message arrived");
  if (!t.vin) return Fail("the VIN did not arrive within 6 s of the request");
  if (t.vin != cfg.vin) return Fail("the VIN read " + *t.vin + ", the vehicle has " + cfg.vin);
  if (t.longSent == 0) return Fail("the long message did not go through");
  std::printf("\nDemo passed: every step worked.\n");
  return kExitOk;
}

}  // namespace

int RunDemo(const Options& o) {
  const uint32_t liveMs = (o.seconds ? *o.seconds : 4) * 1000;
  std::printf("QvLink demo: QV121032 over the driver, against the built-in simulator\n");

  TempDir dir;
  if (!dir.create()) return Fail("cannot create a temporary directory for the port and QV121032.ini");
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  // Paced as the real serial line to the radio modem, so the times below are a real link's.
  cfg.lineBaud = kDemoLineBaud;
  qv::sim::Simulator sim(cfg);
  if (!sim.start()) return Fail("cannot start the simulator: no pseudo-terminal available");
  if (!sim.linkPort(dir.path().string(), kDemoPort)) return Fail("cannot link the simulator's port as " + std::string(kDemoPort));
  if (!WriteDemoIni(dir.path() / kIniName, cfg.adapterAddress, cfg.adapterChannel))
    return Fail("cannot write " + (dir.path() / kIniName).string());
  // Both before the library loads: it and the driver find the INI and the port through them.
  ::setenv("QV_PROFILE_DIR", dir.path().c_str(), 1);
  ::setenv("QV_PORT_DIR", dir.path().c_str(), 1);
  std::printf("  simulator on %s as %s, line paced at %u baud 8N1; profile directory %s\n", sim.slavePath().c_str(),
              kDemoPort, static_cast<unsigned>(cfg.lineBaud), dir.path().c_str());

  Rp1210Library lib;
  if (!LoadLibrary(lib)) return Fail("the RP1210 library QV121032 cannot be loaded");
  Session j1939(lib), j1708(lib);
  const uint32_t t0 = qv::platform::TickMs();
  if (j1939.open(kDemoDevice, Protocol::J1939) != kExitOk) return Fail("the J1939 client did not connect");
  if (j1708.open(kDemoDevice, Protocol::J1708) != kExitOk) return Fail("the J1708 client did not connect");
  std::printf("  connected J1939 (client %d) and J1708 (client %d) on device %d in %u ms\n\n", j1939.client(),
              j1708.client(), kDemoDevice, static_cast<unsigned>(qv::platform::TickMs() - t0));

  Tally t;
  std::vector<uint8_t> buf;
  ShowLiveTraffic(liveMs, j1939, j1708, t, buf);
  RequestVin(lib, j1939, j1708, t, buf);
  SendLongMessage(lib, sim, j1939, t);
  Poll(j1939, j1708, t, buf);

  const int closed1939 = j1939.close();
  const int closed1708 = j1708.close();
  if (closed1939 != 0) t.error("J1939 disconnect: " + lib.errorName(closed1939));
  if (closed1708 != 0) t.error("J1708 disconnect: " + lib.errorName(closed1708));
  return Summarise(t, sim.counters(), cfg);
}

}  // namespace qv::tools
