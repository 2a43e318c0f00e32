// QV121032 loaded the way applications load it, over the real driver, against the simulator.
// Streams, long messages and threads through this same path: the reliability tests.
#include <atomic>
#include <thread>
#include <vector>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;
using qv::sim::Bytes;

using Rp1210App = Rp1210Session;

TEST_F(Rp1210App, ConnectAndDisconnectInBothOrders) {
  EXPECT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(Connect("J1708"), 2);
  EXPECT_EQ(Disconnect(1), 0);
  EXPECT_EQ(Disconnect(2), 0);
  EXPECT_EQ(Connect("J1939"), 1);
  EXPECT_EQ(Connect("J1708"), 2);
  EXPECT_EQ(Disconnect(2), 0);
  EXPECT_EQ(Disconnect(1), 0);
  EXPECT_EQ(Connect("J1939"), 1);  // reconnect after the last disconnect
}

// A blocking read with nothing to read waits until the device closes, then returns 0 (or the
// call comes after the close and the client is gone: 129). Either way it must come back.
TEST_F(Rp1210App, BlockingReadEndsWhenTheDeviceClosesAndStatusFollowsClients) {
  sim_->setBusTraffic(false);  // nothing may arrive: messages in flight would pass the discard
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  char none[1] = {};
  ASSERT_EQ(Api().command(17, id, none, 0), 0);  // discard everything
  std::vector<char> buf(2048);
  for (int i = 0; i < 5 && Api().read(id, buf.data(), 2048, 0) > 0; ++i) {
  }
  char block[16];
  ASSERT_EQ(Api().status(id, block, 16, 0), 0);
  EXPECT_EQ(block[1], 1);
  EXPECT_EQ(block[2] & 1, 1);
  EXPECT_EQ(block[3], 1);
  std::atomic<bool> reading{false};
  std::atomic<int> result{-1};
  std::thread reader([&] {
    std::vector<char> rb(2048);
    reading = true;
    result = Api().read(id, rb.data(), 2048, 1);
  });
  while (!reading.load()) std::this_thread::yield();
  EXPECT_EQ(Disconnect(id), 0);
  reader.join();
  EXPECT_TRUE(result.load() == 0 || result.load() == 129) << result.load();
  EXPECT_EQ(Api().status(id, block, 16, 0), 129);
  EXPECT_EQ(std::vector<char>(block, block + 16), std::vector<char>(16, 0));
}

// Only what a test injects reaches the bus side, so every message read is one it expects.
class Rp1210Quiet : public Rp1210Session {
 protected:
  qv::sim::SimConfig Config() override {
    qv::sim::SimConfig cfg;
    cfg.busTraffic = false;
    return cfg;
  }
};

std::vector<char> CanEntry(uint8_t type, uint32_t mask, uint32_t header) {
  std::vector<char> e = {static_cast<char>(type)};
  for (uint32_t v : {mask, header})
    for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<char>(v >> shift));
  return e;
}

// RF payloads with entries of the filter commands (16 or 17) on protocol code 2 the adapter
// received. The driver's filter state lives for the process, so an empty list to clear the
// adapter's filters may go out first after an earlier test; those carry no entries.
std::vector<Bytes> FilterCommands(const qv::sim::Simulator& sim, uint8_t command) {
  std::vector<Bytes> out;
  for (const auto& rf : sim.rfToAdapter())
    if (rf.rf.size() > 2 && (rf.rf[0] & 0x7F) == 2 && rf.rf[1] == command)
      out.push_back(rf.rf);
  return out;
}

TEST_F(Rp1210Quiet, CanFilterEntriesReachTheAdapterNineBytesApart) {
  const int16_t id = Connect("CAN");
  ASSERT_EQ(id, 1);
  sim_->clearLogs();  // the start-up's empty lists
  auto join = [](std::initializer_list<std::vector<char>> parts) {
    std::vector<char> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  // Which lists are refused, and how many entries fit, is the library's own rule (its unit tests).
  const auto a = CanEntry(0, 0x7FF, 0x7E8), b = CanEntry(0, 0x7F0, 0x7E0);
  for (auto data : {join({a, b}), join({a, CanEntry(1, 0x1FFFFFFF, 0x18FEF100)})})
    EXPECT_EQ(Api().command(5, id, data.data(), static_cast<int16_t>(data.size())), 0);
  const std::vector<Bytes> expected = {
      {0x82, 17, 0, 0, 0x07, 0xE8, 0, 0, 0x07, 0xFF, 0, 0, 0x07, 0xE0, 0, 0, 0x07, 0xF0},
      {0x82, 17, 0, 0, 0x07, 0xE8, 0, 0, 0x07, 0xFF, 0, 0, 0xF1, 0x00, 0, 0, 0xFF, 0xFF},
  };
  ASSERT_TRUE(sim_->waitFor([&] { return FilterCommands(*sim_, 17).size() >= expected.size(); }, 5000));
  EXPECT_EQ(FilterCommands(*sim_, 17), expected);
}

TEST_F(Rp1210Quiet, CanSendsThatAreNotOneFrameNeverLeave) {
  const int16_t id = Connect("CAN");
  ASSERT_EQ(id, 1);
  const char m[] = {1, 0x18, static_cast<char>(0xFE), static_cast<char>(0xF1), 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(Api().send(id, m, 14, 0, 0), 141);  // 9 data bytes
  EXPECT_EQ(Api().send(id, m, 4, 0, 0), 160);   // identifier cut short
  EXPECT_EQ(Api().send(id, m, 0, 0, 0), 160);
  EXPECT_EQ(Api().send(id, m, 13, 0, 0), 0);
  ASSERT_TRUE(sim_->waitFor([&] { return !sim_->busFramesFromPc().empty(); }, 5000));
  const auto frames = sim_->busFramesFromPc();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id.pgn, 0xFEF1u);
  EXPECT_EQ(frames[0].data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(sim_->longFromPc().empty());
}

// An 8-byte J1939 frame is L = 16 bytes from the driver and L + 2 = 18 for the application.
TEST_F(Rp1210Quiet, J1939ReadsFitWholeOrAreDroppedAndTheNextMessageFollows) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  char off[1] = {0};
  ASSERT_EQ(Api().command(16, id, off, 1), 0);  // echo is the driver's, kept from earlier clients
  const struct {
    int16_t size, result;
  } rows[] = {{17, 141}, {18, 18}, {17, 141}, {27, 18}, {28, 18}};
  uint8_t k = 0;
  for (auto row : rows) {
    ++k;
    const uint32_t forwarded = sim_->counters().busFramesToPc;
    sim_->injectBusJ1939(6, 0xFF00u + k, 0x21, 0xFF, Bytes(8, k));
    ASSERT_EQ(sim_->counters().busFramesToPc, forwarded + 1);  // passed the adapter's filters
    std::vector<char> buf(64, 0x55);
    EXPECT_EQ(Api().read(id, buf.data(), row.size, 1), row.result) << int(k);
    if (row.result == 141) {
      EXPECT_EQ(std::vector<char>(buf.begin(), buf.begin() + 8), std::vector<char>(8, 0x55));  // nothing written
      continue;
    }
    EXPECT_EQ(Pgn(buf.data()), 0xFF00u + k);  // this row's message, not one dropped before it
    EXPECT_EQ(std::vector<char>(buf.begin() + 10, buf.begin() + 18), std::vector<char>(8, static_cast<char>(k)));
    EXPECT_EQ(buf[18], 0x55);
  }
  std::vector<char> buf(64);
  EXPECT_EQ(Api().read(id, buf.data(), 64, 0), 0);  // nothing kept back
}

}  // namespace
