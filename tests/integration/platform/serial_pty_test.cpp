// The serial port over a real pseudo-terminal: the test holds the master side.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "qvlink/platform/serial_port.h"
#include "temp_dir.h"

using namespace qv::platform;
using Clock = std::chrono::steady_clock;

namespace {

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
    // Raw on the master's side too, so bytes pass through unchanged in both directions.
    termios tio{};
    ASSERT_EQ(tcgetattr(slave, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &tio), 0);
    ::close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    std::filesystem::create_symlink(name, dir_.file("COM9"));
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
  }

  void masterWrite(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads exactly n bytes from the master, polling up to a deadline.
  std::vector<uint8_t> masterRead(size_t n, int deadlineMs = 3000) {
    std::vector<uint8_t> got;
    const auto end = Clock::now() + std::chrono::milliseconds(deadlineMs);
    while (got.size() < n && Clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buf[4096];
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
      if (r > 0) got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  // Waits until the port reports `n` bytes waiting; pty delivery is asynchronous.
  static bool waitForCount(SerialPort& port, size_t n) {
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
      if (port.bytesWaiting() >= n) return port.bytesWaiting() == n;
      port.waitReadable(50);
      std::this_thread::yield();
    }
    return false;
  }

  SerialOpenError openPort(SerialPort& port, const char* settings = "115200,n,8,1") {
    SerialConfig cfg;
    cfg.settings = settings;
    return port.open("COM9", cfg);
  }

  TempDir dir_;
  ScopedEnv env_{"QV_PORT_DIR", dir_.path().c_str()};
  int master_ = -1;
};

TEST_F(SerialPty, RoundTripBothDirections) {
  SerialPort port;
  ASSERT_EQ(openPort(port), SerialOpenError::None);
  ASSERT_TRUE(port.isOpen());

  // Every byte value, including the ones a cooked terminal would eat or translate.
  std::vector<uint8_t> all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(port.write(all.data(), all.size()), 256);
  EXPECT_EQ(masterRead(256), all);

  std::vector<uint8_t> frame = {0x7E, 0x00, 0x05, 0x81, 0x12, 0x34, 0x0D, 0x0A, 0x11, 0x13};
  masterWrite(frame);
  std::vector<uint8_t> in(frame.size() + 4, 0xEE);
  EXPECT_EQ(port.read(in.data(), frame.size(), 3000), static_cast<long>(frame.size()));
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), in.begin()));
  for (size_t i = frame.size(); i < in.size(); ++i) EXPECT_EQ(in[i], 0xEE) << "past count";
  EXPECT_EQ(port.bytesWaiting(), 0u);
}

TEST_F(SerialPty, ReadReturnsWhatArrivedByTheDeadline) {
  SerialPort port;
  ASSERT_EQ(openPort(port), SerialOpenError::None);
  uint8_t buf[8];
  EXPECT_EQ(port.read(buf, sizeof buf, 0), 0) << "nothing there, no waiting";
  masterWrite({1, 2, 3});
  ASSERT_TRUE(waitForCount(port, 3));
  const auto t0 = Clock::now();
  EXPECT_EQ(port.read(buf, sizeof buf, 150), 3);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_GE(ms, 140) << "a short read waits out its time-out";
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 3);

  // Bytes arriving during the wait complete the read early.
  std::thread late([this] { masterWrite({9, 8, 7, 6}); });
  EXPECT_EQ(port.read(buf, 4, 5000), 4);
  late.join();
  EXPECT_EQ(buf[0], 9);
  EXPECT_EQ(buf[3], 6);
}

TEST_F(SerialPty, WaitReadableWithAndWithoutData) {
  SerialPort port;
  ASSERT_EQ(openPort(port), SerialOpenError::None);
  EXPECT_FALSE(port.waitReadable(0));
  const auto t0 = Clock::now();
  EXPECT_FALSE(port.waitReadable(100));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_GE(ms, 95);
  EXPECT_LT(ms, 2000);

  masterWrite({0x42});
  EXPECT_TRUE(port.waitReadable(3000));
  EXPECT_EQ(port.bytesWaiting(), 1u);
  EXPECT_TRUE(port.waitReadable(0)) << "bytes still waiting";
  uint8_t b = 0;
  EXPECT_EQ(port.read(&b, 1, 0), 1);
  EXPECT_EQ(b, 0x42);
  EXPECT_FALSE(port.waitReadable(0));
}

TEST_F(SerialPty, PurgeDiscardsUnreadInput) {
  SerialPort port;
  ASSERT_EQ(openPort(port), SerialOpenError::None);
  masterWrite({1, 2, 3, 4, 5});
  ASSERT_TRUE(waitForCount(port, 5));
  port.purge(true, false);
  EXPECT_EQ(port.bytesWaiting(), 0u);
  uint8_t buf[8];
  EXPECT_EQ(port.read(buf, sizeof buf, 0), 0);
  masterWrite({6});
  EXPECT_EQ(port.read(buf, 1, 3000), 1);
  EXPECT_EQ(buf[0], 6) << "input after the purge is kept";
  port.purge(true, true);
  port.purge(false, true);
}

TEST_F(SerialPty, ExclusiveOpenAndReopen) {
  SerialPort first;
  ASSERT_EQ(openPort(first), SerialOpenError::None);
  SerialPort second;
  EXPECT_EQ(openPort(second), SerialOpenError::Busy);
  EXPECT_FALSE(second.isOpen());
  // A plain open of the device (another program) is refused too, unless it is privileged.
  if (geteuid() != 0) {
    const int fd = ::open(dir_.file("COM9").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_LT(fd, 0);
    if (fd >= 0) ::close(fd);
  }
  first.close();
  EXPECT_FALSE(first.isOpen());
  first.close();  // twice is harmless
  EXPECT_EQ(openPort(second), SerialOpenError::None);
}

TEST_F(SerialPty, MissingPortIsNotFound) {
  SerialPort port;
  SerialConfig cfg;
  EXPECT_EQ(port.open("COM8", cfg), SerialOpenError::NotFound);
  EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPty, AnyRateOpensOnAPty) {
  for (const char* s : {"250000,n,8,1", "115200,n,8,1", "9600,e,7,2", "1234567,n,8,1"}) {
    SerialPort port;
    EXPECT_EQ(openPort(port, s), SerialOpenError::None) << s;
    const uint8_t b = 0x55;
    EXPECT_EQ(port.write(&b, 1), 1);
    EXPECT_EQ(masterRead(1), std::vector<uint8_t>{0x55});
  }
}

TEST_F(SerialPty, HangUpIsAnError) {
  SerialPort port;
  ASSERT_EQ(openPort(port), SerialOpenError::None);
  ::close(master_);
  master_ = -1;
  uint8_t buf[4];
  EXPECT_EQ(port.read(buf, sizeof buf, 2000), -1);
  EXPECT_FALSE(port.waitReadable(100));
  EXPECT_EQ(port.bytesWaiting(), 0u);
  EXPECT_EQ(port.write(buf, sizeof buf), -1);
}

TEST_F(SerialPty, WriteStopsAtItsTimeOut) {
  SerialPort port;
  SerialConfig cfg;
  cfg.timeouts.writeTotalMultiplierMs = 0;
  cfg.timeouts.writeTotalConstantMs = 200;
  ASSERT_EQ(port.open("COM9", cfg), SerialOpenError::None);
  // Nobody reads the master: the pty's buffers fill and the write must give up.
  std::vector<uint8_t> big(4 * 1024 * 1024, 0xA5);
  const auto t0 = Clock::now();
  const long n = port.write(big.data(), big.size());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_GE(n, 0);
  EXPECT_LT(n, static_cast<long>(big.size()));
  EXPECT_GE(ms, 190);
  EXPECT_LT(ms, 3000);
}

}  // namespace
