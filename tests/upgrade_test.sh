#!/usr/bin/env bash
# The upgrade, started as its users start it. Each case begins in a fresh
# prefix with the older release (47.0.4100.0, the build's bin/old: the same
# sources with another version) installed silently into C:\Kavor by its
# signed setup from the stand-in update service; then today's signed setup
# runs over it, fetching today's package from the same service:
# - silently: the folder holds an installation, so the run is an upgrade
#   (operation 2) into 47.0.4127.0. Today's status, one uninstall entry (the
#   old one replaced), today's launcher, the same shortcuts and app id, the
#   old status moved into old_status under the time of the move; the old
#   version folder stays until the next upgrade. That next upgrade (today's
#   setup again) lands in 47.0.4127.0_0 and removes 47.0.4100.0 with its
#   old status. The installation's own silent uninstall then leaves nothing
#   but what an uninstall keeps (the preferences, the tracking data, the
#   last install path);
# - as the browser's scheduled update (--autoupdate): the same upgrade;
# - in the wizard, started without switches but those that point it at the
#   loopback services: the welcome page offers "Accept and Upgrade", the
#   user accepts, and the run ends as the same upgrade, the browser started
#   again through the launcher.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/stats_server.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"
trap 'stop_update_server; stop_stats_server; _e2e_exit' EXIT
export KAVOR_INSTALLER_VERBOSITY=1

OLD=47.0.4100.0
NEW=47.0.4127.0
OLD_BIN="$E2E_BIN/old"

# utf16_in FILE TEXT: FILE holds TEXT in UTF-16 (as version resources do).
utf16_in() {
  python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$1" "$2"
}
says_old() { utf16_in "$1" "$OLD" && ! utf16_in "$1" "$NEW"; }
for file in kavor_setup.exe kavor_installer.dll kavor_launcher_standin.exe; do
  [ -f "$OLD_BIN/$file" ] || {
    echo "no $OLD_BIN/$file: build the older release (testing/old_release)" >&2
    exit 1
  }
  check "the older release's $file says $OLD, not $NEW" says_old "$OLD_BIN/$file"
done

network_signing_keys "$E2E_BIN" || exit 1
# The older release's package and setup: its host, library and launcher,
# today's stand-ins for the rest, behind the stub that says 47.0.4100.0.
OLD_VIEW="$E2E_WORK/old_bin"
mkdir -p "$OLD_VIEW"
for file in "$E2E_BIN"/*.exe; do ln -s "$file" "$OLD_VIEW/"; done
for file in kavor_setup.exe kavor_installer.dll kavor_launcher_standin.exe; do
  ln -sf "$OLD_BIN/$file" "$OLD_VIEW/$file"
done
make_release "$OLD_VIEW" package_old --stub=kavor_package_stub_old.exe ||
  exit 1
OLD_EXPECTED="$EXPECTED" OLD_PACKAGE="$PACKAGE"
OLD_SETUP="$E2E_WORK/setup_old"
make_signed_setup "$OLD_BIN" "$OLD_SETUP" || exit 1
# Today's.
make_release "$E2E_BIN" package || exit 1
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" || exit 1
# Otherwise an upgrade that kept the old launcher would pass for one that
# replaced it.
launchers_differ() { ! cmp -s "$EXPECTED/launcher.exe" "$OLD_EXPECTED/launcher.exe"; }
check "the two releases' launchers differ" launchers_differ
STATS_PY=$(stats_python) || exit 1
SCHEMA="$E2E_WORK/stats_schema.json"
write_stats_schema "$E2E_BIN" "$SCHEMA" || SCHEMA=""

has() { grep -qF -- "$2" <<<"$1"; }

# run_setup NAME PROGRAM ARGS...: PROGRAM run in the job, its TEMP a folder
# NAME of the case; sets RC, ERR, LOG (the run's logs), REPORT, T0 and T1
# (POSIX times before and after).
run_setup() {
  local name="$1"
  shift
  mkdir -p "$E2E_CASE/$name"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/$name")
  REPORT="$E2E_CASE/$name.report"
  T0=$(date +%s)
  run_in_job "--report=$(e2e_winpath "$REPORT")" -- "$@"
  T1=$(date +%s)
  read_run "$name"
}
# read_run NAME: sets LOG and makes REPORT of run NAME, and takes away what
# the helper stand-in wrote beside itself: it is the test's, not the
# installation's, and would keep an old version folder from going.
read_run() {
  LOG=$(cat "$E2E_CASE/$1/Kavor Installer"/kavor_installer_*.log \
    2>/dev/null | tr -d '\r')
  [ -f "$REPORT" ] || : >"$REPORT"
  rm -f "$ROOT"/*/helper_calls.txt
}
# show_run: what a failed check needs to be read: the processes and the
# logs without their closing histograms.
show_run() {
  echo "--- processes"; cat "$REPORT"
  echo "--- log"
  grep -v -e '^Histogram: ' -e '^[0-9]* [ .O-]' <<<"$LOG" | tail -n 80
}
# The switches of the silent runs, for the service's reply METADATA. The
# preference default overrides come from the service too: the maker's
# address is none of the test's.
silent_switches() {
  SWITCHES=(--silent '--installfolder=C:\Kavor' --allusers=0
    --launchbrowser=0 --enable-installer-stats=0
    "--internal-package-server=$URL/$1"
    "--local-pref-default-overrides-server=$URL/prefs")
}

# status_value FILE EXPRESSION: a value of the status FILE, s being the
# parsed status (Python).
status_value() {
  python3 - "$1" "$2" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8-sig"))
value = eval(sys.argv[2])
print("\n".join(value) if isinstance(value, list) else value)
PY
}
shortcut_paths() {
  status_value "$1" '[v for k, v in sorted(s.get("shortcuts", {}).items())]'
}

# uninstall_entries: the uninstall entries, of the user and the machine in
# either view, whose install location is C:\Kavor: "KEY|DISPLAY VERSION"
# a line.
uninstall_entries() {
  local root try out
  for root in HKCU 'HKLM\Software'; do
    for try in 1 2 3; do
      out=$(wine reg export "$root" "$(e2e_winpath "$E2E_CASE/entries.reg")" \
        /y 2>&1) && break
    done
    [ -s "$E2E_CASE/entries.reg" ] || { echo "reg export $root: $out" >&2; return 1; }
    python3 - "$E2E_CASE/entries.reg" <<'PY'
import re, sys
key, values, found = None, {}, []
def flush():
    if key and re.search(r"\\microsoft\\windows\\currentversion\\uninstall\\[^\\]+$",
                         key, re.I):
        if values.get("installlocation", "").rstrip("\\").lower() == "c:\\kavor":
            found.append("%s|%s" % (key, values.get("displayversion", "")))
for line in open(sys.argv[1], encoding="utf-16"):
    line = line.rstrip("\r\n")
    if line.startswith("["):
        flush()
        key, values = line[1:-1], {}
        continue
    m = re.match(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', line)
    if m:
        unescape = lambda t: re.sub(r"\\(.)", r"\1", t)
        values[unescape(m.group(1)).lower()] = unescape(m.group(2))
flush()
print("\n".join(found))
PY
    rm -f "$E2E_CASE/entries.reg"
  done | grep .
}

# upgrade_case NAME: a fresh prefix trusting the test root, today's signed
# setup in C:\dl and the older one in C:\old, the stand-in service naming
# today's package at /metadata and the older one at /metadata_old, no
# preference default overrides at /prefs, and the older release installed
# silently into C:\Kavor. Sets C, URL, ROOT (the
# install folder, Unix path), OLD_STATUS (a copy of the older release's
# status) and BEFORE (its shortcuts' files, copied); ends the script when
# the older release did not install.
upgrade_case() {
  stop_update_server
  network_prefix "$1" "$SETUP"
  mkdir -p "$C/old"
  cp "$OLD_SETUP/kavor_setup.exe" "$OLD_SETUP/kavor_installer.dll" "$C/old/"
  ln "$PACKAGE" "$WWW/kavor_package.exe"
  ln "$OLD_PACKAGE" "$WWW/kavor_package_old.exe"
  : >"$WWW/metadata"
  : >"$WWW/metadata_old"
  printf '{}' >"$WWW/prefs"
  start_update_server "$WWW" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  package_metadata_json "$URL/kavor_package.exe" "$(sha256_of "$PACKAGE")" \
    >"$WWW/metadata"
  package_metadata_json "$URL/kavor_package_old.exe" \
    "$(sha256_of "$OLD_PACKAGE")" >"$WWW/metadata_old"
  ROOT="$C/Kavor"
  silent_switches metadata_old
  run_setup old 'C:\old\kavor_setup.exe' "${SWITCHES[@]}"
  OLD_STATUS="$E2E_CASE/old_status.json"
  cp "$ROOT/installation_status.json" "$OLD_STATUS" 2>/dev/null || : >"$OLD_STATUS"
  local differ before=$failed
  differ=$(installed_differ "$OLD_EXPECTED" "$ROOT" "$ROOT/$OLD")
  check "$1: the older release installed (exit $RC: $ERR; differ:$differ)" \
    [ "$RC" = 0 -a -d "$ROOT/$OLD" -a -z "$differ" ]
  check "$1: the older release ran" \
    has "$LOG" "Kavor installer starting - version $OLD developer"
  check "$1: the older release's status says $OLD" \
    [ "$(status_value "$OLD_STATUS" 's["version"]')" = "$OLD" ]
  check "$1: the older release's uninstall entry ($(uninstall_entries | tr '\n' ' '))" \
    [ "$(uninstall_entries | sed 's/.*\\//')" = "Kavor $OLD|$OLD" ]
  if [ "$failed" != "$before" ]; then
    show_run
    e2e_summary
    exit 1
  fi
  mapfile -t OLD_SHORTCUTS < <(shortcut_paths "$OLD_STATUS")
  BEFORE="$E2E_CASE/shortcuts_before"
  mkdir -p "$BEFORE"
  local i
  for i in "${!OLD_SHORTCUTS[@]}"; do
    cp "$(unix_path "${OLD_SHORTCUTS[i]}")" "$BEFORE/$i.lnk" 2>/dev/null
  done
}

# moved_status: the files of old_status, one a line.
moved_status() { (cd "$ROOT/old_status" 2>/dev/null && ls -A); }
# moved_during_run FILE: FILE is the older status moved by the last run:
# named after the status file and a time within the run, same content.
moved_during_run() {
  local moved="$1" time
  time=${moved#installation_status.json.}
  [[ "$time" =~ ^[0-9]+$ ]] && [ "$time" -ge "$T0" ] && [ "$time" -le "$T1" ] &&
    cmp -s "$ROOT/old_status/$moved" "$2"
}
shortcuts_kept() {
  local i path
  [ "${#OLD_SHORTCUTS[@]}" -gt 0 ] || { echo "no shortcuts recorded" >&2; return 1; }
  [ "$(shortcut_paths "$ROOT/installation_status.json")" = \
    "$(printf '%s\n' "${OLD_SHORTCUTS[@]}")" ] ||
    { echo "the status records other shortcuts" >&2; return 1; }
  for i in "${!OLD_SHORTCUTS[@]}"; do
    path=$(unix_path "${OLD_SHORTCUTS[i]}")
    cmp -s "$BEFORE/$i.lnk" "$path" ||
      { echo "changed or gone: ${OLD_SHORTCUTS[i]}" >&2; return 1; }
  done
}
package_folders() {
  find "$E2E_CASE" -path "$E2E_CASE/prefix" -prune -o -name 'kavor_package_*' \
    -type d -print
}

# check_upgraded LABEL SUBFOLDER PREVIOUS_STATUS: the last run upgraded the
# installation of PREVIOUS_STATUS (a copy) to today's release in SUBFOLDER.
check_upgraded() {
  local label="$1" sub="$2" previous="$3" status="$ROOT/installation_status.json"
  local differ moved
  check "$label: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  check "$label: every installer process exit 0 ($(job_processes "$REPORT" | tr '\n' ';'))" \
    [ -z "$(job_processes "$REPORT" | grep -v -e ' exit=0 ' -e ' exit=3221225781 ')" ]
  check "$label: the run was an upgrade (Operation: 2)" has "$LOG" "Operation: 2"
  check "$label: the status says $NEW" \
    [ "$(status_value "$status" 's["version"]')" = "$NEW" ]
  check "$label: the status names $sub" \
    [ "$(status_value "$status" 's["_subfolder"]')" = "$sub" ]
  check "$label: the app id kept" [ -n "$(status_value "$previous" 's["app_id"]')" -a \
    "$(status_value "$status" 's["app_id"]')" = "$(status_value "$previous" 's["app_id"]')" ]
  differ=$(installed_differ "$EXPECTED" "$ROOT" "$ROOT/$sub")
  check "$label: today's package installed in $sub (differ:$differ)" \
    [ -d "$ROOT/$sub" -a -z "$differ" ]
  check "$label: launcher.exe is today's" cmp -s "$EXPECTED/launcher.exe" "$ROOT/launcher.exe"
  check "$label: one uninstall entry, today's ($(uninstall_entries | tr '\n' ' '))" \
    [ "$(uninstall_entries | sed 's/.*\\//')" = "Kavor $NEW|$NEW" ]
  STATUS="$status"
  check "$label: the recorded registry entries there" registry present HKCU
  check "$label: the shortcuts kept" shortcuts_kept
  moved=$(moved_status | grep -vxF -f <(printf '%s\n' "${KEPT_MOVED[@]:-}"))
  check "$label: the previous status moved into old_status (new there: $(echo $moved))" \
    moved_during_run "$moved" "$previous"
  check "$label: no package folder left ($(package_folders))" [ -z "$(package_folders)" ]
}

# --- A silent upgrade, the next upgrade, then the uninstall.
MARK=$failed
upgrade_case silent
run_in_job -- 'C:\old\kavor_setup.exe' --version
check "the older setup tells $OLD (got \"$OUT\", exit $RC)" [ "$OUT" = "$OLD" -a "$RC" = 0 ]
KEPT_MOVED=()
silent_switches metadata
run_setup upgrade 'C:\dl\kavor_setup.exe' "${SWITCHES[@]}"
check_upgraded silent "$NEW" "$OLD_STATUS"
check "silent: $OLD kept until the next upgrade" [ -f "$ROOT/$OLD/kavor.exe" ]
check "silent: no browser started" [ ! -e "$ROOT/launcher_calls.txt" ]
[ "$failed" = "$MARK" ] || show_run

MARK=$failed
FIRST_STATUS="$E2E_CASE/first_status.json"
cp "$ROOT/installation_status.json" "$FIRST_STATUS"
mapfile -t KEPT_MOVED < <(moved_status)
run_setup next 'C:\dl\kavor_setup.exe' "${SWITCHES[@]}"
check_upgraded next "${NEW}_0" "$FIRST_STATUS"
check "next: $OLD removed" [ ! -e "$ROOT/$OLD" ]
check "next: its status removed from old_status ($(moved_status | tr '\n' ' '))" \
  [ "$(moved_status | wc -l)" = 1 ]
check "next: $NEW kept until the next upgrade" [ -f "$ROOT/$NEW/kavor.exe" ]
[ "$failed" = "$MARK" ] || show_run

# The uninstall from the installation, as uninstall_test.sh runs it.
MARK=$failed
FINAL_STATUS="$E2E_CASE/final_status.json"
cp "$ROOT/installation_status.json" "$FINAL_STATUS"
mapfile -t SHORTCUTS < <(shortcut_paths "$FINAL_STATUS")
run_setup uninstall "C:\\Kavor\\${NEW}_0\\installer.exe" --uninstall --silent \
  --enable-installer-stats=0
check "uninstall: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
# What an uninstall keeps, and the uninstaller's own files, which the
# clean-up batch may not have got to yet (see uninstall_test.sh).
left=$(cd "$ROOT" && find . -mindepth 1 | sed 's|^\./||' | grep -v -x \
  -e installer_prefs.json -e server_tracking_data -e k.bat -e "${NEW}_0" \
  -e "${NEW}_0/installer.exe" -e "${NEW}_0/kavor_installer.dll")
check "uninstall: nothing left but what an uninstall keeps (left: $(echo $left))" \
  [ -z "$left" -a -f "$ROOT/installer_prefs.json" ]
gone_shortcuts() {
  local path
  for path in "${SHORTCUTS[@]}"; do
    [ ! -e "$(unix_path "$path")" ] || { echo "left: $path" >&2; return 1; }
  done
}
check "uninstall: the shortcuts gone" gone_shortcuts
check "uninstall: no uninstall entry ($(uninstall_entries | tr '\n' ' '))" \
  [ -z "$(uninstall_entries)" ]
STATUS="$FINAL_STATUS"
check "uninstall: the recorded registry entries gone" registry gone HKCU
# A start of reg under load has been seen to fail on its own: asked again.
for try in 1 2 3; do
  last_path=$(wine reg query 'HKCU\Software\Kavor Software' \
    /v 'Last developer Install Path' 2>&1) && break
done
check "uninstall: the last install path kept ($last_path)" \
  has "$(tr -d '\r' <<<"$last_path")" 'REG_SZ    C:\Kavor\'
old_in_registry() { registry_kavor_lines | grep -F "$OLD"; }
check "uninstall: nothing of $OLD in the registry ($(old_in_registry))" \
  eval '[ -z "$(old_in_registry)" ]'
[ "$failed" = "$MARK" ] || show_run

# --- The browser's scheduled update.
MARK=$failed
upgrade_case autoupdate
KEPT_MOVED=()
silent_switches metadata
run_setup upgrade 'C:\dl\kavor_setup.exe' "${SWITCHES[@]}" --autoupdate
check_upgraded autoupdate "$NEW" "$OLD_STATUS"
check "autoupdate: an autoupdate run" has "$LOG" "Autoupdate:1"
[ "$failed" = "$MARK" ] || show_run

# --- The wizard.
MARK=$failed
upgrade_case wizard
KEPT_MOVED=()
stop_stats_server
start_stats_server 9000 "$E2E_CASE/stats" "$SCHEMA" || exit 1
rm -f "$(screenshot_path upgrade_welcome)"
mkdir -p "$E2E_CASE/wizard"
E2E_TEMP=$(e2e_winpath "$E2E_CASE/wizard")
REPORT="$E2E_CASE/wizard.report"
T0=$(date +%s)
run_in_background wizard run_in_job "--report=$(e2e_winpath "$REPORT")" -- \
  'C:\dl\kavor_setup.exe' "--internal-package-server=$URL/metadata" \
  "--local-pref-default-overrides-server=$URL/prefs" --test-avro-srv
# The folder's details come in the background: Accept waits for them.
drive --timeout=90 wait-window wait-control 1003 --visible --enabled \
  screenshot upgrade_welcome --shown text 1003
check "wizard: the welcome page (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "wizard: Accept reads \"Accept and Upgrade\" ($DRIVE_OUT)" \
  has "$DRIVE_OUT" "Accept and Upgrade"
check "wizard: the welcome screenshot is drawn" screenshot_drawn upgrade_welcome
drive click 1003 wait-gone --timeout=120
check "wizard: accepted, and the window goes (rc $DRIVE_RC: $DRIVE_ERR)" \
  [ "$DRIVE_RC" = 0 ]
background_ended wizard
T1=$(date +%s)
read_run wizard
stop_stats_server
check_upgraded wizard "$NEW" "$OLD_STATUS"
check "wizard: \"Accept clicked.\" logged" has "$LOG" "Accept clicked."
# An upgrade starts the browser again, not maximized.
started_again() {
  [ -s "$ROOT/launcher_calls.txt" ] &&
    ! grep -q start-maximized "$ROOT/launcher_calls.txt"
}
check "wizard: the browser started through the launcher ($(cat "$ROOT/launcher_calls.txt" 2>/dev/null))" \
  started_again
[ "$failed" = "$MARK" ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; show_run
}

e2e_summary
