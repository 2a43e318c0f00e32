// Private to the simulator: Simulator::Impl, the state its concerns share, and their common helpers.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qvlink/sim/simulator.h"
#include "serial_pty.h"

namespace qv::sim {

inline constexpr uint8_t kMarker = 0x80;
inline constexpr uint8_t kTypeVehicle = 0x14;   // vehicle message / received bus frame
inline constexpr uint8_t kTypeEcho = 31;
inline constexpr uint8_t kTypeNotice = 37;
inline constexpr uint8_t kTypeChunkIn = 0x23;   // chunk from the PC
inline constexpr uint8_t kTypeAnnounce = 0x24;
inline constexpr uint8_t kTypeProgress = 32;
inline constexpr uint8_t kTypeChunkOut = 38;
inline constexpr uint8_t kKeepAlive = 17;
inline constexpr size_t kChunkPayload = 49;     // 7 transport packets
inline constexpr uint32_t kPgnRequest = 59904, kPgnClaim = 60928, kPgnTpCm = 60416;
inline constexpr uint32_t kPgnEec1 = 61444, kPgnCcvs = 65265, kPgnDm1 = 65226, kPgnVin = 65260;
inline constexpr size_t kMaxQueuedOut = 4096;   // frames held for a PC that does not read

inline Bytes sub(const Bytes& b, size_t from, size_t n = SIZE_MAX) {
  if (from >= b.size()) return {};
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), from + std::min(n, b.size()))));
}

inline std::string hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (uint8_t x : b) {
    std::snprintf(t, sizeof t, "%02X ", x);
    s += t;
  }
  return s;
}

// Locks. `m` guards the simulated state (every field marked "m" below): the service thread holds
// it while it handles input, runs the timers and writes; every public member takes it
// (QV_SIM_LOCKED). `evm` guards only `seq`, the change count waits sleep on. Order: m before evm
// (notify() runs with m held); never take m while holding evm. Methods run with m held unless said.
struct Simulator::Impl {
  SimConfig cfg;  // m; lineBaud is fixed at construction, so the service thread reads it without m
  mutable std::mutex m;
  mutable std::mutex evm;
  mutable std::condition_variable cv;  // waits on evm
  uint64_t seq = 0;  // evm

  Pty pty;  // the service thread while running; start() and stop() otherwise
  std::thread thread;  // start() and stop()
  std::atomic<bool> stopReq{false};
  std::atomic<bool> isRunning{false};
  std::atomic<bool> connected{false};
  std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();  // fixed

  FrameParser parser;  // m
  uint32_t parserBadSeen = 0;  // m

  struct Out {
    uint32_t due = 0;
    Bytes bytes;
    size_t done = 0;
    std::chrono::steady_clock::time_point queuedAt = std::chrono::steady_clock::now();
  };
  std::deque<Out> out;  // m
  struct In {
    uint32_t due = 0;
    Bytes body;
  };
  std::deque<In> delayedIn;  // m

  // One direction of a paced line. A byte is handed over when it would have finished crossing:
  // bytes ready at `since` start then, or when the line is free of the ones before them.
  struct LinePacer {
    using Clock = std::chrono::steady_clock;
    double usPerByte = 0;  // 0: unpaced
    Clock::time_point freeAt{};
    size_t take(size_t want, Clock::time_point since) {
      if (usPerByte == 0 || want == 0) return want;
      const Clock::time_point begin = std::max(since, freeAt);
      const double us = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count());
      if (us < usPerByte) return 0;
      const size_t n = std::min(want, static_cast<size_t>(us / usPerByte));
      freeAt = begin + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(n) * usPerByte));
      return n;
    }
  };
  LinePacer toPcLine, fromPcLine;  // m
  // m; written only by the service thread, which also reads it without m
  Bytes unreadFromPc;  // read from the pty, not yet across the paced line
  std::chrono::steady_clock::time_point unreadSince{};  // m
  static constexpr size_t kUnreadCap = 4096;

  // logs (all m)
  std::vector<FrameLog> frameLog;
  std::vector<RfToAdapter> rfLog;
  std::vector<AtCommand> atLog;
  std::vector<LongMessage> longLog;
  std::vector<BusFrame> busLog;
  std::vector<Bytes> j1708Log;
  Counters counters;

  // faults (all m)
  struct Faults {
    unsigned drop = 0, dup = 0, delayN = 0, corruptN = 0, dropRate = 0;
    uint32_t delayMs = 0;
    Corruption corruption = Corruption::BadChecksum;
  } faults[2];
  bool split = false;
  unsigned noAck = 0;
  bool modemAnswers = true;
  uint32_t rng = 0x1234567u;

  ModemState modem;  // m
  AdapterState adapter;  // m
  uint32_t lastStamp = 0;  // m

  // adapter RF held back (version replies), in due order; m
  std::deque<std::pair<uint32_t, Bytes>> heldRf;

  // J1939 batch being packed; m
  Bytes batch;
  uint32_t batchDue = 0;

  // long message from the PC, by kind (0 RTS/CTS, 1 BAM); m
  struct PcLong {
    bool active = false, announced = false;
    uint8_t running = 0;
    Bytes id4, cm8;
    size_t logIndex = SIZE_MAX;
    Bytes data;
    uint16_t size = 0;
  } pcLong[2];

  // long message from the bus towards the PC, by kind; m
  struct BusLong {
    bool active = false;
    J1939Id id;
    Bytes data;
    size_t sent = 0;
    uint8_t seq = 0;
    uint32_t deadline = 0;
  } busLong[2];
  std::deque<std::pair<J1939Id, Bytes>> busLongQueue[2];  // m

  // bus schedule (all m)
  bool busTraffic = false;
  uint32_t nextFast = 0, nextDm1 = 0, nextKeepAlive = 0;
  uint32_t claimDue = 0;

  explicit Impl(SimConfig c) : cfg(std::move(c)) {
    if (cfg.lineBaud != 0) toPcLine.usPerByte = fromPcLine.usPerByte = 10.0 * 1e6 / cfg.lineBaud;
    modem.serial = cfg.modemSerial;
    modem.my = cfg.modemMy;
    modem.channel = cfg.modemChannel;
    modem.panId = cfg.modemPanId;
    modem.dh = cfg.modemDh;
    modem.dl = cfg.modemDl;
    freshAdapter();
    busTraffic = cfg.busTraffic;
  }

  uint32_t now() const {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - t0)
                                     .count());
  }

  void notify() const {
    {
      std::lock_guard<std::mutex> g(evm);
      const_cast<Impl*>(this)->seq++;
    }
    cv.notify_all();
  }

  void freshAdapter() {
    const uint32_t cycles = adapter.powerCycles;
    const uint8_t ch = adapter.channel ? adapter.channel : cfg.adapterChannel;
    adapter = AdapterState{};
    adapter.channel = ch;
    adapter.powerCycles = cycles;
    batch.clear();
    heldRf.clear();
    for (auto& l : pcLong) l = PcLong{};
    for (auto& l : busLong) l = BusLong{};
    for (auto& q : busLongQueue) q.clear();
  }

  uint32_t nextStampKey() {
    lastStamp = std::max(lastStamp + 1, now());
    return lastStamp;
  }

  void logFrame(bool fromPc, const Bytes& bytes) {
    frameLog.push_back(FrameLog{now(), fromPc, bytes});
    if (cfg.verbose) std::fprintf(stderr, "[%6u] %s %s\n", now(), fromPc ? "PC>" : "PC<", hex(bytes).c_str());
  }

  void queueBytes(Bytes bytes, uint32_t due) {
    if (!connected.load()) {
      counters.droppedToPc++;
      return;
    }
    if (out.size() >= kMaxQueuedOut) {
      counters.droppedToPc++;
      return;
    }
    if (!out.empty()) due = std::max(due, out.back().due);  // the line is first in, first out
    out.push_back(Out{due, std::move(bytes), 0});
  }

  void flushOutput() {
    const uint32_t t = now();
    while (!out.empty() && out.front().due <= t) {
      Out& o = out.front();
      if (split) {
        // One byte per write, about one serial byte time apart, so the reader sees pieces.
        while (o.done < o.bytes.size()) {
          if (pty.write(&o.bytes[o.done], 1) != 1) return;
          o.done++;
          Pty::pauseMicros(90);
        }
      } else {
        while (o.done < o.bytes.size()) {
          const auto ready = std::max(o.queuedAt, t0 + std::chrono::milliseconds(o.due));
          const size_t allowed = toPcLine.take(o.bytes.size() - o.done, ready);
          if (allowed == 0) return;  // the rest once the line has carried it
          const size_t w = pty.write(o.bytes.data() + o.done, allowed);
          if (w == 0) return;
          o.done += w;
        }
      }
      out.pop_front();
    }
  }

  void runTimers() {
    const uint32_t t = now();
    while (!delayedIn.empty() && delayedIn.front().due <= t) {
      const Bytes body = delayedIn.front().body;
      delayedIn.pop_front();
      modemHandle(body);
    }
    while (!heldRf.empty() && heldRf.front().first <= t) {
      const Bytes rf = heldRf.front().second;
      heldRf.pop_front();
      rfToPc(rf);
    }
    if (!batch.empty() && t >= batchDue) flushBatch();
    for (int kind = 0; kind < 2; ++kind)
      if (busLong[kind].active && t >= busLong[kind].deadline)
        finishBusLong(kind, busLong[kind].sent >= busLong[kind].data.size());
    if (cfg.keepAliveIntervalMs && t >= nextKeepAlive) {
      nextKeepAlive = t + cfg.keepAliveIntervalMs;
      if (adapter.powered && adapter.answering) {
        adapter.keepAliveRequests++;
        rfToPc(Bytes{0x00, static_cast<uint8_t>(kKeepAlive | kMarker)});
      }
    }
    if (claimDue && t >= claimDue) {
      claimDue = 0;
      busJ1939(6, kPgnClaim, cfg.engineAddress, 0xFF, engineName());
    }
    if (!busTraffic) return;
    if (t >= nextFast) {
      nextFast = t + 100;
      busJ1939(3, kPgnEec1, cfg.engineAddress, 0xFF, eec1());
      busJ1939(6, kPgnCcvs, cfg.engineAddress, 0xFF, ccvs());
      busJ1708(j1708Engine());
    }
    if (t >= nextDm1) {
      nextDm1 = t + 1000;
      if (!busLong[1].active) busJ1939(6, kPgnDm1, cfg.engineAddress, 0xFF, dm1());
    }
  }

  void run() {
    uint8_t buf[4096];
    while (!stopReq.load()) {
      bool wantWrite;
      int waitMs = 2;
      {
        std::lock_guard<std::mutex> g(m);
        wantWrite = !out.empty();
        if (cfg.lineBaud != 0 && (wantWrite || !unreadFromPc.empty())) {
          // A paced line looks again each millisecond instead of spinning on a writable pty.
          waitMs = 1;
          wantWrite = false;
        }
      }
      const Pty::Ready r = pty.wait(waitMs, wantWrite);
      if (r.hangup && !r.readable) {
        if (connected.exchange(false)) {
          std::lock_guard<std::mutex> g(m);
          counters.droppedToPc += static_cast<uint32_t>(out.size());
          out.clear();
          parser = FrameParser{};
          parserBadSeen = 0;
          notify();
        }
        Pty::pauseMicros(2000);  // a hung-up master polls ready at once
      } else if (!connected.exchange(true)) {
        notify();
      }
      // A paced line leaves what it has not carried yet in the pty, as a UART's buffer would.
      const bool roomToRead = cfg.lineBaud == 0 || unreadFromPc.size() < kUnreadCap;
      if (r.readable && !roomToRead) Pty::pauseMicros(1000);
      size_t n = r.readable && roomToRead ? pty.read(buf, sizeof buf) : 0;
      std::lock_guard<std::mutex> g(m);
      if (cfg.lineBaud != 0) {
        if (unreadFromPc.empty()) unreadSince = std::chrono::steady_clock::now();
        unreadFromPc.insert(unreadFromPc.end(), buf, buf + n);
        n = fromPcLine.take(std::min(unreadFromPc.size(), sizeof buf), unreadSince);
        std::copy_n(unreadFromPc.begin(), n, buf);
        unreadFromPc.erase(unreadFromPc.begin(), unreadFromPc.begin() + static_cast<std::ptrdiff_t>(n));
      }
      if (n) {
        parser.feed(buf, n);
        while (auto body = parser.next()) {
          counters.framesFromPc++;
          logFrame(true, encodeFrame(*body));
          handleBodyFromPc(*body);
        }
        const uint32_t bad = parser.badChecksums() + parser.oversize() + parser.skippedBytes();
        if (bad != parserBadSeen) {
          counters.badFramesFromPc += bad - parserBadSeen;
          parserBadSeen = bad;
        }
        notify();
      }
      runTimers();
      flushOutput();
    }
  }

  // Faults on frames each way (faults.cpp).
  unsigned nextRandom();
  void emitFrame(Bytes frame);
  static void corrupt(Bytes& frame, Corruption c);
  void handleBodyFromPc(const Bytes& body);

  // The PC's radio modem (modem.cpp).
  void rfToPc(const Bytes& rf);
  void modemHandle(const Bytes& body);
  void handleAt(const Bytes& body);
  void handleTxRequest(const Bytes& body);

  // The adapter's firmware (adapter_commands.cpp).
  void sendStamped(uint8_t code, uint8_t type, const Bytes& rest);
  size_t rfLimit() const;
  void flushBatch();
  void j1939Record(uint8_t type, const Bytes& id4, const Bytes& data);
  bool j1939Passes(const uint8_t* id4) const;
  bool j1708Passes(uint8_t mid) const;
  void adapterHandle(const Bytes& rf);
  void channelHandOver(const Bytes& data);
  void option(uint8_t code, const Bytes& data);
  void deviceMessage(uint8_t k, const Bytes& data);
  void j1708Message(uint8_t k, const Bytes& data);
  void j1939Message(uint8_t k, const Bytes& data);

  // Long messages both ways (long_messages.cpp).
  void pcChunk(const Bytes& data);
  bool versionFeature() const;
  Bytes tpcmId(uint8_t from, uint8_t to, uint8_t prio) const;
  std::pair<Bytes, Bytes> ctsFrame(const PcLong& l) const;
  void sendNotice(const std::pair<Bytes, Bytes>& f);
  void pcAnnouncement(const Bytes& data);
  void updatePcLongLog(const PcLong& l);
  void pcLongMaybeDone(int kind);
  void progressReport(const Bytes& data);
  bool startBusLong(int kind, const J1939Id& id, const Bytes& data);
  void sendBusChunk(int kind);
  void finishBusLong(int kind, bool ok);

  // The vehicle bus (vehicle_bus.cpp).
  void busToPc(const Bytes& id4, const Bytes& data);
  void busJ1939(uint8_t prio, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data);
  void busJ1708(const Bytes& msg);
  void pcFrameOnBus(const Bytes& id4, const Bytes& data);
  void answerRequest(uint32_t pgn);
  static Bytes engineName();
  uint32_t wave(uint32_t period) const;
  uint32_t rpm() const;
  uint32_t kmh() const;
  Bytes eec1() const;
  Bytes ccvs() const;
  static Bytes dm1();
  Bytes j1708Engine() const;
};

// Every public member takes the state lock first.
#define QV_SIM_LOCKED std::lock_guard<std::mutex> g(impl_->m)

}  // namespace qv::sim
