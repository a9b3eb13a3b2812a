#!/usr/bin/env bash
# Start-up of the main path: the log file and its first lines, the verbosity
# variable, the message loop per role, experiments, exit codes and the
# download folder. Each run is a case of its own, with its own prefix and
# TEMP.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"
trap 'stop_update_server; _e2e_exit' EXIT
EXE="$1"
WORK="$E2E_WORK"

# run NAME [ARGS...]: starts case NAME and runs the installer with TEMP and
# TMP set to $E2E_CASE/temp; sets RC, ERR and LOG (the text of the one log
# file in the temp folder's installer folder).
run() {
  local name="$1"
  shift
  new_prefix "$name"
  mkdir -p "$E2E_CASE/temp"
  run_in "$(e2e_winpath "$E2E_CASE/temp")" "$@"
}

# run_in TEMP [ARGS...]: runs the installer in the current case with TEMP
# and TMP set to the Windows path TEMP and the current folder $E2E_CASE/cwd.
run_in() {
  E2E_TEMP="$1"
  shift
  mkdir -p "$E2E_CASE/cwd"
  E2E_CWD=$(e2e_winpath "$E2E_CASE/cwd")
  run_in_job -- "$(e2e_winpath "$EXE")" "$@"
  echo "$RC" >"$E2E_CASE/rc"
  LOGS=("$E2E_CASE"/temp/"Kavor Installer"/kavor_installer_*.log)
  LOG=""
  [ -f "${LOGS[0]}" ] && LOG=$(cat "${LOGS[0]}")
}

# The front end with a window is the wizard, which waits for its user: the
# runs below that reach it have the user close it (and answer the quit box
# Yes, but for an uninstall, which does not ask). No update service answers
# the fetch that starts behind the welcome page.
NO_SERVICE=--internal-package-server=http://127.0.0.1:9/none

# run_wizard NAME [ARGS...]: as run, for a run that shows the wizard.
run_wizard() {
  local name="$1"
  shift
  new_prefix "$name"
  mkdir -p "$E2E_CASE/temp"
  run_in_wizard "$(e2e_winpath "$E2E_CASE/temp")" "$@"
}

# run_in_wizard TEMP [ARGS...]: as run_in, for a run that shows the wizard;
# sets DRIVEN to the driver's exit code.
run_in_wizard() {
  local temp="$1" answer=(wait-messagebox answer-messagebox IDYES)
  shift
  [[ " $* " == *" --uninstall "* ]] && answer=()
  run_in_background wizard run_in "$temp" "$NO_SERVICE" "$@"
  drive --timeout=90 wait-window close "${answer[@]}" wait-gone
  DRIVEN=$DRIVE_RC
  background_ended wizard
  LOGS=("${LOG_FOLDER:-$E2E_CASE/temp/Kavor Installer}"/kavor_installer_*.log)
  LOG=""
  [ -f "${LOGS[0]}" ] && LOG=$(cat "${LOGS[0]}")
}

has() { grep -qF -- "$2" <<<"$1"; }
lacks() { ! grep -qF -- "$2" <<<"$1"; }

# A GUI program: a user who starts it sees no console window.
check "GUI subsystem" bash -c \
  'x86_64-w64-mingw32-objdump -p "$1" | grep -q "^Subsystem.*(Windows GUI)"' _ "$EXE"

# Front end with window: the wizard, which the user closes; the run did not
# finish (120). The log is named to the millisecond and starts with the
# product line and the command line. No update service answers: the
# wizard waits for the user all the same.
export KAVOR_INSTALLER_VERBOSITY=1
run_wizard window
check "window: the wizard shown and closed (driver $DRIVEN)" [ "$DRIVEN" = 0 ]
check "window: exit code 120 (got $RC)" [ "$RC" = 120 ]
check "window: the wizard's controller" has "$LOG" "Initializing installer UI"
check "window: one log file" [ ${#LOGS[@]} = 1 ]
check "window: log file named by the time" \
  bash -c '[[ "$(basename "$1")" =~ ^kavor_installer_[0-9]{17}\.log$ ]]' _ "${LOGS[0]}"
first=$(sed -n 1p <<<"$LOG")
second=$(sed -n 2p <<<"$LOG")
check "window: first line" has "$first" ":INFO:installer_main.cc"
check "window: first line text" \
  bash -c '[[ "$1" == *"] Kavor installer starting - version 47.0.4127.0 developer"* ]]' _ "$first"
check "window: command line with --v=1" has "$second" "Command line: "
check "window: --v=1 from the variable" has "$second" "--v=1"
check "window: UI loop" has "$LOG" "Using UI message loop"
check "window: experiments from the command line" has "$LOG" \
  "Obtained experiment states from command line"
check "window: download folder logged" has "$LOG" "Installer download folder: "

# An unknown switch alone is the window's front end too.
run_wizard unknown --no-such-switch
check "unknown switch: the wizard (driver $DRIVEN, exit $RC)" \
  [ "$DRIVEN" = 0 -a "$RC" = 120 ]

# Outside a package the silent front end fetches the package; the update
# service has none to give.
new_prefix silent
mkdir -p "$E2E_CASE/temp"
start_no_content_update_server || exit 1
run_in "$(e2e_winpath "$E2E_CASE/temp")" --silent --enable-installer-stats=0 \
  "--internal-package-server=$NO_CONTENT_URL"
stop_update_server
check "silent: default loop" has "$LOG" "Using default message loop"
check "silent: package fetch failed, 119 (got $RC)" [ "$RC" = 119 ]

KAVOR_INSTALLER_VERBOSITY=2 run backend --register-kavor-as-protocol-handler=http
check "backend: default loop" has "$LOG" "Using default message loop"
check "backend: role reached" has "$LOG" "Running backend"
check "backend: architecture named in upper case" has "$LOG" \
  "Installer architecture: X64"
check "backend: exit code 101 (got $RC)" [ "$RC" = 101 ]

KAVOR_INSTALLER_VERBOSITY=12 run_wizard too_verbose
check "verbosity 12: ignored" lacks "$(sed -n 2p <<<"$LOG")" "--v="
check "verbosity 12: no verbose lines" lacks "$LOG" "message loop"

KAVOR_INSTALLER_VERBOSITY=3 run_wizard explicit --v=1
check "explicit --v wins" bash -c '[[ "$1" == *"--v=1"* && "$1" != *"--v=3"* ]]' _ \
  "$(sed -n 2p <<<"$LOG")"

run_wizard experiment --with-feature:installer-experiment-test=on
check "experiment from the command line" has "$LOG" "Test experiment is enabled"

# --temp-folder: the download folder goes at the end when empty, stays when
# something is left in it; an unusable one gives 116.
mkdir -p "$WORK/downloads" "$WORK/kept/Kavor Installer"
touch "$WORK/kept/Kavor Installer/partial" "$WORK/not_a_folder"
run_wizard empty_download "--temp-folder=$(e2e_winpath "$WORK/downloads")"
check "download folder logged" has "$LOG" "downloads\\Kavor Installer"
check "empty download folder removed" [ ! -e "$WORK/downloads/Kavor Installer" ]
run_wizard kept_download "--temp-folder=$(e2e_winpath "$WORK/kept")"
check "download folder with a file kept" [ -e "$WORK/kept/Kavor Installer/partial" ]
run bad_temp_folder "--temp-folder=$(e2e_winpath "$WORK/not_a_folder")"
check "unusable --temp-folder: exit code 116 (got $RC)" [ "$RC" = 116 ]
check "unusable --temp-folder: logged" has "$LOG" \
  "Could not create temporary installer folder"

# A temporary folder that can't hold the log folder: the log goes into the
# current folder.
new_prefix no_temp
LOG_FOLDER="$E2E_CASE/cwd" run_in_wizard "$(e2e_winpath "$WORK/not_a_folder")"
check "no temporary folder: the wizard all the same (driver $DRIVEN)" \
  [ "$DRIVEN" = 0 ]
check "log in the current folder" \
  bash -c 'ls "$1"/kavor_installer_*.log >/dev/null 2>&1' _ "$E2E_CASE/cwd"

# Uninstall runs take the experiments from the installation's
# installer_prefs.json.
INST="$WORK/installation"
mkdir -p "$INST"
cp "$EXE" "$(dirname "$EXE")/kavor_installer.dll" "$INST/"
echo '{"installer-experiments": ["installer-experiment-test@1"]}' \
  >"$INST/installer_prefs.json"
EXE_SAVED="$EXE"
EXE="$INST/$(basename "$EXE")"
run_wizard uninstall --uninstall
EXE="$EXE_SAVED"
check "uninstall: experiments from installer_prefs.json" has "$LOG" \
  "Retrieved experiment states from installation folder"
check "uninstall: test experiment on" has "$LOG" "Test experiment is enabled"

e2e_summary
