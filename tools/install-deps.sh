#!/usr/bin/env bash
# Installs what building, running and testing the package needs on a fresh
# Debian 12 machine. Idempotent: apt-get runs only when a package is missing,
# and `apt-get update` at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev zlib1g-dev libminizip-dev
  libcairo2-dev libfreetype-dev libfontconfig-dev libpng-dev
  fonts-liberation2 fonts-dejavu-core fonts-urw-base35 fonts-noto-cjk fonts-wqy-microhei
  mscompress
  zip
  unzip
  liblnk-utils
  hp2xx
  ghostscript librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
