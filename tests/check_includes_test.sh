#!/usr/bin/env bash
# The include-layering check on a small tree of its own: quoted and angle
# includes of a higher or undeclared area are caught; system headers and
# includes of the file's own or a declared area pass.
set -u
SCRIPT="$(cd "$(dirname "$0")/.." && pwd)/scripts/check_includes.py"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0
check() {
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}

# tree NAME TEXT: a tree with areas base (no deps) and crypto (uses base);
# the file base/a.cc holds TEXT (printf format). Sets OUT and RC.
tree() {
  local root="$WORK/$1"
  mkdir -p "$root/base" "$root/crypto" "$root/windows"
  printf 'base base\ncrypto crypto base\n' >"$root/layers.txt"
  printf '#include "base/a.h"\n#include <base/a.h>\n' >"$root/crypto/c.cc"
  printf "$2" >"$root/base/a.cc"
  OUT=$(python3 "$SCRIPT" "$root" "$root/layers.txt" 2>&1)
  RC=$?
}

tree clean '#include <windows.h>\n#include <string>\n#include <gtest/gtest.h>\n#include "base/a.h"\n'
check "system and own includes pass (rc $RC: $OUT)" [ "$RC" = 0 ]

tree angle '#include <crypto/sha2.h>\n'
check "angle include of a higher area fails (rc $RC)" [ "$RC" = 1 ]
check "angle include is named" grep -qF 'base/a.cc:1: includes "crypto/sha2.h" of area crypto' <<<"$OUT"

tree quoted '#include "crypto/sha2.h"\n'
check "quoted include of a higher area fails (rc $RC)" [ "$RC" = 1 ]

# A top-level folder that is no area names nothing the layering knows.
tree no_area '#include <windows/x.h>\n'
check "folder of no area passes (rc $RC: $OUT)" [ "$RC" = 0 ]

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
