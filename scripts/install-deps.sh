#!/usr/bin/env bash
# Installs, from Debian's archive, the packages the build and the tests need that are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  clang libclang-rt-14-dev
  libplist-dev
  libcairo2-dev libpango1.0-dev libx11-dev
  xvfb x11-utils
  fonts-dejavu-core fonts-wqy-microhei
  libglib2.0-dev
  libgtest-dev
  nlohmann-json3-dev
  openssl
  faketime
  p7zip-full
  libx11-dev libxext-dev libxrandr-dev xvfb openbox xdotool x11-utils
  libxfixes-dev libxss-dev xcompmgr i3lock x11-xserver-utils
)

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
