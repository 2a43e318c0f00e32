// The platform contract's POSIX host: scratch directories stand in for the profile directory
// and the port directory, COM9 is a pty whose echo peer runs on a thread, and a notified client
// is a pipe. The one POSIX-only case, about notification descriptors, lives here too.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "contract.h"
#include "contract_host.h"
#include "qvlink/platform/profile.h"
#include "temp_dir.h"

using namespace qv::platform;

namespace {

// The far end of the serial line: a pseudo-terminal whose master echoes every byte until it
// reads "QV-HANGUP" (it then hangs up at once, as a pulled USB adapter would) or has been idle
// for idleSeconds.
struct PtyPeer {
  int master = -1, slave = -1;

  // Opens the pty; returns the slave's path, or nullptr.
  const char* open() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return nullptr;
    const char* path = ptsname(master);
    // Hold the slave open: keeps the raw settings (Wine cannot set them on a pty) and keeps
    // the master readable between the test's opens.
    slave = path != nullptr ? ::open(path, O_RDWR | O_NOCTTY) : -1;
    termios tio;
    if (slave < 0 || tcgetattr(slave, &tio) != 0) return nullptr;
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    return path;
  }

  void echo(int idleSeconds) {
    unsigned char buf[4096];
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, idleSeconds * 1000) > 0) {
      const ssize_t n = read(master, buf, sizeof(buf));
      if (n <= 0) continue;
      if (memmem(buf, static_cast<size_t>(n), "QV-HANGUP", 9) != nullptr) break;
      for (ssize_t off = 0, w = 0; off < n; off += w)
        if ((w = write(master, buf + off, static_cast<size_t>(n - off))) <= 0) break;
    }
    close(slave);
    close(master);
  }
};

WindowHandle AsWindow(int fd) { return reinterpret_cast<WindowHandle>(static_cast<intptr_t>(fd)); }

}  // namespace

const char* const kTestLibraryFile = "libqvtestlib.so";
const bool kTimeCriticalGranted = false;

bool PrepareHost() {
  static TempDir profiles, ports;
  SetEnv("QV_PROFILE_DIR", profiles.path().c_str());
  SetEnv("QV_PORT_DIR", ports.path().c_str());
  static PtyPeer peer;
  const char* pty = peer.open();
  if (pty == nullptr || symlink(pty, ports.file("COM9").c_str()) != 0) {
    std::printf("FAIL: no pty for COM9\n");
    return false;
  }
  std::thread([] { peer.echo(600); }).detach();
  return true;
}

int ServeEchoPeer() {
  PtyPeer peer;
  const char* pty = peer.open();
  if (pty == nullptr) return 1;
  std::printf("%s\n", pty);
  peer.echo(120);
  return 0;
}

void SetEnv(const char* name, const char* value) {
  if (value) setenv(name, value, 1); else unsetenv(name);
}

std::string OwnProgramPath() {
  char path[4096] = {};
  return readlink("/proc/self/exe", path, sizeof path - 1) > 0 ? path : "";
}

std::string ProfileDirectory() { return std::getenv("QV_PROFILE_DIR"); }

bool PutRegistryString(const char* keyPath, const char* name, const char* value) {
  return WriteProfileString(keyPath, name, value, "registry.ini");
}

void RemoveRegistryKey(const char* keyPath) {
  WriteProfileString(keyPath, nullptr, nullptr, "registry.ini");
}

struct Client::Impl {
  int fds[2];
};

Client::Client(uint32_t) : impl_(new Impl) {
  if (pipe(impl_->fds) != 0) impl_->fds[0] = impl_->fds[1] = -1;
}

Client::~Client() {
  close(impl_->fds[0]);
  close(impl_->fds[1]);
}

WindowHandle Client::window() const { return AsWindow(impl_->fds[1]); }

int Client::received(int expected) {
  int count = 0;
  uint64_t value = 0;
  pollfd p{impl_->fds[0], POLLIN, 0};
  while (count < expected && poll(&p, 1, 3000) > 0 && read(impl_->fds[0], &value, 8) == 8)
    count += value == 1 ? 1 : 1000;
  return count;
}

CONTRACT(PosixNotificationsNeverBlockNorKill) {
  const int fd = eventfd(0, EFD_CLOEXEC);  // blocking, as a client may make it
  CHECK(PostNotify(AsWindow(fd), 1));
  CHECK(PostNotify(AsWindow(fd), 1));
  uint64_t count = 0;
  CHECK(read(fd, &count, 8) == 8 && count == 2);  // one count per notification
  const uint64_t most = 0xFFFFFFFFFFFFFFFEull;
  CHECK(write(fd, &most, 8) == 8);
  CHECK(PostNotify(AsWindow(fd), 1));  // saturated: the client has notifications waiting
  close(fd);

  int p[2];  // (a full pipe takes the saturated eventfd's path)
  REQUIRE(pipe(p) == 0);
  close(p[0]);
  CHECK(!PostNotify(AsWindow(p[1]), 1));  // the reader is gone: a failure, not a SIGPIPE
  close(p[1]);
  CHECK(!PostNotify(AsWindow(p[1]), 1));
  CHECK(!PostNotify(AsWindow(-1), 1));
}
