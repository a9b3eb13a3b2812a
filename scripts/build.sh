#!/usr/bin/env bash
# Configures (once) and builds everything into build/ (or $KAVOR_BUILD_DIR).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build}"

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# Bare names are targets: scripts/build.sh base_unittests
args=()
for a in "$@"; do
  case "$a" in
    -*) args+=("$a") ;;
    *) args+=(--target "$a") ;;
  esac
done
cmake --build "$BUILD" "${args[@]}"
