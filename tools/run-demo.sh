#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and runs the instrument: mendra
# (the three channel cards and the backplane), tvl4700 (the main program,
# its front panel on the screen) and frontpanel-sim (the front-panel keys,
# typed in this terminal), on an emulated CAN bus of their own; serial-link
# and gpib-sim stand in for the RS-232 cable and the GPIB controller, so that
# SCPI runs over TCP, RS-232 and GPIB.  The bus
# name starts with 'v', so tvl4700 also skips loading the channel processors.
#
# With no X display (a headless machine) the front panel runs on a virtual
# X server, and a picture of its screen, renewed every second, is kept in
# build/screen.png.
#
# Usage: tools/run-demo.sh [seconds]   (default: until Ctrl-C or q)
# Ctrl-C, or SIGINT or SIGTERM sent to this script alone, ends everything it
# started.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
# build/ configured as tools/run-tests.sh configures it: no rebuild between them.
source tools/build-config.sh
configure_normal_build >/dev/null
cmake --build build -j "$(nproc)"

bin=build/bin
bus=vdemo$$
logs=build/demo
mkdir -p "$logs"
pids=()
pictures=   # the picture loop, when there is one

# Ends a process started here and its children.  A loop's children are
# looked up before the loop ends: once it has gone they are no longer its
# children.
stop() {
  children=$(pgrep -P "$1" 2>/dev/null || true)
  kill -TERM "$1" 2>/dev/null || true
  for c in $children; do kill -TERM "$c" 2>/dev/null || true; done
  wait "$1" 2>/dev/null || true
}

# Ends everything started here: the picture loop first, so that its last
# picture shows the instrument and not the screen the programs leave; then
# the others, the last started first (the X server last).
stop_all() {
  trap - EXIT INT TERM
  if [ -n "$pictures" ]; then stop "$pictures"; fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    stop "${pids[i]}"
  done
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -z "${DISPLAY:-}" ] || ! xwininfo -root >/dev/null 2>&1; then
  # In a session of its own, so that Ctrl-C does not end it before tvl4700.
  exec 5< <(exec setsid Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>/dev/null)
  pids+=($!)
  read -r -t 20 number <&5 || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$number"
  (
    trap 'exit 0' TERM
    while :; do
      "$bin/x11-screenshot" -region 0,0,640,480 build/screen.png 2>/dev/null || true
      sleep 1 &
      wait $!
    done
  ) &
  pictures=$!
  echo "No display: the front panel runs on a virtual X server ($DISPLAY)."
  echo "Its picture, renewed every second: $(pwd)/build/screen.png"
fi

"$bin/mendra" -can "$bus" >"$logs/mendra.log" 2>&1 &
pids+=($!)
# The RS-232 cable and the GPIB controller, before tvl4700 opens its ports.
ports=build/sandbox/run/ports
rm -f "$ports/gpib" "$ports/scpi"   # a former run's
"$bin/serial-link" >"$logs/serial-link.log" 2>&1 &
pids+=($!)
"$bin/gpib-sim" >"$logs/gpib-sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -e build/sandbox/dev/ttyS0 ] && [ -s "$ports/gpib" ] && break
  sleep 0.1
done
"$bin/tvl4700" -can "$bus" -skipBootload >"$logs/tvl4700.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$ports/scpi" ] && break
  sleep 0.1
done
echo "mendra and tvl4700 run on the bus $bus; their output: $logs/mendra.log, $logs/tvl4700.log"
echo "SCPI: TCP port $(cat "$ports/scpi" 2>/dev/null) on 127.0.0.1;"
echo "  RS-232 at 9600 baud on $(pwd)/build/sandbox/dev/ttyS0-client (serial-link, $logs/serial-link.log);"
echo "  GPIB address 1 behind 127.0.0.1:$(cat "$ports/gpib" 2>/dev/null) (gpib-sim, $logs/gpib-sim.log)."
echo "The probes are ready about 10 s after the start."

# The keys: frontpanel-sim reads them from this terminal (Ctrl-C or q ends).
# Everything runs in the background and the script waits for it: a wait,
# unlike a command in the foreground, is cut short by a signal, so that the
# traps run at once also when the signal reaches this script alone.
if [ $# -ge 1 ]; then
  "$bin/frontpanel-sim" -can "$bus" -quiet </dev/null &
  pids+=($!)
  sleep "$1" &
  pids+=($!)
  wait $!
else
  "$bin/frontpanel-sim" -can "$bus" -quiet <&0 &
  pids+=($!)
  wait $!
fi
