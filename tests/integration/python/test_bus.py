"""qvlink_can against qvlink-sim: python-can finds the interface by its entry point, receives
the simulated bus with timeouts and filters, sends frames and long messages, shuts down.

Needs QV_BIN_DIR: the folder with qvlink-sim and libQV121032.so (a Linux build's bin/).
"""

import os
import signal
import subprocess
import tempfile
import time
import unittest

import can

INI = (
    "[VendorInformation]\nName=QvLink\nDevices=101\nProtocols=1,3\n"
    "[DeviceInformation101]\nDeviceID=101\nDeviceName=QvLink\nDeviceDescription=test\n"
    "DeviceParams=COM5,115200,12345,81,12\n"
    "[ProtocolInformation1]\nProtocolString=J1939\n[ProtocolInformation3]\nProtocolString=CAN\n"
    "[Logging]\nLoggingType=0\n"
)
PGN_MASK = 0x03FFFF00  # a PDU2 PGN's bits of a 29-bit identifier
EEC1 = 61444
VIN = 65260


class Simulator:
    """qvlink-sim on COM5 of a private folder, with QV121032.ini there; the library finds both."""

    def __init__(self):
        bin_dir = os.environ["QV_BIN_DIR"]
        self.dir = tempfile.TemporaryDirectory(prefix="qvlink-can-")
        with open(os.path.join(self.dir.name, "QV121032.ini"), "w") as f:
            f.write(INI)
        os.environ["QV_PROFILE_DIR"] = self.dir.name
        os.environ["QV_PORT_DIR"] = self.dir.name
        os.environ["QV_LIBRARY"] = os.path.join(bin_dir, "libQV121032.so")
        self.process = subprocess.Popen(
            [os.path.join(bin_dir, "qvlink-sim"), "--port-dir", self.dir.name, "--port", "COM5"],
            stdout=subprocess.PIPE, text=True)
        self.pty = self.process.stdout.readline().strip()  # it serves once it names its pty

    def stop(self):
        """What the PC put on the bus, as the simulator reports it when it stops."""
        self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate(timeout=10)
        self.dir.cleanup()
        return out


class QvLinkBusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()
        cls.bus = can.Bus(interface="qvlink", channel="J1939", device=101)

    @classmethod
    def tearDownClass(cls):
        cls.bus.shutdown()
        # The long send reached the bus: the simulator tells what it saw when it stops.
        report = cls.sim.stop()
        if "long-from-pc rts pgn=61184 bytes=100 complete=1" not in report:
            raise AssertionError("the 100-byte RTS/CTS send did not reach the bus:\n" + report)

    def pgn_filter(self, pgn):
        return [{"can_id": pgn << 8, "can_mask": PGN_MASK, "extended": True}]

    def test_filters_pass_only_what_they_name(self):
        self.bus.set_filters(self.pgn_filter(EEC1))
        try:
            for _ in range(5):
                m = self.bus.recv(timeout=3.0)
                self.assertIsNotNone(m)
                self.assertEqual(m.arbitration_id, 0x0CF00400)  # EEC1, priority 3 from the engine
                self.assertTrue(m.is_extended_id)
                self.assertEqual(len(m.data), 8)
            # Nothing passes a filter for a PGN nobody sends: recv gives None at its timeout.
            self.bus.set_filters(self.pgn_filter(0xFF99))
            start = time.monotonic()
            self.assertIsNone(self.bus.recv(timeout=0.5))
            self.assertGreaterEqual(time.monotonic() - start, 0.45)
            self.assertLess(time.monotonic() - start, 2.0)
        finally:
            self.bus.set_filters(None)

    def test_request_answered_by_a_reassembled_message(self):
        self.bus.set_filters(self.pgn_filter(VIN))
        try:
            # A request (PGN 59904) from F9 to the engine at 00 for the VIN.
            self.bus.send(can.Message(arbitration_id=0x18EA00F9, data=[0xEC, 0xFE, 0x00]))
            m = self.bus.recv(timeout=5.0)
        finally:
            self.bus.set_filters(None)
        self.assertIsNotNone(m)
        self.assertEqual(m.arbitration_id & 0x3FFFFFF, VIN << 8)  # from the engine at 00
        self.assertEqual(bytes(m.data), b"1QVLINK0SIM000042*")
        self.assertEqual(m.dlc, 18)

    def test_sends_frames_and_long_messages(self):
        self.bus.send(can.Message(arbitration_id=0x18FF10F9, data=bytes(range(8))))
        self.bus.send(can.Message(arbitration_id=0x18EF00F9, data=bytes([0xA5] * 100)))  # RTS/CTS to 00
        with self.assertRaises(can.CanOperationError):
            self.bus.send(can.Message(arbitration_id=0x7DF, is_extended_id=False, data=[1]))

    def test_device_named_and_bad_arguments_refused(self):
        self.assertIn("device 101", self.bus.channel_info)
        with self.assertRaises(can.CanInitializationError):
            can.Bus(interface="qvlink", channel="J1708", device=101)
        with self.assertRaises(can.CanInitializationError) as e:
            can.Bus(interface="qvlink", channel="J1939", device=7)
        self.assertIn("device 7", str(e.exception))


class QvLinkCanChannelTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator()

    def tearDown(self):
        self.sim.stop()

    def test_raw_frames_and_shutdown_frees_the_client(self):
        # Raw CAN frames, as on the wire.
        other = can.Bus(interface="qvlink", channel="CAN", device=101,
                        can_filters=[{"can_id": 0x0CF00400, "can_mask": 0x1FFFFFFF, "extended": True}])
        m = other.recv(timeout=5.0)
        self.assertIsNotNone(m)
        self.assertEqual((m.arbitration_id, m.is_extended_id, m.dlc), (0x0CF00400, True, 8))
        other.send(can.Message(arbitration_id=0x7DF, is_extended_id=False, data=[2, 1, 0]))
        other.shutdown()
        with self.assertRaises(can.CanOperationError):
            other.send(can.Message(arbitration_id=0x7DF, is_extended_id=False, data=[1]))
        again = can.Bus(interface="qvlink", channel="CAN")  # the device from QV121032.ini
        self.assertIsNotNone(again.recv(timeout=5.0))
        again.shutdown()


if __name__ == "__main__":
    unittest.main()
