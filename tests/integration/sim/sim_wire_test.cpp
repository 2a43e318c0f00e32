// The simulator over a real pseudo-terminal, driven by a small client: only what the library
// tests cannot see for themselves. They run through its modem, fault knobs, filters, long
// messages and paced line, and would pass as well if a knob did nothing or the far side did not
// wait for the PC; here each is seen on the wire.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>

#include "pty_client.h"
#include "qvlink/sim/simulator.h"

using qv::sim::Bytes;
using qv::sim::FrameLog;
using qv::sim::Simulator;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kAdapter = 12345;  // 0x3039

Bytes tx(uint8_t fid, const Bytes& rf) { return qv::sim::encodeTxRequest(fid, kAdapter, rf); }
Bytes rx(const Bytes& rf) { return qv::sim::encodeRx16(kAdapter, 0x28, 0, rf); }
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A simulator linked as COM5 in a directory of this process, the client on it.
struct Rig {
  explicit Rig(qv::sim::SimConfig cfg = {}) : sim(cfg) {
    static const std::string dir = [] {
      char tmpl[] = "/tmp/qv-simwire-XXXXXX";
      const std::string d = mkdtemp(tmpl);
      setenv("QV_PORT_DIR", d.c_str(), 1);
      return d;
    }();
    ok = sim.start() && sim.linkPort(dir, "COM5") && client.open("COM5") &&
         sim.waitFor([&] { return sim.peerConnected(); }, 2000);
  }
  // Sends a TX request with frame id 0 and waits until the modem has taken it.
  void rf(const Bytes& payload) {
    const size_t before = sim.rfToAdapter().size();
    client.send(tx(0, payload));
    ASSERT_TRUE(sim.waitFor([&] { return sim.rfToAdapter().size() > before; }, 1000));
  }
  Simulator sim;
  simtest::PortClient client;
  bool ok = false;
};

// RF payload of an RX frame, without the adapter's 4-byte stamp at RF bytes 3-6.
Bytes Unstamped(const std::optional<Bytes>& frame) {
  if (!frame || frame->size() < 16) return {};
  Bytes rf(frame->begin() + 8, frame->end() - 1);
  rf.erase(rf.begin() + 3, rf.begin() + 7);
  return rf;
}

const Bytes kSh = qv::sim::encodeAtCommand(0x53, 'S', 'H');
const Bytes kShAnswer{0x7E, 0x00, 0x09, 0x88, 0x53, 0x53, 0x48, 0x00, 0x00, 0x13, 0xA2, 0x00, 0xD4};
Bytes Spoilt(size_t at, uint8_t value) {
  Bytes b = kShAnswer;
  b[at] = value;
  return b;
}

}  // namespace

// The modem's refusals, then each fault from a fault list, as the line shows them: the exact
// bytes that answer one request, and nothing after them.
TEST(SimFaults, EveryKnobShowsOnTheWire) {
  const Bytes version{0x00, 0x1B}, versionReply = rx({0x00, 0x9B, 0x1B, 0x41, 0x00});
  const Bytes idQuery = qv::sim::encodeAtCommand(0x14, 'I', 'D');
  const struct { const char* faults; Bytes request, want; int minMs; } rows[] = {
      {"", kSh, kShAnswer, 0},
      {"", qv::sim::encodeAtCommand(0x14, 'C', 'H', {0, 0, 0, 0x30}),  // outside the band
       qv::sim::encodeAtResponse(0x14, 'C', 'H', 3, {}), 0},
      {"", qv::sim::encodeAtCommand(0x14, 'Z', 'Z'), qv::sim::encodeAtResponse(0x14, 'Z', 'Z', 2, {}), 0},
      {"", qv::sim::encodeTxRequest(0x02, 0x1111, version), qv::sim::encodeTxStatus(0x02, 1), 0},  // nobody there
      // Frame id 0 asks for no answer: the first frame out answers the query after it.
      {"", Join(qv::sim::encodeAtCommand(0, 'I', 'D', {0x12, 0x34}), idQuery),
       qv::sim::encodeAtResponse(0x14, 'I', 'D', 0, {0x12, 0x34}), 0},
      {"drop=1", kSh, {}, 0},
      {"droprate=100", kSh, {}, 0},
      {"dup=1", kSh, Join(kShAnswer, kShAnswer), 0},
      {"corrupt=checksum", kSh, Spoilt(12, 0xD5), 0},
      {"corrupt=bit", kSh, Spoilt(11, kShAnswer[11] ^ 0x10), 0},
      {"corrupt=length", kSh, Spoilt(2, 0x0B), 0},
      {"corrupt=noise", kSh, Join({0x55, 0x00, 0xA5}, kShAnswer), 0},
      {"delay=1:300", kSh, kShAnswer, 290},
      {"drop=1:pc", kSh, {}, 0},
      {"corrupt=checksum:1:pc", kSh, {}, 0},
      {"modem-silent", kSh, {}, 0},
      {"noack=1", tx(0x05, version), qv::sim::encodeTxStatus(0x05, 1), 0},  // and not delivered
      {"adapter-silent", tx(0x07, version), qv::sim::encodeTxStatus(0x07, 1), 0},
      {"late-txstatus", tx(0x0A, {0x81, 0x10}), Join(rx({0x01, 0x90}), qv::sim::encodeTxStatus(0x0A, 0)), 0},
      {"version-delay=200", tx(0x0B, version), Join(qv::sim::encodeTxStatus(0x0B, 0), versionReply), 190},
      {"no-version", tx(0x0C, version), qv::sim::encodeTxStatus(0x0C, 0), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.faults);
    Rig r;
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.sim.applyFaults(row.faults));
    const auto t0 = Clock::now();
    r.client.send(row.request);
    EXPECT_EQ(r.client.read(row.want.size(), 1000), row.want);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(row.minMs));
    EXPECT_FALSE(r.client.frame(150).has_value());
  }
  Rig r;
  EXPECT_FALSE(r.sim.applyFaults("drop=1,bogus"));
  EXPECT_FALSE(r.sim.applyFaults("corrupt=sideways"));
  // A 100-byte frame written byte by byte at about the line rate reaches the reader in pieces.
  ASSERT_TRUE(r.ok && r.sim.applyFaults("split"));
  const Bytes longRf(95, 0x5A);
  r.sim.sendRfToPc(longRf);
  ASSERT_TRUE(r.client.port.waitReadable(2000));
  EXPECT_LT(r.client.port.bytesWaiting(), rx(longRf).size()) << "frame arrived in one piece";
  EXPECT_EQ(r.client.frame(2000), rx(longRf));
}

TEST(SimModem, SixtyFourBitReceiveFrames) {
  qv::sim::SimConfig cfg;
  cfg.rxPacket64 = true;
  cfg.versionReplyRepeatsQuery = false;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.client.send(tx(0x00, {0x00, 0x1B}));
  EXPECT_EQ(r.client.frame(1000), qv::sim::encodeRx64(cfg.adapterSerial64, 0x28, 0, {0x00, 0x9B, 0x41, 0x00}));
}

// CAN frames from the bus, in the J1939 layout.
TEST(SimBus, InjectedCanFramesInTheJ1939Layout) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.rf({0x02, 0x17, 0x10});
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.adapterState().started[2]; }, 1000));
  r.sim.injectBusCan(false, 0x123, {0xAA, 0xBB});
  r.sim.injectBusCan(true, 0x18FEF100, {0x01});
  for (const Bytes& want : {Bytes{0x02, 0x94, 0x0A, 0x80, 0x00, 0x01, 0x23, 0xAA, 0xBB},
                            Bytes{0x02, 0x94, 0x09, 0x18, 0xFE, 0xF1, 0x00, 0x01}}) {
    EXPECT_EQ(Unstamped(r.client.frame(1000)), want);
  }
}

// A long message from the bus: each chunk only after the PC's progress report on the one before.
TEST(SimAdapter, LongRtsCtsFromBusWaitsForEachProgressReport) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.rf({0x02, 0x17, 0x10});
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.adapterState().started[2]; }, 1000));
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(r.sim.sendLongFromBus(qv::sim::LongKind::RtsCts, 0xEF00, 0x21, 0xF9, data));
  EXPECT_EQ(Unstamped(r.client.frame(1000)),
            (Bytes{0x02, 0xA5, 0x10, 0x18, 0xEC, 0xF9, 0x21, 0x10, 100, 0x00, 15, 0xFF, 0x00, 0xEF, 0x00}));
  for (uint8_t seq = 0; seq < 3; ++seq) {
    const size_t n = seq < 2 ? 49 : 2;
    Bytes want{0x02, 0xA6, static_cast<uint8_t>(0x05 + n), static_cast<uint8_t>(0x10 | seq)};
    want.insert(want.end(), data.begin() + seq * 49, data.begin() + seq * 49 + n);
    EXPECT_EQ(Unstamped(r.client.frame(1000)), want) << "chunk " << int(seq);
    EXPECT_FALSE(r.client.frame(100).has_value()) << "chunk sent before the report";
    r.rf({0x02, 0x20, 0x10, static_cast<uint8_t>(seq * 49 + n)});
  }
  EXPECT_EQ(r.sim.adapterState().longFromBusDone, 1u);
  EXPECT_EQ(r.sim.adapterState().progressMismatches, 0u);
}

TEST(SimBus, AdapterFiltersAndPackingShapeTheScriptedTraffic) {
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.rf({0x01, 0x17, 0x10});
  r.rf({0x02, 0x17, 0x10});
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.adapterState().started[2]; }, 1000));
  // Only MID 0x81 passes now, and only EEC1 on J1939.
  r.rf({0x01, 0x10, 0x81, 0xFF, 0, 0, 0, 0});
  r.rf({0x02, 0x10, 0x00, 0xF0, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0x00});
  r.rf({0x02, 0x17, 0x05, 0x19});  // packing
  auto batch = [&](size_t size) {
    return r.sim.waitForFrame([size](const FrameLog& f) {
      const Bytes rf = Simulator::rfOf(f);
      return !f.fromPc && rf.size() == size && rf[0] == 2 && rf[1] == 0x94;
    }, 1500, r.sim.frameCount());
  };
  EXPECT_TRUE(batch(1 + 18));  // CCVS filtered out: one EEC1 record per batch
  EXPECT_FALSE(batch(1 + 18 + 18));
  EXPECT_FALSE(r.sim.waitForFrame([](const FrameLog& f) {
    const Bytes b = Simulator::rfOf(f);
    return !f.fromPc && b.size() > 1 && b[0] == 1;
  }, 300, r.sim.frameCount()));
  // Pass everything again: EEC1 and CCVS of one tick share a batch.
  r.rf({0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(batch(1 + 18 + 18));
}

// A paced line carries bytes no faster than baud/10 per second, both ways, and loses none.
TEST(SimLine, PacedLineKeepsToTheBaudRateBothWays) {
  qv::sim::SimConfig cfg;
  cfg.lineBaud = 9600;  // 960 bytes/s: slow enough to measure
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  const Bytes rf(20, 0x5A);
  const auto t0 = Clock::now();
  for (int i = 0; i < 20; ++i) r.sim.sendRfToPc(rf);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(r.client.frame(3000), rx(rf)) << i;
  const double frameBytes = static_cast<double>(rx(rf).size());
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t0).count(), (20 * frameBytes - 1) / 960.0);

  const Bytes request = tx(0, {0x00, 0x11, 0x00, 0x00});
  const size_t before = r.sim.rfToAdapter().size();
  const auto t1 = Clock::now();
  for (int i = 0; i < 20; ++i) r.client.send(request);
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.rfToAdapter().size() >= before + 20; }, 5000));
  const double requestBytes = static_cast<double>(request.size());
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t1).count(), (20 * requestBytes - 1) / 960.0);
  EXPECT_EQ(r.sim.counters().badFramesFromPc, 0u);
}
