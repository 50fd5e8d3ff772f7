#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/setup.sh   (as root, or with sudo available)
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  libssl-dev libicu-dev uuid-dev nlohmann-json3-dev liburiparser-dev libfontconfig-dev
  qt6-base-dev
  qtbase5-dev libkf5purpose-dev libkf5purpose-bin
  xvfb dbus at-spi2-core python3-pyatspi libxcb1-dev
  clang-14 libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  coreutils tar openssl
  build-essential debhelper lintian desktop-file-utils libglib2.0-bin
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
