#!/usr/bin/env bash
# How a silent run ends when one of its processes is killed mid-copy, and a
# second run on the same folder while the first is still being undone.
# The package holds enough files that the copy into the version folder
# takes a while; the test waits for conditions, never for fixed times.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
e2e_init "$1"
export KAVOR_INSTALLER_VERBOSITY=1
EXTRA_FILES=1500
VERSION=47.0.4127.0

# big_package DIR [OPTION...]: the test package plus EXTRA_FILES small files.
big_package() {
  local dir="$1"
  shift
  local list="$E2E_CASE/extra_list" i
  mkdir -p "$dir/extra"
  for i in $(seq -w 1 "$EXTRA_FILES"); do
    printf 'file %s\n' "$i" >"$dir/extra/f$i.bin"
    printf 'extra\\f%s.bin\n' "$i"
  done >"$list"
  make_test_package "$E2E_BIN" "$dir" --host-name=setup.exe \
    --extra-list="$list" "$@"
}

# start_silent NAME PACKAGE: the silent install of PACKAGE into C:\Kavor in
# its own job, in the background; its logs go to $E2E_CASE/NAME, its exit
# code to $E2E_CASE/NAME.rc once the job is empty.
start_silent() {
  local name="$1" package="$2"
  mkdir -p "$E2E_CASE/$name"
  (
    E2E_TEMP=$(e2e_winpath "$E2E_CASE/$name")
    run_in_job "--report=$(e2e_winpath "$E2E_CASE/$name.report")" -- \
      "$package\\setup.exe" --silent '--installfolder=C:\Kavor' \
      --allusers=0 --launchbrowser=0 --enable-installer-stats=0 \
      '--local-pref-default-overrides-server=http://127.0.0.1:9/none'
    echo "$RC" >"$E2E_CASE/$name.rc"
  ) &
}

# wait_for WHAT SECONDS CMD...: polls CMD every 50 ms, at most SECONDS.
wait_for() {
  local what="$1" limit="$2" i
  shift 2
  for ((i = 0; i < limit * 20; i++)); do
    "$@" && return 0
    sleep 0.05
  done
  echo "gave up waiting for $what" >&2
  return 1
}

copied_files() { find "$C/Kavor/$VERSION" -type f 2>/dev/null | wc -l; }
copy_under_way() { [ "$(copied_files)" -ge 50 ]; }
job_done() { [ -f "$E2E_CASE/$1.rc" ]; }

# The Unix process ids of this case's Wine processes whose command line
# holds TEXT; only processes of this case's prefix are ever named.
case_pids() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
      grep -qxF "WINEPREFIX=$E2E_PREFIX" && echo "$pid"
  done
}
kill_case_process() {
  local pids
  pids=$(case_pids "$1")
  [ -n "$pids" ] && kill -9 $pids
}

# log_with NAME TEXT: the log file of run NAME that holds TEXT.
log_with() {
  grep -lF -- "$2" "$E2E_CASE/$1/Kavor Installer"/*.log 2>/dev/null | head -n1
}
front_end_log() { log_with "$1" "--silent --installfolder"; }
outer_backend_log() {
  local log
  while IFS= read -r log; do
    sed -n 2p "$log" | grep -qF "installer.exe" || { echo "$log"; return; }
  done < <(grep -lF -- "Backend1" "$E2E_CASE/$1/Kavor Installer"/*.log 2>/dev/null)
}
# ended NAME LOG: LOG (of run NAME) holds the process's last line.
ended() { [ -n "$2" ] && grep -qF "Installer exiting with result" "$2"; }
ended_with() {
  grep -F "Installer exiting with result" "$2" | head -n1 | sed 's/.*result //' | tr -d '\r'
}
# The template prefix may hold a value of the unit tests (they share the
# build prefix it is copied from): only this run's folder counts.
last_path_left() {
  wine reg query 'HKCU\Software\Kavor Software' /v 'Last developer Install Path' 2>/dev/null |
    tr -d '\r' | grep -qiF 'C:\Kavor\'
}
# last_path_gone: reg answers, and the value is not there.
last_path_gone() {
  wine reg query 'HKCU\Software' >/dev/null 2>&1 && ! last_path_left
}

# --- The backend killed mid-copy: its exit code reads as success under
# Wine, but it never reported one.
new_prefix backend_killed
C="$WINEPREFIX/drive_c"
big_package "$C/pkg"
start_silent run 'C:\pkg'
wait_for "the copy" 60 copy_under_way
check "backend killed mid-copy" kill_case_process "^[^ ]*setup\\.exe --backend"
# A process killed so leaves Wine's job waiting for it: the front end's last
# log line is its end (the job goes with the prefix).
wait_for "the front end's end" 60 ended run "$(front_end_log run)"
result=$(ended_with run "$(front_end_log run)")
check "front end fails when its backend died (result $result)" \
  eval '[ -n "$result" ] && [ "$result" != 0 ]'
check "front end names what may be left" \
  grep -qF "may be left unfinished" "$(front_end_log run)"

# --- The package's installer killed as soon as it runs: it never reported
# success, whatever its exit code says. The backend that handed over to it
# fails the run, takes back the version folder it unpacked and names what
# the killed installer may have left.
new_prefix package_installer_killed
C="$WINEPREFIX/drive_c"
big_package "$C/pkg"
start_silent run 'C:\pkg'
PACKAGE_INSTALLER="^[^ ]*Kavor\\\\$VERSION\\\\installer\\.exe --backend"
package_installer_runs() { [ -n "$(case_pids "$PACKAGE_INSTALLER")" ]; }
wait_for "the package's installer" 60 package_installer_runs
check "package's installer killed" kill_case_process "$PACKAGE_INSTALLER"
wait_for "the front end's end" 60 ended run "$(front_end_log run)"
result=$(ended_with run "$(front_end_log run)")
check "front end fails when the package's installer died (result $result)" \
  eval '[ -n "$result" ] && [ "$result" != 0 ]'
# The front end ends on the backend's error; the backend rolls back after.
outer_ended() { ended run "$(outer_backend_log run)"; }
wait_for "the backend's end" 60 outer_ended
OUTER=$(outer_backend_log run)
check "backend fails without the package installer's report" \
  grep -qF "ended without reporting success" "$OUTER"
check "backend names what may be left" \
  grep -qF "may be left unfinished" "$OUTER"
check "unpacked version folder taken back" [ ! -e "$C/Kavor/$VERSION/kavor.exe" ]

# --- The front end killed mid-copy: the backend stops between files and
# takes back everything.
new_prefix front_end_killed
C="$WINEPREFIX/drive_c"
big_package "$C/pkg"
start_silent run 'C:\pkg'
wait_for "the copy" 60 copy_under_way
check "front end killed mid-copy" kill_case_process "^[^ ]*setup\\.exe --silent"
wait_for "the backend's end" 60 outer_ended
check "backend stopped between files" \
  grep -qF "Unpacking interrupted after" "$(outer_backend_log run)"
check "front end killed: folder taken back" [ ! -e "$C/Kavor" ]
check "front end killed: last install path taken back" last_path_gone

# --- A second run while the first one's backend still undoes its work: it
# waits or is refused with 12, never takes the first run's interruption,
# and the two backends never work on the folder together. The first
# package lacks its last listed file, so the first run fails after the
# whole copy and rolls it back.
new_prefix second_run
C="$WINEPREFIX/drive_c"
big_package "$C/pkg1"
printf 'missing.bin\r\n' >>"$C/pkg1/files_list"
make_test_package "$E2E_BIN" "$C/pkg2" --host-name=setup.exe
start_silent first 'C:\pkg1'
first_front_end_done() {
  local log
  log=$(front_end_log first)
  [ -n "$log" ] && grep -qF "Installer exiting with result" "$log"
}
wait_for "the first front end's end" 60 first_front_end_done
start_silent second 'C:\pkg2'
first_backend_ended() { ended first "$(outer_backend_log first)"; }
# Under Wine the first job may miss the end of its last process: the logs
# tell the first run's end.
wait_for "the first backend's end" 60 first_backend_ended
wait_for "the second run's end" 60 job_done second
RC1=$(ended_with first "$(front_end_log first)")
RC2=$(cat "$E2E_CASE/second.rc" 2>/dev/null)
check "first run failed (result $RC1)" [ "$RC1" = 10 ]
check "second run waited or was refused, not cancelled (exit $RC2)" \
  eval '[ "$RC2" = 0 ] || [ "$RC2" = 112 ]'
SECOND=$(outer_backend_log second)
if [ "$RC2" = 0 ]; then
  check "second run installed" [ -f "$C/Kavor/$VERSION/kavor.exe" ]
fi
if [ -n "$SECOND" ]; then
  check "second backend not interrupted" \
    eval '! grep -qF "Installation was interrupted" "$SECOND"'
  # Log lines start with [MMDD/HHMMSS.mmm:
  stamp() { grep -F -- "$2" "$1" | head -n1 | cut -c2-18; }
  first_end=$(stamp "$(outer_backend_log first)" "Installer backend exiting")
  second_begin=$(stamp "$SECOND" "Beginning installation")
  check "backends one after the other ($first_end < $second_begin)" \
    eval '[ -n "$first_end" ] && [[ "$first_end" < "$second_begin" ]]'
fi

e2e_summary
