#!/usr/bin/env bash
# Builds the fuzz targets of the file readers with clang (tests/fuzz) and runs each for a bounded
# time, as many at once as there are cores; fails on any crash, leak, hang or broken property.
# Prints the runs each target made. KW_FUZZ_SECONDS sets the time per target (20 s by default).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${KW_FUZZ_SECONDS:-20}
jobs=$(nproc)

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DKOPIERWART_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target kw_fuzz

# New inputs go to a corpus of this run; the seeds in the repository are only read. A failing
# input is kept in build-fuzz/artifacts to be run again: build-fuzz/tests/fuzz/fuzz_X INPUT.
work=build-fuzz/work
rm -rf "$work" && mkdir -p "$work" build-fuzz/artifacts

run_target() {
    local target=$1 seconds=$2 work=$3
    local name=${target##*/fuzz_}
    mkdir -p "$work/$name"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
        -artifact_prefix="build-fuzz/artifacts/$name-" "$work/$name" "tests/fuzz/corpus/$name" \
        >"$work/$name.log" 2>&1; then
        echo "fuzz_$name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second\(s\)' "$work/$name.log")"
    else
        echo "fuzz_$name FAILED:"
        tail -n 60 "$work/$name.log"
        return 1
    fi
}
export -f run_target

find build-fuzz/tests/fuzz -maxdepth 1 -type f -executable -name 'fuzz_*' | sort |
    xargs -P "$jobs" -I{} bash -c 'run_target "$@"' _ {} "$seconds" "$work"
