#!/bin/sh
# Installs, on top of scripts/install-deps.sh, what only the test suite needs
# (run as root): MinGW-w64 and wine for the Windows builds, clang's libFuzzer
# and valgrind for the robustness stages, Python with pytest and gnuplot for
# the end-to-end tests and the benchmark, the tools that build and check the
# packages, two viewers' readers of recordings (sigrok-cli, gtkwave's
# vcd2fst), Chromium and Selenium for the remote control's browser test,
# qrencode (libqrencode's own program, to check the QR codes drawn), and
# a D-Bus daemon, polkit and RTKit for the realtime test (started on a bus of
# its own). Packages come from this machine's apt sources as configured.
set -e
export DEBIAN_FRONTEND=noninteractive
sh "$(dirname "$0")/install-deps.sh"
. "$(dirname "$0")/install-packages.sh"

# wine32 is an i386 package.
dpkg --add-architecture i386
apt-get update -qq || { echo "$0: apt-get update failed: check the apt sources" >&2; exit 1; }
install_packages --no-install-recommends \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev valgrind \
    python3 python3-pytest gnuplot-nox dpkg-dev file man-db lintian sigrok-cli gtkwave \
    chromium chromium-driver python3-selenium qrencode dbus-daemon polkitd rtkit
# wine with the libraries it recommends; wine64 runs the 64-bit test build on
# machines that cannot run 32-bit programs.
install_packages wine wine32 wine64
