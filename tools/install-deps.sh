#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing VI2Zezir.
# Idempotent: packages already present are skipped, so a second run costs only dpkg queries.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  zlib1g-dev libexpat1-dev
  qt6-base-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 wine64
  libreoffice-calc-nogui
  xvfb xauth imagemagick x11-utils
  python3-olefile python3-xlrd python3-uno
  poppler-utils fonts-liberation2 unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
