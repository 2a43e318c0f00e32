// Events, locks and threads together; dynamic loading, notification and the process list.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>

#include "qvlink/platform/clock.h"
#include "qvlink/platform/dynamic_library.h"
#include "qvlink/platform/event.h"
#include "qvlink/platform/lock.h"
#include "qvlink/platform/notify.h"
#include "qvlink/platform/process_list.h"
#include "qvlink/platform/thread.h"

using namespace qv::platform;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

struct Waiter {
  Event* event;
  uint32_t timeoutMs;
  WaitResult result = WaitResult::Failed;
  static void Run(void* p) {
    auto* w = static_cast<Waiter*>(p);
    w->result = w->event->wait(w->timeoutMs);
  }
};

TEST(EventThreads, OneSetReleasesExactlyOneOfTwoWaiters) {
  Event e;
  Waiter a{&e, 600}, b{&e, 600};
  Thread ta, tb;
  ASSERT_TRUE(ta.start(&Waiter::Run, &a));
  ASSERT_TRUE(tb.start(&Waiter::Run, &b));
  e.set();  // whether or not they wait yet, one set is one release
  ASSERT_TRUE(ta.join());
  ASSERT_TRUE(tb.join());
  const int released = (a.result == WaitResult::Signalled) + (b.result == WaitResult::Signalled);
  const int timedOut = (a.result == WaitResult::TimedOut) + (b.result == WaitResult::TimedOut);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(timedOut, 1);
  EXPECT_EQ(e.wait(0), WaitResult::TimedOut) << "the set was consumed";
}

TEST(EventThreads, SetWakesAnEndlessWaitPromptly) {
  Event e;
  Event started;
  struct Ctx {
    Event* e;
    Event* started;
    WaitResult r = WaitResult::Failed;
  } ctx{&e, &started};
  Thread t;
  ASSERT_TRUE(t.start(
      [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        c->started->set();
        c->r = c->e->wait(kWaitForever);
      },
      &ctx));
  ASSERT_EQ(started.wait(5000), WaitResult::Signalled);
  const auto t0 = Clock::now();
  e.set();
  ASSERT_TRUE(t.join());
  EXPECT_EQ(ctx.r, WaitResult::Signalled);
  EXPECT_LT(MsSince(t0), 2000);
}

TEST(EventThreads, TimedWaitLastsItsTime) {
  Event e;
  const auto t0 = Clock::now();
  EXPECT_EQ(e.wait(80), WaitResult::TimedOut);
  const auto ms = MsSince(t0);
  EXPECT_GE(ms, 80);
  EXPECT_LT(ms, 2000);
}

TEST(ClockTiming, SleepAndTickAgree) {
  const uint32_t a = TickMs();
  const auto t0 = Clock::now();
  SleepMs(40);  // the fixed wait is what is measured
  const uint32_t d = TickMs() - a;  // unsigned difference survives a wrap
  EXPECT_GE(MsSince(t0), 40);
  EXPECT_GE(d, 39u);
  EXPECT_LT(d, 2000u);
}

TEST(ThreadAndLock, CountsStayExactUnderContention) {
  struct Shared {
    Lock lock;
    long counter = 0;
  } shared;
  auto work = [](void* p) {
    auto* s = static_cast<Shared*>(p);
    for (int i = 0; i < 200000; ++i) {
      LockGuard g(s->lock);
      ++s->counter;
    }
  };
  Thread t1, t2;
  ASSERT_TRUE(t1.start(work, &shared));
  ASSERT_TRUE(t2.start(work, &shared));
  t1.setTimeCritical();  // best effort: refused without privileges, never fatal
  ASSERT_TRUE(t1.join());
  ASSERT_TRUE(t2.join());
  EXPECT_EQ(shared.counter, 400000);
  EXPECT_FALSE(t1.running());
}

TEST(ThreadAndLock, LifecycleAndDestructorJoins) {
  Thread never;
  EXPECT_FALSE(never.running());
  EXPECT_TRUE(never.join()) << "never started counts as ended";
  EXPECT_FALSE(never.setTimeCritical());
  EXPECT_FALSE(never.start(nullptr, nullptr));

  Event go;
  std::atomic<bool> finished{false};
  struct Ctx {
    Event* go;
    std::atomic<bool>* finished;
  } ctx{&go, &finished};
  {
    Thread t;
    ASSERT_TRUE(t.start(
        [](void* p) {
          auto* c = static_cast<Ctx*>(p);
          c->go->wait(kWaitForever);
          c->finished->store(true);
        },
        &ctx));
    EXPECT_TRUE(t.running());
    EXPECT_FALSE(t.start([](void*) {}, nullptr)) << "one thread per object";
    go.set();
  }  // the destructor joins
  EXPECT_TRUE(finished.load());

  // A thread object whose thread has ended can start another.
  Thread reuse;
  Event done;
  auto signal = [](void* p) { static_cast<Event*>(p)->set(); };
  ASSERT_TRUE(reuse.start(signal, &done));
  ASSERT_EQ(done.wait(5000), WaitResult::Signalled);
  ASSERT_TRUE(reuse.join());
  ASSERT_TRUE(reuse.start(signal, &done));
  EXPECT_EQ(done.wait(5000), WaitResult::Signalled);
  EXPECT_TRUE(reuse.join());
}

TEST(DynamicLibrary, LoadsByBareNameAndCountsLoads) {
  LibraryHandle a = LoadLibraryByName("qvtestlib");
  ASSERT_NE(a, nullptr);
  auto fn = reinterpret_cast<int (*)()>(FindLibrarySymbol(a, "qv_test_answer"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  EXPECT_EQ(FindLibrarySymbol(a, "qv_no_such_symbol"), nullptr);

  LibraryHandle b = LoadLibraryByName("qvtestlib.dll");  // the Windows spelling maps too
  ASSERT_NE(b, nullptr);
  FreeLibraryHandle(a);
  auto again = reinterpret_cast<int (*)()>(FindLibrarySymbol(b, "qv_test_answer"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again(), 42) << "still loaded: one free per load";
  FreeLibraryHandle(b);
}

TEST(Notify, EventFdReceivesOneCountPerNotificationAndASaturatedOneNeverBlocks) {
  const int fd = eventfd(0, EFD_CLOEXEC);  // blocking, as a client may make it
  ASSERT_GE(fd, 0);
  const uint32_t id = RegisterNotifyMessage("QvLinkRx");
  auto window = reinterpret_cast<WindowHandle>(static_cast<intptr_t>(fd));
  EXPECT_TRUE(PostNotify(window, id));
  EXPECT_TRUE(PostNotify(window, id));
  uint64_t count = 0;
  ASSERT_EQ(::read(fd, &count, sizeof count), 8);
  EXPECT_EQ(count, 2u);
  const uint64_t most = 0xFFFFFFFFFFFFFFFEull;
  ASSERT_EQ(::write(fd, &most, sizeof most), 8);
  EXPECT_TRUE(PostNotify(window, id)) << "a client has notifications waiting already";
  ::close(fd);
}

TEST(Notify, PipeGetsEightByteOneAndBrokenPipesFailSafely) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  auto window = reinterpret_cast<WindowHandle>(static_cast<intptr_t>(p[1]));
  EXPECT_TRUE(PostNotify(window, 0xC123));
  uint64_t v = 0;
  ASSERT_EQ(::read(p[0], &v, sizeof v), 8);
  EXPECT_EQ(v, 1u);
  // A client that never reads: its 4 KiB pipe fills and later notifications do not block.
  ASSERT_GE(fcntl(p[1], F_SETPIPE_SZ, 4096), 4096);
  for (int i = 0; i < 600; ++i) ASSERT_TRUE(PostNotify(window, 0xC123)) << i;
  ::close(p[0]);
  // The reader is gone: a failure, not a SIGPIPE that ends this process.
  EXPECT_FALSE(PostNotify(window, 0xC123));
  ::close(p[1]);
  EXPECT_FALSE(PostNotify(window, 0xC123)) << "closed descriptor";
  EXPECT_FALSE(PostNotify(reinterpret_cast<WindowHandle>(static_cast<intptr_t>(-1)), 1));
}

struct Search {
  std::string wanted;
  int seen = 0;
};

bool FindName(const char* name, void* ctx) {
  auto* s = static_cast<Search*>(ctx);
  if (s->wanted == name) ++s->seen;
  return false;
}

TEST(ProcessList, FindsOwnProgramAndLoadedLibrary) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  std::string base(exe);
  base = base.substr(base.rfind('/') + 1);
  EXPECT_EQ(base, "platform_integration_tests");

  Search own{base};
  EXPECT_FALSE(VisitProcessModules(&FindName, &own)) << "walked to the end";
  EXPECT_GE(own.seen, 1);

  LibraryHandle lib = LoadLibraryByName("qvtestlib");
  ASSERT_NE(lib, nullptr);
  Search so{"libqvtestlib.so"};
  VisitProcessModules(&FindName, &so);
  EXPECT_GE(so.seen, 1) << "a library this process has loaded";
  FreeLibraryHandle(lib);

  // A visitor that stops ends the walk and is reported.
  int calls = 0;
  EXPECT_TRUE(VisitProcessModules(
      [](const char*, void* c) { return ++*static_cast<int*>(c) == 3; }, &calls));
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(VisitProcessModules(nullptr, nullptr));
}

}  // namespace
