#!/bin/sh
# Runs every benchmark that is built in BUILD_DIR, prints one table and writes
# BUILD_DIR/report.json. --smoke runs each part briefly (CI: keeps them building and running;
# the figures of a smoke run mean nothing and nothing is asserted).
#   bench/run.sh build/bench [--smoke]
set -u
if [ $# -lt 1 ]; then
  echo "usage: bench/run.sh BUILD_DIR [--smoke]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
smoke=
[ "${2:-}" = "--smoke" ] && smoke=--smoke
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bin
status=0

# Results of an earlier run must not pass for this run's.
rm -f "$build"/bench-micro.json "$build"/bench-latency.json "$build"/bench-throughput.json \
      "$build"/bench-transmit.json "$build"/bench-long.json \
      "$build"/bench-connect.json "$build"/bench-idle.json

# part NAME OUTPUT COMMAND...: runs one part; its output file is kept only when it succeeded.
part() {
  name=$1 out=$2
  shift 2
  if [ ! -x "$1" ]; then
    echo "bench: $name not built ($1)" >&2
    return 0
  fi
  echo "bench: $name ..." >&2
  if "$@" >"$out.tmp"; then
    mv "$out.tmp" "$out"
  else
    echo "bench: $name FAILED; its rows stay unmeasured" >&2
    rm -f "$out.tmp"
    status=1
  fi
}

if [ -n "$smoke" ]; then
  micro_time=0.01 rounds=1 seconds=1 count=200
else
  micro_time=0.5 rounds=5 seconds=10 count=2000
fi

# Google Benchmark writes its JSON to the file; its console table goes to stderr here.
if [ -x "$bin/qv_micro_bench" ]; then
  echo "bench: micro-benchmarks ..." >&2
  if "$bin/qv_micro_bench" --benchmark_min_time=$micro_time --benchmark_out_format=json \
       --benchmark_out="$build/bench-micro.json.tmp" >&2; then
    mv "$build/bench-micro.json.tmp" "$build/bench-micro.json"
  else
    echo "bench: micro-benchmarks FAILED" >&2
    rm -f "$build/bench-micro.json.tmp"
    status=1
  fi
else
  echo "bench: micro-benchmarks not built" >&2
fi
part "receive latency" "$build/bench-latency.json" "$bin/qv_link_bench" latency --count $count
part "receive throughput" "$build/bench-throughput.json" "$bin/qv_link_bench" throughput --count $count
part "transmit throughput" "$build/bench-transmit.json" "$bin/qv_link_bench" transmit --count $count
part "long messages" "$build/bench-long.json" "$bin/qv_link_bench" long
part "connect/disconnect" "$build/bench-connect.json" "$bin/qv_link_bench" connect --rounds $rounds
part "idle cost" "$build/bench-idle.json" "$bin/qv_link_bench" idle --seconds $seconds

python3 "$here/report.py" "$build" $smoke || status=1
exit $status
