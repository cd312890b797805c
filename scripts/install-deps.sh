#!/usr/bin/env bash
# Installs what building and testing Firmora needs on Debian 12. Run as root.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libxxhash-dev libusb-1.0-0-dev libudev-dev libzip-dev libisal-dev zip
  umockdev libumockdev-dev
  fastboot
  # cpack -G DEB: dpkg-shlibdeps (dpkg-dev) and file find the libraries the programs link
  dpkg-dev file gzip
  libsystemd-dev libudev-dev python3-dbus python3-dbusmock dbus-daemon umockdev libumockdev-dev
  # firmora-gui: Qt 6 Widgets, and a font that writes Japanese
  qt6-base-dev fonts-noto-cjk
  # cmake --preset fuzz and --preset tsan: clang, libFuzzer, the sanitizers'
  # runtimes, and llvm-symbolizer to put names and lines in their reports
  clang-16 libclang-rt-16-dev llvm-16
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
