// The simulator over a real pseudo-terminal, driven by a small client: what the driver and RP1210
// tests do not reach end to end (modem refusals, the far side pacing long messages, filters and
// packing, every fault knob, the paced line), all checked on the wire.
#include <gtest/gtest.h>

#include <chrono>

#include "pty_client.h"
#include "qvlink/sim/simulator.h"

using qv::sim::Bytes;
using qv::sim::Dir;
using qv::sim::FrameLog;
using qv::sim::Simulator;
using simtest::PtyClient;

namespace {

constexpr uint16_t kAdapter = 12345;  // 0x3039

Bytes tx(uint8_t fid, const Bytes& rf, uint16_t dest = kAdapter) {
  return qv::sim::encodeTxRequest(fid, dest, rf);
}
Bytes at(uint8_t fid, char a, char b, const Bytes& p = {}) { return qv::sim::encodeAtCommand(fid, a, b, p); }

// RF payload of an RX 0x81 frame, without its 4-byte stamp at RF bytes 3-6.
Bytes unstamped(const Bytes& frame) {
  const Bytes rf(frame.begin() + 8, frame.end() - 1);
  Bytes b(rf.begin(), rf.begin() + 3);
  b.insert(b.end(), rf.begin() + 7, rf.end());
  return b;
}

struct Rig {
  explicit Rig(qv::sim::SimConfig cfg = {}) : sim(cfg) {
    ok = sim.start();
    if (ok) client = std::make_unique<PtyClient>(sim.slavePath());
    ok = ok && client->ok() && sim.waitFor([&] { return sim.peerConnected(); }, 2000);
  }
  // Sends a TX request with frame id 0 and waits until the modem has taken it.
  void rf(const Bytes& payload) {
    const size_t before = sim.rfToAdapter().size();
    client->send(tx(0, payload));
    ASSERT_TRUE(sim.waitFor([&] { return sim.rfToAdapter().size() > before; }, 1000));
  }
  std::optional<Bytes> rx(int ms = 1000) { return client->readFrameOf(0x81, ms); }
  void startJ1939() {
    rf({0x02, 0x17, 0x10});
    ASSERT_TRUE(sim.waitFor([&] { return sim.adapterState().started[2]; }, 1000));
  }
  Simulator sim;
  std::unique_ptr<PtyClient> client;
  bool ok = false;
};

const Bytes kSh = at(0x53, 'S', 'H');
const Bytes kShAnswer{0x7E, 0x00, 0x09, 0x88, 0x53, 0x53, 0x48, 0x00, 0x00, 0x13, 0xA2, 0x00, 0xD4};

}  // namespace

TEST(SimModem, RefusesBadSettingsAndStaysSilentForFrameIdZero) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.client->send(kSh);
  EXPECT_EQ(r.client->readFrame(1000), kShAnswer);
  r.client->send(at(0x14, 'C', 'H', {0x00, 0x00, 0x00, 0x30}));  // outside the band
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'C', 'H', 3, {}));
  r.client->send(at(0x14, 'Z', 'Z'));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'Z', 'Z', 2, {}));
  r.client->send(tx(0x02, {0x00, 0x1B}, 0x1111));  // nobody there
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x02, 1));
  // Frame id 0 asks for no answer: the next frame out answers the query after it.
  r.client->send(at(0x00, 'I', 'D', {0x12, 0x34}));
  r.client->send(at(0x14, 'I', 'D'));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'I', 'D', 0, {0x12, 0x34}));
}

TEST(SimModem, SixtyFourBitReceiveFrames) {
  qv::sim::SimConfig cfg;
  cfg.rxPacket64 = true;
  cfg.versionReplyRepeatsQuery = false;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.client->send(tx(0x00, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000),
            qv::sim::encodeRx64(cfg.adapterSerial64, 0x28, 0, {0x00, 0x9B, 0x41, 0x00}));
}

TEST(SimAdapter, LongRtsCtsFromBusWaitsForEachProgressReport) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.startJ1939();
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(r.sim.sendLongFromBus(qv::sim::LongKind::RtsCts, 0xEF00, 0x21, 0xF9, data));
  EXPECT_FALSE(r.sim.sendLongFromBus(qv::sim::LongKind::RtsCts, 0xEF00, 0x21, 0xF9, data));
  const auto notice = r.rx();
  ASSERT_TRUE(notice);
  EXPECT_EQ(unstamped(*notice),
            (Bytes{0x02, 0xA5, 0x10, 0x18, 0xEC, 0xF9, 0x21, 0x10, 100, 0x00, 15, 0xFF, 0x00, 0xEF, 0x00}));
  for (uint8_t seq = 0; seq < 3; ++seq) {
    const auto c = r.rx();
    ASSERT_TRUE(c);
    const size_t n = seq < 2 ? 49 : 2;
    Bytes want{0x02, 0xA6, static_cast<uint8_t>(0x05 + n), static_cast<uint8_t>(0x10 | seq)};
    want.insert(want.end(), data.begin() + seq * 49, data.begin() + seq * 49 + n);
    EXPECT_EQ(unstamped(*c), want) << "chunk " << int(seq);
    EXPECT_FALSE(r.client->readFrame(100).has_value()) << "chunk sent before the report";
    r.rf({0x02, 0x20, 0x10, static_cast<uint8_t>(seq * 49 + n)});
  }
  EXPECT_EQ(r.sim.adapterState().longFromBusDone, 1u);
  EXPECT_EQ(r.sim.adapterState().progressMismatches, 0u);
}

TEST(SimAdapter, InjectedCanFramesInTheJ1939Layout) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.startJ1939();
  r.sim.injectBusCan(false, 0x123, {0xAA, 0xBB});
  r.sim.injectBusCan(true, 0x18FEF100, {0x01});
  auto a = r.rx(), b = r.rx();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(unstamped(*a), (Bytes{0x02, 0x94, 0x0A, 0x80, 0x00, 0x01, 0x23, 0xAA, 0xBB}));
  EXPECT_EQ(unstamped(*b), (Bytes{0x02, 0x94, 0x09, 0x18, 0xFE, 0xF1, 0x00, 0x01}));
}

TEST(SimBus, AdapterFiltersAndPackingShapeTheScriptedTraffic) {
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.rf({0x01, 0x17, 0x10});
  r.startJ1939();
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

TEST(SimFaults, EveryKnobShowsOnTheWire) {
  Rig r;
  ASSERT_TRUE(r.ok);
  auto answerIs = [&](const Bytes& want) {
    r.client->send(kSh);
    EXPECT_EQ(r.client->readBytes(want.size(), 1000), want);
  };
  auto spoilt = [&](size_t at, uint8_t value) { Bytes b = kShAnswer; b[at] = value; return b; };

  r.sim.dropFrames(Dir::ToPc, 1);
  r.client->send(kSh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  answerIs(kShAnswer);
  r.sim.duplicateFrames(Dir::ToPc, 1);
  Bytes twice = kShAnswer;
  twice.insert(twice.end(), kShAnswer.begin(), kShAnswer.end());
  answerIs(twice);
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::BadChecksum);
  answerIs(spoilt(12, 0xD5));
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::FlippedBit);
  answerIs(spoilt(11, kShAnswer[11] ^ 0x10));
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::LyingLength);
  answerIs(spoilt(2, 0x0B));
  Bytes noisy{0x55, 0x00, 0xA5};
  noisy.insert(noisy.end(), kShAnswer.begin(), kShAnswer.end());
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::NoiseBefore);
  answerIs(noisy);

  r.sim.delayFrames(Dir::ToPc, 1, 300);
  const auto t0 = std::chrono::steady_clock::now();
  r.client->send(kSh);
  EXPECT_EQ(r.client->readFrame(2000), kShAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));

  // A 100-byte frame written byte by byte at about the line rate reaches the reader in pieces.
  r.sim.setSplitWrites(true);
  const size_t readsBefore = r.client->readSizes().size();
  const Bytes longRf(95, 0x5A);
  r.sim.sendRfToPc(longRf);
  EXPECT_EQ(r.client->readFrame(2000), qv::sim::encodeRx16(kAdapter, 0x28, 0, longRf));
  EXPECT_GE(r.client->readSizes().size() - readsBefore, 4u) << "frame arrived in one piece";
  r.sim.setSplitWrites(false);

  r.sim.failTxStatus(1);
  r.client->send(tx(0x05, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x05, 1));
  EXPECT_FALSE(r.client->readFrame(100).has_value());  // and not delivered

  r.sim.setModemAnswers(false);
  r.client->send(kSh);
  r.client->send(tx(0x06, {0x00, 0x1B}));
  EXPECT_FALSE(r.client->readFrame(200).has_value());
  r.sim.setModemAnswers(true);

  r.sim.setAdapterAnswers(false);
  r.client->send(tx(0x07, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x07, 1));
  r.sim.setAdapterAnswers(true);

  r.startJ1939();
  r.sim.powerLoss();
  r.client->send(tx(0x08, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x08, 1));
  r.sim.powerReturn();
  EXPECT_FALSE(r.sim.adapterState().started[2]);  // the firmware came back fresh
  r.client->send(tx(0x09, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x09, 0));
  EXPECT_TRUE(r.rx().has_value());

  // A late TX status follows the adapter's answer; a held version reply lets later traffic
  // pass; a missing one never comes.
  ASSERT_TRUE(r.sim.applyFaults("late-txstatus,version-delay=200"));
  r.client->send(tx(0x0A, {0x81, 0x10}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x01, 0x90}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x0A, 0));
  const auto held = std::chrono::steady_clock::now();
  r.client->send(tx(0x0B, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x0B, 0));
  r.sim.sendKeepAlive();
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x00, 0x91}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x00, 0x9B, 0x1B, 0x41, 0x00}));
  EXPECT_GE(std::chrono::steady_clock::now() - held, std::chrono::milliseconds(190));
  ASSERT_TRUE(r.sim.applyFaults("no-version"));
  r.client->send(tx(0x0C, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x0C, 0));
  EXPECT_FALSE(r.client->readFrame(300).has_value());
  EXPECT_EQ(r.sim.adapterState().versionQueries, 3u);

  // The PC-to-modem direction: a dropped and a spoilt frame are never answered.
  r.sim.dropFrames(Dir::FromPc, 1);
  r.sim.corruptFrames(Dir::FromPc, 1, qv::sim::Corruption::BadChecksum);
  r.client->send(kSh);
  r.client->send(kSh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  r.client->send({0x00, 0x7E, 0x00, 0x04, 0x08, 0x53, 0x53, 0x48, 0x00});  // noise, bad checksum
  answerIs(kShAnswer);
  const auto c = r.sim.counters();
  EXPECT_EQ(c.droppedFromPc, 1u);
  EXPECT_EQ(c.badFramesFromPc, 3u);  // spoilt frame, one noise byte, one bad checksum

  r.sim.setDropRate(Dir::ToPc, 100);
  r.client->send(kSh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  r.sim.clearFaults();

  EXPECT_TRUE(r.sim.applyFaults("drop=1,dup=2:pc,delay=1:50,corrupt=bit:2,droprate=0,split,noack=1"));
  EXPECT_FALSE(r.sim.applyFaults("drop=1,bogus"));
  EXPECT_FALSE(r.sim.applyFaults("corrupt=sideways"));
}

// A paced line carries bytes no faster than baud/10 per second, both ways, and loses none.
TEST(SimLine, PacedLineKeepsToTheBaudRateBothWays) {
  qv::sim::SimConfig cfg;
  cfg.lineBaud = 9600;  // 960 bytes/s: slow enough to measure
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  using Clock = std::chrono::steady_clock;
  const Bytes rf(20, 0x5A);
  const size_t frameBytes = qv::sim::encodeRx16(kAdapter, 0x28, 0, rf).size();
  const auto t0 = Clock::now();
  for (int i = 0; i < 20; ++i) r.sim.sendRfToPc(rf);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(r.rx(3000).has_value()) << i;
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t0).count(), static_cast<double>(20 * frameBytes - 1) / 960.0);

  const Bytes request = tx(0, {0x00, 0x11, 0x00, 0x00});
  const size_t before = r.sim.rfToAdapter().size();
  const auto t1 = Clock::now();
  for (int i = 0; i < 20; ++i) r.client->send(request);
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.rfToAdapter().size() >= before + 20; }, 5000));
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t1).count(), static_cast<double>(20 * request.size() - 1) / 960.0);
  EXPECT_EQ(r.sim.counters().badFramesFromPc, 0u);
}
