#!/bin/sh
# Builds tarvik three ways (Linux, Linux with AddressSanitizer and
# UndefinedBehaviorSanitizer, 32-bit Windows) and runs the whole test suite:
# the Windows deliverables are tried under wine by the Linux build's tests.
set -e
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j"$jobs"
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DTARVIK_SANITIZE=ON >/dev/null
cmake --build build-san -j"$jobs"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVIK_WINDOWS_BUILD_DIR="$PWD/build-win" >/dev/null
cmake --build build -j"$jobs"

echo "== tests, sanitizers =="
ctest --test-dir build-san --output-on-failure
echo "== tests, with the Windows build under wine =="
ctest --test-dir build --output-on-failure
