#!/bin/sh
# Builds tarvik five ways (Linux; Linux with AddressSanitizer and
# UndefinedBehaviorSanitizer; 32-bit and 64-bit Windows; clang's libFuzzer)
# and runs the whole test suite: the sanitizer build's tests, the fuzzers for
# a bounded number of runs, the in-process tests under valgrind, a short run
# of the timing benchmark, and last the Linux build's tests, whose pytest
# layer also checks the install and the packages and tries the Windows
# deliverables under wine.
set -e
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_REMOTE=ON >/dev/null
cmake --build build-win -j"$jobs"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_REMOTE=ON >/dev/null
cmake --build build-win64 -j"$jobs"
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON -DTARVIK_WERROR=ON -DTARVIK_REMOTE=ON -DTARVIK_RTKIT=ON >/dev/null
cmake --build build-san -j"$jobs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_FUZZ=ON -DTARVIK_WERROR=ON -DTARVIK_REMOTE=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_REMOTE=ON -DTARVIK_RTKIT=ON -DTARVIK_WINDOWS_BUILD_DIR="$PWD/build-win" \
    -DTARVIK_WINDOWS64_BUILD_DIR="$PWD/build-win64" >/dev/null
cmake --build build -j"$jobs"

echo "== tests, sanitizers =="
ctest --test-dir build-san --output-on-failure

echo "== fuzzer, from the checked-in seeds =="
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p "$corpus/seeds"
cp tests/fuzz/corpus/* "$corpus/seeds/"
build-fuzz/tests/fuzz_tarvik -runs=200000 -max_total_time=60 -timeout=10 \
    -artifact_prefix="$corpus/" "$corpus/seeds" 2>&1 | grep -E '^(Done|==|SUMMARY)' || true
# libFuzzer leaves a crash-* file for anything it found.
if ls "$corpus"/crash-* "$corpus"/timeout-* "$corpus"/leak-* >/dev/null 2>&1; then
    echo "fuzz_tarvik found a failure"; exit 1
fi

echo "== tests under valgrind =="
# Valgrind runs the program many times slower and pauses it at will; the
# tests judge nothing that such pauses change.
under_valgrind() {
    log="$corpus/valgrind.log"
    if TARVIK_TEST_SLOWDOWN=10 valgrind --quiet --error-exitcode=99 --trace-children=yes "$@" >"$log" 2>&1; then
        grep -E '^\[  PASSED  \]' "$log"
    else
        grep -vE 'unhandled ioctl 0x54|could cause spurious|README_MISSING_SYSCALL' "$log"
        echo "valgrind: $1 failed"; exit 1
    fi
}
under_valgrind build/tests/tarvik_unit_tests
under_valgrind build/tests/tarvik_backend_tests
echo "valgrind: no errors"

echo "== pulse-timing benchmark, short form (shows it works; times fail nothing) =="
python3 bench/pulse_bench.py --build build --frames 20 --out "$corpus/timing.md"

echo "== tests, with the packages and the Windows builds under wine =="
ctest --test-dir build --output-on-failure
