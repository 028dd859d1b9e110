#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and runs the demo: the card and
# backplane simulator on the emulated bus "can0" of the build's sandbox, the
# front-panel stand-in, and a bus monitor showing the traffic.  The cards are
# asked to send all their data, as the main program does at start-up, so they
# stream readings once their probes are ready (about 10 s).
# Usage: tools/run-demo.sh [seconds]   (default: run until Ctrl-C)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

bin=build/bin
bus=can0
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM

"$bin/mendra" -can "$bus" & pids+=($!)
if [ -x "$bin/frontpanel-sim" ]; then
  "$bin/frontpanel-sim" -can "$bus" -quiet </dev/null & pids+=($!)
fi
sleep 0.5
for card in 16A 18A 1AA; do "$bin/canbus-send" "$bus" "$card#"; done   # hello to cards 1-3
for card in 165 185 1A5; do "$bin/canbus-send" "$bus" "$card#"; done   # send-all to cards 1-3
"$bin/canbus-send" "$bus" "140#"                                       # backplane status

if [ $# -ge 1 ]; then
  timeout "$1" "$bin/canbus-dump" "$bus" || true
else
  "$bin/canbus-dump" "$bus"
fi
