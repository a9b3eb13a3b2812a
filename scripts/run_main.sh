#!/usr/bin/env bash
# Installs what is missing, builds the library and its host, and runs the
# installer under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build}"

bash "$ROOT/scripts/install_deps.sh"
bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer
source "$ROOT/scripts/wine_env.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

cd "$BUILD"
for sw in --version --internal-version --stream; do
  out=$(wine bin/kavor_setup.exe "$sw")
  echo "kavor_setup.exe $sw -> \"$out\" (exit $?)"
done
