#!/usr/bin/env python3
"""Collects the parts' results from BUILD_DIR, prints the table and writes BUILD_DIR/report.json.

A part that was not built or failed leaves its rows "not measured": no figure is ever filled in.
"""
import json
import os
import platform
import sys
import time

ROWS = [
    ("1", "receive latency p50/p99/max vs a bare poll reader"),
    ("2", "receive throughput vs line rate / wire bytes per message"),
    ("3", "transmit throughput vs line rate / frame size"),
    ("4", "long messages (1785 bytes, RTS/CTS and BAM) vs line time + waits"),
    ("5", "connect and disconnect vs the fixed waits"),
    ("6", "idle cost: CPU share and resident memory"),
    ("7", "micro-benchmarks vs their previous run"),
]


def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


# Goals per row: (text, test of the row). A row without one reports its figure only.
GOALS = {
    "1b": ("within 1 ms of the bare reader", lambda r: r["figure"] <= r["limit"] + 1.0),
    "3b": (">= 0.90 of the line limit", lambda r: r["ratio"] >= 0.90),
    "4c": ("<= 1.10 x line time", lambda r: r["ratio"] <= 1.10),
    "4d": ("<= 1.10 x line time", lambda r: r["ratio"] <= 1.10),
    "5a": ("<= 1.06 x fixed waits", lambda r: r["ratio"] <= 1.06),
    "5b": ("<= 1.06 x fixed waits", lambda r: r["ratio"] <= 1.06),
    "5d": ("<= 1.05 x fixed waits", lambda r: r["ratio"] <= 1.05),
    "6a": ("under 0.5 % of a core", lambda r: r["figure"] < 0.5),
    "6b": ("under 4 MiB", lambda r: r["figure"] < 4.0),
}


def judge(row):
    """Sets the row's goal text and whether it was met (None: no goal)."""
    goal = GOALS.get(row["row"])
    if goal is not None:
        row["goal"] = goal[0]
        row["met"] = bool(goal[1](row))
    elif row.get("goal", "").endswith("(met)") or row.get("goal", "").endswith("(missed)"):
        # The part judged the row itself (it alone saw the losses).
        row["met"] = row["goal"].endswith("(met)")
        row["goal"] = row["goal"].rsplit(" (", 1)[0]
    else:
        row["met"] = None


def micro_rows(data, previous):
    """Rows of the Google Benchmark run, each beside its own figure of the previous run."""
    by_name = {b["name"]: b for b in data.get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"}

    def figure(b, unit):
        if unit == "MB/s":
            return b["bytes_per_second"] / 1e6
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        return b["cpu_time"] * scale

    rows = []
    for row, name, bench, unit in (
            ("7a", "frame reader, 1-record RX frames (28 B)", "BM_FrameReader/1", "MB/s"),
            ("7b", "frame reader, 5-record RX frames (100 B)", "BM_FrameReader/5", "MB/s"),
            ("7c", "byte queue put+take, 30 B records", "BM_ByteQueue/30", "MB/s"),
            ("7d", "byte queue put+take, 128 B records", "BM_ByteQueue/128", "MB/s"),
            ("7e", "driver: encode J1939 send (RF + TX frame)", "BM_DriverEncodeJ1939Send", "ns/msg"),
            ("7f", "driver: encode long-message chunk", "BM_DriverEncodeLongChunk", "ns/msg"),
            ("7g", "driver: decode 5-record batch", "BM_DriverDecodeBatch", "ns/msg"),
            ("7h", "sim: encode RX16 frame", "BM_SimEncodeRx16", "ns/msg"),
            ("7i", "sim: parse TX request", "BM_SimParseTxRequest", "ns/msg"),
            ("7j", "sim: J1939 id encode+decode", "BM_SimJ1939Id", "ns/msg")):
        b = by_name.get(bench)
        if b is None or "error_occurred" in b:
            rows.append({"row": row, "name": name, "status": "not measured"})
            continue
        f = figure(b, unit)
        before = previous.get(row)
        note = "limit: this row's figure in the previous run" if before else "no previous run: limit is this run"
        lim = before if before else f
        rows.append({"row": row, "name": name, "unit": unit, "figure": f, "limit": lim, "ratio": f / lim,
                     "goal": "regression figure", "note": note})
    return rows


def previous_micro(build):
    """Figures of the micro rows in the last full run's report, to set this run's beside them."""
    old = load(os.path.join(build, "report.json"))
    if not old or old.get("smoke"):
        return {}
    return {r["row"]: r["figure"] for r in old.get("rows", [])
            if r["row"].startswith("7") and r.get("figure") and r.get("status") != "not measured"}


def fmt(v):
    if v is None:
        return "-"
    if abs(v) >= 100:
        return "%.0f" % v
    if abs(v) >= 1:
        return "%.2f" % v
    return "%.3f" % v


def main():
    build = sys.argv[1]
    smoke = "--smoke" in sys.argv[2:]
    parts = {}
    micro = load(os.path.join(build, "bench-micro.json"))
    if micro is not None:
        parts["7"] = micro_rows(micro, previous_micro(build))
    for row, file in (("1", "bench-latency.json"), ("2", "bench-throughput.json"), ("3", "bench-transmit.json"),
                      ("4", "bench-long.json"), ("5", "bench-connect.json"),
                      ("6", "bench-idle.json")):
        data = load(os.path.join(build, file))
        if data is not None:
            parts[row] = data["rows"]

    rows = []
    for row, title in ROWS:
        got = parts.get(row)
        if not got:
            rows.append({"row": row, "name": title, "status": "not measured"})
        else:
            rows.extend(got)
    for r in rows:
        if r.get("status") != "not measured":
            judge(r)

    build_type = "unknown"
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    build_type = line.split("=", 1)[1].strip() or "unknown"
    except OSError:
        pass

    nproc = len(os.sched_getaffinity(0))
    print("machine: %d cores, kernel %s; build type %s%s" % (nproc, platform.release(), build_type,
                                                          "; SMOKE RUN (figures not meaningful)" if smoke else ""))
    head = ("row", "figure", "limit", "ratio", "goal", "what")
    table = []
    for r in rows:
        if r.get("status") == "not measured":
            table.append((r["row"], "not measured", "-", "-", "-", r["name"]))
        else:
            unit = r.get("unit", "")
            met = {True: " (met)", False: " (missed)", None: ""}[r["met"]]
            table.append((r["row"], "%s %s" % (fmt(r["figure"]), unit), "%s %s" % (fmt(r["limit"]), unit),
                          fmt(r["ratio"]), r.get("goal", "-") + met, r["name"]))
    widths = [max(len(str(x[i])) for x in table + [head]) for i in range(len(head))]
    line = "  ".join("%-*s" % (widths[i], head[i]) for i in range(len(head)))
    print(line)
    print("-" * len(line))
    for t in table:
        print("  ".join("%-*s" % (widths[i], t[i]) for i in range(len(head))))
    print("ratio = figure / limit: for a rate the share of the limit reached, for a time the multiple of it")
    notes = [(r["row"], r["note"]) for r in rows if r.get("note")]
    if notes:
        print()
        for row, note in notes:
            print("%-4s %s" % (row, note))

    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    machine = {"nproc": nproc, "kernel": platform.release(), "arch": platform.machine(), "cpu": cpu}
    if micro is not None:
        # Debian ships libbenchmark built as "debug": its own loop, not the code measured (Release).
        machine["benchmark_library_build_type"] = micro.get("context", {}).get("library_build_type", "")
    goals = [r for r in rows if r.get("met") is not None]
    missed = [r["row"] for r in goals if not r["met"]]
    print("goals: %d of %d met%s" % (len(goals) - len(missed), len(goals), "; missed: " + " ".join(missed) if missed else ""))
    report = {
        "date": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
        "machine": machine,
        "build_type": build_type,
        "smoke": smoke,
        "rows": rows,
    }
    with open(os.path.join(build, "report.json"), "w") as f:
        json.dump(report, f, indent=2)
        f.write("\n")
    print("\nreport: %s" % os.path.join(build, "report.json"))


if __name__ == "__main__":
    main()
