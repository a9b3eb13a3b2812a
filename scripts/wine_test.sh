#!/usr/bin/env bash
# Runs one test executable of a build tree under Wine, with the tree's prefix:
#   scripts/wine_test.sh BUILD_DIR base_unittests --gtest_filter='Foo*'
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "$1" && pwd)"
shift
EXE="$1"
shift
source "$ROOT/scripts/wine_env.sh"
exec wine "$BUILD/bin/$EXE.exe" "$@"
