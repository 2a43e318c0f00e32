"""Reads QV121032.ini and QvFilter.ini the way strict RP1210C applications do and checks each
value against what the library really does with it.
Usage: check_ini.py QV121032.ini QvFilter.ini [PRODUCT_VERSION]"""
import configparser
import re
import sys

TEXT, NUM, IDS = r".+", r"[0-9]+", r"[0-9]+(,[0-9]+)*"  # id lists carry no spaces
BYTE = r"([0-9]{1,2}|1[0-9]{2}|2[0-4][0-9]|25[0-5])"
FILTER_BYTE = r"([01][0-9]{2}|2[0-4][0-9]|25[0-5])"  # three digits, at most 255
# Section name pattern -> {key pattern: value pattern}, all matched whole; a key marked "?" may
# be absent; any other key or section goes unread (an application reads Telephone, not Phone).
DEVICE_FILE = {
    "VendorInformation": {
        **{k: TEXT for k in ["Name", "Address1", "City", "Telephone", "VendorURL", "ErrorString"]},
        **{"?" + k: TEXT for k in ["Address2", "State", "Country", "Postal", "Fax", "DebugLevel", "DebugFile",
                                   "DebugMode", "DebugFileSize", "CANAutoBaud"]},
        "Version": TEXT, "RP1210": "C", "Devices": IDS, "Protocols": IDS,
        "TimeStampWeight": "1000",  # the adapter stamps in ms and the library passes it on unchanged
        "AutoDetectCapable": "No",  # the library finds no device by itself: DeviceParams names it
        "MessageString": "QV1210MessageString",  # the window message the driver posts per arrival
        "?NumberOfRTSCTSSessions": "1",  # one reassembly at a time
        # The library reads only the protocol name, so no format with bit timing is honoured.
        "CANFormatsSupported": "[45](,[45])*", "J1939FormatsSupported": "[12](,[12])*",
        "J1708FormatsSupported": "[12](,[12])*"},
    # At most 3 digits build the section name; the port is read positionally (at most 9
    # characters, bound only when it names a COM port), then baud and address of at most 9
    # digits, two digits of line format, an optional channel.
    r"DeviceInformation[1-9][0-9]{0,2}": {
        "DeviceID": NUM, "DeviceDescription": TEXT, "DeviceName": TEXT, "?MultiCANChannels": NUM,
        "?MultiJ1939Channels": NUM,
        "DeviceParams": r"(?=[^,]*(COM|Com))[^,]{1,9},[0-9]{1,9},[0-9]{1,9},[78][12](,[0-9]{1,2})?"},
    # The speed each protocol then runs at (command 45 reports it).
    r"ProtocolInformation[0-9]+": {
        "ProtocolString": "J1939|J1708|CAN", "ProtocolDescription": TEXT, "ProtocolParams": TEXT,
        "ProtocolSpeed": "250|9600", "Devices": IDS},
    # Read at every connect: an empty or absent key there fails the connect (129).
    "ReconnectSettings": {"ReconnectTime": NUM}, "Packing": {"PackingType": "[01]"},
    "Logging": {"LoggingType": "[0124]", "?FileName": TEXT, "?Socket": NUM},
    "TXBlock": {"TXBlockType": NUM}, "TXErrorCounters": {"CounterEnable": BYTE},
    "RFAck": {"?Devices": IDS, "RFAck": "[012]"}, "Filter": {"FilterType": "[01]"},
}
# More than five applications, or a longer name, and the library refuses the whole file.
FILTER_FILE = {"NumberApps": {"total": "[0-5]"},
               "App[1-5]": {"AppName": ".{1,39}", "?AppFilter[1-5]": f"{FILTER_BYTE}(,{FILTER_BYTE}){{6}}"}}
SPEED = {"J1939": "250", "CAN": "250", "J1708": "9600"}
problems = []


def check(path, rules):
    raw = open(path, "rb").read()
    if raw.startswith(b"\xef\xbb\xbf"):
        sys.exit(f"{path}: byte-order mark")
    ini = configparser.ConfigParser(strict=True, interpolation=None)
    ini.optionxform = str  # applications look keys up with their exact case
    ini.read_string(raw.decode("ascii"), source=path)
    for name in ini.sections():
        keys = next((k for s, k in rules.items() if re.fullmatch(s, name)), None)
        if keys is None:
            problems.append(f"[{name}] is not a section anyone reads")
            continue
        for key, value in ini[name].items():
            want = next((v for k, v in keys.items() if re.fullmatch(k.lstrip("?"), key)), None)
            if want is None or not re.fullmatch(want, value):
                problems.append(f"[{name}] {key}={value!r}" + ("" if want else " is not read"))
        for key in keys:
            if not key.startswith("?") and key not in ini[name]:
                problems.append(f"[{name}] lacks {key}")
    return ini


def ids(text):
    return [int(x) for x in text.split(",")] if re.fullmatch(IDS, text or "") else []


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    ini = check(sys.argv[1], DEVICE_FILE)
    v = ini["VendorInformation"]
    expect = [(len(sys.argv) < 4 or v.get("Version") == sys.argv[3], "Version is not the product's"),
              (v.get("ErrorString") != v.get("MessageString"), "ErrorString would take data notifications"),
              (ini.get("Logging", "LoggingType", fallback="0") not in ("1", "4") or ini.has_option("Logging", "FileName"),
               "a file log needs FileName"),
              (ini.get("Logging", "LoggingType", fallback="0") not in ("2", "4") or ini.has_option("Logging", "Socket"),
               "a socket log needs Socket")]
    devices = ids(v.get("Devices"))
    for d in devices:
        s = f"DeviceInformation{d}"
        expect.append((ini.get(s, "DeviceID", fallback=None) == str(d), f"[{s}] missing or its DeviceID differs"))
    names = [ini.get(f"ProtocolInformation{p}", "ProtocolString", fallback=None) for p in ids(v.get("Protocols"))]
    expect.append((None not in names and len(set(names)) == len(names), f"protocols listed {names}"))
    for p in ids(v.get("Protocols")):
        s = f"ProtocolInformation{p}"
        speed = SPEED.get(ini.get(s, "ProtocolString", fallback=""))
        expect.append((ini.get(s, "ProtocolSpeed", fallback=None) == speed, f"[{s}] the library runs it at {speed}"))
        expect.append((set(ids(ini.get(s, "Devices", fallback=""))) <= set(devices), f"[{s}] names an unknown device"))
    flt = check(sys.argv[2], FILTER_FILE)
    total = int(flt.get("NumberApps", "total", fallback="0"))
    expect += [(flt.has_section(f"App{i}"), f"[App{i}] missing") for i in range(1, total + 1)]
    problems.extend(why for ok, why in expect if not ok)
    if problems:
        sys.exit("\n".join(problems))
    print("INI files ok: devices", devices, "protocols", sorted(names))


main()
