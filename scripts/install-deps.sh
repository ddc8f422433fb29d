#!/bin/sh
# Installs what building and testing tarvik needs on Debian 12 (run as root):
# the Linux toolchain and GoogleTest, a JDK for the Java library, MinGW-w64
# with 32-bit wine for the Windows deliverables, clang's libFuzzer and
# valgrind for the robustness stages, Python and gnuplot for the benchmark,
# dpkg-dev and man-db for the package checks.
set -e
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ libc6-dev libgtest-dev default-jdk-headless g++-mingw-w64-i686 \
    clang libclang-rt-14-dev valgrind python3 gnuplot-nox dpkg-dev man-db >/dev/null
# wine with the libraries it recommends, as the tests have been run with it.
apt-get install -y -qq wine wine32 >/dev/null
