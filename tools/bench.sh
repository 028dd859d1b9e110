#!/usr/bin/env bash
# Runs every benchmark, one after the other, and prints their figures
# (docs/performance.md says which line gives which figure).  Not part
# of the tests: run it by hand on a quiet machine.
#
#   tools/bench.sh [BUILD_DIR] [-quick]
#
# BUILD_DIR defaults to build (a release build with debug info: the figures
# of a sanitizer build mean nothing).  The bench programs are built first.
# -quick runs each for a shorter time (a check that they all work, not
# figures).  The GUI benchmarks need an X server: one of their own is
# started here (bench-frontpanel and bench-startup start their own).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
quick=0
for a in "$@"; do
  case "$a" in
    -quick) quick=1 ;;
    -*) echo "usage: tools/bench.sh [BUILD_DIR] [-quick]" >&2; exit 2 ;;
    *) build=$a ;;
  esac
done
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench-canbus bench-mendra bench-channel bench-readouts bench-remote \
      tvl4700 mendra frontpanel-sim sandbox >/dev/null
bin="$build/bin"

exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 20 display_number <&5 || { echo "Xvfb did not start" >&2; exit 1; }
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT

if [ $quick = 1 ]; then
  secs=2 n=2000 runs=1 channel_args=(--benchmark_min_time=0.05)
else
  secs=10 n=20000 runs=5 channel_args=()
fi

status=0
run() {
  echo
  echo "=== $*"
  "$@" || { echo "*** failed: $*"; status=1; }
}
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), build $build"
run "$bin/bench-canbus" $((secs < 3 ? 1 : 3))
run "$bin/bench-mendra" -seconds $secs
run "$bin/bench-channel" "${channel_args[@]}"
run env DISPLAY=":$display_number" "$bin/bench-readouts" -seconds $secs
run "$bin/bench-remote" -n $n
run /usr/bin/python3 bench/frontpanel/bench-frontpanel.py -build "$build" -seconds $((secs * 2))
run /usr/bin/python3 bench/startup/bench-startup.py -build "$build" -runs $runs
echo
echo "machine load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
