#!/bin/sh
# Installs what building and running tarvik needs on Debian 12 (run as root):
# the compiler, CMake, GoogleTest, a JDK for the Java library, and
# cpp-httplib with nlohmann's JSON for the browser remote control, and
# libqrencode for its QR code.
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ libc6-dev libgtest-dev default-jdk-headless \
    pkg-config libcpp-httplib-dev nlohmann-json3-dev libqrencode-dev >/dev/null
