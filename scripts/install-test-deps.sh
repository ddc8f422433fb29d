#!/bin/sh
# Installs, on top of scripts/install-deps.sh, what only the test suite needs
# (run as root): MinGW-w64 and wine for the Windows builds, clang's libFuzzer
# and valgrind for the robustness stages, pytest for the tests that run the
# real programs, Python and gnuplot for the benchmark, the tools that build
# and check the packages, and two viewers' readers of recordings (sigrok-cli,
# gtkwave's vcd2fst), Chromium and Selenium for the remote control's browser
# test, a D-Bus daemon, polkit and
# RTKit for the realtime test (started on a bus of its own), and the headers
# the remote's Windows builds need.
set -e
export DEBIAN_FRONTEND=noninteractive
sh "$(dirname "$0")/install-deps.sh"
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev valgrind \
    python3 python3-pytest gnuplot-nox dpkg-dev file man-db lintian sigrok-cli gtkwave \
    chromium chromium-driver python3-selenium dbus-daemon polkitd rtkit >/dev/null
# wine with the libraries it recommends; wine64 runs the 64-bit test build on
# machines that cannot run 32-bit programs.
apt-get install -y -qq wine wine32 wine64 >/dev/null

# The Windows builds of the remote control need cpp-httplib as one header
# (the -dev package holds the Linux library's split form): Debian's source
# package has it, with Debian's patches applied by dpkg-source. nlohmann's
# JSON headers have no platform code and are linked beside it.
cross_include=/usr/local/share/tarvik/cross-include
if [ ! -f "$cross_include/httplib.h" ]; then
    sources=/etc/apt/sources.list.d/tarvik-deb-src.sources
    if ! grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources && \
       ! grep -qs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
        # The first deb entry's host, for source packages of this release.
        uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
        printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "${uri:-http://deb.debian.org/debian}" > "$sources"
        apt-get update -qq
    fi
    work=$(mktemp -d)
    (cd "$work" && apt-get source -qq cpp-httplib >/dev/null 2>&1)
    mkdir -p "$cross_include"
    cp "$work"/cpp-httplib-*/httplib.h "$cross_include/"
    rm -rf "$work"
fi
ln -sfn /usr/include/nlohmann "$cross_include/nlohmann"
