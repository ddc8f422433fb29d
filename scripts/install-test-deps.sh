#!/bin/sh
# Installs, on top of scripts/install-deps.sh, what only the test suite needs
# (run as root): MinGW-w64 and wine for the Windows builds, clang's libFuzzer
# and valgrind for the robustness stages, Python and gnuplot for the
# benchmark, the tools that build and check the packages, and two viewers'
# readers of recordings (sigrok-cli, gtkwave's vcd2fst).
set -e
export DEBIAN_FRONTEND=noninteractive
sh "$(dirname "$0")/install-deps.sh"
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev valgrind \
    python3 gnuplot-nox dpkg-dev file man-db lintian sigrok-cli gtkwave >/dev/null
# wine with the libraries it recommends; wine64 runs the 64-bit test build on
# machines that cannot run 32-bit programs.
apt-get install -y -qq wine wine32 wine64 >/dev/null
