// The far end of the serial line in the platform tests: a pseudo-terminal whose master echoes
// every byte until it reads "QV-HANGUP" (it then hangs up at once, as a pulled USB adapter
// would) or has been idle for idleSeconds.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

class PtyPeer {
 public:
  // Opens the pty; returns the slave's path, or nullptr.
  const char* open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return nullptr;
    const char* path = ptsname(master_);
    // Hold the slave open: keeps the raw settings (Wine cannot set them on a pty) and keeps
    // the master readable between the test's opens.
    slave_ = path != nullptr ? ::open(path, O_RDWR | O_NOCTTY) : -1;
    termios tio;
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) return nullptr;
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    return path;
  }

  void echo(int idleSeconds) {
    unsigned char buf[4096];
    for (int idle = 0; idle < idleSeconds * 10;) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) {
        ++idle;
        continue;
      }
      idle = 0;
      const ssize_t n = read(master_, buf, sizeof(buf));
      if (n <= 0) continue;
      if (memmem(buf, static_cast<size_t>(n), "QV-HANGUP", 9) != nullptr) break;
      for (ssize_t off = 0, w = 0; off < n; off += w)
        if ((w = write(master_, buf + off, static_cast<size_t>(n - off))) <= 0) break;
    }
    close(slave_);
    close(master_);
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};
