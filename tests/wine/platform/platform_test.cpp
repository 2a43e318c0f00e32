// Windows platform layer test, run under Wine by tests/wine/run_platform.sh.
// Arguments: [COM port name of the echoing pty peer, e.g. COM9]. Without one the serial
// round trip is skipped (and counted as a failure, so a broken mapping never passes).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

using namespace qv::platform;

namespace {

// GetTickCount advances in steps of about 16 ms (on Windows and under Wine).
constexpr uint32_t kTickStepMs = 20;

int gPassed = 0;
int gFailed = 0;

void Check(bool ok, const char* what, int line) {
  if (ok) {
    ++gPassed;
  } else {
    ++gFailed;
    std::printf("FAIL line %d: %s\n", line, what);
  }
}
#define CHECK(cond) Check((cond), #cond, __LINE__)
#define CHECK_STR(a, b) Check(std::strcmp((a), (b)) == 0, #a " == " #b, __LINE__)

// ---- events, lock, thread, clock

struct SetLater {
  Event* event;
  uint32_t delayMs;
};

void SetAfterDelay(void* arg) {
  auto* s = static_cast<SetLater*>(arg);
  SleepMs(s->delayMs);
  s->event->set();
}

void TestEvent() {
  Event e;
  CHECK(e.valid());
  CHECK(e.wait(0) == WaitResult::TimedOut);
  e.set();
  CHECK(e.wait(0) == WaitResult::Signalled);
  CHECK(e.wait(0) == WaitResult::TimedOut);  // auto-reset: the set was consumed
  e.set();
  e.set();
  CHECK(e.wait(0) == WaitResult::Signalled);
  CHECK(e.wait(0) == WaitResult::TimedOut);  // two sets with no waiter release one wait
  e.set();
  e.reset();
  CHECK(e.wait(0) == WaitResult::TimedOut);

  const uint32_t t0 = TickMs();
  CHECK(e.wait(60) == WaitResult::TimedOut);
  const uint32_t waited = TickMs() - t0;
  CHECK(waited >= 60 - kTickStepMs && waited < 1000);

  SetLater s{&e, 30};
  Thread t;
  CHECK(t.start(SetAfterDelay, &s));
  CHECK(e.wait(5000) == WaitResult::Signalled);
  CHECK(t.join());
  CHECK(!t.running());
}

struct Counter {
  Lock lock;
  long value = 0;
};

void CountUp(void* arg) {
  auto* c = static_cast<Counter*>(arg);
  for (int i = 0; i < 100000; ++i) {
    LockGuard g(c->lock);
    long v = c->value;
    if ((i & 1023) == 0) SwitchToThread();  // widen the window a lost update would need
    c->value = v + 1;
  }
}

void TestLockAndThread() {
  Counter c;
  Thread a, b;
  CHECK(a.start(CountUp, &c));
  CHECK(b.start(CountUp, &c));
  CHECK(a.setTimeCritical());
  CHECK(a.join());
  CHECK(b.join());
  CHECK(c.value == 200000);
  CHECK(a.join());  // joining twice is harmless

  Thread never;
  CHECK(!never.running());
  CHECK(never.join());
  CHECK(!never.setTimeCritical());
  CHECK(!never.start(nullptr, nullptr));
}

void TestClock() {
  const uint32_t t0 = TickMs();
  SleepMs(50);
  const uint32_t dt = TickMs() - t0;
  CHECK(dt >= 50 - kTickStepMs && dt < 1000);
  const LocalTime lt = NowLocal();
  CHECK(lt.year >= 2020 && lt.month >= 1 && lt.month <= 12 && lt.day >= 1 && lt.day <= 31);
  CHECK(lt.hour >= 0 && lt.hour < 24 && lt.minute < 60 && lt.second < 61 && lt.millisecond < 1000);
  int64_t sec = 0;
  int32_t usec = -1;
  NowUnix(&sec, &usec);
  CHECK(sec > 1600000000 && usec >= 0 && usec < 1000000);
}

// ---- profile, registry, environment

void TestProfile() {
  char dir[MAX_PATH];
  CHECK(GetTempPathA(MAX_PATH, dir) > 0);
  char path[MAX_PATH + 32];
  std::snprintf(path, sizeof(path), "%sqv_platform_test.ini", dir);
  DeleteFileA(path);

  char buf[64];
  CHECK(ReadProfileString("Dev", "Port", "dflt", buf, sizeof(buf), path) == 4);  // no file
  CHECK_STR(buf, "dflt");

  CHECK(WriteProfileString("Dev", "Port", "COM5", path));
  CHECK(WriteProfileString("Dev", "Empty", "", path));
  CHECK(WriteProfileString("Other", "Key", "0123456789", path));
  CHECK(ReadProfileString("dev", "PORT", "x", buf, sizeof(buf), path) == 4);  // case-insensitive
  CHECK_STR(buf, "COM5");
  CHECK(ReadProfileString("Dev", "Empty", "x", buf, sizeof(buf), path) == 0);  // empty, not default
  CHECK_STR(buf, "");
  CHECK(ReadProfileString("Dev", "Missing", "d", buf, sizeof(buf), path) == 1);
  CHECK_STR(buf, "d");
  CHECK(ReadProfileString("Nope", "Port", "d", buf, sizeof(buf), path) == 1);
  char small[5];
  CHECK(ReadProfileString("Other", "Key", "", small, sizeof(small), path) == 4);  // cut, terminated
  CHECK_STR(small, "0123");
  CHECK(ReadProfileString("Dev", "Port", "", buf, 0, path) == 0);
  CHECK(ReadProfileString(nullptr, "Port", "d", buf, sizeof(buf), path) == 0);

  // Replacing keeps the other keys and the section order.
  CHECK(WriteProfileString("Dev", "Port", "COM15", path));
  CHECK(ReadProfileString("Dev", "Port", "", buf, sizeof(buf), path) == 5);
  CHECK_STR(buf, "COM15");
  CHECK(ReadProfileString("Other", "Key", "", buf, sizeof(buf), path) == 10);
  CHECK(!WriteProfileString("Dev", nullptr, "x", path));  // would delete the section
  CHECK(!WriteProfileString("Dev", "Port", nullptr, path));
  CHECK(ReadProfileString("Dev", "Port", "", buf, sizeof(buf), path) == 5);
  DeleteFileA(path);

  // Bare names live in the Windows directory.
  char windir[MAX_PATH];
  const UINT wl = GetWindowsDirectoryA(windir, MAX_PATH);
  char resolved[MAX_PATH + 32];
  CHECK(ResolveProfilePath("qv_bare_test.ini", resolved, sizeof(resolved)));
  CHECK(wl > 0 && _strnicmp(resolved, windir, wl) == 0 && std::strcmp(resolved + wl, "\\qv_bare_test.ini") == 0);
  CHECK(WriteProfileString("S", "K", "bare", "qv_bare_test.ini"));
  CHECK(GetFileAttributesA(resolved) != INVALID_FILE_ATTRIBUTES);
  CHECK(ReadProfileString("S", "K", "", buf, sizeof(buf), "qv_bare_test.ini") == 4);
  DeleteFileA(resolved);
  CHECK(ResolveProfilePath("C:\\x\\y.ini", resolved, sizeof(resolved)));
  CHECK_STR(resolved, "C:\\x\\y.ini");
  CHECK(!ResolveProfilePath("qv_bare_test.ini", resolved, 4));
}

void TestRegistry() {
  const char* keyPath = "Software\\QvLinkPlatformTest\\Device01";
  HKEY key = nullptr;
  CHECK(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS);
  const char port[] = "COM7";
  RegSetValueExA(key, "Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof(port));
  const DWORD number = 5;
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  RegCloseKey(key);

  char buf[32];
  CHECK(ReadRegistryString(keyPath, "Port", buf, sizeof(buf)));
  CHECK_STR(buf, "COM7");
  char small[3];
  CHECK(ReadRegistryString(keyPath, "Port", small, sizeof(small)));
  CHECK_STR(small, "CO");
  CHECK(!ReadRegistryString(keyPath, "Missing", buf, sizeof(buf)));
  CHECK(!ReadRegistryString(keyPath, "Number", buf, sizeof(buf)));  // not a string
  CHECK(!ReadRegistryString("Software\\QvLinkPlatformTest\\Nope", "Port", buf, sizeof(buf)));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\QvLinkPlatformTest");
}

void TestEnvironment() {
  _putenv("QV_PLATFORM_TEST_VAR=abc");
  char buf[8];
  CHECK(GetEnvironment("QV_PLATFORM_TEST_VAR", buf, sizeof(buf)));
  CHECK_STR(buf, "abc");
  char tiny[3];
  CHECK(!GetEnvironment("QV_PLATFORM_TEST_VAR", tiny, sizeof(tiny)));  // does not fit
  CHECK(!GetEnvironment("QV_PLATFORM_TEST_UNSET", buf, sizeof(buf)));
  CHECK(PathSeparator() == '\\');
  char joined[16];
  CHECK(JoinPath("C:\\a", "b.ini", joined, sizeof(joined)));
  CHECK_STR(joined, "C:\\a\\b.ini");
  CHECK(JoinPath("C:\\a\\", "b", joined, sizeof(joined)));
  CHECK_STR(joined, "C:\\a\\b");
  CHECK(!JoinPath("C:\\abcdefgh", "ijklmn", joined, sizeof(joined)));  // 17 characters
}

// ---- dynamic library, process list, notification

void TestDynamicLibrary() {
  LibraryHandle lib = LoadLibraryByName("qvplatform_testlib");
  CHECK(lib != nullptr);
  if (lib != nullptr) {
    using AnswerFn = int (*)();
    auto fn = reinterpret_cast<AnswerFn>(FindLibrarySymbol(lib, "qv_test_answer"));
    CHECK(fn != nullptr && fn() == 42);
    CHECK(FindLibrarySymbol(lib, "qv_no_such_symbol") == nullptr);
    FreeLibraryHandle(lib);
  }
  CHECK(LoadLibraryByName("qv_no_such_library") == nullptr);
  CHECK(LoadLibraryByName("") == nullptr);
  CHECK(FindLibrarySymbol(nullptr, "x") == nullptr);
}

bool FindOwnModule(const char* name, void* context) {
  if (_stricmp(name, "platform_test.exe") == 0) {
    *static_cast<bool*>(context) = true;
    return true;
  }
  return false;
}

void TestProcessList() {
  bool found = false;
  CHECK(VisitProcessModules(FindOwnModule, &found));
  CHECK(found);
  CHECK(!VisitProcessModules(nullptr, nullptr));
}

UINT gNotifyId = 0;
int gNotifications = 0;

LRESULT CALLBACK NotifyWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (gNotifyId != 0 && msg == gNotifyId) {
    if (wp == 0 && lp == 0) ++gNotifications;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void TestNotify() {
  const uint32_t id = RegisterNotifyMessage("QV1210MessageString");
  CHECK(id >= 0xC000);  // registered messages live in 0xC000..0xFFFF
  CHECK(RegisterNotifyMessage("QV1210MessageString") == id);
  CHECK(RegisterNotifyMessage("") == 0);
  gNotifyId = id;

  WNDCLASSA wc{};
  wc.lpfnWndProc = NotifyWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "QvPlatformTestWindow";
  RegisterClassA(&wc);
  // Never shown: a hidden top-level window, as diagnostic applications hand over.
  HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
  CHECK(hwnd != nullptr);
  if (hwnd == nullptr) return;
  for (int i = 0; i < 3; ++i) CHECK(PostNotify(hwnd, id));
  CHECK(!PostNotify(nullptr, id));
  CHECK(!PostNotify(hwnd, 0));

  const DWORD start = GetTickCount();
  MSG msg;
  while (gNotifications < 3 && GetTickCount() - start < 3000) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&msg);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }
  CHECK(gNotifications == 3);
  DestroyWindow(hwnd);
}

// ---- serial port over the pty peer (which echoes every byte)

bool ReadAll(SerialPort& port, uint8_t* buf, size_t count) {
  return port.read(buf, count, 3000) == static_cast<long>(count);
}

void TestSettingsText() {
  char text[24];
  CHECK(BuildSerialSettingsText(9600, 81, text, sizeof(text)));
  CHECK_STR(text, "9600,n,8,1");
  CHECK(BuildSerialSettingsText(921600, 82, text, sizeof(text)));
  CHECK_STR(text, "921600,n,8,2");
  CHECK(BuildSerialSettingsText(99999, 81, text, sizeof(text)));
  CHECK_STR(text, "99999,n,8,1");
  CHECK(!BuildSerialSettingsText(115200, 81, text, 12));  // needs 13 with the terminator
  CHECK(text[0] == '\0');
  CHECK(BuildSerialSettingsText(115200, 81, text, 13));
}

void TestSerial(const char* portName) {
  SerialPort bad;
  SerialConfig cfg;
  CHECK(bad.open("COM8", cfg) == SerialOpenError::NotFound);  // no such device in the prefix
  CHECK(!bad.isOpen());
  CHECK(bad.open("COM9\\..\\x", cfg) == SerialOpenError::NotFound);
  SerialConfig badText;
  badText.settings = "fast,please";
  CHECK(bad.open(portName, badText) == SerialOpenError::BadSettings);
  CHECK(!bad.isOpen());
  uint8_t scratch[4];
  CHECK(bad.read(scratch, sizeof(scratch), 0) == -1);
  CHECK(bad.write(scratch, sizeof(scratch)) == -1);
  CHECK(!bad.waitReadable(10));

  SerialPort port;
  SerialConfig drv;
  drv.ctsOutputFlow = true;
  drv.rtsHandshake = true;
  CHECK(port.open(portName, drv) == SerialOpenError::None);
  CHECK(port.isOpen());
  if (!port.isOpen()) return;

  SerialPort second;
  const SerialOpenError secondResult = second.open(portName, cfg);
  if (secondResult != SerialOpenError::Busy) std::printf("second open gave %d\n", static_cast<int>(secondResult));
  CHECK(secondResult == SerialOpenError::Busy);  // no sharing
  second.close();

  // Nothing sent yet: the wait must time out rather than report an empty mask as data.
  port.purge(true, true);
  uint32_t t0 = TickMs();
  CHECK(!port.waitReadable(200));
  CHECK(TickMs() - t0 >= 200 - kTickStepMs);
  CHECK(port.bytesWaiting() == 0);
  CHECK(port.read(scratch, sizeof(scratch), 0) == 0);

  // PC -> peer -> PC: every byte value, in one frame-sized write.
  uint8_t out[256];
  for (int i = 0; i < 256; ++i) out[i] = static_cast<uint8_t>(i);
  CHECK(port.write(out, sizeof(out)) == 256);
  CHECK(port.waitReadable(3000));
  uint8_t in[256 + 8];
  std::memset(in, 0xEE, sizeof(in));
  CHECK(ReadAll(port, in, 256));
  CHECK(std::memcmp(in, out, 256) == 0);
  CHECK(in[256] == 0xEE);  // nothing past the requested count

  // A short read with a deadline returns what came, not more.
  const uint8_t two[2] = {0x7E, 0x00};
  CHECK(port.write(two, 2) == 2);
  t0 = TickMs();
  CHECK(port.read(in, 8, 300) == 2);
  CHECK(TickMs() - t0 >= 300 - kTickStepMs);
  CHECK(in[0] == 0x7E && in[1] == 0x00);

  // Purge drops what arrived.
  CHECK(port.write(out, 16) == 16);
  const uint32_t until = TickMs() + 3000;
  while (port.bytesWaiting() < 16 && TickMs() < until) port.waitReadable(50);
  CHECK(port.bytesWaiting() == 16);
  port.purge(true, false);
  CHECK(port.bytesWaiting() == 0);
  CHECK(!port.waitReadable(100));

  // Closed, the port can be opened again (by the setup program after the driver, say).
  port.close();
  CHECK(!port.isOpen());
  port.close();
  CHECK(second.open(portName, cfg) == SerialOpenError::None);
  CHECK(second.write(two, 2) == 2);
  CHECK(second.read(in, 2, 3000) == 2);
  CHECK(!second.lost());

  // The far end hangs up: the port says it is lost, and from then on every call fails at once.
  static const uint8_t kHangUp[] = {'Q', 'V', '-', 'H', 'A', 'N', 'G', 'U', 'P'};
  CHECK(second.write(kHangUp, sizeof(kHangUp)) == static_cast<long>(sizeof(kHangUp)));
  const uint32_t hangUpUntil = TickMs() + 5000;
  while (!second.lost() && TickMs() < hangUpUntil) second.waitReadable(50);
  CHECK(second.lost());
  const uint32_t lostAt = TickMs();
  CHECK(!second.waitReadable(1000));
  CHECK(second.write(two, 2) == -1);
  CHECK(second.read(in, 2, 1000) == -1);
  CHECK(TickMs() - lostAt < 100);
  second.close();
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  TestEvent();
  TestLockAndThread();
  TestClock();
  TestProfile();
  TestRegistry();
  TestEnvironment();
  TestDynamicLibrary();
  TestProcessList();
  TestNotify();
  TestSettingsText();
  if (argc > 1) {
    TestSerial(argv[1]);
  } else {
    std::printf("FAIL: no COM port given, serial round trip not run\n");
    ++gFailed;
  }
  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}
