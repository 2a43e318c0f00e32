// Client notification: one 8-byte integer 1 written to the client's descriptor.
#include "qvlink/platform/notify.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace qv::platform {

uint32_t RegisterNotifyMessage(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  // Stable per name and in the range Windows gives registered messages (0xC000-0xFFFF).
  uint32_t h = 2166136261u;
  for (const char* p = name; *p; ++p) {
    h ^= static_cast<uint8_t>(*p);
    h *= 16777619u;
  }
  return 0xC000u + (h % 0x4000u);
}

bool PostNotify(WindowHandle window, uint32_t messageId) {
  const intptr_t value = reinterpret_cast<intptr_t>(window);
  if (value <= 0 || value > INT_MAX || messageId == 0) return false;
  const int fd = static_cast<int>(value);

  // Never block, as PostMessageA does not: a full pipe or a saturated eventfd already holds
  // notifications the client has not read, so this one is taken as delivered. The client's
  // descriptor keeps its own flags; only its readiness is asked.
  pollfd pfd{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&pfd, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return false;
  if (ready == 0) return true;

  // A pipe whose reader has gone would raise SIGPIPE and kill the client's process: block
  // it for this write and swallow the one it leaves pending.
  sigset_t pipeSet, oldSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  const bool masked = pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet) == 0;

  const uint64_t one = 1;
  ssize_t w;
  do {
    w = ::write(fd, &one, sizeof one);
  } while (w < 0 && errno == EINTR);
  const int savedErrno = errno;

  if (masked) {
    if (w < 0 && savedErrno == EPIPE && !alreadyPending) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  }
  return w == static_cast<ssize_t>(sizeof one);
}

}  // namespace qv::platform
