"""``can.Bus(interface="qvlink", channel="J1939", device=101)``: python-can over QV121032."""

import atexit
import configparser
import ctypes
import os
import threading
import time
import weakref

import can

from .rp1210 import LINK_ERRORS, Rp1210Error, Rp1210Library

# RP1210_ReadMessage result for a buffer this size holds any message the library gives.
_READ_SIZE = 2100
# A filler with bit 7 clear (byte 8's bit 7 asks the library to mask the priority away) that
# no message begins with: a read that wrote nothing is told from a message of the same length.
_FILLER = 0x5A
_J1939_HEADER = 10  # time stamp (4), PGN (3), how/priority, source, destination
_CAN_HEADER = 9     # time stamp (4), type, identifier (4, big-endian)
_MAX_J1939 = 1785
_POLL_S = 0.001

_open_buses = weakref.WeakSet()
_open_lock = threading.Lock()


@atexit.register
def _close_all():
    # A process that ends with a client connected leaves the library to tear down the device
    # at exit; disconnecting first ends the driver's threads in order.
    with _open_lock:
        buses = list(_open_buses)
    for bus in buses:
        try:
            bus.shutdown()
        except Exception:  # noqa: BLE001 - at exit, nothing more to do
            pass


def _default_device():
    """The first of [VendorInformation] Devices in QV121032.ini, as qvlink takes it."""
    path = os.path.join(os.environ.get("QV_PROFILE_DIR", "/etc/qvlink"), "QV121032.ini")
    ini = configparser.ConfigParser(strict=False, interpolation=None)
    if not ini.read(path):
        raise can.CanInitializationError(f"{path} not found: give device=N, or set QV_PROFILE_DIR")
    devices = ini.get("VendorInformation", "Devices", fallback="").split(",")
    try:
        return int(devices[0])
    except ValueError:
        raise can.CanInitializationError(f"{path} lists no device in [VendorInformation] Devices") from None


def j1939_parts(arbitration_id):
    """(priority, PGN, source, destination) of a 29-bit identifier; destination 0xFF for PDU2."""
    pf = (arbitration_id >> 16) & 0xFF
    priority = (arbitration_id >> 26) & 0x07
    source = arbitration_id & 0xFF
    if pf < 240:
        return priority, (arbitration_id >> 8) & 0x3FF00, source, (arbitration_id >> 8) & 0xFF
    return priority, (arbitration_id >> 8) & 0x3FFFF, source, 0xFF


def j1939_id(priority, pgn, source, destination):
    pf = (pgn >> 8) & 0xFF
    ps = destination if pf < 240 else pgn & 0xFF
    return (priority & 7) << 26 | ((pgn >> 16) & 3) << 24 | pf << 16 | ps << 8 | source


class QvLinkBus(can.BusABC):
    """A QvLink adapter through its RP1210 library.

    :param channel: "J1939" (default) or "CAN", the RP1210 protocol of the client.
    :param device: RP1210 device id; default the first device of QV121032.ini.
    :param can_filters: python-can filters, applied here (the adapter passes everything).
    :param library: path or name of QV121032 (default $QV_LIBRARY, else the system's search).
    """

    def __init__(self, channel="J1939", can_filters=None, device=None, library=None, **kwargs):
        protocol = str(channel or "J1939").upper()
        if protocol not in ("J1939", "CAN"):
            raise can.CanInitializationError(f"channel {channel!r}: the QvLink carries J1939 or CAN")
        self._protocol = protocol
        self._client = 0
        try:
            self._lib = Rp1210Library(library)
        except OSError as e:
            raise can.CanInitializationError(str(e)) from e
        self._device = int(device) if device is not None else _default_device()
        try:
            self._client = self._lib.connect(self._device, protocol)
        except Rp1210Error as e:
            raise can.CanInitializationError(str(e), error_code=e.code) from e
        self._lib.command(3, self._client)  # Set_All_Filters_States_to_Pass
        self._buf = bytearray(_READ_SIZE)
        self._io = threading.Lock()
        self.channel_info = f"QvLink device {self._device}, {protocol}"
        with _open_lock:
            _open_buses.add(self)
        super().__init__(channel=protocol, can_filters=can_filters, **kwargs)

    # ---- sending ----

    def _message_bytes(self, msg):
        data = bytes(msg.data or b"")
        if msg.is_remote_frame or msg.is_error_frame or msg.is_fd:
            raise can.CanOperationError("the QvLink sends classic CAN data frames only")
        if self._protocol == "CAN":
            if len(data) > 8:
                raise can.CanOperationError(f"a CAN frame holds at most 8 bytes ({len(data)} given)")
            ident = msg.arbitration_id & (0x1FFFFFFF if msg.is_extended_id else 0x7FF)
            return bytes([1 if msg.is_extended_id else 0]) + ident.to_bytes(4, "big") + data
        if not msg.is_extended_id:
            raise can.CanOperationError("J1939 takes 29-bit identifiers; use channel='CAN' for 11-bit frames")
        if len(data) > _MAX_J1939:
            raise can.CanOperationError(f"a J1939 message holds at most {_MAX_J1939} bytes ({len(data)} given)")
        priority, pgn, source, destination = j1939_parts(msg.arbitration_id)
        # Longer than a frame: BAM to the global address, RTS/CTS to one node.
        how = priority | (0x80 if len(data) > 8 and destination == 0xFF else 0)
        return bytes([pgn & 0xFF, (pgn >> 8) & 0xFF, (pgn >> 16) & 3, how, source, destination]) + data

    def send(self, msg, timeout=None):
        message = self._message_bytes(msg)
        if not self._client:
            raise can.CanOperationError("the bus is shut down")
        with self._io:
            r = self._lib.send(self._client, message, block=True)
        if r != 0:
            raise can.CanOperationError(f"send failed: {self._lib.error_text(r)}", error_code=r)

    # ---- receiving ----

    def _read(self):
        """One non-blocking read: the bytes of a message, or None when none waits."""
        buf = self._buf
        buf[:] = bytes([_FILLER]) * len(buf)
        cbuf = (ctypes.c_char * len(buf)).from_buffer(buf)
        with self._io:
            if not self._client:
                raise can.CanOperationError("the bus is shut down")
            n = self._lib.RP1210_ReadMessage(self._client, cbuf, len(buf), 0)
        if n < 0 or (n in LINK_ERRORS and all(b == _FILLER for b in buf[:_J1939_HEADER])):
            code = -n if n < 0 else n
            if code in LINK_ERRORS:
                raise can.CanOperationError(f"link lost: {self._lib.error_text(code)}", error_code=code)
            return None
        return bytes(buf[:n]) if n > 0 else None

    def _to_message(self, raw):
        now = time.time()
        if self._protocol == "J1939":
            if len(raw) < _J1939_HEADER:
                return None
            pgn = raw[4] | raw[5] << 8 | (raw[6] & 3) << 16
            priority, source = raw[7] & 7, raw[8]
            destination = 0xFF if ((pgn >> 8) & 0xFF) >= 240 else raw[9]
            data = raw[_J1939_HEADER:]
            return can.Message(timestamp=now, arbitration_id=j1939_id(priority, pgn, source, destination),
                               is_extended_id=True, data=data, dlc=len(data), channel=self._protocol,
                               check=False)
        if len(raw) < _CAN_HEADER:
            return None
        extended = raw[4] != 0
        ident = int.from_bytes(raw[5:9], "big") & (0x1FFFFFFF if extended else 0x7FF)
        data = raw[_CAN_HEADER:]
        return can.Message(timestamp=now, arbitration_id=ident, is_extended_id=extended, data=data,
                           dlc=len(data), channel=self._protocol, check=False)

    def _recv_internal(self, timeout):
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            raw = self._read()
            if raw is not None:
                msg = self._to_message(raw)
                if msg is not None:
                    return msg, False
                continue
            if deadline is not None and time.monotonic() >= deadline:
                return None, False
            time.sleep(_POLL_S)

    # ---- the rest ----

    def shutdown(self):
        with self._io:
            client, self._client = self._client, 0
        if client:
            self._lib.disconnect(client)
        with _open_lock:
            _open_buses.discard(self)
        super().shutdown()

    @staticmethod
    def _detect_available_configs():
        try:
            return [{"interface": "qvlink", "channel": "J1939", "device": _default_device()}]
        except Exception:  # noqa: BLE001 - no INI, nothing to offer
            return []

