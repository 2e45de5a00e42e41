#!/usr/bin/env bash
# The whole test suite: installs what is missing (Debian 12, as root), builds the Release preset
# (plug-in, tools, tests, benchmarks) and runs every test with CTest, then the framework-free tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
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
fi
