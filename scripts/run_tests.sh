#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build}"

bash "$ROOT/scripts/install_deps.sh"
bash "$ROOT/scripts/build.sh"

source "$ROOT/scripts/wine_env.sh"

# Windows that later tests open need a display.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :97 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=:97
fi
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
}
trap cleanup EXIT

cd "$BUILD"
ctest --output-on-failure --timeout 900 -j "${KAVOR_TEST_JOBS:-2}"
