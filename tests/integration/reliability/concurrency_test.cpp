// Ten clients on ten threads: senders number their messages, readers drain the queues, one
// thread connects and disconnects throughout (while a client detaches, the driver refuses
// sends with 142 and sends nothing: the senders retry those). Every numbered message reaches the bus once, in
// its sender's order; no reader ever sees time stamps go backwards. Runs QV_SOAK_SECONDS
// (default 8, at most an hour) seconds; message numbers cannot wrap in that time at line speed.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;
using Clock = std::chrono::steady_clock;

int SoakSeconds() {
  const char* v = std::getenv("QV_SOAK_SECONDS");
  const int s = v ? std::atoi(v) : 0;
  return s > 0 ? std::min(s, 3600) : 8;
}

class Concurrency : public Rp1210Session {};

// Time stamp, echo byte, PGN, priority, source, destination and 8 data bytes.
constexpr int kLongestSingleFrame = 4 + 1 + 3 + 1 + 1 + 1 + 8;

TEST_F(Concurrency, TenClientsOnTenThreadsLoseNothing) {
  const char* senders[] = {"J1939", "J1939:Baud=250", "J1939:Baud=500", "J1939:Baud=Auto"};
  const char* readers[] = {"CAN", "IO", "Network", "VKL"};
  int16_t ids[4], readerIds[4];
  for (int i = 0; i < 4; ++i) ASSERT_EQ(ids[i] = Connect(senders[i]), i + 1) << senders[i];
  const int16_t j1708 = Connect("J1708");
  ASSERT_EQ(j1708, 5);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(readerIds[i] = Connect(readers[i]), i + 6) << readers[i];

  const auto end = Clock::now() + std::chrono::seconds(SoakSeconds());
  std::atomic<int> sendFailures{0}, refusedWhileClosing{0}, stampsBackwards{0}, received{0}, churns{0}, churnFailures{0};
  std::atomic<int> sent[5] = {};
  // One numbered message of sender `who`; false when it must go again.
  auto sendOne = [&](int who, int16_t id, const char* msg, int16_t size, int seq) {
    const int16_t r = Api().send(id, msg, size, 0, 1);
    if (r == 0) {
      ++sent[who];
      return true;
    }
    if (r == 142) {
      ++refusedWhileClosing;  // another client is detaching: not sent, the application retries
    } else if (sendFailures++ == 0) {
      std::printf("first failure: sender %d, seq %d: %d\n", who, seq, r);
    }
    return false;
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      std::vector<char> m(2048);
      uint32_t last = 0;
      for (int seq = 0; Clock::now() < end;) {
        const char msg[] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF),
                            static_cast<char>(0xC0 + i), static_cast<char>(seq & 0xFF), static_cast<char>(seq >> 8 & 0xFF),
                            static_cast<char>(seq >> 16 & 0xFF)};
        if (sendOne(i, ids[i], msg, sizeof msg, seq)) ++seq;
        for (int k = 0; k < 4; ++k) {
          const int n = Api().read(ids[i], m.data(), 2048, 0);
          if (n <= 10) break;
          ++received;
          // A reassembled long message carries its announcement's stamp and arrives after the
          // frames that crossed meanwhile: only single frames must rise.
          if (n > kLongestSingleFrame) continue;
          const uint32_t ts = TimeStamp(m.data());
          if (ts <= last) ++stampsBackwards;
          last = ts;
        }
      }
    });
  }
  threads.emplace_back([&] {
    for (int seq = 0; Clock::now() < end;) {
      // Four 7-bit digits: 2^28 numbers, far beyond what the line carries in an hour.
      const char msg[] = {static_cast<char>(0x90), static_cast<char>(seq & 0x7F), static_cast<char>(seq >> 7 & 0x7F),
                          static_cast<char>(seq >> 14 & 0x7F), static_cast<char>(seq >> 21 & 0x7F)};
      if (sendOne(4, j1708, msg, sizeof msg, seq)) ++seq;
    }
  });
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      std::vector<char> m(2048);
      while (Clock::now() < end)
        if (Api().read(readerIds[i], m.data(), 2048, 0) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  threads.emplace_back([&] {  // the tenth client comes and goes while the others work
    while (Clock::now() < end) {
      const int16_t id = Api().connect(nullptr, 1, "Device", 0, 0, 0);
      if (id != 10) { ++churnFailures; continue; }
      if (Api().disconnect(id) != 0) ++churnFailures;
      ++churns;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // pacing: let traffic through between detaches
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(sendFailures.load(), 0);
  EXPECT_EQ(stampsBackwards.load(), 0);
  EXPECT_EQ(churnFailures.load(), 0);
  EXPECT_GT(received.load(), 0);
  EXPECT_GT(churns.load(), 0);
  int total = 0;
  for (auto& s : sent) total += s.load();
  ASSERT_TRUE(sim_->waitFor([&] { return sim_->busFramesFromPc().size() + sim_->j1708FromPc().size() >= static_cast<size_t>(total); }, 5000));
  std::map<int, int> next;
  for (const auto& f : sim_->busFramesFromPc()) {
    if (f.data.size() != 4 || f.data[0] < 0xC0 || f.data[0] > 0xC3) continue;
    const int seq = f.data[1] | f.data[2] << 8 | f.data[3] << 16;
    EXPECT_EQ(seq, next[f.data[0]]) << "sender " << int(f.data[0] - 0xC0);
    next[f.data[0]] = seq + 1;
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(next[0xC0 + i], sent[i].load()) << "sender " << i;
  int j = 0;
  for (const auto& m : sim_->j1708FromPc()) {
    if (m.size() < 5 || m[0] != 0x90) continue;
    EXPECT_EQ(m[1] | m[2] << 7 | m[3] << 14 | m[4] << 21, j);
    ++j;
  }
  EXPECT_EQ(j, sent[4].load());
  std::printf("concurrency: %d messages sent by 5 threads, %d received by 4, %d connect/disconnect cycles, "
              "%d sends refused while a client detached\n",
              total, received.load(), churns.load(), refusedWhileClosing.load());
}

}  // namespace
