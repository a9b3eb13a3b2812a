#!/usr/bin/env bash
# Configures and builds everything into build/ (or $KAVOR_BUILD_DIR).
#
# By default this is the test build: optimised, with debug checks and debug
# logging on (KAVOR_DCHECK_ALWAYS_ON), which is what the tests and CI use.
# KAVOR_RELEASE=1 makes the release build instead (NDEBUG, no debug checks),
# which scripts/run_main.sh uses in its own build tree.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build}"
if [ "${KAVOR_RELEASE:-0}" = 1 ]; then
  DCHECKS=OFF
else
  DCHECKS=ON
fi

# Configure when the tree is new, and again when it was configured as the
# other form (e.g. a tree made before the option existed).
if [ ! -f "$BUILD/build.ninja" ] ||
   ! grep -qx "KAVOR_DCHECK_ALWAYS_ON:BOOL=$DCHECKS" "$BUILD/CMakeCache.txt"; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVOR_DCHECK_ALWAYS_ON=$DCHECKS
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
