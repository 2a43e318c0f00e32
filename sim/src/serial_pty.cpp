#include "serial_pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
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

Pty::Ready Pty::wait(long timeoutMicros, bool wantWrite) const {
  Ready r;
  if (master_ < 0) return r;
  pollfd p{master_, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
  const timespec limit{timeoutMicros / 1000000, (timeoutMicros % 1000000) * 1000};
  if (ppoll(&p, 1, &limit, nullptr) > 0) {
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

PortLink::Result PortLink::make(const std::string& dir, const std::string& name, const std::string& target,
                                long* holder) {
  release();
  if (holder != nullptr) *holder = 0;
  mkdir(dir.c_str(), 0755);  // may exist already
  const std::string link = dir + "/" + name;
  const std::string lock = dir + "/." + name + ".lock";
  int fd = -1;
  // A simulator that stops unlinks its lock file while holding it: a lock taken on a file
  // that is no longer the one at the path proves nothing, so take it again.
  for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
    fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Result::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EWOULDBLOCK && holder != nullptr) {
        char text[32] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        if (n > 0) *holder = std::strtol(text, nullptr, 10);
      }
      ::close(fd);
      return err == EWOULDBLOCK ? Result::InUse : Result::Failed;
    }
    struct stat held {}, named {};
    if (fstat(fd, &held) != 0 || stat(lock.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return Result::Failed;
  char text[32];
  const int len = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, text, static_cast<size_t>(len), 0) != len) {
    ::close(fd);
    return Result::Failed;
  }
  // The new link replaces an old one in one step: a reader sees the old target or the new.
  const std::string temp = link + ".new." + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
    unlink(temp.c_str());
    unlink(lock.c_str());
    ::close(fd);
    return Result::Failed;
  }
  lockFd_ = fd;
  link_ = link;
  lock_ = lock;
  target_ = target;
  return Result::Made;
}

void PortLink::release() {
  if (lockFd_ < 0) return;
  char now[512] = {};
  const ssize_t n = readlink(link_.c_str(), now, sizeof now - 1);
  if (n > 0 && std::string(now, static_cast<size_t>(n)) == target_) unlink(link_.c_str());
  unlink(lock_.c_str());  // while still held: see make()
  ::close(lockFd_);
  lockFd_ = -1;
}

}  // namespace qv::sim
