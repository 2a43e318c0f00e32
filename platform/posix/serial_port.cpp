// Serial port over termios. Non-blocking descriptor; every wait is a poll with a deadline.
#include "qvlink/platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "../common/text_rules.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
                           defined(__arm__) || defined(__riscv))
// The kernel's termios2 (asm-generic layout); glibc's <termios.h> cannot be mixed with
// <asm/termbits.h>, so the few pieces needed for an arbitrary bit rate are declared here.
#define QV_HAVE_TERMIOS2 1
struct qv_termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
#define QV_TCGETS2 _IOR('T', 0x2A, qv_termios2)
#define QV_TCSETS2 _IOW('T', 0x2B, qv_termios2)
#define QV_BOTHER 0010000u
#define QV_CBAUD 0010017u
#endif

namespace qv::platform {

namespace {

using Clock = std::chrono::steady_clock;
using detail::LineSettings;
using detail::Parity;
using detail::ParsePortNumber;
using detail::ParseSettings;

bool ResolvePortPath(const char* name, char* out, size_t outSize) {
  const unsigned n = ParsePortNumber(name);
  if (n == 0) return false;
  const char* dir = std::getenv("QV_PORT_DIR");
  int len;
  if (dir != nullptr && dir[0] != '\0')
    len = std::snprintf(out, outSize, "%s/COM%u", dir, n);
  else
    len = std::snprintf(out, outSize, "/dev/ttyS%u", n - 1);
  return len > 0 && static_cast<size_t>(len) < outSize;
}

speed_t StandardSpeed(uint32_t baud, bool& found) {
  found = true;
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
#ifdef B57600
    case 57600: return B57600;
#endif
#ifdef B115200
    case 115200: return B115200;
#endif
#ifdef B230400
    case 230400: return B230400;
#endif
#ifdef B460800
    case 460800: return B460800;
#endif
#ifdef B500000
    case 500000: return B500000;
#endif
#ifdef B576000
    case 576000: return B576000;
#endif
#ifdef B921600
    case 921600: return B921600;
#endif
#ifdef B1000000
    case 1000000: return B1000000;
#endif
#ifdef B1152000
    case 1152000: return B1152000;
#endif
#ifdef B1500000
    case 1500000: return B1500000;
#endif
#ifdef B2000000
    case 2000000: return B2000000;
#endif
#ifdef B2500000
    case 2500000: return B2500000;
#endif
#ifdef B3000000
    case 3000000: return B3000000;
#endif
#ifdef B3500000
    case 3500000: return B3500000;
#endif
#ifdef B4000000
    case 4000000: return B4000000;
#endif
    default: found = false; return B38400;
  }
}

// Applies the line settings. Failures are ignored like SetCommState's: a pty accepts the
// open whatever the rate, and a real port that refuses a setting still carries bytes.
void ConfigureLine(int fd, const LineSettings& ls, const SerialConfig& config) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;  // not a terminal: nothing to set
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                        ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tcflag_t clear = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CRTSCTS
  clear |= CRTSCTS;
#endif
#ifdef CMSPAR
  clear |= CMSPAR;
#endif
  tio.c_cflag &= ~clear;
  tio.c_cflag |= CREAD | CLOCAL;
  switch (ls.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  switch (ls.parity) {
    case Parity::None: break;
    case Parity::Even: tio.c_cflag |= PARENB; break;
    case Parity::Odd: tio.c_cflag |= PARENB | PARODD; break;
#ifdef CMSPAR
    case Parity::Mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case Parity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
#else
    case Parity::Mark: case Parity::Space: tio.c_cflag |= PARENB; break;
#endif
  }
  // The configured stop bits override the text, as the driver sets them after the text.
  if (config.stopBits == StopBits::Two) tio.c_cflag |= CSTOPB;
#ifdef CRTSCTS
  if (config.ctsOutputFlow || config.rtsHandshake) tio.c_cflag |= CRTSCTS;
#endif
  // With VMIN 0 a terminal read returns 0 for "no data", indistinguishable from a hang-up;
  // VMIN 1 on the non-blocking descriptor gives EAGAIN instead. Waiting is done with poll.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;

  bool standard = false;
  const speed_t sp = StandardSpeed(ls.baud, standard);
  cfsetispeed(&tio, sp);
  cfsetospeed(&tio, sp);
  (void)tcsetattr(fd, TCSANOW, &tio);

#ifdef QV_HAVE_TERMIOS2
  if (!standard) {
    qv_termios2 t2{};
    if (ioctl(fd, QV_TCGETS2, &t2) == 0) {
      t2.c_cflag &= ~static_cast<tcflag_t>(QV_CBAUD | (QV_CBAUD << 16));
      t2.c_cflag |= QV_BOTHER | (QV_BOTHER << 16);
      t2.c_ispeed = ls.baud;
      t2.c_ospeed = ls.baud;
      (void)ioctl(fd, QV_TCSETS2, &t2);
    }
  }
#endif
}

int RemainingMs(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return 0;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Polls for `events` until the deadline. Returns the revents (0 on time-out), -1 on error.
int PollUntil(int fd, short events, bool forever, Clock::time_point deadline) {
  for (;;) {
    pollfd pfd{fd, events, 0};
    const int wait = forever ? -1 : RemainingMs(deadline);
    const int r = ::poll(&pfd, 1, wait);
    if (r > 0) return pfd.revents;
    if (r == 0) {
      if (forever || Clock::now() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) return -1;
  }
}

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  bool isTty = false;
  SerialTimeouts timeouts{};
  std::atomic<bool> lost{false};  // set by the reading or the writing thread, read by both
};

namespace {
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// Errors that mean the device itself is gone, not a passing condition.
bool GoneErrno(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EPIPE || e == EBADF; }

// Marks the port lost and hands back the value to return.
long Lost(std::atomic<bool>& lost, long result) {
  lost.store(true, std::memory_order_release);
  return result;
}
}  // namespace

SerialPort::~SerialPort() { close(); }

SerialOpenError SerialPort::open(const char* portName, const SerialConfig& config) {
  close();
  char path[4096];
  if (!ResolvePortPath(portName, path, sizeof path)) return SerialOpenError::NotFound;
  LineSettings ls;
  if (!ParseSettings(config.settings, ls)) return SerialOpenError::BadSettings;

  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT: case ENXIO: case ENODEV: case ENOTDIR: case ELOOP: case ENAMETOOLONG:
        return SerialOpenError::NotFound;
      case EBUSY:
        return SerialOpenError::Busy;
      default:
        return SerialOpenError::Other;
    }
  }
  // flock catches a second opener even where TIOCEXCL does not bind (root ignores it).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return SerialOpenError::Busy;
  }
  (void)ioctl(fd, TIOCEXCL);
  ConfigureLine(fd, ls, config);
  // The line opens with DTR raised; on the radio modem DTR asks it to sleep. A pty refuses this.
  int dtr = TIOCM_DTR;
  (void)ioctl(fd, TIOCMBIC, &dtr);

  auto* impl = new (std::nothrow) Impl;
  if (impl == nullptr) {
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);
    return SerialOpenError::Other;
  }
  impl->fd = fd;
  impl->isTty = isatty(fd) == 1;
  impl->timeouts = config.timeouts;
  impl_ = impl;
  return SerialOpenError::None;
}

bool SerialPort::isOpen() const { return impl_ != nullptr; }

bool SerialPort::lost() const { return impl_ != nullptr && impl_->lost.load(std::memory_order_acquire); }

size_t SerialPort::bytesWaiting() {
  if (impl_ == nullptr) return 0;
  int n = 0;
  if (ioctl(impl_->fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

bool SerialPort::waitReadable(uint32_t timeoutMs) {
  if (impl_ == nullptr || lost()) return false;
  if (bytesWaiting() > 0) return true;
  const bool forever = timeoutMs == 0xFFFFFFFFu;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const int rev = PollUntil(impl_->fd, POLLIN, forever, deadline);
  if (rev <= 0) return false;
  if (bytesWaiting() > 0) return true;
  // Readable yet empty with a hang-up or error: the port is gone, and poll would say so at
  // once on every later call.
  if ((rev & kGoneEvents) != 0) Lost(impl_->lost, 0);
  return false;
}

long SerialPort::read(uint8_t* buf, size_t count, uint32_t timeoutMs) {
  if (impl_ == nullptr || lost()) return -1;
  if (count == 0) return 0;
  if (buf == nullptr) return -1;
  if (count > static_cast<size_t>(LONG_MAX)) count = static_cast<size_t>(LONG_MAX);
  const bool forever = timeoutMs == 0xFFFFFFFFu;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t got = 0;
  for (;;) {
    const ssize_t r = ::read(impl_->fd, buf + got, count - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
      if (got == count) return static_cast<long>(got);
      continue;
    }
    if (r == 0) {
      // End of file: the other side hung up (a terminal that merely has nothing to give
      // says so by a 0 only when its line settings could not be applied). Bytes already
      // read are kept; the next call reports the error.
      pollfd pfd{impl_->fd, POLLIN, 0};
      const bool hungUp = !impl_->isTty || (::poll(&pfd, 1, 0) > 0 &&
                                            (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
      if (hungUp) return got > 0 ? static_cast<long>(got) : Lost(impl_->lost, -1);
    } else {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        const bool gone = GoneErrno(errno);
        if (got > 0) return static_cast<long>(got);
        return gone ? Lost(impl_->lost, -1) : -1;
      }
    }
    if (!forever && Clock::now() >= deadline) return static_cast<long>(got);
    const int rev = PollUntil(impl_->fd, POLLIN, forever, deadline);
    if (rev < 0) return got > 0 ? static_cast<long>(got) : -1;
    if (rev == 0) return static_cast<long>(got);
    if ((rev & POLLIN) == 0 && (rev & kGoneEvents) != 0) return got > 0 ? static_cast<long>(got) : Lost(impl_->lost, -1);
  }
}

long SerialPort::write(const uint8_t* buf, size_t count) {
  if (impl_ == nullptr || lost()) return -1;
  if (count == 0) return 0;
  if (buf == nullptr) return -1;
  if (count > static_cast<size_t>(LONG_MAX)) count = static_cast<size_t>(LONG_MAX);
  // Win32 write time-outs: multiplier per byte plus a constant; both zero means no limit.
  const uint64_t limitMs = static_cast<uint64_t>(impl_->timeouts.writeTotalMultiplierMs) * count +
                           impl_->timeouts.writeTotalConstantMs;
  const bool forever = impl_->timeouts.writeTotalMultiplierMs == 0 &&
                       impl_->timeouts.writeTotalConstantMs == 0;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(forever ? 0 : static_cast<int64_t>(
                                                                 limitMs > INT32_MAX ? INT32_MAX : limitMs));
  size_t done = 0;
  while (done < count) {
    const ssize_t w = ::write(impl_->fd, buf + done, count - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (GoneErrno(errno)) Lost(impl_->lost, 0);
      return done > 0 ? static_cast<long>(done) : -1;
    }
    const int rev = PollUntil(impl_->fd, POLLOUT, forever, deadline);
    if (rev < 0) return done > 0 ? static_cast<long>(done) : -1;
    if (rev == 0) break;  // time-out: a short count, as WriteFile reports it
    if ((rev & POLLOUT) == 0 && (rev & kGoneEvents) != 0) {
      Lost(impl_->lost, 0);
      return done > 0 ? static_cast<long>(done) : -1;
    }
  }
  return static_cast<long>(done);
}

void SerialPort::purge(bool input, bool output) {
  if (impl_ == nullptr) return;
  if (input && output)
    (void)tcflush(impl_->fd, TCIOFLUSH);
  else if (input)
    (void)tcflush(impl_->fd, TCIFLUSH);
  else if (output)
    (void)tcflush(impl_->fd, TCOFLUSH);
}

void SerialPort::close() {
  if (impl_ == nullptr) return;
  // Clear the exclusive flag: it stays on the terminal while anyone else holds it open.
  (void)ioctl(impl_->fd, TIOCNXCL);
  (void)::flock(impl_->fd, LOCK_UN);
  ::close(impl_->fd);
  delete impl_;
  impl_ = nullptr;
}

}  // namespace qv::platform
