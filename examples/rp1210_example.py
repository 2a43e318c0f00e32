"""Minimal RP1210 application over QV121032 with ctypes.

Usage: QV_PROFILE_DIR=<dir with QV121032.ini> python3 examples/rp1210_example.py \
           <path to libQV121032.so or QV121032.dll> [deviceId] [protocol] [reads]
Exit code 0 when the connect, the request and the disconnect succeeded.
"""
import ctypes
import os
import sys


def load(path):
    lib = ctypes.WinDLL(path) if os.name == "nt" else ctypes.CDLL(path)
    s, p, c = ctypes.c_short, ctypes.c_char_p, ctypes.c_char_p
    lib.RP1210_ClientConnect.argtypes = [ctypes.c_void_p, s, p, ctypes.c_int32, ctypes.c_int32, s]
    lib.RP1210_ClientDisconnect.argtypes = [s]
    lib.RP1210_SendMessage.argtypes = [s, c, s, s, s]
    lib.RP1210_ReadMessage.argtypes = [s, c, s, s]
    lib.RP1210_SendCommand.argtypes = [s, s, c, s]
    lib.RP1210_GetErrorMsg.argtypes = [s, c]
    lib.RP1210_GetHardwareStatus.argtypes = [s, c, s, s]
    lib.RP1210_ReadVersion.argtypes = [c, c, c, c]
    for f in ("ClientConnect", "ClientDisconnect", "SendMessage", "ReadMessage", "SendCommand",
              "GetErrorMsg", "GetHardwareStatus", "ReadVersion"):
        getattr(lib, "RP1210_" + f).restype = s
    return lib


def error_text(lib, code):
    buf = ctypes.create_string_buffer(80)
    lib.RP1210_GetErrorMsg(code, buf)
    return buf.value.decode("ascii", "replace")


def main():
    lib = load(sys.argv[1])
    device = int(sys.argv[2]) if len(sys.argv) > 2 else 101
    protocol = (sys.argv[3] if len(sys.argv) > 3 else "J1939:Baud=Auto").encode()
    reads = int(sys.argv[4]) if len(sys.argv) > 4 else 20

    v = [ctypes.create_string_buffer(1) for _ in range(4)]
    lib.RP1210_ReadVersion(*v)
    print("QV121032 version %d.%s, API %s.%s" % (v[0].raw[0], v[1].raw.decode(), v[2].raw.decode(), v[3].raw.decode()))

    client = lib.RP1210_ClientConnect(None, device, protocol, 0, 0, 0)
    if not 1 <= client <= 10:
        print("connect:", client, error_text(lib, client), file=sys.stderr)
        return 1
    lib.RP1210_SendCommand(3, client, b"", 0)  # set all filters to pass
    request = bytes([0x00, 0xEA, 0x00, 0x06, 0xF9, 0xFF, 0xEC, 0xFE, 0x00])  # VIN request
    sent = lib.RP1210_SendMessage(client, request, len(request), 0, 1)
    if sent:
        print("send:", sent, error_text(lib, sent), file=sys.stderr)
    buf = ctypes.create_string_buffer(2048)
    for _ in range(reads):
        n = lib.RP1210_ReadMessage(client, buf, len(buf), 1)
        if n <= 10:
            continue
        m = buf.raw[:n]
        pgn = m[4] | m[5] << 8 | m[6] << 16
        line = "PGN %d from 0x%02x, %d data bytes" % (pgn, m[8], n - 10)
        if pgn == 65260:
            line += ": VIN " + m[10:].decode("ascii", "replace")
        print(line)
    status = ctypes.create_string_buffer(16)
    lib.RP1210_GetHardwareStatus(client, status, 16, 0)
    print("status: device %d, clients %d, J1939 0x%02x" % (status.raw[0], status.raw[1], status.raw[2]))
    closed = lib.RP1210_ClientDisconnect(client)
    if closed:
        print("disconnect:", closed, error_text(lib, closed), file=sys.stderr)
    return 0 if sent == 0 and closed == 0 else 1


sys.exit(main())
