#!/usr/bin/env bash
# Installs what building and testing Somnara needs on Debian 12 (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake g++ ninja-build pkgconf clang libclang-rt-14-dev \
  qt6-base-dev libplist-dev libplist++-dev libudev-dev \
  libxcb1-dev libxcb-randr0-dev libxcb-dpms0-dev libcanberra-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  python3 python3-dbusmock python3-dbus dbus dbus-daemon xvfb xauth desktop-file-utils \
  trayer x11-apps xdotool imagemagick \
  util-linux passwd procps libmd-dev \
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream qt6-multimedia-dev \
  systemd-container mmdebstrap >/dev/null
