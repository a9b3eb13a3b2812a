#!/usr/bin/env bash
# Installs what is missing, builds the library and its host in their release
# form (no debug checks, in build-release/ beside the test build), and runs
# the installer under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"

bash "$ROOT/scripts/install_deps.sh"
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer
source "$ROOT/scripts/wine_env.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

cd "$BUILD"
for sw in --version --internal-version --stream; do
  rc=0
  out=$(wine bin/kavor_setup.exe "$sw") || rc=$?
  echo "kavor_setup.exe $sw -> \"$out\" (exit $rc)"
done

# The main path: start-up runs, then the front end says it is not available
# yet. Its log file lies in the prefix's %TEMP%\Kavor Installer.
set +e
KAVOR_INSTALLER_VERBOSITY=1 wine bin/kavor_setup.exe
echo "kavor_setup.exe -> exit $?"
set -e
temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
log=$(ls -t "$temp/Kavor Installer"/kavor_installer_*.log | head -1)
echo "Log file: $log"
cat "$log"
