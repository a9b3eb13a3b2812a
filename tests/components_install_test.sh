#!/usr/bin/env bash
# A silent install asked for two components runs each component's installer
# from beside the package, records only the one that succeeded, and then
# starts the browser maximized.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; _e2e_exit' EXIT
serve_overrides '{}' || exit 1

new_prefix components
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
# The component installers are stand-ins that record their command lines;
# the viewer's fails.
mkdir -p "$C/comp" "$C/other"
cp "$E2E_BIN/kavor_launcher_standin.exe" "$C/comp/assistant_installer.exe"
cp "$E2E_BIN/kavor_launcher_standin.exe" "$C/other/viewer_installer.exe"
printf 5 >"$C/other/viewer_installer_exit_code.txt"
mkdir -p "$E2E_CASE/temp"
E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
run_in_job -- 'C:\pkg\setup.exe' --silent '--installfolder=C:\Kavor' \
  --allusers=0 --launchbrowser=1 '--components=assistant:comp|viewer:other' \
  "${OVERRIDES_ARGS[@]}"

calls() { tr -d '\r' <"$1" 2>/dev/null; }
check "front end exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "assistant installer run once with its switches ($(calls "$C/comp/assistant_installer_calls.txt"))" \
  [ "$(calls "$C/comp/assistant_installer_calls.txt" | grep -cF -- \
    '--installfolder="C:\Kavor\assistant" --copyonly=0 --allusers=0')" = 1 ]
check "viewer installer run" \
  grep -qF -- '--installfolder="C:\Kavor\viewer"' "$C/other/viewer_installer_calls.txt"
status_right() {
  python3 - "$C/Kavor/installation_status.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
assert s.get("components") == {"assistant": "C:\\Kavor\\assistant"}, s
PY
}
check "overrides asked of the loopback server only" \
  grep -qF "Starting download from http://127.0.0.1:$LOOPBACK_PORT/prefs" \
  "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log
check "only the assistant recorded" status_right
check "browser started maximized ($(calls "$C/Kavor/launcher_calls.txt"))" \
  grep -qF -- '--start-maximized' "$C/Kavor/launcher_calls.txt"

e2e_summary
