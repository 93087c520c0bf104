#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the fuzzers and the benchmarks need.
# Safe to run again; it only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev clang-format
  libssl-dev openssl
  libcurl4-openssl-dev
  libjsoncpp-dev
  libpugixml-dev
  zlib1g-dev
  libgtest-dev libgmock-dev
  libcpp-httplib-dev
  gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 binutils-mingw-w64
  osslsigncode
  bc time
  gcab cabextract
  msitools wixl libgsf-1-dev
  libp11-dev libp11-kit-dev p11-kit p11-kit-modules softhsm2 opensc
  dpkg-dev help2man lintian desktop-file-utils
  qt6-base-dev qt6-tools-dev libqt6uitools6 libqt6opengl6-dev libgl-dev qt6-qpa-plugins
  xvfb xauth imagemagick fonts-noto-cjk fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
