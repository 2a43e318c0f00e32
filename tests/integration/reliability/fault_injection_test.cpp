// Faults on the radio link: whatever the line does, every call comes back within the design's
// waits, no spoilt or repeated message reaches the application, and the link works again once
// the fault ends (or the application is told to reconnect).
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;
using qv::sim::Corruption;
using qv::sim::Dir;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kEec1 = 61444, kCcvs = 65265, kVin = 65260;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class Faults : public Rp1210Session {
 protected:
  // Reads J1939 messages for about `ms`, checking each streamed EEC1/CCVS message: it has its
  // 8 data bytes, and their time stamps only rise (a repeat or a reordering would show). A long
  // message is delivered when complete, with the stamp of its start: it is not compared.
  int ReadAndCheck(int16_t id, long ms) {
    int good = 0;
    std::vector<char> m(2048);
    const auto start = Clock::now();
    while (MsSince(start) < ms) {
      const int n = Api().read(id, m.data(), static_cast<int16_t>(m.size()), 0);
      if (n == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // polling read, as applications do
        continue;
      }
      EXPECT_GT(n, 10);
      if (n <= 10) continue;
      const uint32_t pgn = Pgn(m.data());
      if (pgn != kEec1 && pgn != kCcvs) continue;
      EXPECT_EQ(n, 18) << "PGN " << pgn;
      ++good;
      const uint32_t ts = TimeStamp(m.data());
      EXPECT_GT(ts, lastStamp_) << "PGN " << pgn;
      lastStamp_ = ts;
    }
    return good;
  }
  uint32_t lastStamp_ = 0;
};

TEST_F(Faults, SpoiltFramesToThePcAreDroppedAndTheStreamGoesOn) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  ASSERT_GT(ReadAndCheck(id, 300), 0);
  struct Case {
    const char* name;
    std::function<void()> apply;
  } cases[] = {
      {"drop", [&] { sim_->dropFrames(Dir::ToPc, 5); }},
      {"bad checksum", [&] { sim_->corruptFrames(Dir::ToPc, 5, Corruption::BadChecksum); }},
      {"flipped bit", [&] { sim_->corruptFrames(Dir::ToPc, 5, Corruption::FlippedBit); }},
      {"lying length", [&] { sim_->corruptFrames(Dir::ToPc, 5, Corruption::LyingLength); }},
      {"noise", [&] { sim_->corruptFrames(Dir::ToPc, 5, Corruption::NoiseBefore); }},
      {"delay", [&] { sim_->delayFrames(Dir::ToPc, 3, 300); }},
      {"one byte per write", [&] { sim_->setSplitWrites(true); }},
      {"30 % lost", [&] { sim_->setDropRate(Dir::ToPc, 30); }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.apply();
    ReadAndCheck(id, 600);
    sim_->clearFaults();
    EXPECT_GT(ReadAndCheck(id, 400), 0) << "the stream did not come back";
  }
}

TEST_F(Faults, SpoiltFramesFromThePcAreResentOrReported) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  const char msg[] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF), 0x11, 0x22};
  // A lost or spoilt request gets no echo: the blocking send resends until one arrives.
  for (int k = 0; k < 3; ++k) {
    sim_->clearLogs();
    if (k == 0) sim_->dropFrames(Dir::FromPc, 2);
    if (k == 1) sim_->corruptFrames(Dir::FromPc, 2, Corruption::BadChecksum);
    if (k == 2) sim_->corruptFrames(Dir::FromPc, 2, Corruption::NoiseBefore);
    const auto start = Clock::now();
    EXPECT_EQ(Api().send(id, msg, sizeof msg, 0, 1), 0) << k;
    EXPECT_LT(MsSince(start), 10 * 150 + 500) << k;
    ASSERT_TRUE(sim_->waitFor([&] { return !sim_->busFramesFromPc().empty(); }, 2000)) << k;
    EXPECT_EQ(sim_->busFramesFromPc().back().data, (qv::sim::Bytes{0x11, 0x22})) << k;
  }
}

TEST_F(Faults, NoAcknowledgementGives142WithinTheWaitsThenTheLinkWorks) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  const char msg[] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF), 0x33};
  sim_->failTxStatus(1000);
  const auto start = Clock::now();
  EXPECT_EQ(Api().send(id, msg, sizeof msg, 0, 1), 142);
  const long took = MsSince(start);
  EXPECT_GE(took, 10 * 150 - 50);  // every resend had its wait
  EXPECT_LT(took, 10 * 150 + 1500);
  EXPECT_TRUE(sim_->busFramesFromPc().empty());
  sim_->clearFaults();
  EXPECT_EQ(Api().send(id, msg, sizeof msg, 0, 1), 0);
  EXPECT_GT(ReadAndCheck(id, 300), 0);
}

TEST_F(Faults, SilentModemOrAdapterFailsTheConnectThenItWorks) {
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "modem" : "adapter");
    if (which == 0) sim_->setModemAnswers(false);
    else sim_->setAdapterAnswers(false);
    const auto start = Clock::now();
    const int16_t r = Connect("J1939");
    EXPECT_GT(r, 10) << "a connect without a device must fail";
    EXPECT_LT(MsSince(start), 15000);
    if (which == 0) sim_->setModemAnswers(true);
    else sim_->setAdapterAnswers(true);
    const int16_t id = Connect("J1939");
    ASSERT_EQ(id, 1);
    EXPECT_GT(ReadAndCheck(id, 400), 0);
    EXPECT_EQ(Disconnect(id), 0);
    lastStamp_ = 0;
  }
}

TEST_F(Faults, PowerLossDuringALongSendEndsItAndAReconnectWorks) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  std::vector<char> m = {0x00, static_cast<char>(0xEF), 0x00, 0x06, static_cast<char>(0xF9), 0x00};
  for (int i = 0; i < 1785; ++i) m.push_back(static_cast<char>(i));
  std::atomic<int> result{-1};
  std::thread sender([&] { result = Api().send(id, m.data(), static_cast<int16_t>(m.size()), 0, 1); });
  ASSERT_TRUE(sim_->waitFor([&] { return !sim_->longFromPc().empty() && sim_->longFromPc().back().data.size() >= 98; }, 5000));
  sim_->powerLoss();
  const auto start = Clock::now();
  sender.join();
  EXPECT_NE(result.load(), 0);
  EXPECT_LT(MsSince(start), 10000);
  sim_->powerReturn();
  EXPECT_EQ(Disconnect(id), 0);
  const int16_t again = Connect("J1939");
  ASSERT_EQ(again, 1);
  lastStamp_ = 0;
  EXPECT_GT(ReadAndCheck(again, 400), 0);
  ASSERT_EQ(Api().send(again, m.data(), static_cast<int16_t>(m.size()), 0, 1), 0);
}

TEST_F(Faults, LongReceiveCutShortLeavesNothingStuck) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  // Every frame of the broadcast lost after the first: the transfer is abandoned on both sides.
  ASSERT_EQ(Request(id, kVin), 0);
  ASSERT_TRUE(sim_->waitFor([&] { return sim_->frameCount() > 0; }, 1000));
  sim_->setDropRate(Dir::ToPc, 100);
  ASSERT_TRUE(sim_->waitFor([&] { return sim_->adapterState().longFromBusAbandoned + sim_->adapterState().longFromBusDone >= 1; }, 5000));
  sim_->clearFaults();
  std::vector<char> m;
  ASSERT_EQ(Request(id, kVin), 0);
  const int n = ReadPgn(id, kVin, m, 400);
  ASSERT_GE(n, 10 + 17);
  EXPECT_EQ(std::string(m.data() + 10, 17), "1QVLINK0SIM000042");
}

TEST_F(Faults, PortGoneUnderAnOpenDeviceGivesErrorsNotHangs) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  ASSERT_GT(ReadAndCheck(id, 200), 0);
  sim_.reset();  // the far end of the line is gone
  const char msg[] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF), 0x44};
  const auto start = Clock::now();
  EXPECT_NE(Api().send(id, msg, sizeof msg, 0, 1), 0);
  std::vector<char> m(2048);
  for (int i = 0; i < 20; ++i) Api().read(id, m.data(), 2048, 0);  // whatever was queued, then nothing
  EXPECT_EQ(Api().read(id, m.data(), 2048, 0), 0);
  EXPECT_EQ(Disconnect(id), 0);
  EXPECT_LT(MsSince(start), 10000);
  // A new line on the same port name: the application reconnects and works.
  sim_ = std::make_unique<qv::sim::Simulator>(Config());
  ASSERT_TRUE(sim_->start());
  ASSERT_TRUE(sim_->linkPort(dir_.string(), "COM5"));
  const int16_t again = Connect("J1939");
  ASSERT_EQ(again, 1);
  lastStamp_ = 0;
  EXPECT_GT(ReadAndCheck(again, 400), 0);
}

// In RF-acknowledged mode the adapter may repeat a message; the repeat is never delivered.
class AcknowledgedFaults : public Faults {
 protected:
  std::string IniExtra() override { return "[RFAck]\nDevices=1\nRFAck=1\n"; }
};

TEST_F(AcknowledgedFaults, RepeatedFramesAreDeliveredOnce) {
  const int16_t id = Connect("J1939");
  ASSERT_EQ(id, 1);
  ASSERT_TRUE(sim_->adapterState().rfAck);
  ASSERT_GT(ReadAndCheck(id, 300), 0);
  sim_->duplicateFrames(Dir::ToPc, 10);
  ReadAndCheck(id, 800);
  sim_->clearFaults();
  EXPECT_GT(ReadAndCheck(id, 300), 0);
}

}  // namespace
