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
  [ -n "${HOLDER_PID:-}" ] && kill "$HOLDER_PID" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Wine starts its own service processes with the first program of a
# session and hands them that program's standard output; ctest then waits
# for them as for part of that test, which held one of its slots until the
# last test program ended. A program that stays for the whole run starts
# them here, with their output going nowhere, and keeps them.
wine "$BUILD/bin/kavor_job_runner.exe" --hold-desktop \
  >"$BUILD/wine-holder.log" 2>&1 </dev/null &
HOLDER_PID=$!
for _ in $(seq 600); do
  grep -q '^desktop ready' "$BUILD/wine-holder.log" && break
  kill -0 "$HOLDER_PID" 2>/dev/null || break
  sleep 0.1
done

cd "$BUILD"
ctest --output-on-failure --timeout 900 -j "${KAVOR_TEST_JOBS:-2}"
