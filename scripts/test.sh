#!/usr/bin/env bash
# The whole test suite: installs what is missing (Debian 12, as root), builds the Release preset
# (plug-in, tools, tests, benchmarks) and runs every test with CTest, then the framework-free tests
# and the editor and controls tests again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# threaded tests under ThreadSanitizer, and each fuzz target briefly.
#   scripts/test.sh           everything (what CI runs)
#   scripts/test.sh --quick   Release tests only
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh --host

cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

if [ "${1:-}" != "--quick" ]; then
    cmake --preset asan
    cmake --build --preset asan -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j "$jobs"

    # The JUCE side (editor, controls, the processor glue) under the same sanitizers.
    cmake --preset asan-editor
    cmake --build --preset asan-editor -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan-editor -j "$jobs"

    # The tests that share data between threads, under ThreadSanitizer.
    cmake --preset tsan
    cmake --build --preset tsan -j "$jobs"
    TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan -j "$jobs"
fi

if [ "${1:-}" != "--quick" ]; then
    # Every parser's libFuzzer target, briefly, from its seed corpus (new inputs go to a scratch folder).
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    for fuzzer in build/fuzz/tests/fuzz/fuzz_*; do
        [ -x "$fuzzer" ] || continue
        name=$(basename "$fuzzer")
        corpus=tests/fuzz/corpus/${name#fuzz_}
        scratch=$(mktemp -d)
        echo "== $name"
        "$fuzzer" -max_total_time=20 -print_final_stats=1 "$scratch" ${corpus:+$( [ -d "$corpus" ] && echo "$corpus")} 2>&1 | tail -n 3
        rm -rf "$scratch"
    done
fi
