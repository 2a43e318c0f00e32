// The platform contract's POSIX host: scratch directories stand in for the profile directory
// and the port directory, COM9 is a pty whose echo peer runs on a thread, and a notified client
// is a pipe. The one POSIX-only case, about notification descriptors, lives here too.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "contract.h"
#include "contract_host.h"
#include "pty_peer.h"
#include "qvlink/platform/profile.h"
#include "temp_dir.h"

using namespace qv::platform;

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

namespace {
WindowHandle AsWindow(int fd) { return reinterpret_cast<WindowHandle>(static_cast<intptr_t>(fd)); }
}  // namespace

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
