// Faults on the radio link: whatever the line does, every call comes back within the design's
// waits, no spoilt or repeated message reaches the application, and the link works again once
// the fault ends (or the application is told to reconnect).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../support/rp1210_session.h"

namespace {

using namespace qv::test;
using qv::sim::Dir;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kEec1 = 61444, kCcvs = 65265, kVin = 65260;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// CPU time of this whole process (every thread), user and system.
long CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000L + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000L;
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
  // A fresh J1939 client (id 1 when it connects), its stream read and checked for `ms`.
  int16_t ConnectAndRead(long ms) {
    const int16_t id = Connect("J1939");
    lastStamp_ = 0;
    EXPECT_GT(id == 1 ? ReadAndCheck(id, ms) : 0, 0) << "no stream";
    return id;
  }
  uint32_t lastStamp_ = 0;
};

TEST_F(Faults, SpoiltFramesToThePcAreDroppedAndTheStreamGoesOn) {
  const int16_t id = ConnectAndRead(300);
  ASSERT_EQ(id, 1);
  // Fault lists as qvlink-sim takes them; each spoils the frames to the PC.
  for (const char* faults : {"drop=5", "corrupt=checksum:5", "corrupt=bit:5", "corrupt=length:5", "corrupt=noise:5",
                             "delay=3:300", "split", "droprate=30"}) {
    SCOPED_TRACE(faults);
    ASSERT_TRUE(sim_->applyFaults(faults));
    ReadAndCheck(id, 600);
    sim_->clearFaults();
    EXPECT_GT(ReadAndCheck(id, 400), 0) << "the stream did not come back";
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
  const int16_t again = ConnectAndRead(400);
  ASSERT_EQ(again, 1);
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

TEST_F(Faults, PortGoneUnderAnOpenDeviceIsNoticedOnceAndEveryCallHears142) {
  const int16_t id = ConnectAndRead(200);
  ASSERT_EQ(id, 1);
  // A blocking read waits in another thread when the line hangs up.
  std::atomic<bool> gone{false}, stop{false};
  std::atomic<long> readEndedMs{-1};
  Clock::time_point goneAt;
  std::thread reader([&] {
    std::vector<char> m(2048);
    while (!stop.load()) {
      if (Api().read(id, m.data(), 2048, 1) == 142 && gone.load()) {
        readEndedMs.store(MsSince(goneAt));
        return;
      }
    }
  });
  goneAt = Clock::now();
  gone.store(true);
  sim_.reset();  // the far end of the line hangs up
  // Two seconds with the port gone cost about what an idle live port costs, not a core.
  const long cpuBefore = CpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the measuring window, not a synchronisation
  EXPECT_LT(CpuMs() - cpuBefore, 500);
  EXPECT_GE(readEndedMs.load(), 0) << "the blocking read is still waiting";
  EXPECT_LT(readEndedMs.load(), 1000);
  // Every later send and read is refused at once, blocking or not.
  const char msg[] = {0x00, static_cast<char>(0xFF), 0x00, 0x06, static_cast<char>(0xF9), static_cast<char>(0xFF), 0x44};
  std::vector<char> m(2048);
  for (const int16_t block : {int16_t{0}, int16_t{1}}) {
    const auto start = Clock::now();
    EXPECT_EQ(Api().send(id, msg, sizeof msg, 0, block), 142);
    EXPECT_EQ(Api().read(id, m.data(), 2048, block), 142);
    EXPECT_LT(MsSince(start), 100);
  }
  auto start = Clock::now();
  EXPECT_EQ(Disconnect(id), 0);
  EXPECT_LT(MsSince(start), 2500);
  stop.store(true);
  reader.join();
  // A new line on the same port name: the application reconnects and works.
  sim_ = std::make_unique<qv::sim::Simulator>(Config());
  ASSERT_TRUE(sim_->start());
  ASSERT_TRUE(sim_->linkPort(dir_.string(), "COM5"));
  EXPECT_EQ(ConnectAndRead(400), 1);
}

TEST_F(Faults, ANotificationPipeNeverDrainedStopsNeitherTrafficNorTheDisconnect) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  ASSERT_GE(fcntl(p[1], F_SETPIPE_SZ, 4096), 4096);  // room for 512 notifications
  const int16_t id = Api().connect(reinterpret_cast<void*>(static_cast<intptr_t>(p[1])), 1, "J1939", 0, 0, 0);
  ASSERT_EQ(id, 1);
  clients_.push_back(id);
  constexpr int kFrames = 1000;
  constexpr uint32_t kPgn = 0xFF33;
  std::thread bus([&] {
    for (int i = 0; i < kFrames; ++i)
      sim_->injectBusJ1939(6, kPgn, 0x44, 0xFF, {static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8), 0, 0, 0, 0, 0, 0});
  });
  // The application reads its messages but never its pipe: the last frame still arrives.
  int last = -1;
  std::vector<char> m(2048);
  const auto start = Clock::now();
  while (last != kFrames - 1 && MsSince(start) < 30000) {
    const int n = Api().read(id, m.data(), 2048, 0);
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling read, as applications do
      continue;
    }
    if (n >= 12 && Pgn(m.data()) == kPgn) last = static_cast<uint8_t>(m[10]) | static_cast<uint8_t>(m[11]) << 8;
  }
  bus.join();
  EXPECT_EQ(last, kFrames - 1);
  int queued = 0;
  ASSERT_EQ(ioctl(p[0], FIONREAD, &queued), 0);
  EXPECT_GE(queued, 8) << "the client was never told";
  const auto closing = Clock::now();
  EXPECT_EQ(Disconnect(id), 0);
  EXPECT_LT(MsSince(closing), 5000);
  ::close(p[0]);
  ::close(p[1]);
}

// Runs exit_child MODE (a program that ends without disconnecting) and times its exit from
// the moment it had the device open.
struct ChildRun {
  bool ready = false;
  long exitMs = -1;  // -1: still running after 10 s (then killed)
  int status = 0;
};

ChildRun RunExitChild(const char* mode) {
  ChildRun run;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const std::string dir = BinDir().string();
  char* argv[] = {const_cast<char*>(QV_EXIT_CHILD_PATH), const_cast<char*>(mode), const_cast<char*>(dir.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, QV_EXIT_CHILD_PATH, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return run;
  }
  pollfd pfd{out[0], POLLIN, 0};
  char byte = 0;
  run.ready = poll(&pfd, 1, 20000) == 1 && ::read(out[0], &byte, 1) == 1;
  const auto readyAt = Clock::now();
  // The child's end of the pipe closes when it has ended: end of file within 10 s, or kill it.
  if (poll(&pfd, 1, 10000) == 1 && ::read(out[0], &byte, 1) == 0) run.exitMs = MsSince(readyAt);
  else kill(pid, SIGKILL);
  waitpid(pid, &run.status, 0);
  ::close(out[0]);
  return run;
}

TEST_F(Faults, AProgramThatEndsWithoutDisconnectingExitsAtOnceAndFreesThePort) {
  // Through the RP1210 library; through the driver with a blocking read waiting in another
  // thread; through the driver unloaded before any close.
  for (const char* mode : {"rp1210", "driver", "unload"}) {
    SCOPED_TRACE(mode);
    const ChildRun run = RunExitChild(mode);
    ASSERT_TRUE(run.ready) << "the child could not open the device";
    ASSERT_GE(run.exitMs, 0) << "the child did not end";
    EXPECT_LT(run.exitMs, 2000);  // a normal close alone waits 1.4 s
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << "status " << run.status;
    const int16_t id = ConnectAndRead(300);
    ASSERT_EQ(id, 1) << "the port was not released";
    EXPECT_EQ(Disconnect(id), 0);
  }
}

}  // namespace
