"""Reads QV121032.ini and QvFilter.ini the way strict RP1210C applications do and checks each
value against what the library really does with it.
Usage: check_ini.py QV121032.ini QvFilter.ini [PRODUCT_VERSION]"""
import configparser
import re
import sys

problems = []


def fail(text):
    problems.append(text)


def load(path):
    raw = open(path, "rb").read()
    if raw.startswith(b"\xef\xbb\xbf"):
        sys.exit(f"{path}: byte-order mark")
    c = configparser.ConfigParser(strict=True, interpolation=None)
    c.optionxform = str  # applications look keys up with their exact case
    c.read_string(raw.decode("ascii"), source=path)
    # An empty value fails the connect (129) for the keys the library reads; applications
    # fall back on defaults for the rest, so no key is written empty.
    for name in c.sections():
        for key, value in c[name].items():
            if value == "":
                fail(f"[{name}] {key} is empty")
    return c


def ids(where, text):
    if not re.fullmatch(r"[0-9]+(,[0-9]+)*", text):
        fail(f"{where} {text!r} is not a comma-separated id list without spaces")
        return []
    return [int(x) for x in text.split(",")]


def need(section, keys, where):
    for key in keys:
        if key not in section:
            fail(f"{where} lacks {key}")


# RP1210C names applications read; a key spelled otherwise (Phone, TimestampWeight) goes unread.
VENDOR_KEYS = ["Name", "Address1", "City", "Telephone", "VendorURL", "Version", "RP1210", "TimeStampWeight",
               "AutoDetectCapable", "MessageString", "ErrorString", "CANFormatsSupported",
               "J1939FormatsSupported", "J1708FormatsSupported", "Devices", "Protocols"]
KNOWN_VENDOR_KEYS = VENDOR_KEYS + ["Address2", "State", "Country", "Postal", "Fax", "DebugLevel", "DebugFile",
                                   "DebugMode", "DebugFileSize", "NumberOfRTSCTSSessions", "CANAutoBaud"]

# Protocol strings the library connects, with the speed it then runs (command 45 reports it in
# bit/s) and the connect-string formats it honours: it reads only the protocol name, so a format
# carrying bit-timing parameters cannot be honoured. J1939 1 "J1939:Baud=X", 2 "J1939";
# CAN 4 "CAN", 5 "CAN:Baud=X"; J1708 1 "J1708:Baud=X", 2 "J1708".
PROTOCOLS = {"J1939": ("250", "J1939FormatsSupported", {1, 2}),
             "CAN": ("250", "CANFormatsSupported", {4, 5}),
             "J1708": ("9600", "J1708FormatsSupported", {1, 2})}


def check_device_params(where, value):
    # The library's positional reading: port (at most 9 characters, bound only when it names a
    # COM port), baud and address (at most 9 digits), exactly two digits of line format, then
    # an optional channel of at most two digits.
    m = re.fullmatch(r"([^,]{1,9}),([0-9]{1,9}),([0-9]{1,9}),([0-9]{2})(?:,([0-9]{1,2}))?", value)
    if not m:
        fail(f"{where} DeviceParams {value!r} is not port,baud,address,format[,channel]")
        return
    if "COM" not in m.group(1) and "Com" not in m.group(1):
        fail(f"{where} DeviceParams port {m.group(1)!r} names no COM port")
    data_bits, stop_bits = int(m.group(4)[0]), int(m.group(4)[1])
    if data_bits not in (7, 8) or stop_bits not in (1, 2):
        fail(f"{where} DeviceParams line format {m.group(4)!r}")


def check_device_file(ini, version):
    v = ini["VendorInformation"]
    need(v, VENDOR_KEYS, "[VendorInformation]")
    lower = {k.lower(): k for k in KNOWN_VENDOR_KEYS}
    for key in v:
        if key not in KNOWN_VENDOR_KEYS:
            fail(f"[VendorInformation] {key} is not a name applications read"
                 + (f" (they read {lower[key.lower()]})" if key.lower() in lower else ""))
    expect = {"RP1210": "C",
              # the window message the driver registers and posts for each arrival
              "MessageString": "QV1210MessageString",
              # the adapter stamps in milliseconds and the library passes the stamp on unchanged
              "TimeStampWeight": "1000",
              # the library finds no device by itself: DeviceParams names its port
              "AutoDetectCapable": "No",
              # one RTS/CTS reassembly at a time
              "NumberOfRTSCTSSessions": "1"}
    if version:
        expect["Version"] = version
    for key, want in expect.items():
        if v.get(key) != want:
            fail(f"[VendorInformation] {key}={v.get(key)!r}, expected {want!r}")
    if v.get("ErrorString") == v.get("MessageString"):
        fail("[VendorInformation] ErrorString would take data notifications for errors")

    devices = ids("[VendorInformation] Devices", v.get("Devices", ""))
    for d in devices:
        where = f"[DeviceInformation{d}]"
        if not 1 <= d <= 999:  # the library builds the section name from at most 3 digits
            fail(f"{where} id out of 1..999")
        if where[1:-1] not in ini:
            fail(f"{where} missing")
            continue
        s = ini[where[1:-1]]
        need(s, ["DeviceID", "DeviceDescription", "DeviceName", "DeviceParams"], where)
        if s.get("DeviceID") != str(d):
            fail(f"{where} DeviceID {s.get('DeviceID')!r}")
        check_device_params(where, s.get("DeviceParams", ""))

    seen = set()
    for p in ids("[VendorInformation] Protocols", v.get("Protocols", "")):
        where = f"[ProtocolInformation{p}]"
        if where[1:-1] not in ini:
            fail(f"{where} missing")
            continue
        s = ini[where[1:-1]]
        need(s, ["ProtocolString", "ProtocolDescription", "ProtocolSpeed", "ProtocolParams", "Devices"], where)
        name = s.get("ProtocolString")
        if name not in PROTOCOLS:
            fail(f"{where} ProtocolString {name!r} is not one the library connects")
            continue
        if name in seen:
            fail(f"{where} {name} listed twice")
        seen.add(name)
        speed, formats_key, honoured = PROTOCOLS[name]
        if s.get("ProtocolSpeed") != speed:
            fail(f"{where} ProtocolSpeed {s.get('ProtocolSpeed')!r}: the library runs {name} at {speed} only")
        formats = ids(f"[VendorInformation] {formats_key}", v.get(formats_key, ""))
        if not formats or not set(formats) <= honoured:
            fail(f"[VendorInformation] {formats_key} {formats}: the library honours {sorted(honoured)}")
        for d in ids(f"{where} Devices", s.get("Devices", "")):
            if d not in devices:
                fail(f"{where} names unknown device {d}")

    # The sections the library reads at every connect.
    def number(section, key, allowed=None):
        if section not in ini or key not in ini[section]:
            return None
        text = ini[section][key]
        if not re.fullmatch(r"[0-9]+", text) or (allowed is not None and int(text) not in allowed):
            fail(f"[{section}] {key}={text!r}")
            return None
        return int(text)

    number("ReconnectSettings", "ReconnectTime")
    logging = number("Logging", "LoggingType", {0, 1, 2, 4})
    if logging in (1, 4):
        need(ini["Logging"], ["FileName"], "[Logging] with a file sink")
    if logging in (2, 4):
        need(ini["Logging"], ["Socket"], "[Logging] with a socket sink")
    number("Packing", "PackingType", {0, 1})
    number("TXBlock", "TXBlockType")
    number("TXErrorCounters", "CounterEnable", set(range(256)))
    if "RFAck" in ini and "Devices" in ini["RFAck"]:
        ids("[RFAck] Devices", ini["RFAck"]["Devices"])
    number("RFAck", "RFAck", {0, 1, 2})
    number("Filter", "FilterType", {0, 1})
    return devices, sorted(seen)


def check_filter_file(flt):
    total = int(flt["NumberApps"]["total"])
    if not 0 <= total <= 5:
        fail("[NumberApps] total out of 0..5: the library refuses the whole file")
    for i in range(1, total + 1):
        app = flt[f"App{i}"]
        if not 0 < len(app.get("AppName", "")) <= 39:
            fail(f"[App{i}] AppName")
        for k in range(1, 6):
            f = app.get(f"AppFilter{k}")
            if f is not None and not re.fullmatch(r"[0-9]{3}(,[0-9]{3}){6}", f):
                fail(f"[App{i}] AppFilter{k} {f!r} is not seven three-digit numbers")
            elif f is not None and any(int(x) > 255 for x in f.split(",")):
                fail(f"[App{i}] AppFilter{k} {f!r} has a number above 255")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    devices, protocols = check_device_file(load(sys.argv[1]), sys.argv[3] if len(sys.argv) == 4 else None)
    check_filter_file(load(sys.argv[2]))
    if problems:
        print("\n".join(problems))
        sys.exit(1)
    print("INI files ok: devices", devices, "protocols", protocols)


main()
