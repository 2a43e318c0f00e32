// The platform layer's contract, one program for both back ends: ctest runs it on Linux, and
// tests/wine/run_platform.sh runs the win32 and win64 builds under Wine. COM9 leads to a pty
// whose far end echoes every byte and hangs up on "QV-HANGUP" (ServeEchoPeer).
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "contract.h"
#include "contract_host.h"
#include "qvlink/platform/clock.h"
#include "qvlink/platform/dynamic_library.h"
#include "qvlink/platform/environment.h"
#include "qvlink/platform/event.h"
#include "qvlink/platform/lock.h"
#include "qvlink/platform/notify.h"
#include "qvlink/platform/process_list.h"
#include "qvlink/platform/profile.h"
#include "qvlink/platform/registry.h"
#include "qvlink/platform/serial_port.h"
#include "qvlink/platform/thread.h"
#include "temp_dir.h"

using namespace qv::platform;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr const char* kPort = "COM9";
// Windows timers may end a wait up to one 15.6 ms tick early.
constexpr long long kEarlyMs = 16;
// GetTickCount advances in steps of about 16 ms.
constexpr uint32_t kTickStepMs = 20;

long long MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// Whether `f` returned true after `ms` (no more than a tick early), within `limit` ms.
template <typename F>
bool Takes(long long ms, F f, long long limit = 2000) {
  const auto t0 = Clock::now();
  const bool ok = f();
  return ok && MsSince(t0) >= ms - kEarlyMs && MsSince(t0) < limit;
}

// Polls `done` until it holds or five seconds have passed.
template <typename F>
bool Eventually(F done) {
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > end) return false;
    SleepMs(1);
  }
  return true;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  const auto same = [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

// ---- events, locks, threads, clock

CONTRACT(EventAutoResetsAndTimesOut) {
  Event e;
  REQUIRE(e.valid());
  CHECK(e.wait(0) == WaitResult::TimedOut);
  e.set();
  CHECK(e.wait(0) == WaitResult::Signalled);
  CHECK(e.wait(0) == WaitResult::TimedOut);  // a wait consumes the set
  e.set();
  e.set();
  CHECK(e.wait(0) == WaitResult::Signalled);
  CHECK(e.wait(0) == WaitResult::TimedOut);  // sets do not count up
  e.set();
  e.reset();
  CHECK(e.wait(0) == WaitResult::TimedOut);
  e.set();
  CHECK(e.wait(kWaitForever) == WaitResult::Signalled);  // a pending set ends an endless wait
  CHECK(Takes(80, [&] { return e.wait(80) == WaitResult::TimedOut; }));
}

// Starts `body` (a callable that outlives the thread) on `t`.
template <typename F>
bool Start(Thread& t, F& body) {
  return t.start([](void* f) { (*static_cast<F*>(f))(); }, &body);
}

CONTRACT(EventSetReleasesExactlyOneWaiter) {
  Event e, started;
  WaitResult a = WaitResult::Failed, b = WaitResult::Failed;
  auto waitA = [&] { a = e.wait(600); };
  auto waitB = [&] { b = e.wait(600); };
  auto waitEndlessly = [&] {
    started.set();
    a = e.wait(kWaitForever);
  };
  Thread ta, tb;
  REQUIRE(Start(ta, waitA) && Start(tb, waitB));
  e.set();  // whether or not they wait yet, one set is one release
  CHECK(ta.join() && tb.join());
  CHECK((a == WaitResult::Signalled) + (b == WaitResult::Signalled) == 1);
  CHECK((a == WaitResult::TimedOut) + (b == WaitResult::TimedOut) == 1);
  CHECK(e.wait(0) == WaitResult::TimedOut);  // the set was consumed

  REQUIRE(Start(ta, waitEndlessly));
  REQUIRE(started.wait(5000) == WaitResult::Signalled);
  e.set();
  CHECK(Takes(0, [&] { return ta.join() && a == WaitResult::Signalled; }));
}

CONTRACT(LockKeepsCountsExactUnderContention) {
  Lock lock;
  long value = 0;
  auto countUp = [&] {
    for (int i = 0; i < 100000; ++i) {
      LockGuard g(lock);
      const long v = value;
      if ((i & 1023) == 0) std::this_thread::yield();  // widen the window a lost update needs
      value = v + 1;
    }
  };
  Thread a, b;
  REQUIRE(Start(a, countUp) && Start(b, countUp));
  CHECK(a.setTimeCritical() || !kTimeCriticalGranted);
  CHECK(a.join() && b.join());
  CHECK(value == 200000);
  CHECK(!a.running());
}

CONTRACT(ThreadLifecycle) {
  Thread never;
  CHECK(!never.running());
  CHECK(never.join());  // never started counts as ended
  CHECK(!never.setTimeCritical());
  CHECK(!never.start(nullptr, nullptr));

  Event go, done;
  auto passOn = [&] {
    go.wait(kWaitForever);
    done.set();
  };
  auto nothing = [] {};
  {
    Thread t;
    REQUIRE(Start(t, passOn));
    CHECK(t.running());
    CHECK(!Start(t, nothing));  // one thread per object
    go.set();
  }
  CHECK(done.wait(0) == WaitResult::Signalled);  // the destructor joined

  // An ended thread keeps its object until join(), so start() never depends on timing.
  Thread reuse;
  go.set();
  REQUIRE(Start(reuse, passOn));
  CHECK(done.wait(5000) == WaitResult::Signalled);
  CHECK(Eventually([&] { return !reuse.running(); }));
  CHECK(!Start(reuse, nothing));
  CHECK(reuse.join());
  CHECK(reuse.join());  // twice is harmless
  go.set();
  CHECK(Start(reuse, passOn));
  CHECK(done.wait(5000) == WaitResult::Signalled);
  CHECK(reuse.join());
}

CONTRACT(AssertHeldStopsACallerWithoutTheLock) {
  if (!contract::kDebugBuild) return;  // the check exists in debug and sanitizer builds only
  Lock lock;
  {
    LockGuard g(lock);
    lock.assertHeld();
  }
  const std::string child = "\"" + OwnProgramPath() + "\" --unheld-lock";
  CHECK(std::system(child.c_str()) != 0);
}

CONTRACT(ClockValuesAndSleep) {
  const LocalTime t = NowLocal();
  CHECK(t.year >= 2024 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
  CHECK(t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59);
  CHECK(t.second >= 0 && t.second <= 60 && t.millisecond >= 0 && t.millisecond <= 999);
  int64_t s = 0;
  int32_t us = -1;
  NowUnix(&s, &us);
  CHECK(s > 1700000000 && us >= 0 && us < 1000000);
  NowUnix(nullptr, nullptr);  // either output may be left out

  const uint32_t tick = TickMs();
  const auto t0 = Clock::now();
  SleepMs(40);
  const uint32_t ticked = TickMs() - tick;  // the unsigned difference survives a wrap
  CHECK(MsSince(t0) >= 40 - kEarlyMs);
  CHECK(ticked >= 40 - kTickStepMs && ticked < 2000);
}

// ---- environment, profile files, registry

CONTRACT(EnvironmentAndPaths) {
  SetEnv("QV_TEST_VAR", "hello");
  char out[16];
  CHECK(GetEnvironment("QV_TEST_VAR", out, sizeof out) && std::string(out) == "hello");
  char small[5] = "zzzz";
  CHECK(!GetEnvironment("QV_TEST_VAR", small, sizeof small) && small[0] == '\0');
  char exact[6];
  CHECK(GetEnvironment("QV_TEST_VAR", exact, sizeof exact));
  SetEnv("QV_TEST_VAR_UNSET", nullptr);
  CHECK(!GetEnvironment("QV_TEST_VAR_UNSET", out, sizeof out));
  CHECK(!GetEnvironment(nullptr, out, sizeof out));
  CHECK(!GetEnvironment("QV_TEST_VAR", nullptr, 8));

  const std::string sep(1, PathSeparator());
  using Join = std::array<std::string, 3>;  // a, b, joined (empty: does not fit in 16)
  for (const auto& [a, b, joined] : {Join{"dir" + sep, "qv.ini", "dir" + sep + "qv.ini"},
                                     Join{"", "qv.ini", "qv.ini"},
                                     Join{"abcdefghi", "klmno", "abcdefghi" + sep + "klmno"},
                                     Join{"abcdefghi", "klmnop", ""}}) {
    CHECK_ROW(JoinPath(a.c_str(), b.c_str(), out, sizeof out) == !joined.empty() && out == joined,
              a + " + " + b);
  }
  CHECK(!JoinPath(nullptr, "qv.ini", out, sizeof out));
}

CONTRACT(ProfileFilesReadAndWrite) {
  TempDir dir;
  const std::string f = dir.file("t.ini");
  CHECK(GuardedRead("Dev", "Port", "dflt", f) == "dflt");  // no file yet
  REQUIRE(WriteProfileString("Dev", "Port", "COM5", f.c_str()));
  CHECK(WriteProfileString("Dev", "Empty", "", f.c_str()));
  CHECK(WriteProfileString("Other", "Key", "0123456789", f.c_str()));
  CHECK(GuardedRead("Nope", "Port", "d", f) == "d");
  CHECK(GuardedRead("Other", "Key", "", f, 5) == "0123");  // cut and terminated
  CHECK(GuardedRead("Dev", "Port", "d", f, 0) == "");
  CHECK(GuardedRead(nullptr, "Port", "dd", f) == "dd");
  CHECK(GuardedRead("Dev", nullptr, "dd", f) == "dd");
  CHECK(ReadProfileString("Dev", "Port", "dd", nullptr, 8, f.c_str()) == 0);
  CHECK(GuardedRead("Dev", "Port", nullptr, dir.file("none.ini")) == "");

  CHECK(WriteProfileString("Dev", "Port", nullptr, f.c_str()));  // a null value deletes the key
  CHECK(GuardedRead("Dev", "Port", "gone", f) == "gone");
  CHECK(WriteProfileString("Other", nullptr, nullptr, f.c_str()));  // a null key, the section
  CHECK(GuardedRead("Other", "Key", "gone", f) == "gone");

  // Text that would break the file's lines could plant sections or keys: refused untouched.
  const std::string before = dir.read("t.ini");
  using Bad = std::array<const char*, 3>;  // section, key, value
  for (const auto& [section, key, value] :
       {Bad{"Dev", "K", "1\n[Evil]\nx=2"}, Bad{"Dev", "K", "1\rx"}, Bad{"Dev", "A=B", "v"},
        Bad{"Dev", ";K", "v"}, Bad{"Dev", "[K", "v"}, Bad{"Dev", "", "v"}, Bad{"S]x", "K", "v"},
        Bad{"S\n", "K", "v"}, Bad{"", "K", "v"}, Bad{nullptr, "K", "v"}}) {
    CHECK_ROW(!WriteProfileString(section, key, value, f.c_str()),
              contract::Row(section) + " " + contract::Row(key) + " " + contract::Row(value));
  }
  CHECK(dir.read("t.ini") == before);
  CHECK(!WriteProfileString("S", "K", "v", dir.file("no/such/dir/t.ini").c_str()));
}

CONTRACT(ProfileBareNamesLiveInTheProfileDirectory) {
  const std::string bare = "qv_contract_test.ini";
  char resolved[512];
  REQUIRE(ResolveProfilePath(bare.c_str(), resolved, sizeof resolved));
  char expected[512];
  REQUIRE(JoinPath(ProfileDirectory().c_str(), bare.c_str(), expected, sizeof expected));
  CHECK(std::string(resolved) == expected);
  CHECK(WriteProfileString("S", "K", "bare", bare.c_str()));
  CHECK(GuardedRead("S", "K", "", resolved) == "bare");
  std::remove(resolved);

  TempDir dir;
  const std::string path = dir.file("x.ini");  // a path stays as it is
  CHECK(ResolveProfilePath(path.c_str(), resolved, sizeof resolved) && resolved == path);
  char small[8];
  CHECK(!ResolveProfilePath(bare.c_str(), small, sizeof small) && small[0] == '\0');
  CHECK(!ResolveProfilePath("", resolved, sizeof resolved));
  CHECK(!ResolveProfilePath(nullptr, resolved, sizeof resolved));
}

CONTRACT(RegistryStringValues) {
  const char* key = "Software\\QvLinkPlatformTest\\Device01";
  REQUIRE(PutRegistryString(key, "Port", "COM7") && PutRegistryString(key, "Empty", ""));
  char buf[16] = "junk";
  CHECK(ReadRegistryString(key, "Port", buf, sizeof buf) && std::string(buf) == "COM7");
  CHECK(ReadRegistryString(key, "Empty", buf, sizeof buf) && buf[0] == '\0');
  char small[3];
  CHECK(ReadRegistryString(key, "Port", small, sizeof small) && std::string(small) == "CO");
  CHECK(!ReadRegistryString(key, "Missing", buf, sizeof buf) && buf[0] == '\0');
  CHECK(!ReadRegistryString("Software\\QvLinkPlatformTest\\Nope", "Port", buf, sizeof buf));
  CHECK(!ReadRegistryString(key, "Port", buf, 0));
  CHECK(!ReadRegistryString(nullptr, "Port", buf, sizeof buf));
  CHECK(!ReadRegistryString(key, "Number", buf, sizeof buf));  // no string
  RemoveRegistryKey(key);
}

// ---- dynamic libraries, the process list, notifications

int Answer(LibraryHandle lib) {
  auto fn = reinterpret_cast<int (*)()>(FindLibrarySymbol(lib, "qv_test_answer"));
  return fn != nullptr ? fn() : -1;
}

CONTRACT(DynamicLibrariesLoadByBareNameAndCountLoads) {
  LibraryHandle a = LoadLibraryByName("qvtestlib");
  REQUIRE(a != nullptr);
  CHECK(Answer(a) == 42);
  CHECK(FindLibrarySymbol(a, "qv_no_such_symbol") == nullptr);
  LibraryHandle b = LoadLibraryByName("qvtestlib.dll");  // the Windows spelling maps too
  REQUIRE(b != nullptr);
  FreeLibraryHandle(a);
  CHECK(Answer(b) == 42);  // still loaded: one free per load
  FreeLibraryHandle(b);
  // Run from bin/, the last two would load the library if paths were followed.
  for (const char* bad : {static_cast<const char*>(nullptr), "", "qv_no_such_library",
                          "../bin/qvtestlib", "..\\bin\\qvtestlib"})
    CHECK_ROW(LoadLibraryByName(bad) == nullptr, contract::Row(bad));
  CHECK(FindLibrarySymbol(nullptr, "qv_test_answer") == nullptr);
  FreeLibraryHandle(nullptr);
}

struct Search {
  std::string wanted;
  int seen = 0;
};

bool CountName(const char* name, void* context) {
  auto* s = static_cast<Search*>(context);
  if (SameNoCase(s->wanted, name)) ++s->seen;
  return false;
}

CONTRACT(ProcessListHoldsOwnProgramAndLoadedLibrary) {
  LibraryHandle lib = LoadLibraryByName("qvtestlib");
  Search own{std::filesystem::path(OwnProgramPath()).filename().string()}, loaded{kTestLibraryFile};
  CHECK(!VisitProcessModules(&CountName, &own));  // walked to the end
  CHECK(own.seen >= 1);
  VisitProcessModules(&CountName, &loaded);
  CHECK(loaded.seen >= 1);
  FreeLibraryHandle(lib);
  int calls = 0;  // a visitor that stops ends the walk, and that is reported
  CHECK(VisitProcessModules([](const char*, void* c) { return ++*static_cast<int*>(c) == 3; },
                            &calls));
  CHECK(calls == 3);
  CHECK(!VisitProcessModules(nullptr, nullptr));
}

CONTRACT(NotificationsReachTheClient) {
  const uint32_t id = RegisterNotifyMessage("QV1210MessageString");
  CHECK(id != 0 && RegisterNotifyMessage("QV1210MessageString") == id);
  CHECK(RegisterNotifyMessage(nullptr) == 0);
  CHECK(RegisterNotifyMessage("") == 0);
  Client client(id);
  CHECK(!PostNotify(nullptr, id));  // window 0: no client to tell
  CHECK(!PostNotify(client.window(), 0));
  for (int i = 0; i < 3; ++i) CHECK(PostNotify(client.window(), id));
  CHECK(client.received(3) == 3);
}

// ---- the serial port, against the echoing peer on COM9; the hang-up comes last

CONTRACT(SerialSettingsTextFromBaudAndLineFormat) {
  struct Row {
    uint32_t baud;
    uint8_t format;
    size_t size;
    const char* text;  // nullptr: does not fit
  };
  for (const Row& r : {Row{9600, 72, 32, "9600,n,7,2"},
                       Row{9600, 123, 32, "9600,n,1,2"},  // the first two digits
                       Row{9600, 8, 32, "9600,n,0,8"},  // one digit: data bits 0, refused later
                       Row{115200, 81, 13, "115200,n,8,1"}, Row{115200, 81, 12, nullptr}}) {
    char out[32] = "untouched";
    const bool built = BuildSerialSettingsText(r.baud, r.format, out, r.size);
    CHECK_ROW(built == (r.text != nullptr) && out == std::string(r.text ? r.text : ""),
              std::to_string(r.baud) + "/" + std::to_string(r.format));
    if (!built) CHECK(std::string(out + 1) == "ntouched");  // nothing beyond out[0]
  }
}

// Writes the bytes and reads their echo, and nothing past them.
bool Echoes(SerialPort& port, const Bytes& out) {
  Bytes in(out.size() + 4, 0xEE);
  const auto n = static_cast<long>(out.size());
  return port.write(out.data(), out.size()) == n && port.read(in.data(), out.size(), 3000) == n &&
         std::equal(out.begin(), out.end(), in.begin()) && in[out.size()] == 0xEE;
}

SerialOpenError OpenPort(SerialPort& port) {
  SerialConfig driver;  // as the driver opens it
  driver.ctsOutputFlow = true;
  driver.rtsHandshake = true;
  return port.open(kPort, driver);
}

CONTRACT(SerialOpenRefusesBadNamesAndSettings) {
  SerialPort port;
  SerialConfig cfg;
  for (const char* name : {static_cast<const char*>(nullptr), "", "COM", "COM0", "COM256", "COM1x",
                           "LPT1", "COM0001", "COM9\\..\\x", "COM8"})
    CHECK_ROW(port.open(name, cfg) == SerialOpenError::NotFound && !port.isOpen(),
              contract::Row(name));
  for (const char* bad : {static_cast<const char*>(nullptr), "", "abc", "0,n,8,1", "115200,x,8,1",
                          "115200,n,9,1", "115200,n,4,1", "115200,n,8,3", "115200;n;8;1",
                          "115200,n,8,1,x", "999999999,n,8,1"}) {
    cfg.settings = bad;
    CHECK_ROW(port.open(kPort, cfg) == SerialOpenError::BadSettings && !port.isOpen(),
              contract::Row(bad));
  }
  uint8_t b[4] = {};  // a closed port refuses everything, harmlessly
  CHECK(port.read(b, sizeof b, 0) == -1);
  CHECK(port.write(b, sizeof b) == -1);
  CHECK(port.bytesWaiting() == 0);
  CHECK(!port.waitReadable(10));
  CHECK(!port.lost());
  port.purge(true, true);
  port.close();
}

CONTRACT(SerialOpenAcceptsEveryNameAndSettingsForm) {
  SerialConfig cfg;
  for (const char* name : {"COM9", "com9", "\\\\.\\COM9"}) {
    SerialPort port;
    CHECK_ROW(port.open(name, cfg) == SerialOpenError::None && port.isOpen(), contract::Row(name));
  }
  for (const char* good : {"9600,E,7,2", "57600 , o , 8 , 1.5", "1200,s,5", "4800,m", "19200",
                           "250000,n,8,1", "1234567,n,8,1"}) {
    cfg.settings = good;
    SerialPort port;
    CHECK_ROW(port.open(kPort, cfg) == SerialOpenError::None && Echoes(port, {0x15}),
              contract::Row(good));
  }
}

CONTRACT(SerialCarriesEveryByteWithinItsDeadlines) {
  SerialPort port;
  REQUIRE(OpenPort(port) == SerialOpenError::None);
  port.purge(true, true);
  // Nothing sent: a time-out, never an empty event as data.
  CHECK(Takes(100, [&] { return !port.waitReadable(100); }));
  uint8_t buf[8];
  CHECK(port.read(buf, sizeof buf, 0) == 0);  // nothing there, no waiting

  Bytes all(256);  // every byte value, those a cooked terminal would eat or translate too
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  CHECK(Echoes(port, all));
  CHECK(port.bytesWaiting() == 0);

  const uint8_t two[2] = {0x7E, 0x00};  // a short read waits out its time-out
  CHECK(port.write(two, 2) == 2);
  CHECK(Takes(300, [&] { return port.read(buf, 8, 300) == 2; }) && buf[0] == 0x7E && buf[1] == 0);
  CHECK(Takes(0, [&] { return Echoes(port, {9, 8, 7, 6}); }));  // bytes during a wait end it

  CHECK(port.write(two, 1) == 1);
  CHECK(port.waitReadable(3000));
  CHECK(port.waitReadable(0));  // still waiting
  CHECK(port.bytesWaiting() == 1);
  CHECK(port.read(buf, 1, 0) == 1 && buf[0] == 0x7E);
  CHECK(!port.waitReadable(0));

  CHECK(port.write(all.data(), 16) == 16);  // purging drops what arrived
  CHECK(Eventually([&] { return port.bytesWaiting() >= 16; }));
  port.purge(true, false);
  CHECK(port.bytesWaiting() == 0);
  CHECK(!port.waitReadable(100));
  CHECK(Echoes(port, {6}));  // and keeps what comes after
  port.purge(false, true);
}

CONTRACT(SerialPortIsExclusiveAndReopens) {
  SerialPort first, second;
  REQUIRE(OpenPort(first) == SerialOpenError::None);
  CHECK(OpenPort(second) == SerialOpenError::Busy && !second.isOpen());
  first.close();
  CHECK(!first.isOpen());
  first.close();  // twice is harmless
  CHECK(OpenPort(second) == SerialOpenError::None && Echoes(second, {1, 2}));
}

CONTRACT(SerialWriteStopsAtItsTimeOut) {
  SerialPort port;
  SerialConfig cfg;
  cfg.timeouts.writeTotalMultiplierMs = 0;
  cfg.timeouts.writeTotalConstantMs = 200;
  REQUIRE(port.open(kPort, cfg) == SerialOpenError::None);
  // The peer echoes into an input nobody reads, so the line backs up and the write gives up.
  Bytes big(4 * 1024 * 1024, 0xA5);
  long n = -1;
  CHECK(Takes(200, [&] { return (n = port.write(big.data(), big.size())) >= 0; }, 3000));
  CHECK(n < static_cast<long>(big.size()));
  port.purge(true, true);
  while (port.read(big.data(), 4096, 300) > 0) {
  }  // the echoes still under way, so the line is quiet for the next case
}

CONTRACT(SerialPortLostWhenTheFarEndHangsUp) {
  SerialPort port;
  REQUIRE(OpenPort(port) == SerialOpenError::None);
  CHECK(!port.lost());
  const std::string bye = "QV-HANGUP";
  CHECK(port.write(reinterpret_cast<const uint8_t*>(bye.data()), bye.size()) == 9);
  CHECK(Eventually([&] { return !port.waitReadable(50) && port.lost(); }));
  uint8_t buf[4];  // from then on every call fails at once
  CHECK(Takes(0, [&] { return !port.waitReadable(1000); }, 100));
  CHECK(Takes(0, [&] { return port.read(buf, sizeof buf, 1000) == -1; }, 100));
  CHECK(Takes(0, [&] { return port.write(buf, sizeof buf) == -1; }, 100));
  CHECK(port.bytesWaiting() == 0);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1 && std::strcmp(argv[1], "--unheld-lock") == 0) {
    Lock lock;
    lock.assertHeld();  // must stop the program here
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--echo-peer") == 0) return ServeEchoPeer();
  if (!PrepareHost()) return 1;
  return contract::RunAll(argc > 1 ? argv[1] : nullptr);
}
