// Times the RP1210 library over the real driver as an application sees it, against the
// simulator on a pseudo-terminal linked as COM5.
//   qv_link_bench connect [--rounds N]   first connect, attach, detach, last disconnect
//   qv_link_bench idle [--seconds S]     CPU share and resident memory of an open, quiet device
//   qv_link_bench latency [--count N]    RX frame to blocking RP1210_ReadMessage, beside a bare reader
//   qv_link_bench throughput [--count N] J1939 messages delivered with the line paced at 115200 8N1
//   qv_link_bench transmit [--count N]   8-byte J1939 sends reaching the simulator's bus
//   qv_link_bench long                   1785-byte messages each way, RTS/CTS and BAM
// Prints one JSON object with the rows measured (figure, limit, ratio) on stdout.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "QV121032.h"
#include "qvlink/sim/simulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Fixed waits of the driver (driver/src/startup.cpp, io_threads.cpp) on the paths timed here,
// for a J1939 or J1708 client, channel 12 (acted on), RF acknowledgement off, counters off.
constexpr double kChannelMs = 10, kHandOverMs = 50, kSettleMs = 1000, kStepMs = 5, kCloseMs = 20;
constexpr double kShutdownWaitMs = 725;
// OpenHardware: channel 12 set, hand-over wait, hand-over command wait.
constexpr double kOpenHardwareWaits = kChannelMs + kHandOverMs + kChannelMs;
// Handshake: channel set, settle, four steps, 1 ms after command 30, the last step.
constexpr double kHandshakeWaits = kChannelMs + kSettleMs + 4 * kStepMs + 1 + kStepMs;
constexpr double kFirstConnectLimit = kOpenHardwareWaits + kHandshakeWaits;  // J1939: 1106 ms
constexpr double kAttachLimit = kHandshakeWaits + 1;  // J1708 adds 1 ms after its filter: 1037 ms
constexpr double kDetachLimit = kCloseMs;             // filters cleared, close wait: 20 ms
// Last close: filters cleared, close wait, modem reset wait, thread shutdown wait.
constexpr double kLastDisconnectLimit = kCloseMs + kChannelMs + kShutdownWaitMs;  // 755 ms

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A private profile and port directory, removed at exit.
struct TempDirs {
  fs::path dir;
  explicit TempDirs(const std::string& iniExtra = "") {
    dir = fs::temp_directory_path() / ("qv-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "QV121032.ini") << "[DeviceInformation1]\nDeviceParams=COM5,115200,12345,81,12\n"
                                           "[Logging]\nLoggingType=0\n" << iniExtra;
    setenv("QV_PROFILE_DIR", dir.c_str(), 1);
    setenv("QV_PORT_DIR", dir.c_str(), 1);
  }
  ~TempDirs() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

struct Row {
  std::string row, name, unit, goal;
  double figure = 0, limit = 0;
  std::string note;
};

void PrintRows(const std::vector<Row>& rows) {
  std::printf("{\"rows\": [\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    std::printf("  {\"row\": \"%s\", \"name\": \"%s\", \"unit\": \"%s\", \"figure\": %.4f, \"limit\": %.4f, "
                "\"ratio\": %.4f, \"goal\": \"%s\", \"note\": \"%s\"}%s\n",
                r.row.c_str(), r.name.c_str(), r.unit.c_str(), r.figure, r.limit,
                r.limit > 0 ? r.figure / r.limit : 0.0, r.goal.c_str(), r.note.c_str(), i + 1 < rows.size() ? "," : "");
  }
  std::printf("]}\n");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

int Connect(const char* protocol) { return RP1210_ClientConnect(nullptr, 1, protocol, 0, 0, 0); }

// The first client, J1939, as every run but the connect one starts: its id, or 0 (said why).
int16_t ConnectFirstJ1939() {
  const int id = Connect("J1939");
  if (id == 1) return 1;
  std::fprintf(stderr, "qv_link_bench: connect returned %d\n", id);
  return 0;
}

// The in-process simulator on a pty linked as COM5 of a fresh profile, without bus traffic
// (only what a run sends crosses); lineBaud 0 leaves the line unpaced.
struct SimOnCom5 {
  TempDirs tmp;
  qv::sim::Simulator sim;
  bool ok = false;
  explicit SimOnCom5(uint32_t lineBaud) : sim(Config(lineBaud)) {
    ok = sim.start() && sim.linkPort(tmp.dir.string(), "COM5");
    if (!ok) std::fprintf(stderr, "qv_link_bench: cannot start the simulator\n");
  }
  static qv::sim::SimConfig Config(uint32_t lineBaud) {
    qv::sim::SimConfig cfg;
    cfg.busTraffic = false;
    cfg.lineBaud = lineBaud;
    return cfg;
  }
};

int RunConnect(int rounds) {
  SimOnCom5 rig(0);  // start-up and shutdown alone
  if (!rig.ok) return 1;
  std::vector<double> first, attach, detach, last;
  for (int k = 0; k < rounds; ++k) {
    auto t0 = Clock::now();
    const int a = Connect("J1939");
    first.push_back(MsSince(t0));
    t0 = Clock::now();
    const int b = Connect("J1708");
    attach.push_back(MsSince(t0));
    if (a != 1 || b != 2) {
      std::fprintf(stderr, "qv_link_bench: connect returned %d and %d\n", a, b);
      RP1210_ClientDisconnect(static_cast<int16_t>(b));
      RP1210_ClientDisconnect(static_cast<int16_t>(a));
      return 1;
    }
    t0 = Clock::now();
    const int rb = RP1210_ClientDisconnect(static_cast<int16_t>(b));
    detach.push_back(MsSince(t0));
    t0 = Clock::now();
    const int ra = RP1210_ClientDisconnect(static_cast<int16_t>(a));
    last.push_back(MsSince(t0));
    if (ra != 0 || rb != 0) {
      std::fprintf(stderr, "qv_link_bench: disconnect returned %d and %d\n", rb, ra);
      return 1;
    }
  }
  const std::string note = "median of " + std::to_string(rounds) + " rounds, max ";
  char buf[32];
  auto maxNote = [&](const std::vector<double>& v) {
    std::snprintf(buf, sizeof buf, "%.1f ms", Max(v));
    return note + buf;
  };
  PrintRows({
      {"5a", "first connect (J1939)", "ms", "ratio near 1", Median(first), kFirstConnectLimit, maxNote(first)},
      {"5b", "attach (second client, J1708)", "ms", "ratio near 1", Median(attach), kAttachLimit, maxNote(attach)},
      {"5c", "detach (one of two clients)", "ms", "ratio near 1", Median(detach), kDetachLimit, maxNote(detach)},
      {"5d", "last disconnect", "ms", "ratio near 1", Median(last), kLastDisconnectLimit, maxNote(last)},
  });
  return 0;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// CPU ticks (user + system) of each thread of this process, by thread id.
std::vector<std::pair<long, long>> ThreadTicks() {
  std::vector<std::pair<long, long>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');  // the thread name may hold spaces
    if (close == std::string::npos) continue;
    std::vector<std::string> f;
    std::string field;
    for (size_t i = close + 2; i <= line.size(); ++i) {
      if (i == line.size() || line[i] == ' ') {
        f.push_back(field);
        field.clear();
      } else {
        field += line[i];
      }
    }
    if (f.size() < 13) continue;  // utime and stime are fields 14 and 15, 11 and 12 after the name
    out.emplace_back(std::atol(e.path().filename().c_str()), std::atol(f[11].c_str()) + std::atol(f[12].c_str()));
  }
  return out;
}

// CPU ticks of each thread over the window, named by creation order: the main thread, then
// the driver's five in the order it starts them (thread ids rise in creation order).
std::string ThreadShares(const std::vector<std::pair<long, long>>& before, std::vector<std::pair<long, long>> after) {
  static const char* const kNames[] = {"main", "comm-event", "writer", "dispatcher", "transport-ack", "keep-alive"};
  std::sort(after.begin(), after.end());
  std::string s;
  for (size_t i = 0; i < after.size(); ++i) {
    long t0 = 0;
    for (const auto& [tid0, tb] : before)
      if (tid0 == after[i].first) t0 = tb;
    if (!s.empty()) s += ' ';
    s += i < std::size(kNames) ? kNames[i] : std::to_string(after[i].first).c_str();
    s += '=';
    s += std::to_string(after[i].second - t0);
  }
  return s;
}

// The simulator runs as its own process here, so its service thread is not counted as ours.
struct SimProcess {
  pid_t pid = -1;
  bool start(const fs::path& dir) {
    const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path() / "qvlink-sim";
    const std::string d = dir.string();
    const char* argv[] = {exe.c_str(), "--no-bus", "--port-dir", d.c_str(), "--port", "COM5", nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int r = posix_spawn(&pid, exe.c_str(), &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (r != 0) {
      pid = -1;
      return false;
    }
    // The link appears once the pty is served; poll it with a deadline.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      std::error_code ec;
      if (fs::is_symlink(dir / "COM5", ec)) return true;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  ~SimProcess() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }
};

int RunIdle(double seconds) {
  TempDirs tmp;
  SimProcess sim;
  if (!sim.start(tmp.dir)) {
    std::fprintf(stderr, "qv_link_bench: cannot start qvlink-sim\n");
    return 1;
  }
  const double rssBefore = ResidentMiB();
  const int16_t id = ConnectFirstJ1939();
  if (id == 0) return 1;
  const double rssOpen = ResidentMiB();
  const auto ticks0 = ThreadTicks();
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  // The window being measured: nothing of ours runs in it but the driver's threads.
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = MsSince(t0) / 1000.0;
  const double cpu = CpuSeconds() - cpu0;
  const double rssEnd = ResidentMiB();
  const std::string busiest = ThreadShares(ticks0, ThreadTicks());
  RP1210_ClientDisconnect(id);
  char note[240];
  std::snprintf(note, sizeof note, "%.3f s CPU over %.1f s; ticks (%ld/s) by thread: %s", cpu, wall,
                sysconf(_SC_CLK_TCK), busiest.c_str());
  char rssNote[96];
  std::snprintf(rssNote, sizeof rssNote, "%.2f MiB before, %.2f MiB at the end of the window", rssBefore, rssEnd);
  PrintRows({
      {"6a", "idle CPU, open device, no traffic", "% of a core", "under 0.5 %", 100.0 * cpu / wall, 0.5, note},
      {"6b", "resident memory added by the open", "MiB", "under 4 MiB", rssOpen - rssBefore, 4.0, rssNote},
  });
  return 0;
}


// ---- Receive paths (rows 1 and 2) ----
// Line of the adapter's modem: 115200 baud 8N1, ten bit times per byte.
constexpr uint32_t kLineBaud = 115200;
constexpr double kLineBytesPerSecond = kLineBaud / 10.0;  // 8N1: ten bits a byte
constexpr uint32_t kPgnEec1 = 61444;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

uint32_t g_stampKey = 0x10000000;  // the adapter's keys only increase

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// RF payload of `records` J1939 batch records (EEC1 from SA 0), message numbers first..,
// carried big-endian in data bytes 0-3 so the receiver can tell each one.
qv::sim::Bytes J1939Rf(uint32_t first, int records) {
  qv::sim::Bytes rf(1 + 18 * static_cast<size_t>(records));
  rf[0] = 0x02;
  for (int r = 0; r < records; ++r) {
    uint8_t* p = rf.data() + 1 + 18 * r;
    const uint32_t seq = first + static_cast<uint32_t>(r);
    const uint8_t head[2] = {0x94, 16};
    const uint8_t id4[4] = {0x0C, 0xF0, 0x04, 0x00};  // priority 3, PGN 61444, SA 0
    const uint8_t tail[4] = {0x11, 0x22, 0x33, 0x44};
    std::memcpy(p, head, 2);
    PutBe32(p + 2, ++g_stampKey);
    std::memcpy(p + 6, id4, 4);
    PutBe32(p + 10, seq);
    std::memcpy(p + 14, tail, 4);
  }
  return rf;
}
size_t WireBytes(const qv::sim::Bytes& rf) { return rf.size() + 9; }  // 7E, length, RX16 head, checksum

// The application's reader: a blocking RP1210_ReadMessage in a loop on its own thread.
struct Receiver {
  int16_t id = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> received{0};
  std::atomic<int> outOfOrder{0};
  std::atomic<int64_t> firstNs{0}, lastNs{0};
  std::vector<int64_t> arrivalNs;  // by message number; read only after join
  std::counting_semaphore<1 << 20> arrived{0};
  std::thread thread;

  void start(int16_t client, size_t count) {
    id = client;
    arrivalNs.assign(count, 0);
    thread = std::thread([this] {
      std::vector<char> buf(2048);
      int64_t expect = 0;
      while (!stop.load()) {
        const int n = RP1210_ReadMessage(id, buf.data(), static_cast<int16_t>(buf.size()), 1);
        const int64_t t = NowNs();
        if (n < 14 || n > 2048) continue;  // nothing, or an error code once the client is closed
        const auto* m = reinterpret_cast<const uint8_t*>(buf.data());
        const uint32_t pgn = m[4] | m[5] << 8 | m[6] << 16;
        if (pgn != kPgnEec1) continue;
        const uint32_t seq = qv::sim::getBe32(m + 10);
        if (seq >= arrivalNs.size()) continue;
        if (static_cast<int64_t>(seq) != expect) outOfOrder.fetch_add(1);
        expect = static_cast<int64_t>(seq) + 1;
        arrivalNs[seq] = t;
        if (firstNs.load() == 0) firstNs.store(t);
        lastNs.store(t);
        received.fetch_add(1);
        arrived.release();
      }
    });
  }
  // Ends the blocking read by closing the client, as an application shutting down does.
  void finish() {
    stop.store(true);
    RP1210_ClientDisconnect(id);
    thread.join();
  }
};

struct Percentiles {
  double p50 = 0, p99 = 0, max = 0;
};
Percentiles Summarise(std::vector<double> v) {
  Percentiles p;
  if (v.empty()) return p;
  std::sort(v.begin(), v.end());
  p.p50 = v[v.size() / 2];
  p.p99 = v[std::min(v.size() - 1, (v.size() * 99 + 99) / 100 - 1)];
  p.max = v.back();
  return p;
}

// The limit: a bare program holding the pty, woken by poll, reading each whole frame.
bool BareReaderLatencies(qv::sim::Simulator& sim, int count, std::vector<double>& out, int& lost) {
  const int fd = open(sim.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  if (!sim.waitFor([&] { return sim.peerConnected(); }, 2000)) {
    close(fd);
    return false;
  }
  uint8_t buf[512];
  for (int k = 0; k < count; ++k) {
    const qv::sim::Bytes rf = J1939Rf(static_cast<uint32_t>(k), 1);
    const size_t want = WireBytes(rf);
    size_t got = 0;
    const int64_t t0 = NowNs();
    sim.sendRfToPc(rf);
    const int64_t deadline = t0 + 1000000000;
    while (got < want && NowNs() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      const ssize_t r = read(fd, buf, sizeof buf);
      if (r > 0) got += static_cast<size_t>(r);
    }
    if (got >= want) out.push_back(static_cast<double>(NowNs() - t0) / 1e6);
    else ++lost;
  }
  close(fd);
  // The driver opens next: let the simulator see the line hang up first.
  sim.waitFor([&] { return !sim.peerConnected(); }, 2000);
  return true;
}

int RunLatency(int count) {
  SimOnCom5 rig(0);  // unpaced: the bare reader on the same pty is the limit
  if (!rig.ok) return 1;
  qv::sim::Simulator& sim = rig.sim;
  std::vector<double> bare;
  int bareLost = 0;
  if (!BareReaderLatencies(sim, count, bare, bareLost)) {
    std::fprintf(stderr, "qv_link_bench: bare reader could not use the pty\n");
    return 1;
  }
  const int16_t id = ConnectFirstJ1939();
  if (id == 0) return 1;
  Receiver rx;
  rx.start(id, static_cast<size_t>(count));
  std::vector<int64_t> sentNs(static_cast<size_t>(count), 0);
  for (int k = 0; k < count; ++k) {
    const qv::sim::Bytes rf = J1939Rf(static_cast<uint32_t>(k), 1);
    sentNs[static_cast<size_t>(k)] = NowNs();
    sim.sendRfToPc(rf);
    // One message in flight at a time, as the bare reader had it.
    rx.arrived.try_acquire_for(std::chrono::seconds(1));
  }
  rx.finish();
  std::vector<double> app;
  for (int k = 0; k < count; ++k) {
    const int64_t a = rx.arrivalNs[static_cast<size_t>(k)];
    if (a != 0) app.push_back(static_cast<double>(a - sentNs[static_cast<size_t>(k)]) / 1e6);
  }
  const Percentiles pa = Summarise(app), pb = Summarise(bare);
  char note[160];
  std::snprintf(note, sizeof note, "%d messages; lost: application %d, bare reader %d; limit: bare poll reader",
                count, count - static_cast<int>(app.size()), bareLost);
  PrintRows({
      {"1a", "receive latency p50 (send to ReadMessage)", "ms", "-", pa.p50, pb.p50, note},
      {"1b", "receive latency p99", "ms", "-", pa.p99, pb.p99, ""},
      {"1c", "receive latency max", "ms", "-", pa.max, pb.max, ""},
  });
  return 0;
}

// Frames of `records` messages each, all handed to the simulator at once: its paced line
// carries them as fast as 115200 8N1 allows.
bool PacedReceive(qv::sim::Simulator& sim, int records, int count, Row& row) {
  const int16_t id = ConnectFirstJ1939();
  if (id == 0) return false;
  Receiver rx;
  rx.start(id, static_cast<size_t>(count));
  const size_t frameWire = WireBytes(J1939Rf(0, records));
  for (int k = 0; k < count; k += records)
    sim.sendRfToPc(J1939Rf(static_cast<uint32_t>(k), std::min(records, count - k)));
  // Everything gets its line time and a second more, then what is missing counts as lost.
  const double lineSeconds = static_cast<double>(frameWire) * count / records / kLineBytesPerSecond;
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<int>(lineSeconds * 1000) + 1000);
  while (rx.received.load() < count && Clock::now() < deadline) rx.arrived.try_acquire_for(std::chrono::milliseconds(50));
  const int got = rx.received.load();
  // The rate between the first and the last delivery: the messages after the first frame.
  const double seconds = static_cast<double>(rx.lastNs.load() - rx.firstNs.load()) / 1e9;
  const int afterFirst = got - records;
  const int disorder = rx.outOfOrder.load();
  rx.finish();
  const double limit = records * kLineBytesPerSecond / static_cast<double>(frameWire);
  char note[160];
  std::snprintf(note, sizeof note, "%d sent, %d delivered, %d lost, %d out of order; %zu wire bytes per frame",
                count, got, count - got, disorder, frameWire);
  row.figure = seconds > 0 && afterFirst > 0 ? afterFirst / seconds : 0;
  row.limit = limit;
  row.note = note;
  row.goal = std::string(">= 95 %, zero loss (") + (got == count && row.figure >= 0.95 * limit ? "met" : "missed") + ")";
  return true;
}

int RunThroughput(int count) {
  SimOnCom5 rig(kLineBaud);
  if (!rig.ok) return 1;
  qv::sim::Simulator& sim = rig.sim;
  Row single{"2a", "receive throughput, one message per frame", "msg/s", "", 0, 0, ""};
  Row batched{"2b", "receive throughput, batches of 5 per frame", "msg/s", "", 0, 0, ""};
  if (!PacedReceive(sim, 1, count, single) || !PacedReceive(sim, 5, count, batched)) return 1;
  PrintRows({single, batched});
  return 0;
}

// Line time of the frames that crossed the serial line since `from`, in one direction or both.
double LineMs(const qv::sim::Simulator& sim, size_t from, bool fromPc, bool both) {
  size_t bytes = 0;
  const auto frames = sim.frames();
  for (size_t i = from; i < frames.size(); ++i)
    if (both || frames[i].fromPc == fromPc) bytes += frames[i].bytes.size();
  return static_cast<double>(bytes) * 1000.0 / kLineBytesPerSecond;
}

// ---- Transmit path (row 3) ----
// 8-byte J1939 messages (PGN 65280 from 0xF9, global), each a TX request on the line; a
// blocking send also waits for the adapter's reply.

bool PacedSend(qv::sim::Simulator& sim, int16_t id, bool block, uint8_t tag, int count, Row& row) {
  sim.clearLogs();
  const uint32_t t0 = sim.nowMs();
  const auto c0 = Clock::now();
  int refused = 0;
  for (int k = 0; k < count; ++k) {
    const char msg[14] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF),
                          static_cast<char>(tag), static_cast<char>(k >> 8), static_cast<char>(k & 0xFF), 4, 5, 6, 7, 8};
    if (RP1210_SendMessage(id, msg, sizeof msg, 0, block ? 1 : 0) != 0) ++refused;
  }
  const double callSeconds = std::chrono::duration<double>(Clock::now() - c0).count();
  auto ours = [&] {
    int n = 0;
    for (const auto& f : sim.busFramesFromPc())
      if (f.data.size() == 8 && f.data[0] == tag) ++n;
    return n;
  };
  sim.waitFor([&] { return ours() >= count - refused; }, 3000);
  uint32_t last = t0;
  int got = 0, disorder = 0, expect = 0;
  for (const auto& f : sim.busFramesFromPc()) {
    if (f.data.size() != 8 || f.data[0] != tag) continue;
    const int seq = f.data[1] << 8 | f.data[2];
    if (seq < expect) ++disorder;  // a gap is a refused send, not disorder
    expect = seq + 1;
    ++got;
    last = f.timeMs;
  }
  const double seconds = static_cast<double>(last - t0) / 1000.0;
  row.figure = seconds > 0 ? got / seconds : 0;
  // The frames that crossed, as the simulator logged them: a blocking send waits for its reply,
  // so its messages cost the line time of both ways; non-blocking ones only the PC's frames.
  const double lineMs = LineMs(sim, 0, true, block);
  row.limit = lineMs > 0 ? got * 1000.0 / lineMs : 0;
  char note[320];
  std::snprintf(note, sizeof note,
                "%d sent, %d refused, %d on the bus, %d out of order; calls took %.3f s; line paced at 115200 "
                "8N1; bound: %s", count, refused, got,
                disorder, callSeconds,
                block ? "line time of each request and of the reply it waits for"
                      : "line time of the requests");
  row.note = note;
  return true;
}

int RunTransmit(int count) {
  SimOnCom5 rig(kLineBaud);
  if (!rig.ok) return 1;
  qv::sim::Simulator& sim = rig.sim;
  const int16_t id = ConnectFirstJ1939();
  if (id == 0) return 1;
  Row nb{"3a", "transmit throughput, non-blocking sends", "msg/s", "-", 0, 0, ""};
  Row bl{"3b", "transmit throughput, blocking sends", "msg/s", "-", 0, 0, ""};
  // Blocking first: the echoes of a non-blocking burst trail it on the slower direction (28
  // bytes back for 24 out), and any echo satisfies the wait of a blocking send.
  PacedSend(sim, id, true, 0xB2, count, bl);
  PacedSend(sim, id, false, 0xA1, count, nb);
  RP1210_ClientDisconnect(id);
  PrintRows({nb, bl});
  return 0;
}

// ---- Long messages (row 4) ----
constexpr double kLongFirstChunkWaitMs = 5;  // the driver waits after the first chunk, before the announcement

bool LongToBus(qv::sim::Simulator& sim, int16_t id, bool bam, Row& row) {
  std::vector<char> m = {static_cast<char>(0x00), static_cast<char>(0xEF), 0x00, static_cast<char>(bam ? 0x86 : 0x06),
                         static_cast<char>(0xF9), static_cast<char>(bam ? 0xFF : 0x00)};
  for (int i = 0; i < 1785; ++i) m.push_back(static_cast<char>(i * 13));
  const size_t from = sim.frameCount();
  const auto t0 = Clock::now();
  const int r = RP1210_SendMessage(id, m.data(), static_cast<int16_t>(m.size()), 0, 1);
  const bool done = r == 0 && sim.waitFor(
                                  [&] {
                                    for (const auto& l : sim.longFromPc())
                                      if (l.complete && l.bam == bam && l.data.size() == 1785) return true;
                                    return false;
                                  },
                                  30000);
  const double ms = MsSince(t0);
  if (!done) {
    std::fprintf(stderr, "qv_link_bench: long %s send did not complete (%d)\n", bam ? "BAM" : "RTS/CTS", r);
    return false;
  }
  // Each chunk waits for the adapter's acceptance before the next: lock-step, both ways count.
  const double line = LineMs(sim, from, true, true);
  row.figure = ms;
  row.limit = line + kLongFirstChunkWaitMs;
  char note[200];
  std::snprintf(note, sizeof note, "limit: %.1f ms of frames both ways on the paced line (chunk, acceptance, chunk...) + %.0f ms first-chunk wait", line,
                kLongFirstChunkWaitMs);
  row.note = note;
  return true;
}

bool LongFromBus(qv::sim::Simulator& sim, int16_t id, bool bam, Row& row) {
  qv::sim::Bytes data(1785);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  std::atomic<int> got{0};
  std::binary_semaphore arrived{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<char> buf(2048);
    while (!stop.load()) {
      const int n = RP1210_ReadMessage(id, buf.data(), static_cast<int16_t>(buf.size()), 1);
      if (n > 2048 || n <= 0) {
        if (stop.load()) break;
        continue;
      }
      if (n == 10 + 1785 && std::memcmp(buf.data() + 10, data.data(), data.size()) == 0) {
        got.store(n);
        arrived.release();
        return;
      }
    }
  });
  const size_t from = sim.frameCount();
  const auto t0 = Clock::now();
  const bool started = sim.sendLongFromBus(bam ? qv::sim::LongKind::Bam : qv::sim::LongKind::RtsCts,
                                           bam ? 65251u : 61184u, 0x00, 0xF9, data);
  const bool ok = started && arrived.try_acquire_for(std::chrono::seconds(30));
  const double ms = MsSince(t0);
  if (!ok) {
    stop.store(true);
    // Only closing the client ends a blocking read that will get nothing.
    RP1210_ClientDisconnect(id);
    reader.join();
    std::fprintf(stderr, "qv_link_bench: long %s message from the bus did not arrive\n", bam ? "BAM" : "RTS/CTS");
    return false;
  }
  reader.join();
  // The adapter sends each chunk only after the PC's progress report on the last: lock-step,
  // so both directions add up.
  const double line = LineMs(sim, from, false, true);
  row.figure = ms;
  row.limit = line;
  char note[200];
  std::snprintf(note, sizeof note, "limit: %.1f ms of frames both ways on the paced line (chunk, report, chunk...)", line);
  row.note = note;
  return true;
}

int RunLong() {
  SimOnCom5 rig(kLineBaud);
  if (!rig.ok) return 1;
  qv::sim::Simulator& sim = rig.sim;
  const int16_t c = ConnectFirstJ1939();
  if (c == 0) return 1;
  Row a{"4a", "1785 B to the bus by RTS/CTS", "ms", "-", 0, 0, ""};
  Row b{"4b", "1785 B to the bus by BAM", "ms", "-", 0, 0, ""};
  Row e{"4c", "1785 B from the bus by RTS/CTS", "ms", "-", 0, 0, ""};
  Row f{"4d", "1785 B from the bus by BAM", "ms", "-", 0, 0, ""};
  std::vector<Row> rows;
  if (LongToBus(sim, c, false, a)) rows.push_back(a);
  if (LongToBus(sim, c, true, b)) rows.push_back(b);
  if (LongFromBus(sim, c, false, e)) rows.push_back(e);
  else {
    PrintRows(rows);
    return 1;
  }
  if (LongFromBus(sim, c, true, f)) rows.push_back(f);
  else {
    PrintRows(rows);
    return 1;
  }
  RP1210_ClientDisconnect(c);
  PrintRows(rows);
  return rows.size() == 4 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  int rounds = 5;
  double seconds = 10;
  int count = 2000;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (a == "--seconds") seconds = std::max(0.1, std::atof(argv[i + 1]));
    else if (a == "--count") count = std::max(10, std::atoi(argv[i + 1]));
  }
  if (mode == "connect") return RunConnect(rounds);
  if (mode == "latency") return RunLatency(count);
  if (mode == "throughput") return RunThroughput(count);
  if (mode == "transmit") return RunTransmit(count);
  if (mode == "long") return RunLong();
  if (mode == "idle") return RunIdle(seconds);
  std::fprintf(stderr, "usage: qv_link_bench connect [--rounds N] | idle [--seconds S]\n");
  return 2;
}
