#!/usr/bin/env bash
# Histogram hot-path benchmark: recording into existing histograms
# (kavor_histogram_bench.exe, release build under Wine). Prints, per case,
# the time per sample and the heap allocations made while recording.
#
#   bash scripts/bench_histograms.sh [SAMPLES_PER_THREAD]  (default 20000000)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"
SAMPLES="${1:-20000000}"

KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_histogram_bench >/dev/null
source "$ROOT/scripts/wine_env.sh"
wine "$BUILD/bin/kavor_histogram_bench.exe" "$SAMPLES"
