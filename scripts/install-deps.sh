#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need.
# Only what is missing is installed; needs root or sudo. firebird3.0-server
# is for the tests, which run a server process of their own on a free port;
# its package may start a system service of its own, which the tests leave
# alone, and asks nothing here (noninteractive).
set -euo pipefail

packages=(
  cmake g++ make pkg-config ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils firebird3.0-server
  curl libcurl4-openssl-dev libidn2-dev libssl-dev libpugixml-dev libcpp-httplib-dev libbrotli-dev zlib1g-dev
  qt6-base-dev libgl-dev
  media-types
  xvfb xauth
  unicode-data clang libclang-rt-14-dev
  libgumbo-dev
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
