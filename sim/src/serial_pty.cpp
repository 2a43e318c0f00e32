#include "serial_pty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace qv::sim {

Pty::~Pty() { close(); }

bool Pty::open() {
  int m = -1, s = -1;
  char name[256] = {};
  if (openpty(&m, &s, name, nullptr, nullptr) != 0) return false;
  termios t{};
  if (tcgetattr(s, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(s, TCSANOW, &t);
  }
  // Closing our slave end lets the master report a hang-up while no one holds the port.
  ::close(s);
  fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
  fcntl(m, F_SETFD, FD_CLOEXEC);
  master_ = m;
  slave_ = name;
  return true;
}

void Pty::close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

Pty::Ready Pty::wait(int timeoutMs, bool wantWrite) const {
  Ready r;
  if (master_ < 0) return r;
  pollfd p{master_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
  if (poll(&p, 1, timeoutMs) > 0) {
    r.readable = (p.revents & POLLIN) != 0;
    r.writable = (p.revents & POLLOUT) != 0;
    r.hangup = (p.revents & (POLLHUP | POLLERR)) != 0;
  }
  return r;
}

size_t Pty::read(uint8_t* buf, size_t cap) const {
  const ssize_t n = ::read(master_, buf, cap);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t Pty::write(const uint8_t* p, size_t n) const {
  const ssize_t w = ::write(master_, p, n);
  return w > 0 ? static_cast<size_t>(w) : 0;
}

void Pty::pauseMicros(unsigned us) {
  timespec ts{0, static_cast<long>(us) * 1000L};
  nanosleep(&ts, nullptr);
}

bool Pty::makeLink(const std::string& dir, const std::string& name, const std::string& target) {
  mkdir(dir.c_str(), 0755);  // may exist already
  const std::string path = dir + "/" + name;
  unlink(path.c_str());
  return symlink(target.c_str(), path.c_str()) == 0;
}

}  // namespace qv::sim
