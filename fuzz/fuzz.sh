#!/usr/bin/env bash
# The fuzzers, by hand and in CI.
#
#   fuzz/fuzz.sh [SECONDS] [NAME...]
#       Builds build-fuzz/ (clang, -DTVL_FUZZ=ON) and runs each named fuzzer
#       (every one when none is named) for SECONDS (default 300), one after
#       the other, at the lowest CPU priority.  Each starts from its corpus
#       fuzz/corpus/NAME; inputs that reach new code collect in
#       build-fuzz/fuzz-work/NAME, crashes in build-fuzz/fuzz-crashes/NAME/.
#   fuzz/fuzz.sh --merge NAME...
#       Adds to fuzz/corpus/NAME the few inputs of the work folder that reach
#       code the corpus does not (keep the corpus small: look before you
#       commit).
#   fuzz/fuzz.sh --smoke BINARY NAME
#       What CTest runs: every input of the corpus, then a short run with a
#       fixed seed (TVL_FUZZ_SMOKE_SECONDS, default 5).  Writes nothing into
#       the corpus.
# A fuzzer's dictionary, when it has one, is fuzz/dict/NAME.dict.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
# Quiet stdout (the models print), and bounds for one input.
common=(-close_fd_mask=1 -timeout=60 -rss_limit_mb=4096 -print_final_stats=1)

# A fuzzer's own options: its dictionary, if it has one; no leak check per
# input for the fuzzers whose models keep their state from one input to the
# next (their allocations outlive an input by design, and a check after
# every input would stop the world each time).
options_of() {
    [ -f "$root/fuzz/dict/$1.dict" ] && echo "-dict=$root/fuzz/dict/$1.dict"
    case " json-request scpi-line can-frames channel-settings meter-settings " in
    *" $1 "*) echo "-detect_leaks=0" ;;
    esac
}

# The fuzzers this build has.
all_names() {
    local name
    for name in $(sed -n 's/^ *tvl_fuzzer(\([a-z-]*\) .*/\1/p' "$root/fuzz/CMakeLists.txt"); do
        [ -x "$build/fuzz/fuzz-$name" ] && echo "$name"
    done
}

build_fuzzers() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTVL_FUZZ=ON -DTVL_BUILD_TESTS=OFF >/dev/null
    nice -n 19 cmake --build "$build" --target fuzzers -j "$(nproc)"
}

case "${1:-}" in
--smoke)
    binary="$2"
    name="$3"
    work="$(mktemp -d /tmp/tvl-fuzz-smoke-XXXXXX)"
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/new"
    "$binary" "${common[@]}" $(options_of "$name") -seed=1 -max_total_time="${TVL_FUZZ_SMOKE_SECONDS:-5}" \
        -artifact_prefix="$work/" "$work/new" "$root/fuzz/corpus/$name"
    ;;
--merge)
    shift
    for name in "$@"; do
        mkdir -p "$root/fuzz/corpus/$name" "$build/fuzz-work/$name"
        "$build/fuzz/fuzz-$name" "${common[@]}" -merge=1 "$root/fuzz/corpus/$name" "$build/fuzz-work/$name"
    done
    ;;
*)
    seconds="${1:-300}"
    [ $# -gt 0 ] && shift
    names=("$@")
    build_fuzzers
    [ ${#names[@]} -gt 0 ] || mapfile -t names < <(all_names)
    status=0
    for name in "${names[@]}"; do
        work="$build/fuzz-work/$name"
        crashes="$build/fuzz-crashes/$name"
        mkdir -p "$work" "$crashes"
        echo "=== fuzz-$name for ${seconds}s"
        nice -n 19 "$build/fuzz/fuzz-$name" "${common[@]}" $(options_of "$name") -max_total_time="$seconds" \
            -artifact_prefix="$crashes/" "$work" "$root/fuzz/corpus/$name" || status=1
    done
    exit $status
    ;;
esac
