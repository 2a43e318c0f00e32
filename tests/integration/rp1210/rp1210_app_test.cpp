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

TEST_F(Rp1210Quiet, OnlyACanMessageThatIsOneFrameLeaves) {
  const int16_t id = Connect("CAN");
  ASSERT_EQ(id, 1);
  const char m[] = {1, 0x18, static_cast<char>(0xFE), static_cast<char>(0xF1), 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(Api().send(id, m, 14, 0, 0), 141);  // 9 data bytes; the other refusals: the unit tests
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
