#!/bin/sh
# Builds tarvik twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs the whole test suite on both.
set -e
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON >/dev/null
cmake --build build-san -j"$jobs"

echo "== tests, sanitizers =="
ctest --test-dir build-san --output-on-failure
echo "== tests =="
ctest --test-dir build --output-on-failure
