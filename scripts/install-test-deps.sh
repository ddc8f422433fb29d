#!/bin/sh
# Installs, on top of scripts/install-deps.sh, what only the test suite needs
# (run as root): MinGW-w64 and wine for the Windows builds, clang's libFuzzer
# and valgrind for the robustness stages, Python with pytest and gnuplot for
# the end-to-end tests and the benchmark, the tools that build and check the
# packages, two viewers' readers of recordings (sigrok-cli, gtkwave's
# vcd2fst), and Chromium and Selenium for the remote control's browser test.
# Packages come from this machine's apt sources as configured.
set -e
export DEBIAN_FRONTEND=noninteractive
sh "$(dirname "$0")/install-deps.sh"

install_packages() {
    missing=""
    for package in "$@"; do
        case $package in -*) continue ;; esac
        apt-cache policy "$package" 2>/dev/null | grep -q 'Candidate: [^(]' ||
            missing="$missing $package"
    done
    if [ -n "$missing" ]; then
        echo "$0: not available from this machine's apt sources:$missing" >&2
        echo "$0: add a Debian 12 (bookworm) source that has them, then run this again" >&2
        exit 1
    fi
    apt-get install -y -qq "$@" >/dev/null ||
        { echo "$0: apt-get could not install:$*" >&2; exit 1; }
}

# wine32 is an i386 package.
dpkg --add-architecture i386
apt-get update -qq || { echo "$0: apt-get update failed: check the apt sources" >&2; exit 1; }
install_packages --no-install-recommends \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev valgrind \
    python3 python3-pytest gnuplot-nox dpkg-dev file man-db lintian sigrok-cli gtkwave \
    chromium chromium-driver python3-selenium
# wine with the libraries it recommends; wine64 runs the 64-bit test build on
# machines that cannot run 32-bit programs.
install_packages wine wine32 wine64
