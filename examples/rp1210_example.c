/* Minimal RP1210 application over QV121032: connect a J1939 client, ask for the VIN, read
 * what arrives for a few seconds, print the status block, disconnect.
 *
 * Build (Linux):
 *   cc -I rp1210/include -I platform/include examples/rp1210_example.c \
 *      -L build/linux/bin -lQV121032 -Wl,-rpath,build/linux/bin -o rp1210_example
 * Run:  QV_PROFILE_DIR=<dir with QV121032.ini> ./rp1210_example [deviceId] [protocol] [reads]
 * Exit code 0 when the connect, the request and the disconnect succeeded.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "QV121032.h"

static void print_error(const char* what, int code) {
  char text[80] = "";
  RP1210_GetErrorMsg((int16_t)code, text);
  fprintf(stderr, "%s: %d %s\n", what, code, text);
}

int main(int argc, char** argv) {
  const int16_t device = (int16_t)(argc > 1 ? atoi(argv[1]) : 101);
  const char* protocol = argc > 2 ? argv[2] : "J1939:Baud=Auto";
  const int reads = argc > 3 ? atoi(argv[3]) : 20;

  char major, minor, apiMajor, apiMinor;
  RP1210_ReadVersion(&major, &minor, &apiMajor, &apiMinor);
  printf("QV121032 version %d.%c, API %c.%c\n", (unsigned char)major, minor, apiMajor, apiMinor);

  const int16_t client = RP1210_ClientConnect(NULL, device, protocol, 0, 0, 0);
  if (client < 1 || client > 10) {
    print_error("connect", client);
    return 1;
  }
  printf("client %d on device %d (%s)\n", client, device, protocol);

  char pass[1] = {0};
  RP1210_SendCommand(3, client, pass, 0); /* set all filters to pass */

  /* Request (PGN 59904) for the VIN (PGN 65260) to the global address, priority 6, from 0xF9. */
  const char request[] = {0x00, (char)0xEA, 0x00, 0x06, (char)0xF9, (char)0xFF, (char)0xEC, (char)0xFE, 0x00};
  const int16_t sent = RP1210_SendMessage(client, request, (int16_t)sizeof request, 0, 1);
  if (sent != 0) print_error("send", sent);

  char buffer[2048];
  for (int i = 0; i < reads; ++i) {
    const int16_t n = RP1210_ReadMessage(client, buffer, (int16_t)sizeof buffer, 1);
    if (n <= 10) continue; /* 0: nothing within the driver's wait */
    const unsigned pgn = (unsigned char)buffer[4] | (unsigned char)buffer[5] << 8 | (unsigned char)buffer[6] << 16;
    printf("PGN %u from 0x%02x, %d data bytes", pgn, (unsigned char)buffer[8], n - 10);
    if (pgn == 65260) printf(": VIN %.*s", n - 10, buffer + 10);
    printf("\n");
  }

  char status[16];
  RP1210_GetHardwareStatus(client, status, 16, 0);
  printf("status: device %d, clients %d, J1939 0x%02x\n", status[0], status[1], (unsigned char)status[2]);

  const int16_t closed = RP1210_ClientDisconnect(client);
  if (closed != 0) print_error("disconnect", closed);
  return sent == 0 && closed == 0 ? 0 : 1;
}
