// The simulator over a real pseudo-terminal, driven by a small client: modem exchange, adapter
// conversations, the scripted bus and every fault knob, all checked on the wire.
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

// RF payload of an RX 0x81 frame.
Bytes rfOf(const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end() - 1); }
// RF payload without its 4-byte stamp at RF bytes 3-6.
Bytes unstamped(const Bytes& rf) {
  Bytes b(rf.begin(), rf.begin() + 3);
  b.insert(b.end(), rf.begin() + 7, rf.end());
  return b;
}
uint32_t stampOf(const Bytes& rf) { return qv::sim::getBe32(rf.data() + 3); }

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

}  // namespace

TEST(SimModem, AnswersQueriesAndSetsWithStatusAndValue) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.client->send(at(0x53, 'S', 'H'));
  EXPECT_EQ(r.client->readFrame(1000),
            (Bytes{0x7E, 0x00, 0x09, 0x88, 0x53, 0x53, 0x48, 0x00, 0x00, 0x13, 0xA2, 0x00, 0xD4}));
  r.client->send(at(0x53, 'S', 'L'));
  EXPECT_EQ(r.client->readFrame(1000),
            (Bytes{0x7E, 0x00, 0x09, 0x88, 0x53, 0x53, 0x4C, 0x00, 0x40, 0xA1, 0xB2, 0xC3, 0x2F}));

  r.client->send(at(0x14, 'M', 'Y', {0x00, 0x00, 0x00, 0x42}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'M', 'Y', 0, {}));
  r.client->send(at(0x14, 'M', 'Y'));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'M', 'Y', 0, {0x00, 0x42}));
  EXPECT_EQ(r.sim.modemState().my, 0x0042);

  r.client->send(at(0x14, 'C', 'H', {0x00, 0x00, 0x00, 0x30}));  // outside the band
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'C', 'H', 3, {}));
  r.client->send(at(0x14, 'Z', 'Z'));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'Z', 'Z', 2, {}));

  // Frame id 0 asks for no answer: the next frame out answers the query after it.
  r.client->send(at(0x00, 'I', 'D', {0x12, 0x34}));
  r.client->send(at(0x14, 'I', 'D'));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'I', 'D', 0, {0x12, 0x34}));
  r.client->send(at(0x14, 'W', 'R'));
  r.client->send(at(0x14, 'F', 'R'));
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.modemState().resets == 1; }, 1000));
  EXPECT_EQ(r.sim.modemState().writes, 1u);
  EXPECT_EQ(r.sim.atCommands().size(), 10u);
}

TEST(SimModem, TxRequestGetsStatusThenTheAdaptersReply) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.client->send(tx(0x01, {0x00, 0x1B}));  // version query
  EXPECT_EQ(r.client->readFrame(1000), (Bytes{0x7E, 0x00, 0x03, 0x89, 0x01, 0x00, 0x75}));
  EXPECT_EQ(r.client->readFrame(1000),
            (Bytes{0x7E, 0x00, 0x0A, 0x81, 0x30, 0x39, 0x28, 0x00, 0x00, 0x9B, 0x1B, 0x41, 0x00, 0xF6}));

  r.client->send(tx(0x02, {0x00, 0x1B}, 0x1111));  // nobody there
  EXPECT_EQ(r.client->readFrame(1000), (Bytes{0x7E, 0x00, 0x03, 0x89, 0x02, 0x01, 0x73}));
  r.rf({0x00, 0x11, 0x00, 0x00});  // keep-alive reply, frame id 0: no status
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.adapterState().keepAliveReplies == 1; }, 1000));
  const auto log = r.sim.rfToAdapter();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_FALSE(log[1].delivered);
  EXPECT_EQ(r.sim.counters().txStatusSent, 2u);
  EXPECT_EQ(r.sim.adapterState().versionQueries, 1u);
  EXPECT_FALSE(r.client->readFrame(100).has_value());  // nothing else came

  r.sim.sendKeepAlive();
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x00, 0x91}));
}

TEST(SimModem, SixtyFourBitReceiveFramesAndChannelHandOver) {
  qv::sim::SimConfig cfg;
  cfg.rxPacket64 = true;
  cfg.versionReplyRepeatsQuery = false;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.client->send(tx(0x00, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000),
            qv::sim::encodeRx64(cfg.adapterSerial64, 0x28, 0, {0x00, 0x9B, 0x41, 0x00}));
  // The adapter moves to channel 15; the modem still on 12 no longer reaches it.
  r.rf({0x10, 0x21, 0x00, 0x00, 0x30, 0x39, 0x0F, 0x10, 0x00, 'Q', 'v', 'L', 'i', 'n', 'k', 0x00});
  EXPECT_EQ(r.sim.adapterState().channel, 0x0F);
  EXPECT_EQ(r.sim.adapterState().command33Data.size(), 14u);
  r.client->send(tx(0x07, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x07, 1));
  r.client->send(at(0x14, 'C', 'H', {0x00, 0x00, 0x00, 0x0F}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeAtResponse(0x14, 'C', 'H', 0, {}));
  r.client->send(tx(0x08, {0x00, 0x1B}));
  EXPECT_EQ(r.client->readFrame(1000), qv::sim::encodeTxStatus(0x08, 0));
}

TEST(SimAdapter, StartUpCommandsAcknowledgementsAndState) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.rf({0x00, 0x17, 0x09, 0x09});                  // RF acknowledgement option
  r.startJ1939();
  r.rf({0x02, 0x17, 0x02, 0x01});
  r.rf({0x00, 0x1E, 0x01});                        // command 30
  r.rf({0x02, 0x18, 0x00, 0xEA, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00});  // pass list
  r.rf({0x02, 0x17, 0x05, 0x19});                  // packing
  r.rf({0x02, 0x17, 0x11, 0xF9});                  // transport address
  r.rf({0x01, 0x17, 0x10});
  r.rf({0x01, 0x17, 0x01, 0x00});
  r.client->send(tx(0x00, {0x81, 0x10, 0, 0, 0, 0, 0, 0}));  // acknowledged J1708 filter
  EXPECT_EQ(r.rx(), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x01, 0x90}));
  r.client->send(tx(0x00, {0x82, 0x11}));                     // acknowledged empty CAN filter
  EXPECT_EQ(r.rx(), qv::sim::encodeRx16(kAdapter, 0x28, 0, {0x02, 0x91}));
  r.rf({0x00, 0x00, 1, 0, 2, 0, 3, 0, 0, 0, 5, 0});  // link counters report
  const auto a = r.sim.adapterState();
  EXPECT_TRUE(a.rfAck);
  EXPECT_TRUE(a.started[1] && a.started[2]);
  EXPECT_TRUE(a.option0201[2]);
  EXPECT_EQ(a.command30Count, 1u);
  EXPECT_TRUE(a.packing);
  EXPECT_EQ(a.packingValue, 0x19);
  EXPECT_EQ(a.transportAddress, 0xF9);
  EXPECT_EQ(a.j1708Mode, 0x00);
  EXPECT_EQ(a.j1708Filters, (Bytes{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(a.acksSent, 2u);
  ASSERT_TRUE(a.linkCounters.has_value());
  EXPECT_EQ(a.linkCounters->rxFrames, 1);
  EXPECT_EQ(a.linkCounters->txMessages, 3);
  EXPECT_EQ(a.linkCounters->j1939Records, 5);
}

TEST(SimAdapter, RequestForVinComesBackAsEchoNoticeAndChunk) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.startJ1939();
  r.rf({0x02, 0x14, 0x07, 0x18, 0xEA, 0x00, 0xF9, 0xEC, 0xFE, 0x00});
  const auto echo = r.rx(), notice = r.rx(), chunk = r.rx();
  ASSERT_TRUE(echo && notice && chunk);
  EXPECT_EQ(unstamped(rfOf(*echo)), (Bytes{0x02, 0x9F, 0x0B, 0x18, 0xEA, 0x00, 0xF9, 0xEC, 0xFE, 0x00}));
  EXPECT_EQ(unstamped(rfOf(*notice)),
            (Bytes{0x02, 0xA5, 0x10, 0x1C, 0xEC, 0xFF, 0x00, 0x20, 0x12, 0x00, 0x03, 0xFF, 0xEC, 0xFE, 0x00}));
  Bytes want{0x02, 0xA6, 0x17, 0x20};
  for (char c : std::string("1QVLINK0SIM000042*")) want.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(unstamped(rfOf(*chunk)), want);
  EXPECT_LT(stampOf(rfOf(*echo)), stampOf(rfOf(*notice)));
  EXPECT_LT(stampOf(rfOf(*notice)), stampOf(rfOf(*chunk)));
  EXPECT_EQ(r.sim.busFramesFromPc().at(0).id.pgn, 59904u);
  r.rf({0x02, 0x20, 0x20, 0x12});  // progress report: all 18 bytes taken
  EXPECT_EQ(r.sim.adapterState().longFromBusDone, 1u);
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
  EXPECT_EQ(unstamped(rfOf(*notice)),
            (Bytes{0x02, 0xA5, 0x10, 0x18, 0xEC, 0xF9, 0x21, 0x10, 100, 0x00, 15, 0xFF, 0x00, 0xEF, 0x00}));
  for (uint8_t seq = 0; seq < 3; ++seq) {
    const auto c = r.rx();
    ASSERT_TRUE(c);
    const Bytes rf = rfOf(*c);
    EXPECT_EQ(rf[1], 0xA6);
    EXPECT_EQ(rf[7], 0x10 | seq);
    const size_t n = seq < 2 ? 49 : 2;
    ASSERT_EQ(rf.size(), 8 + n);
    EXPECT_EQ(rf[8], seq * 49);
    EXPECT_FALSE(r.client->readFrame(100).has_value()) << "chunk sent before the report";
    r.rf({0x02, 0x20, 0x10, static_cast<uint8_t>(seq * 49 + n)});
  }
  EXPECT_EQ(r.sim.adapterState().longFromBusDone, 1u);
  EXPECT_EQ(r.sim.adapterState().progressMismatches, 0u);
}

TEST(SimAdapter, LongMessageFromPcByRtsCts) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.startJ1939();
  Bytes first{0x02, 0x23, 50, 0x10};
  for (uint8_t i = 0; i < 49; ++i) first.push_back(i);
  r.rf(first);
  EXPECT_FALSE(r.client->readFrame(100).has_value());  // nothing until the announcement
  r.rf({0x02, 0x24, 0x0C, 0x18, 0xEC, 0x00, 0xF9, 0x10, 50, 0x00, 0x08, 0x07, 0x00, 0xEF, 0x00});
  const auto echo = r.rx();
  ASSERT_TRUE(echo);
  EXPECT_EQ(unstamped(rfOf(*echo)),
            (Bytes{0x02, 0x9F, 0x10, 0x18, 0xEC, 0x00, 0xF9, 0x10, 50, 0x00, 0x08, 0x07, 0x00, 0xEF, 0x00}));
  r.rf({0x02, 0x23, 0x02, 0x12, 0x31, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  const auto accepted = r.rx(), sent = r.rx(), eom = r.rx();
  ASSERT_TRUE(accepted && sent && eom);
  EXPECT_EQ(unstamped(rfOf(*accepted)), (Bytes{0x02, 0xA0, 0x06, 0x10, 50}));
  EXPECT_EQ(unstamped(rfOf(*sent)), (Bytes{0x02, 0xA0, 0x06, 0x11, 50}));
  EXPECT_EQ(unstamped(rfOf(*eom)),
            (Bytes{0x02, 0xA5, 0x10, 0x1C, 0xEC, 0xF9, 0x00, 0x13, 50, 0x00, 0x08, 0xFF, 0x00, 0xEF, 0x00}));
  const auto longs = r.sim.longFromPc();
  ASSERT_EQ(longs.size(), 1u);
  EXPECT_TRUE(longs[0].complete);
  EXPECT_FALSE(longs[0].bam);
  EXPECT_EQ(longs[0].pgn, 0xEF00u);
  EXPECT_EQ(longs[0].da, 0x00);
  EXPECT_EQ(longs[0].sa, 0xF9);
  ASSERT_EQ(longs[0].data.size(), 50u);
  EXPECT_EQ(longs[0].data[49], 0x31);

  // Older firmware forwards the receiver's CTS instead of the "sent" report.
  r.sim.setFirmwareVersion(0x4050);
  r.rf(first);
  r.rf({0x02, 0x24, 0x0C, 0x18, 0xEC, 0x00, 0xF9, 0x10, 50, 0x00, 0x08, 0x07, 0x00, 0xEF, 0x00});
  ASSERT_TRUE(r.rx());
  r.rf({0x02, 0x23, 0x02, 0x12, 0x31, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_TRUE(r.rx());
  const auto cts = r.rx();
  ASSERT_TRUE(cts);
  EXPECT_EQ(rfOf(*cts)[1], 0xA5);
  EXPECT_EQ(rfOf(*cts)[11], 17);
}

TEST(SimBus, ScriptedEcusFiltersAndPacking) {
  qv::sim::SimConfig cfg;
  cfg.busTraffic = true;
  Rig r(cfg);
  ASSERT_TRUE(r.ok);
  r.rf({0x01, 0x17, 0x10});
  r.startJ1939();
  auto rfStarts = [](const Bytes& head) {
    return [head](const FrameLog& f) {
      const Bytes rf = Simulator::rfOf(f);
      if (f.fromPc || rf.size() < 7 + head.size() - 3) return false;
      if (!std::equal(head.begin(), head.begin() + 3, rf.begin())) return false;
      return std::equal(head.begin() + 3, head.end(), rf.begin() + 7);
    };
  };
  EXPECT_TRUE(r.sim.waitForFrame(rfStarts({0x02, 0x94, 0x10, 0x0C, 0xF0, 0x04, 0x00}), 1500));  // EEC1
  EXPECT_TRUE(r.sim.waitForFrame(rfStarts({0x02, 0x94, 0x10, 0x18, 0xFE, 0xF1, 0x00}), 1500));  // CCVS
  EXPECT_TRUE(r.sim.waitForFrame(rfStarts({0x02, 0x94, 0x10, 0x18, 0xEE, 0xFF, 0x00}), 1500));  // claim
  EXPECT_TRUE(r.sim.waitForFrame(rfStarts({0x01, 0x94, 0x0B, 0x80, 0xBE}), 1500));             // J1708
  EXPECT_TRUE(r.sim.waitForFrame(
      rfStarts({0x02, 0xA5, 0x10, 0x1C, 0xEC, 0xFF, 0x00, 0x20, 0x0A, 0x00, 0x02, 0xFF, 0xCA, 0xFE, 0x00}), 2500));

  // Only MID 0x81 passes now, and only EEC1 on J1939.
  r.rf({0x01, 0x10, 0x81, 0xFF, 0, 0, 0, 0});
  r.rf({0x02, 0x10, 0x00, 0xF0, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0x00});
  r.rf({0x02, 0x17, 0x05, 0x19});  // packing
  const size_t from = r.sim.frameCount();
  const auto packed = r.sim.waitForFrame([](const FrameLog& f) {
    const Bytes rf = Simulator::rfOf(f);
    return !f.fromPc && rf.size() > 2 && rf[0] == 2 && rf[1] == 0x94;
  }, 1500, from);
  ASSERT_TRUE(packed);
  const Bytes rf = Simulator::rfOf(*packed);
  EXPECT_EQ(rf.size(), 1u + 18u);  // CCVS filtered out: one EEC1 record per batch
  EXPECT_FALSE(r.sim.waitForFrame([](const FrameLog& f) {
    const Bytes b = Simulator::rfOf(f);
    return !f.fromPc && b.size() > 1 && b[0] == 1;
  }, 300, r.sim.frameCount()));

  // Pass everything again: EEC1 and CCVS of one tick share a batch.
  r.rf({0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
  const size_t from2 = r.sim.frameCount();
  EXPECT_TRUE(r.sim.waitForFrame([](const FrameLog& f) {
    const Bytes b = Simulator::rfOf(f);
    return !f.fromPc && b.size() == 1 + 18 + 18 && b[0] == 2 && b[19] == 0x94;
  }, 1500, from2));
}

TEST(SimFaults, EveryKnobShowsOnTheWire) {
  Rig r;
  ASSERT_TRUE(r.ok);
  const Bytes sh = at(0x53, 'S', 'H');
  const Bytes answer{0x7E, 0x00, 0x09, 0x88, 0x53, 0x53, 0x48, 0x00, 0x00, 0x13, 0xA2, 0x00, 0xD4};

  r.sim.dropFrames(Dir::ToPc, 1);
  r.client->send(sh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  r.client->send(sh);
  EXPECT_EQ(r.client->readFrame(1000), answer);

  r.sim.duplicateFrames(Dir::ToPc, 1);
  r.client->send(sh);
  EXPECT_EQ(r.client->readBytes(2 * answer.size(), 1000), [&] { Bytes b = answer; b.insert(b.end(), answer.begin(), answer.end()); return b; }());

  Bytes bad = answer;
  bad.back() = 0xD5;
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::BadChecksum);
  r.client->send(sh);
  EXPECT_EQ(r.client->readBytes(answer.size(), 1000), bad);
  bad = answer;
  bad[11] ^= 0x10;
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::FlippedBit);
  r.client->send(sh);
  EXPECT_EQ(r.client->readBytes(answer.size(), 1000), bad);
  bad = answer;
  bad[2] = 0x0B;
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::LyingLength);
  r.client->send(sh);
  EXPECT_EQ(r.client->readBytes(answer.size(), 1000), bad);
  bad = Bytes{0x55, 0x00, 0xA5};
  bad.insert(bad.end(), answer.begin(), answer.end());
  r.sim.corruptFrames(Dir::ToPc, 1, qv::sim::Corruption::NoiseBefore);
  r.client->send(sh);
  EXPECT_EQ(r.client->readBytes(bad.size(), 1000), bad);

  r.sim.delayFrames(Dir::ToPc, 1, 300);
  const auto t0 = std::chrono::steady_clock::now();
  r.client->send(sh);
  EXPECT_EQ(r.client->readFrame(2000), answer);
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
  r.client->send(sh);
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
  r.client->send(sh);
  r.client->send(sh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  r.client->send({0x00, 0x7E, 0x00, 0x04, 0x08, 0x53, 0x53, 0x48, 0x00});  // noise, bad checksum
  r.client->send(sh);
  EXPECT_EQ(r.client->readFrame(1000), answer);
  const auto c = r.sim.counters();
  EXPECT_EQ(c.droppedFromPc, 1u);
  EXPECT_EQ(c.badFramesFromPc, 3u);  // spoilt frame, one noise byte, one bad checksum

  r.sim.setDropRate(Dir::ToPc, 100);
  r.client->send(sh);
  EXPECT_FALSE(r.client->readFrame(150).has_value());
  r.sim.clearFaults();

  EXPECT_TRUE(r.sim.applyFaults("drop=1,dup=2:pc,delay=1:50,corrupt=bit:2,droprate=0,split,noack=1"));
  EXPECT_FALSE(r.sim.applyFaults("drop=1,bogus"));
  EXPECT_FALSE(r.sim.applyFaults("corrupt=sideways"));
}

TEST(SimAdapter, InjectedCanFramesInTheJ1939Layout) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.startJ1939();
  r.sim.injectBusCan(false, 0x123, {0xAA, 0xBB});
  r.sim.injectBusCan(true, 0x18FEF100, {0x01});
  auto a = r.rx(), b = r.rx();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(unstamped(rfOf(*a)), (Bytes{0x02, 0x94, 0x0A, 0x80, 0x00, 0x01, 0x23, 0xAA, 0xBB}));
  EXPECT_EQ(unstamped(rfOf(*b)), (Bytes{0x02, 0x94, 0x09, 0x18, 0xFE, 0xF1, 0x00, 0x01}));
}

TEST(SimAdapter, J1708EchoAndBamFromPc) {
  Rig r;
  ASSERT_TRUE(r.ok);
  r.rf({0x01, 0x14, 0x05, 0x80, 0xBE, 0x40, 0x1F, 0x63});
  const auto echo = r.rx();
  ASSERT_TRUE(echo);
  EXPECT_EQ(unstamped(rfOf(*echo)), (Bytes{0x01, 0x9F, 0x09, 0x80, 0xBE, 0x40, 0x1F, 0x63}));
  EXPECT_EQ(r.sim.j1708FromPc().at(0), (Bytes{0x80, 0xBE, 0x40, 0x1F, 0x63}));

  r.startJ1939();
  r.rf({0x02, 0x23, 0x0B, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 0xFF, 0xFF, 0xFF});
  r.rf({0x02, 0x24, 0x0C, 0x1C, 0xEC, 0xFF, 0xF9, 0x20, 0x0A, 0x00, 0x02, 0xFF, 0xCA, 0xFE, 0x00});
  const auto ann = r.rx();
  ASSERT_TRUE(ann);
  EXPECT_EQ(unstamped(rfOf(*ann)),
            (Bytes{0x02, 0x9F, 0x10, 0x1C, 0xEC, 0xFF, 0xF9, 0x20, 0x0A, 0x00, 0x02, 0xFF, 0xCA, 0xFE, 0x00}));
  EXPECT_FALSE(r.client->readFrame(100).has_value());  // a broadcast has no end acknowledgement
  const auto longs = r.sim.longFromPc();
  ASSERT_EQ(longs.size(), 1u);
  EXPECT_TRUE(longs[0].bam && longs[0].complete);
  EXPECT_EQ(longs[0].pgn, 65226u);
  EXPECT_EQ(longs[0].data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(r.sim.busFramesFromPc().back().data.size(), 10u);
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
  const double toPcSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_GE(toPcSeconds, static_cast<double>(20 * frameBytes - 1) / 960.0);

  const Bytes request = tx(0, {0x00, 0x11, 0x00, 0x00});
  const size_t before = r.sim.rfToAdapter().size();
  const auto t1 = Clock::now();
  for (int i = 0; i < 20; ++i) r.client->send(request);
  ASSERT_TRUE(r.sim.waitFor([&] { return r.sim.rfToAdapter().size() >= before + 20; }, 5000));
  const double fromPcSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
  EXPECT_GE(fromPcSeconds, static_cast<double>(20 * request.size() - 1) / 960.0);
  EXPECT_EQ(r.sim.counters().badFramesFromPc, 0u);
}
