#!/usr/bin/env bash
# Installs, from Debian's archive, the packages of the named groups that are missing.
#   scripts/install-deps.sh run       building the bundle and running it (scripts/run.sh)
#   scripts/install-deps.sh package   building the Debian package (scripts/package.sh)
#   scripts/install-deps.sh test      the tests, the sanitizer and fuzz builds, the package check
# Without a group, all three (as scripts/test.sh installs them).
set -euo pipefail

run_packages=(
  cmake g++ make pkg-config
  libplist-dev
  libcairo2-dev libpango1.0-dev libglib2.0-dev
  libx11-dev libxext-dev libxrandr-dev libxfixes-dev libxss-dev libxdamage-dev
  libx11-xcb-dev
  libatk1.0-dev libatk-bridge2.0-dev
  libwayland-dev libwayland-bin wayland-protocols
  nlohmann-json3-dev
  fonts-dejavu-core fonts-wqy-microhei
  xvfb x11-utils
)

test_packages=(
  clang libclang-rt-14-dev
  libgtest-dev
  openssl
  faketime
  p7zip-full
  openbox xdotool
  lintian
  # peers of the benchmarks: the log scan against ripgrep, the first pixel against dunst
  ripgrep dunst libnotify-bin
  xcompmgr i3lock x11-xserver-utils
  # a screen reader's view of the pop-up: a private session bus, the accessibility bus and
  # registry, and the AT-SPI client library
  dbus-bin dbus-daemon at-spi2-core libatspi2.0-dev
  # headless Wayland compositors under the pop-up: one with the layer shell, one without it
  sway grim weston
)

package_packages=(dpkg-dev file)

packages=()
[ $# -gt 0 ] || set -- run package test
for group in "$@"; do
  case "$group" in
    run) packages+=("${run_packages[@]}") ;;
    package) packages+=("${package_packages[@]}") ;;
    test) packages+=("${test_packages[@]}") ;;
    *)
      echo "usage: scripts/install-deps.sh [run] [package] [test]" >&2
      exit 64
      ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
