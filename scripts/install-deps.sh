#!/bin/sh
# Installs what building and running tarvik needs on Debian 12 (run as root):
# the compiler, CMake, GoogleTest, a JDK for the Java library, Boost (Beast
# and Asio, header-only) with nlohmann's JSON for the browser remote control,
# libqrencode for its phone address, and libsystemd (sd-bus) to ask RTKit for
# realtime. Packages come from this machine's apt sources as configured.
set -e
export DEBIAN_FRONTEND=noninteractive
. "$(dirname "$0")/install-packages.sh"

apt-get update -qq || { echo "$0: apt-get update failed: check the apt sources" >&2; exit 1; }
install_packages --no-install-recommends cmake make g++ libc6-dev libgtest-dev \
    default-jdk-headless pkg-config libboost-dev nlohmann-json3-dev libqrencode-dev libsystemd-dev
