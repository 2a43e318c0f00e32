// Private to the simulator: Simulator::Impl, the state its concerns share, and their common helpers.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
    size_t take(size_t want, Clock::time_point since);
  };
  LinePacer toPcLine, fromPcLine;  // m
  // Caller holds m: how long until the next byte either way has crossed (at most 1 ms).
  long microsToNextPacedByte() const;
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

  // Lifetime, clock and wake-ups (simulator.cpp).
  explicit Impl(SimConfig c);
  uint32_t now() const;  // no lock: t0 is fixed
  void notify() const;  // takes evm
  void freshAdapter();
  uint32_t nextStampKey();

  // The serial line and the service thread (serial_line.cpp).
  void logFrame(bool fromPc, const Bytes& bytes);
  void queueBytes(Bytes bytes, uint32_t due);
  void flushOutput();
  void runTimers();
  void run();  // the service thread; takes m itself

  // Faults on frames each way (faults.cpp).
  unsigned nextRandom();
  bool dropsNext(Faults& f);    // a drop fault of that direction takes the next frame
  int copiesOfNext(Faults& f);  // 2 while a duplicate fault lasts, else 1
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
