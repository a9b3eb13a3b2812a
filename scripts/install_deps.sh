#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Quick when
# everything is there already: nothing is fetched unless a package is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 xvfb xauth
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  googletest 7zip openssl osslsigncode faketime python3 python3-avro curl
  dpkg-dev
  # CJK glyphs for Wine (the Chinese wizard and its screenshots).
  fonts-wqy-microhei fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The 7z decoder's sources, which the build compiles in.
bash "$(dirname "${BASH_SOURCE[0]}")/fetch_lzma_sdk.sh"
