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
