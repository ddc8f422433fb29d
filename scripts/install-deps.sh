#!/bin/sh
# Installs what building and running tarvik needs on Debian 12 (run as root):
# the compiler, CMake, GoogleTest, a JDK for the Java library, and
# cpp-httplib with nlohmann's JSON for the browser remote control, and
# libsystemd (sd-bus) to ask RTKit for realtime.
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ libc6-dev libgtest-dev default-jdk-headless \
    pkg-config libcpp-httplib-dev nlohmann-json3-dev libsystemd-dev >/dev/null
