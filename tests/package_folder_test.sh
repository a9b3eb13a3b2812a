#!/usr/bin/env bash
# Which package folder a backend installs from, and who removes it. The
# front end downloads and checks the package in a folder of the download
# root named by the time stamp of its start; the backend, started before
# the package is ready, knows only that name's start and must take the
# folder its own front end made:
# - planted, other_session: for every second of the next three minutes the
#   download root already holds a ready folder "..1" with a package that
#   has a planted file: one of no owner (unsigned), or one of another
#   session (signed, as another front end started in the same second would
#   have made it): the install takes none of them and leaves them;
# - same_second: two installs started together, each into its own install
#   folder: each installs its own package and no folder is left;
# - cancel: the wizard's user quits while the backend extracts the package
#   (the backend is held still meanwhile, so that the front end is gone
#   while the archive is open): neither the install folder nor the package
#   folder is left, and the package's installer never starts.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"
STOPPED_PIDS=""
# A backend this test held still must not stay so.
resume_stopped() {
  local pid
  for pid in $STOPPED_PIDS; do kill -CONT "$pid" 2>/dev/null; done
  STOPPED_PIDS=""
}
trap 'resume_stopped; stop_update_server; _e2e_exit' EXIT
export KAVOR_INSTALLER_VERBOSITY=1

network_signing_keys "$E2E_BIN" || exit 1
ARCHIVE="$E2E_WORK/package.7z"
make_package_archive "$E2E_BIN" "$ARCHIVE" --host-name=setup.exe \
  --7z=-mx=1 || exit 1
EXPECTED="$E2E_WORK/expected"
7zz x -bd -bso0 -bsp0 "-o$EXPECTED" "$ARCHIVE" || exit 1
PACKAGES="$E2E_WORK/packages"
mkdir -p "$PACKAGES"
# The planted archive: the package and one file more.
PLANTED_ARCHIVE="$E2E_WORK/planted.7z"
cp "$ARCHIVE" "$PLANTED_ARCHIVE" &&
  printf 'planted\n' >"$E2E_WORK/planted.txt" &&
  7zz a -bd -bso0 -bsp0 "$PLANTED_ARCHIVE" "$E2E_WORK/planted.txt" || exit 1
# The big archive: the package and 96 MiB of incompressible files, so that
# its extraction takes a while.
BIG_TREE="$E2E_WORK/big_tree"
mkdir -p "$BIG_TREE/bulk"
for i in $(seq -w 48); do
  head -c $((2 * 1024 * 1024)) /dev/urandom >"$BIG_TREE/bulk/$i.bin"
done
BIG_ARCHIVE="$E2E_WORK/big.7z"
cp "$ARCHIVE" "$BIG_ARCHIVE" &&
  (cd "$BIG_TREE" && 7zz a -bd -bso0 -bsp0 -mx=0 "$BIG_ARCHIVE" bulk) &&
  rm -rf "$BIG_TREE" || exit 1
make_network_package "$E2E_BIN" "$PACKAGES/good" --archive="$ARCHIVE" &&
  make_network_package "$E2E_BIN" "$PACKAGES/planted_signed" \
    --archive="$PLANTED_ARCHIVE" &&
  make_network_package "$E2E_BIN" "$PACKAGES/planted_unsigned" \
    --archive="$PLANTED_ARCHIVE" --signer=none &&
  make_network_package "$E2E_BIN" "$PACKAGES/big" --archive="$BIG_ARCHIVE" ||
  exit 1
rm -f "$PLANTED_ARCHIVE" "$BIG_ARCHIVE"
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" || exit 1

SESSION=7c1e2b6f-5d0a-4e8b-9c3f-2e4b6c807a1d
OTHER_SESSION=0a4e8b9c-3f7a-4d2e-8b6c-807a1d2e4b6c
has() { grep -qF -- "$2" <<<"$1"; }

# package_case NAME PACKAGE: a fresh prefix of case NAME trusting the test
# root, the signed installer in C:\dl, and the update service serving
# PACKAGES/PACKAGE and naming it at /metadata, and distinct preference
# default overrides at /prefsA and /prefsB. Sets C, URL, DL (the download
# root, Unix path).
package_case() {
  network_prefix "$1" "$SETUP"
  DL="$E2E_CASE/temp/Kavor Installer"
  ln "$PACKAGES/$2" "$E2E_CASE/www/kavor_package.exe"
  echo '/kavor_package.exe 200' >"$E2E_CASE/script"
  # The service serves the files there when it starts: the reply is
  # written once the port is known. Preference default overrides that
  # tell two runs apart.
  : >"$E2E_CASE/www/metadata"
  for run in A B; do
    printf '{"run":"%s"}' "$run" >"$E2E_CASE/www/prefs$run"
  done
  start_update_server "$E2E_CASE/www" "$E2E_CASE/script" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  package_metadata_json "$URL/kavor_package.exe" \
    "$(sha256_of "$E2E_CASE/www/kavor_package.exe")" >"$E2E_CASE/www/metadata"
}

# setup_command FOLDER SESSION [PREFS]: the silent network install into
# FOLDER, the preference default overrides asked of the service at /PREFS
# (default: /prefs, which it does not have).
setup_command() {
  SETUP_ARGS=('C:\dl\kavor_setup.exe' --silent "--installfolder=$1"
    --allusers=0 --launchbrowser=0 "--internal-package-server=$URL/metadata"
    "--session-guid=$2" "--local-pref-default-overrides-server=$URL/${3:-prefs}"
    --enable-installer-stats=0)
}
logs() { cat "$DL"/kavor_installer_*.log 2>/dev/null | tr -d '\r'; }
# The folders of the download root whose session record is SESSION.
session_folders() {
  grep -lxF -e "$1" "$DL"/kavor_package_*/session 2>/dev/null
}
# installed_package FOLDER: the package's files, and only those, in the
# version folder of C:\FOLDER.
installed_package() {
  local differ
  differ=$(installed_differ "$EXPECTED" "$C/$1" "$C/$1/47.0.4127.0")
  [ -d "$C/$1/47.0.4127.0" ] && [ -z "$differ" ] &&
    [ ! -e "$C/$1/47.0.4127.0/planted.txt" ] || {
    echo "differ: $differ; $(ls "$C/$1/47.0.4127.0" 2>&1 | tr '\n' ' ')" >&2
    return 1
  }
}

# planted_case NAME OWNER PACKAGE: for every second of the next three
# minutes the download root of case NAME already holds a ready folder
# "..1" with PACKAGES/PACKAGE, recording the session OWNER (none when
# empty); the install must take none of them and leave them.
planted_case() {
  local name="$1" owner="$2" planted="$3" now s stamp count
  package_case "$name" good
  mkdir -p "$DL"
  now=$(date +%s)
  for s in $(seq 0 180); do
    stamp=$(date -d "@$((now + s))" +%Y%m%d%H%M%S)
    mkdir "$DL/kavor_package_${stamp}1" &&
      : >"$DL/kavor_package_${stamp}1/ready" &&
      ln "$PACKAGES/$planted" "$DL/kavor_package_${stamp}1/kavor_package" ||
      exit 1
    [ -z "$owner" ] ||
      printf '%s' "$owner" >"$DL/kavor_package_${stamp}1/session"
  done
  count=$(find "$DL" -name kavor_package -type f | wc -l)
  setup_command 'C:\Kavor' "$SESSION"
  run_in_job -- "${SETUP_ARGS[@]}"
  stop_update_server
  LOG=$(logs)
  check "$name: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  check "$name: the backend looked by the folders' common name" \
    has "$LOG" "--package-dir-prefix="
  check "$name: its own package installed, nothing planted" \
    installed_package Kavor
  check "$name: the planted folders left alone ($count)" \
    [ "$(find "$DL" -name kavor_package -type f | wc -l)" = "$count" ]
  check "$name: its own folder removed ($(session_folders "$SESSION"))" \
    [ -z "$(session_folders "$SESSION")" ]
  [ "$failed" = 0 ] || { echo "--- log"; tail -n 60 <<<"$LOG"; }
}
# Anyone's: no record, an unsigned package.
planted_case planted "" planted_unsigned
# Another front end's of the same second: its record, a signed package.
planted_case other_session "$OTHER_SESSION" planted_signed

# --- Two installs started together, into two install folders. Each front
# end puts preference default overrides of its own into its package folder,
# and the installation takes them from the folder its backend used.
package_case same_second good
setup_command 'C:\KavorA' "$SESSION" prefsA
A_ARGS=("${SETUP_ARGS[@]}")
setup_command 'C:\KavorB' "$OTHER_SESSION" prefsB
B_ARGS=("${SETUP_ARGS[@]}")
RUNS=""
for run in A B; do
  args_name="${run}_ARGS[@]"
  (
    wine "$E2E_RUNNER" "--timeout-seconds=$E2E_TIMEOUT_SECONDS" \
      "--env=TEMP=$E2E_TEMP" "--env=TMP=$E2E_TEMP" -- "${!args_name}" \
      >"$E2E_CASE/out_$run" 2>"$E2E_CASE/err_$run"
    echo $? >"$E2E_CASE/rc_$run"
  ) &
  RUNS="$RUNS $!"
done
# shellcheck disable=SC2086 # the two runs' ids
wait $RUNS
stop_update_server
LOG=$(logs)
for run in A B; do
  check "same_second: run $run exit 0 (got $(cat "$E2E_CASE/rc_$run"): $(cat "$E2E_CASE/err_$run"))" \
    [ "$(cat "$E2E_CASE/rc_$run")" = 0 ]
  check "same_second: run $run installed its package" installed_package "Kavor$run"
  check "same_second: run $run took its own front end's folder ($(cat "$C/Kavor$run/pref_default_overrides" 2>&1))" \
    cmp -s "$E2E_CASE/www/prefs$run" "$C/Kavor$run/pref_default_overrides"
done
# Whether the two front ends did start in the same second, from their logs.
echo "same_second: package folders named in the logs:" \
  $(grep -o 'kavor_package_[0-9]*' <<<"$LOG" | sort -u)
check "same_second: no package folder left ($(ls "$DL" | grep kavor_package_))" \
  [ -z "$(find "$DL" -name 'kavor_package_*' -type d)" ]
[ "$failed" = 0 ] || { echo "--- log"; tail -n 80 <<<"$LOG"; }

# --- The wizard's user quits while the backend extracts the package.
# The Unix processes of this case's prefix whose command line has ARG.
case_processes() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" |
      grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
# wait_for WHAT TENTHS CMD...: until CMD succeeds, at most TENTHS tenths of
# a second; says what it waited for when it gives up.
wait_for() {
  local what="$1" tenths="$2" i
  shift 2
  for i in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  echo "waited in vain for $what" >&2
  return 1
}
VERSION_FOLDER_OF_CANCEL=""
extraction_begun() {
  [ -n "$(find "$VERSION_FOLDER_OF_CANCEL" -type f 2>/dev/null | head -1)" ]
}
front_end_gone() {
  [ -z "$(case_processes 'kavor_setup.exe' | while read -r pid; do
    tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" |
      grep -v -e '--backend' -e 'kavor_job_runner' | grep -q . && echo "$pid"
  done)" ]
}

package_case cancel big
ROOT="$C/Program Files/Kavor developer"
VERSION_FOLDER_OF_CANCEL="$ROOT/47.0.4127.0"
REPORT="$E2E_CASE/cancel.report"
run_in_background cancel run_in_job "--report=$(e2e_winpath "$REPORT")" -- \
  'C:\dl\kavor_setup.exe' "--internal-package-server=$URL/metadata" \
  "--local-pref-default-overrides-server=$URL/prefs" \
  --enable-installer-stats=0
drive --timeout=90 wait-window wait-control 1003 --visible --enabled \
  click 1003 wait-control 1211 --visible
check "cancel: accepted, the progress page (rc $DRIVE_RC: $DRIVE_ERR)" \
  [ "$DRIVE_RC" = 0 ]
if wait_for "the extraction" 1200 extraction_begun; then
  STOPPED_PIDS=$(case_processes '--backend' | tr '\n' ' ')
  for pid in $STOPPED_PIDS; do kill -STOP "$pid"; done
fi
check "cancel: the backend held still mid-extraction ($STOPPED_PIDS)" \
  [ -n "$STOPPED_PIDS" ]
drive --timeout=90 close wait-messagebox answer-messagebox IDYES wait-gone
check "cancel: closed and quit (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "cancel: the front end ended" wait_for "the front end's end" 600 \
  front_end_gone
resume_stopped
background_ended cancel
stop_update_server
LOG=$(logs)
check "cancel: the run was interrupted" has "$LOG" \
  "Installation was interrupted"
check "cancel: the package's installer never started" \
  eval '! has "$LOG" "Running installer from the package"'
check "cancel: no install folder ($(ls "$ROOT" 2>&1 | head -3))" [ ! -e "$ROOT" ]
check "cancel: no package folder left ($(ls "$DL" | grep kavor_package_))" \
  [ -z "$(find "$DL" -name 'kavor_package_*' -type d)" ]
[ "$failed" = 0 ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; echo "--- log"
  grep -i -e interrupt -e unpack -e extract -e package -e cancel <<<"$LOG" |
    tail -n 60
}
echo "cancel: $(grep -o 'Extraction interrupted after [0-9]* entries' <<<"$LOG")"

e2e_summary
