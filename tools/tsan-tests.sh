#!/usr/bin/env bash
# Runs the threaded tests of a ThreadSanitizer build (-DTVL_TSAN=ON) and fails
# when any process of the run reported a data race, a lock-order inversion or
# another ThreadSanitizer finding.
#
#   tools/tsan-tests.sh [BUILD_DIR] [extra ctest arguments]
#
# BUILD_DIR defaults to build-tsan.  The reports of every process the tests
# start (test programs, tvl4700, mendra, frontpanel-sim, the bus tools) are
# written to BUILD_DIR/tsan-reports/<program>.<pid>: the end-to-end tests keep
# their programs' output in sandboxes that go when the test ends, and a report
# of a child process never changes the test's own exit status.  Suppressions
# (third-party libraries only) are in tools/tsan.supp.
#
# The selection covers the threads: the channel and meter models with scripted
# cards and mendra, the CAN reader, the timers and signals, the SCPI and JSON
# servers, the front panel under the X server of $DISPLAY (widget, main-window,
# menu and page tests) and the end-to-end tests.  Left out: the load tests (a
# minute of traffic each), and the tests of the range tables, the platform
# layer, the simulator's waveforms and crash safety, which run no threads of
# the program's own or only one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}
[ $# -gt 0 ] && shift

reports="$(cd "$build" && pwd)/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="suppressions=$PWD/tools/tsan.supp log_path=$reports/tsan log_exe_name=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"

status=0
ctest --test-dir "$build" --output-on-failure --timeout 600 \
      -L 'channel|meter|can|unit|scpi|json|gui|e2e' -LE load "$@" || status=1

shopt -s nullglob
files=("$reports"/tsan.*)
if [ ${#files[@]} -gt 0 ]; then
  echo "=== ThreadSanitizer reports (${#files[@]} processes; full text in $reports) ==="
  for f in "${files[@]}"; do
    echo "--- $(basename "$f")"
    cat "$f"
  done
  status=1
else
  echo "=== ThreadSanitizer: no report ==="
fi
exit $status
