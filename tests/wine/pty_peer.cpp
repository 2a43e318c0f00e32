// Linux end of the Wine serial test: opens a pseudo-terminal, prints its slave path on one
// line, then echoes every byte it receives until killed or idle for --idle seconds. Receiving
// "QV-HANGUP" makes it hang up at once, as a pulled USB adapter would.
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
  int idleSeconds = 120;
  if (argc > 2 && strcmp(argv[1], "--idle") == 0) idleSeconds = atoi(argv[2]);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("pty_peer: posix_openpt");
    return 1;
  }
  const char* slavePath = ptsname(master);
  if (slavePath == nullptr) return 1;
  // Hold the slave open ourselves: keeps the raw settings (Wine cannot set them on a pty)
  // and keeps the master readable between the test's opens.
  const int slave = open(slavePath, O_RDWR | O_NOCTTY);
  if (slave < 0) {
    perror("pty_peer: open slave");
    return 1;
  }
  termios tio;
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  printf("%s\n", slavePath);
  fflush(stdout);

  unsigned char buf[4096];
  int idle = 0;
  while (idle < idleSeconds * 10) {
    pollfd p{master, POLLIN, 0};
    const int r = poll(&p, 1, 100);
    if (r <= 0) {
      ++idle;
      continue;
    }
    idle = 0;
    const ssize_t n = read(master, buf, sizeof(buf));
    if (n <= 0) continue;
    if (memmem(buf, static_cast<size_t>(n), "QV-HANGUP", 9) != nullptr) break;
    ssize_t off = 0;
    while (off < n) {
      const ssize_t w = write(master, buf + off, static_cast<size_t>(n - off));
      if (w <= 0) break;
      off += w;
    }
  }
  close(slave);
  close(master);
  return 0;
}
