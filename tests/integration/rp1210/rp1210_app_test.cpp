// QV121032 loaded the way applications load it, over the real driver, against the simulator.
// Streams, long messages and threads through this same path: the reliability tests. Bad client
// ids, null pointers and sizes per call: the RP1210 unit tests (ASan tells of any stray access).
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;

using Rp1210App = Rp1210Session;

// A blocking read with nothing to read waits until the device closes, then returns 0 (or the
// call comes after the close and the client is gone: 129). Either way it must come back.
TEST_F(Rp1210App, BlockingReadEndsWhenTheDeviceCloses) {
  sim_->setBusTraffic(false);  // nothing may arrive: messages in flight would pass the discard
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  char none[1] = {};
  ASSERT_EQ(Api().command(17, id, none, 0), 0);  // discard everything
  std::vector<char> buf(2048);
  for (int i = 0; i < 5 && Api().read(id, buf.data(), 2048, 0) > 0; ++i) {
  }
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
}

// The whole protocol string goes to the driver: it must take one far longer than any name it knows.
TEST_F(Rp1210App, OverlongProtocolString) {
  const std::string longName = "J1939" + std::string(4000, 'x');
  const int16_t r = Connect(longName.c_str());
  EXPECT_TRUE(r == 1 || r > 10) << r;
  if (r == 1) {
    EXPECT_EQ(Disconnect(1), 0);
  }
}

}  // namespace
