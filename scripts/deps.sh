#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Sentrel need;
# with --fuzz also clang and its libFuzzer runtime for scripts/fuzz.sh.
set -euo pipefail
packages=(build-essential cmake ninja-build mold clang-format qt6-base-dev qt6-base-dev-tools libgl-dev
          fonts-liberation libqt6svg6 iproute2 xvfb dbus-daemon xdotool
          prometheus-cpp-dev libmicrohttpd-dev pkgconf libqt6sql6-sqlite)
[ "${1:-}" != "--fuzz" ] || packages+=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
