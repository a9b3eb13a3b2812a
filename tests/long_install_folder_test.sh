#!/usr/bin/env bash
# A silent run into an install folder so long that the names of the run's
# kernel objects and mailslot, which carry the folder, cannot be made: the
# folder is refused before anything is started, with the folder and the
# reason in the log, and the run ends with a failure.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; _e2e_exit' EXIT
serve_overrides '{}' || exit 1

new_prefix long_folder
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
mkdir -p "$E2E_CASE/temp"
E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
# 230 characters: C:\ and 227 more, in parts short enough for any file system.
PART=$(printf 'k%.0s' $(seq 1 44))
FOLDER='C:'
while [ $((${#FOLDER} + 45)) -le 230 ]; do FOLDER="$FOLDER\\$PART"; done
while [ ${#FOLDER} -lt 230 ]; do FOLDER="${FOLDER}x"; done
REPORT="$E2E_CASE/report.txt"
run_in_job "--report=$(e2e_winpath "$REPORT")" -- 'C:\pkg\setup.exe' --silent \
  "--installfolder=$FOLDER" --allusers=0 --launchbrowser=0 \
  "${OVERRIDES_ARGS[@]}"
LOGS=("$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log)
log_has() { cat "${LOGS[@]}" 2>/dev/null | tr -d '\r' | grep -qF -- "$1"; }

PROCESSES=$(tr -d '\r' <"$REPORT" | grep -v -e '^job ' -e ' exit=3221225781 ')
check "folder is 230 characters" [ ${#FOLDER} = 230 ]
check "non-zero exit (got $RC)" [ "$RC" != 0 ]
check "log names the folder and why" \
  log_has "The path is invalid: \"$FOLDER\" is too long: the names of the installation's kernel objects"
check "log says how long it may be" log_has "at most 211 characters fit"
# The front end and its crash reporter only.
check "no backend started ($(echo "$PROCESSES" | tr '\n' ';'))" \
  [ "$(echo "$PROCESSES" | wc -l)" = 2 ]
check "nothing made in the folder" [ ! -e "$C/$PART" ]
[ "$failed" = 0 ] || { echo "--- log"; cat "${LOGS[@]}" 2>/dev/null; echo "--- processes"; cat "$REPORT"; }

e2e_summary
