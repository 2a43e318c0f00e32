"""Reads the sample INI files the way strict RP1210 applications do and checks their ids."""
import configparser
import sys


def load(path):
    raw = open(path, "rb").read()
    if raw.startswith(b"\xef\xbb\xbf"):
        sys.exit(f"{path}: byte-order mark")
    raw.decode("ascii")
    c = configparser.ConfigParser(strict=True, interpolation=None)
    c.optionxform = str
    c.read_string(raw.decode("ascii"), source=path)
    return c


def ids(text):
    if " " in text:
        sys.exit(f"spaces in id list {text!r}")
    return [int(x) for x in text.split(",")]


def main():
    ini = load(sys.argv[1])
    v = ini["VendorInformation"]
    for key in ("Name", "Devices", "Protocols"):
        if key not in v:
            sys.exit(f"VendorInformation lacks {key}")
    devices = ids(v["Devices"])
    for d in devices:
        s = ini[f"DeviceInformation{d}"]
        if int(s["DeviceID"]) != d:
            sys.exit(f"DeviceInformation{d} has DeviceID {s['DeviceID']}")
        fields = s["DeviceParams"].split(",")
        if len(fields) not in (4, 5) or "COM" not in fields[0] or len(fields[3]) != 2:
            sys.exit(f"DeviceInformation{d} DeviceParams {s['DeviceParams']!r}")
    for p in ids(v["Protocols"]):
        s = ini[f"ProtocolInformation{p}"]
        if s["ProtocolString"] not in ("J1939", "J1708", "CAN"):
            sys.exit(f"ProtocolInformation{p} ProtocolString {s['ProtocolString']!r}")
        for d in ids(s["Devices"]):
            if d not in devices:
                sys.exit(f"ProtocolInformation{p} names unknown device {d}")
    # An empty value fails the connect, so every present key carries one.
    for name in ini.sections():
        for key, value in ini[name].items():
            if value == "":
                sys.exit(f"[{name}] {key} is empty")
    flt = load(sys.argv[2])
    total = int(flt["NumberApps"]["total"])
    if not 0 <= total <= 5:
        sys.exit("NumberApps total out of range")
    for i in range(1, total + 1):
        app = flt[f"App{i}"]
        if not app["AppName"] or len(app["AppName"]) > 39:
            sys.exit(f"App{i} AppName")
        for k in range(1, 6):
            f = app.get(f"AppFilter{k}")
            if f is not None and (len(f) != 27 or any(f[j] != "," for j in (3, 7, 11, 15, 19, 23))):
                sys.exit(f"App{i} AppFilter{k} {f!r}")
    print("sample INI files ok:", devices, ids(v["Protocols"]))


main()
