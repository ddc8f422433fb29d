#!/bin/sh
# Installs what building and running tarvik needs on Debian 12 (run as root):
# the compiler, CMake, GoogleTest, a JDK for the Java library, and Boost
# (Beast and Asio, header-only) with nlohmann's JSON for the browser remote
# control. Packages come from this machine's apt sources as configured.
set -e
export DEBIAN_FRONTEND=noninteractive

# Installs the packages named, or says which of them the apt sources lack.
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
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null ||
        { echo "$0: apt-get could not install:$*" >&2; exit 1; }
}

apt-get update -qq || { echo "$0: apt-get update failed: check the apt sources" >&2; exit 1; }
install_packages cmake make g++ libc6-dev libgtest-dev default-jdk-headless pkg-config \
    libboost-dev nlohmann-json3-dev
