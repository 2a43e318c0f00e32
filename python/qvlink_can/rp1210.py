"""The RP1210 library QV121032 through ctypes: its eight entry points, nothing more."""

import ctypes
import os
import sys

# RP1210 error codes this package reacts to.
ERR_DLL_NOT_INITIALIZED = 128
ERR_INVALID_CLIENT_ID = 129
ERR_INVALID_DEVICE = 134
ERR_HARDWARE_NOT_RESPONDING = 142
LINK_ERRORS = frozenset({ERR_DLL_NOT_INITIALIZED, ERR_INVALID_CLIENT_ID, ERR_INVALID_DEVICE,
                         ERR_HARDWARE_NOT_RESPONDING})


class Rp1210Error(Exception):
    """An RP1210 call failed; ``code`` is the library's result."""

    def __init__(self, what, code, text):
        super().__init__(f"{what} failed: {text} ({code})")
        self.code = code
        self.text = text


def default_library_name():
    if sys.platform == "win32":
        return "QV121032.dll"
    return "libQV121032.so"


class Rp1210Library:
    """QV121032 loaded by path or by name; ``library`` defaults to $QV_LIBRARY."""

    def __init__(self, library=None):
        name = library or os.environ.get("QV_LIBRARY") or default_library_name()
        loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL  # __stdcall on Windows
        try:
            self._lib = loader(name)
        except OSError as e:
            raise OSError(f"cannot load the RP1210 library {name}: {e} "
                          "(give library=PATH or set QV_LIBRARY)") from e
        i16, p, c = ctypes.c_int16, ctypes.c_void_p, ctypes.c_char_p
        self._bind("RP1210_ClientConnect", [p, i16, c, ctypes.c_int32, ctypes.c_int32, i16])
        self._bind("RP1210_ClientDisconnect", [i16])
        self._bind("RP1210_SendMessage", [i16, c, i16, i16, i16])
        self._bind("RP1210_ReadMessage", [i16, p, i16, i16])  # a ctypes buffer
        self._bind("RP1210_SendCommand", [i16, i16, c, i16])
        self._bind("RP1210_ReadVersion", [c, c, c, c])
        self._bind("RP1210_GetErrorMsg", [i16, c])
        self._bind("RP1210_GetHardwareStatus", [i16, c, i16, i16])

    def _bind(self, name, argtypes):
        f = getattr(self._lib, name)
        f.argtypes = argtypes
        f.restype = ctypes.c_int16
        setattr(self, name, f)

    def error_text(self, code):
        text = ctypes.create_string_buffer(80)
        if -32768 <= code <= 32767 and self.RP1210_GetErrorMsg(code, text) == 0:
            return text.value.decode("ascii", "replace")
        return f"code {code}"

    def connect(self, device, protocol):
        """The client id; raises Rp1210Error when the result is not one."""
        r = self.RP1210_ClientConnect(None, device, protocol.encode("ascii"), 0, 0, 0)
        if not 1 <= r <= 10:
            raise Rp1210Error(f"connect to device {device} ({protocol})", r, self.error_text(r))
        return r

    def disconnect(self, client):
        return self.RP1210_ClientDisconnect(client)

    def send(self, client, message, block=True):
        return self.RP1210_SendMessage(client, bytes(message), len(message), 0, 1 if block else 0)

    def command(self, number, client, data=b""):
        buf = ctypes.create_string_buffer(bytes(data), max(len(data), 1))
        return self.RP1210_SendCommand(number, client, buf, len(data))

    def version(self):
        parts = [ctypes.create_string_buffer(1) for _ in range(4)]
        self.RP1210_ReadVersion(*parts)
        return tuple(p.raw[0] for p in parts)
