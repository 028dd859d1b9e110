#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: a normal build, a build
# with AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests in
# a ThreadSanitizer build (tools/tsan-tests.sh), and a short run of each
# fuzzer.  GUI tests share one Xvfb started here.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

jobs=$(nproc)
# Every build here treats a warning in the project's own code as an error.
werror=-DTVL_WERROR=ON
# Most end-to-end tests spend their time waiting for the instrument (probes
# getting ready, replies): twice as many tests as cores keep the cores busy.
test_jobs=$((2 * jobs))
# The normal build, configured as tools/run-demo.sh configures it.
source tools/build-config.sh
configure_normal_build
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja "$werror" -DCMAKE_BUILD_TYPE=Debug -DTVL_SANITIZE=ON
cmake --build build-asan -j "$jobs"
cmake -S . -B build-tsan -G Ninja "$werror" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVL_TSAN=ON
cmake --build build-tsan -j "$jobs"
# The fuzzers (clang, AddressSanitizer and UndefinedBehaviorSanitizer), without the rest of the tree.
cmake -S . -B build-fuzz -G Ninja "$werror" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DTVL_FUZZ=ON -DTVL_BUILD_TESTS=OFF
cmake --build build-fuzz --target fuzzers -j "$jobs"

# One X server for the whole run.
exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 20 display_number <&5 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display_number"
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT

status=0
echo "=== tests (sanitizers; the load tests run in the normal build only) ==="
ctest --test-dir build-asan --output-on-failure -j "$test_jobs" --timeout 600 -LE load || status=1
echo "=== threaded tests under ThreadSanitizer ==="
tools/tsan-tests.sh build-tsan -j "$test_jobs" || status=1
echo "=== fuzzers: every corpus input, then a few seconds of fuzzing each ==="
ctest --test-dir build-fuzz --output-on-failure -j "$jobs" --timeout 600 -L fuzz || status=1
echo "=== tests ==="
ctest --test-dir build --output-on-failure -j "$test_jobs" --timeout 600 || status=1
if [ $status -ne 0 ]; then
  echo "=== failed tests, in short (their whole output is above) ==="
  /usr/bin/python3 tools/ctest-failures.py build-asan build-tsan build-fuzz build || true
fi
exit $status
