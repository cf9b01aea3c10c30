#!/usr/bin/env bash
# Installs what building and testing Somnara needs on Debian 12 (run as root).
# The build dependencies come from debian/control alone; the list below is
# what only the tests, benchmarks, fuzzers and the package and booted-systemd
# stages use.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt_install() { apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
apt-get update -qq
apt_install g++ dpkg-dev
apt-get build-dep -y -qq --no-install-recommends ./ >/dev/null
apt_install \
  clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev \
  python3 python3-dbusmock python3-dbus dbus dbus-daemon xvfb xauth desktop-file-utils \
  trayer x11-apps xdotool imagemagick weston qt6-wayland lxqt-panel xfce4-panel openbox \
  util-linux passwd procps \
  fakeroot lintian appstream \
  systemd-container mmdebstrap
