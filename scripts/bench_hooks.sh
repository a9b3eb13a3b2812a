#!/usr/bin/env bash
# Cost of the activity and field-trial hooks while nothing is installed:
# builds the release form (build-release/) of kavor_hooks_bench.exe and runs
# it under Wine; it prints each hooked call beside the bare system call.
#
#   bash scripts/bench_hooks.sh [ITERATIONS]     (default 10000000)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" -j3 kavor_hooks_bench >/dev/null
source "$ROOT/scripts/wine_env.sh"
wine "$BUILD/bin/kavor_hooks_bench.exe" "${1:-10000000}"
