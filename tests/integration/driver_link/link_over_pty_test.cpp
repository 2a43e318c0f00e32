// The link modules with their real threads over a pty, against the simulator. (Long sends and
// open/close cycles are the RP1210 and driver device tests', through the whole stack.)
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "../../unit/driver_link/link_test_support.h"
#include "../../unit/platform/temp_dir.h"
#include "qvlink/sim/simulator.h"
#include "receive.h"
#include "transmit.h"

using namespace qv::driver;
using namespace qv::driver::test;

namespace {

struct PtyLink : ::testing::Test {
  std::unique_ptr<qv::sim::Simulator> sim;
  std::unique_ptr<Device> dev = std::make_unique<Device>();
  Device& d = *dev;
  TempDir dir;
  int notify[2] = {-1, -1};

  void SetUp() override {
    setenv("QV_PORT_DIR", dir.path().c_str(), 1);
    UseSim({});
    ASSERT_EQ(pipe(notify), 0);
  }
  // A simulator of this configuration on the port (before Open).
  void UseSim(const qv::sim::SimConfig& cfg) {
    sim.reset();
    sim = std::make_unique<qv::sim::Simulator>(cfg);
    ASSERT_TRUE(sim->start());
    ASSERT_TRUE(sim->linkPort(dir.path(), "COM7"));
  }
  void TearDown() override {
    StopThreadsAndTeardown(d);
    sim.reset();
    close(notify[0]);
    close(notify[1]);
  }
  void Open() {
    DeviceSettings s = {};
    std::strcpy(s.portName, "COM7");
    s.baudRate = 115200;
    s.lineFormat = 81;
    s.notifyWindow = reinterpret_cast<void*>(static_cast<intptr_t>(notify[1]));
    ASSERT_TRUE(OpenPort(d, s));
    ASSERT_TRUE(CreateSharedObjects(d));
    InitQueues(d);  // before the threads, as start-up does
    d.rfAddress = 12345;
    ASSERT_TRUE(StartThreads(d));
    // The simulator drops what it sends until it has seen the port held open.
    ASSERT_TRUE(sim->waitFor([&] { return sim->peerConnected(); }, 2000));
  }
  void StartProtocol(uint8_t code) {
    MessageRecord r = Record(code, {0x10});
    ASSERT_EQ(SendDeviceCommand(d, 23, r), 0);
    ASSERT_TRUE(sim->waitFor([&] { return sim->adapterState().started[code]; }, 2000));
  }
  bool NotifiedWithin(int ms) {
    pollfd p{notify[0], POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    uint64_t v = 0;
    return read(notify[0], &v, sizeof v) == static_cast<ssize_t>(sizeof v) && v == 1;
  }
};

}  // namespace

// RF-acknowledged long receives whose every progress report gets its TX status only after
// the adapter's next chunk: each chunk's request must survive the report still in flight.
TEST_F(PtyLink, LongMessagesInWithRfAckAndLateTxStatus) {
  Open();
  d.rfAckEnabled.store(true);
  StartProtocol(2);
  ASSERT_TRUE(sim->applyFaults("late-txstatus"));
  Bytes data;
  for (int i = 0; i < 1785; ++i) data.push_back(static_cast<uint8_t>(i * 7 + 1));
  const struct { uint8_t kind; Reassembly* a; uint8_t complete; uint8_t da; } rows[] = {
      {qv::sim::LongKind::Bam, &d.bam, kBamComplete, 0xFF}, {qv::sim::LongKind::RtsCts, &d.rts, kRtsComplete, 0xF9}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.kind));
    ASSERT_TRUE(sim->sendLongFromBus(row.kind, 65226, 0x00, row.da, data));
    ASSERT_TRUE(sim->waitFor([&] { return row.a->state.load() == row.complete; }, 15000))
        << "chunks " << row.a->chunks << ", abandoned " << sim->adapterState().longFromBusAbandoned;
    MessageRecord r = Record(2, {});
    ASSERT_EQ(ReceiveLongMessage(d, r), 1785 + 8);
    const uint8_t* p = QvReturnedData(&r);
    EXPECT_EQ(Bytes(p + 4, p + 8), (Bytes{0x00, 0xFE, 0xCA, 0x00}));  // PGN 65226 from SA 0
    EXPECT_EQ(Bytes(p + 8, p + 8 + 1785), data);
  }
  EXPECT_TRUE(sim->waitFor([&] { return sim->adapterState().longFromBusDone == 2; }, 3000));
  const auto a = sim->adapterState();
  EXPECT_EQ(a.longFromBusAbandoned, 0u);
  EXPECT_EQ(a.progressMismatches, 0u);
}

// A send waiting for its reply is not released by one left over from an earlier exchange:
// the adapter hears nothing this time, so the send must end in 142, not 0.
TEST_F(PtyLink, StaleReplyDoesNotReleaseABlockingSend) {
  Open();
  StartProtocol(1);
  const struct { const char* what; uint8_t protocol; Bytes message; } rows[] = {
      {"J1708 echo of an earlier send", 1, {0x80, 0xBE, 0x10}},
      {"keep-alive request", 0, {0x1B}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.protocol == 1) {
      MessageRecord first = Record(1, row.message);
      ASSERT_EQ(TransmitMessage(d, first), 0);
    } else {
      sim->sendKeepAlive();
    }
    ASSERT_TRUE(NotifiedWithin(2000));  // the reply has been routed and its event set
    sim->failTxStatus(100);
    MessageRecord r = Record(row.protocol, row.message, true);
    EXPECT_EQ(TransmitMessage(d, r), ERR_HARDWARE_NOT_RESPONDING);
    sim->clearFaults();
    while (NotifiedWithin(50)) {
    }
  }
}

// Two RTS/CTS sends on two threads, each longer than the 250 ms take-over: the second waits
// for the first instead of breaking into its transfer.
TEST_F(PtyLink, ConcurrentRtsCtsSendsDoNotInterleave) {
  qv::sim::SimConfig cfg;
  cfg.lineBaud = 38400;  // about a second per 1785-byte transfer
  UseSim(cfg);
  Open();
  d.versionFeature.store(true);
  StartProtocol(2);
  Bytes a{0x18, 0xEF, 0x00, 0xF9}, b{0x18, 0xEF, 0x00, 0xF9};
  for (int i = 0; i < 1785; ++i) {
    a.push_back(static_cast<uint8_t>(i));
    b.push_back(static_cast<uint8_t>(255 - i));
  }
  int results[2] = {-1, -1};
  auto send = [&](const Bytes& data, int& result) {
    MessageRecord r = Record(2, data);
    r.transportMode = 0x00;
    r.destAddress = 0x00;
    r.sourceAddress = 0xF9;
    result = TransmitMessage(d, r);
  };
  const auto t0 = std::chrono::steady_clock::now();
  std::thread first([&] { send(a, results[0]); });
  std::thread second([&] { send(b, results[1]); });
  first.join();
  second.join();
  // Both past the take-over time, or the paced line did not slow them and nothing was tried.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2 * 250));
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  ASSERT_TRUE(sim->waitFor([&] { return sim->longFromPc().size() >= 2; }, 3000));
  const auto l = sim->longFromPc();
  ASSERT_EQ(l.size(), 2u);
  std::set<Bytes> got;
  for (const auto& m : l) {
    EXPECT_TRUE(m.complete);
    got.insert(m.data);
  }
  EXPECT_EQ(got, (std::set<Bytes>{Bytes(a.begin() + 4, a.end()), Bytes(b.begin() + 4, b.end())}));
}
