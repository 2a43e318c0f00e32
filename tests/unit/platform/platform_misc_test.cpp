// Single-threaded checks of the small services without waiting: event states, clock values,
// environment, serial settings text and port-open failures, notification ids.
#include <string>
#include <gtest/gtest.h>

#include <cstring>

#include "qvlink/platform/clock.h"
#include "qvlink/platform/dynamic_library.h"
#include "qvlink/platform/environment.h"
#include "qvlink/platform/event.h"
#include "qvlink/platform/lock.h"
#include "qvlink/platform/notify.h"
#include "qvlink/platform/serial_port.h"
#include "temp_dir.h"

using namespace qv::platform;

namespace {

TEST(EventState, AutoResetWithoutWaiters) {
  Event e;
  ASSERT_TRUE(e.valid());
  EXPECT_EQ(e.wait(0), WaitResult::TimedOut);
  e.set();
  EXPECT_EQ(e.wait(0), WaitResult::Signalled);
  EXPECT_EQ(e.wait(0), WaitResult::TimedOut) << "a wait consumes the set";
  e.set();
  e.set();
  EXPECT_EQ(e.wait(0), WaitResult::Signalled);
  EXPECT_EQ(e.wait(0), WaitResult::TimedOut) << "sets do not count up";
  e.set();
  e.reset();
  EXPECT_EQ(e.wait(0), WaitResult::TimedOut);
  e.set();
  EXPECT_EQ(e.wait(kWaitForever), WaitResult::Signalled) << "a pending set ends an endless wait";
}

// A function that needs its caller's lock stops the program when called without it.
TEST(LockDeathTest, AssertHeldStopsACallerWithoutTheLock) {
#ifdef NDEBUG
  GTEST_SKIP() << "assertHeld checks in debug and sanitizer builds only";
#else
  Lock lock;
  {
    LockGuard g(lock);
    lock.assertHeld();
  }
  EXPECT_DEATH(lock.assertHeld(), "lock required by the caller is not held");
#endif
}

TEST(Clock, LocalAndUnixTimeAreSane) {
  const LocalTime t = NowLocal();
  EXPECT_GE(t.year, 2024);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
  EXPECT_GE(t.millisecond, 0);
  EXPECT_LE(t.millisecond, 999);
  int64_t s = 0;
  int32_t us = -1;
  NowUnix(&s, &us);
  EXPECT_GT(s, 1700000000);
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
  NowUnix(nullptr, nullptr);  // either output may be left out
}

TEST(Environment, CopiesOnlyWhatFits) {
  ScopedEnv env("QV_TEST_VAR", "hello");
  char out[16];
  ASSERT_TRUE(GetEnvironment("QV_TEST_VAR", out, sizeof out));
  EXPECT_STREQ(out, "hello");
  char small[5] = "zzzz";
  EXPECT_FALSE(GetEnvironment("QV_TEST_VAR", small, sizeof small));
  EXPECT_STREQ(small, "");
  char exact[6];
  EXPECT_TRUE(GetEnvironment("QV_TEST_VAR", exact, sizeof exact));
  ScopedEnv gone("QV_TEST_VAR_UNSET", nullptr);
  EXPECT_FALSE(GetEnvironment("QV_TEST_VAR_UNSET", out, sizeof out));
  EXPECT_FALSE(GetEnvironment(nullptr, out, sizeof out));
  EXPECT_FALSE(GetEnvironment("QV_TEST_VAR", nullptr, 8));
}

TEST(Environment, JoinsPaths) {
  EXPECT_EQ(PathSeparator(), '/');
  char out[16];
  ASSERT_TRUE(JoinPath("/etc", "qv.ini", out, sizeof out));
  EXPECT_STREQ(out, "/etc/qv.ini");
  ASSERT_TRUE(JoinPath("/etc/", "qv.ini", out, sizeof out));
  EXPECT_STREQ(out, "/etc/qv.ini");
  ASSERT_TRUE(JoinPath("", "qv.ini", out, sizeof out));
  EXPECT_STREQ(out, "qv.ini");
  ASSERT_TRUE(JoinPath("/abcdefgh", "ijklm", out, sizeof out));  // 15 chars + NUL
  EXPECT_FALSE(JoinPath("/abcdefgh", "ijklmn", out, sizeof out));
  EXPECT_STREQ(out, "");
}

TEST(SerialSettingsText, BuildsFromBaudAndLineFormat) {
  char out[32];
  ASSERT_TRUE(BuildSerialSettingsText(115200, 81, out, sizeof out));
  EXPECT_STREQ(out, "115200,n,8,1");
  ASSERT_TRUE(BuildSerialSettingsText(9600, 72, out, sizeof out));
  EXPECT_STREQ(out, "9600,n,7,2");
  for (uint32_t baud : {300u, 9999u, 99999u, 100000u, 921600u}) {
    ASSERT_TRUE(BuildSerialSettingsText(baud, 81, out, sizeof out));
    EXPECT_EQ(std::string(out), std::to_string(baud) + ",n,8,1");
  }
  ASSERT_TRUE(BuildSerialSettingsText(9600, 123, out, sizeof out));  // the first two digits
  EXPECT_STREQ(out, "9600,n,1,2");
  ASSERT_TRUE(BuildSerialSettingsText(9600, 8, out, sizeof out));  // one digit: data bits 0, refused by the port
  EXPECT_STREQ(out, "9600,n,0,8");
  char exact[13];
  EXPECT_TRUE(BuildSerialSettingsText(115200, 81, exact, sizeof exact));
  char small[12] = "untouched";
  EXPECT_FALSE(BuildSerialSettingsText(115200, 81, small, sizeof small));
  EXPECT_EQ(small[0], '\0');
  EXPECT_STREQ(small + 1, "ntouched") << "nothing written beyond out[0]";
}

TEST(SerialOpenFailures, NamesSettingsAndMissingPorts) {
  TempDir dir;
  ScopedEnv env("QV_PORT_DIR", dir.path().c_str());
  SerialPort port;
  SerialConfig cfg;
  EXPECT_EQ(port.open("COM9", cfg), SerialOpenError::NotFound);
  EXPECT_FALSE(port.isOpen());
  for (const char* bad : {"", "COM", "COM0", "COM256", "COM1x", "LPT1", "COM-1", "COM0001"}) {
    EXPECT_EQ(port.open(bad, cfg), SerialOpenError::NotFound) << bad;
  }
  EXPECT_EQ(port.open(nullptr, cfg), SerialOpenError::NotFound);

  dir.write("COM9", "");  // the port exists, so only the settings decide
  for (const char* bad : {"", "abc", "0,n,8,1", "115200,x,8,1", "115200,n,9,1", "115200,n,4,1",
                          "115200,n,8,3", "115200;n;8;1", "115200,n,8,1,x", "999999999,n,8,1",
                          "-9600,n,8,1"}) {
    cfg.settings = bad;
    EXPECT_EQ(port.open("COM9", cfg), SerialOpenError::BadSettings) << bad;
    EXPECT_FALSE(port.isOpen());
  }
  cfg.settings = nullptr;
  EXPECT_EQ(port.open("COM9", cfg), SerialOpenError::BadSettings);

  // Closed-port operations are harmless.
  uint8_t b[4] = {};
  EXPECT_EQ(port.read(b, sizeof b, 0), -1);
  EXPECT_EQ(port.write(b, sizeof b), -1);
  EXPECT_EQ(port.bytesWaiting(), 0u);
  EXPECT_FALSE(port.waitReadable(0));
  port.purge(true, true);
  port.close();
}

TEST(SerialOpenFailures, AcceptedSettingsForms) {
  TempDir dir;
  ScopedEnv env("QV_PORT_DIR", dir.path().c_str());
  dir.write("COM3", "");  // a plain file: settings cannot be applied, which is ignored
  SerialPort port;
  SerialConfig cfg;
  for (const char* good : {"115200,n,8,1", "9600,E,7,2", "57600 , o , 8 , 1.5", "250000,n,8,1",
                           "19200", "4800,m", "1200,s,5"}) {
    cfg.settings = good;
    EXPECT_EQ(port.open("com3", cfg), SerialOpenError::None) << good;
    EXPECT_TRUE(port.isOpen());
    port.close();
    EXPECT_FALSE(port.isOpen());
  }
  cfg.settings = "115200,n,8,1";
  EXPECT_EQ(port.open("\\\\.\\COM3", cfg), SerialOpenError::None);
}

TEST(Notify, MessageIdsAreStableAndNonZero) {
  const uint32_t a = RegisterNotifyMessage("QvLinkRxMessage");
  EXPECT_NE(a, 0u);
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(a, RegisterNotifyMessage("QvLinkRxMessage"));
  EXPECT_EQ(RegisterNotifyMessage(nullptr), 0u);
  EXPECT_EQ(RegisterNotifyMessage(""), 0u);
  EXPECT_FALSE(PostNotify(nullptr, a)) << "window 0 means no client to tell";
}

TEST(DynamicLibrary, RefusesPathsAndMissingHandles) {
  EXPECT_EQ(LoadLibraryByName(nullptr), nullptr);
  EXPECT_EQ(LoadLibraryByName(""), nullptr);
  EXPECT_EQ(LoadLibraryByName("../evil"), nullptr);
  EXPECT_EQ(LoadLibraryByName("qv_no_such_library_here"), nullptr);
  EXPECT_EQ(FindLibrarySymbol(nullptr, "malloc"), nullptr);
  FreeLibraryHandle(nullptr);
}

}  // namespace
