#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
set -euo pipefail
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# qt6-charts-dev (the spectrum page) does not pull in the Qt OpenGL files its
# CMake package needs: libqt6opengl6-dev.
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config binutils \
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libxcb1-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  nlohmann-json3-dev libcli11-dev libfftw3-dev \
  libmosquitto-dev mosquitto mosquitto-clients openssl \
  clang libclang-rt-14-dev \
  xvfb xauth xdotool imagemagick x11-utils python3 \
  python3-pyvisa python3-pyvisa-py lxi-tools \
  fonts-dejavu-core fonts-liberation locales poppler-utils \
  dpkg-dev file desktop-file-utils man-db groff-base systemd \
  nodejs chromium chromium-driver python3-selenium python3-paho-mqtt iproute2
# npm bundles the fleet page's MQTT client; a Node.js that brings its own npm
# (another vendor's nodejs package) must keep it: Debian's npm would clash.
if ! command -v npm >/dev/null 2>&1; then
  $SUDO apt-get install -y --no-install-recommends npm
fi
