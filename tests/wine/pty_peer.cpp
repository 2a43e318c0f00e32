// Linux end of the Wine serial test: prints its pty's slave path on one line, then echoes
// (pty_peer.h) until told to hang up or idle for --idle seconds.
#include "pty_peer.h"

#include <stdio.h>

int main(int argc, char** argv) {
  const int idleSeconds = argc > 2 && strcmp(argv[1], "--idle") == 0 ? atoi(argv[2]) : 120;
  PtyPeer peer;
  const char* path = peer.open();
  if (path == nullptr) {
    perror("pty_peer");
    return 1;
  }
  printf("%s\n", path);
  fflush(stdout);
  peer.echo(idleSeconds);
  return 0;
}
