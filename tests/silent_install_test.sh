#!/usr/bin/env bash
# The installer's main job without a window: setup.exe --silent in an
# unpacked package installs through three processes (front end, backend,
# the package's installer) talking over the mailslot, with the preference
# default overrides fetched from a loopback server.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; _e2e_exit' EXIT

OVERRIDES='{"browser":{"check_default_browser":false}}'
mkdir -p "$E2E_WORK/www"
printf '%s' "$OVERRIDES" >"$E2E_WORK/www/prefs"
start_loopback_server "$E2E_WORK/www" || exit 1

# silent_install PATH: a fresh prefix with the package in C:\pkg, then the
# silent install with the overrides at http://127.0.0.1:<port>/PATH.
silent_install() {
  new_prefix "silent_$1"
  C="$WINEPREFIX/drive_c"
  make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  STATS="$E2E_CASE/stats.txt"
  REPORT="$E2E_CASE/report.txt"
  KAVOR_STATS_LOG_FILE=$(e2e_winpath "$STATS") run_in_job \
    "--report=$(e2e_winpath "$REPORT")" -- 'C:\pkg\setup.exe' --silent \
    '--installfolder=C:\Kavor' --allusers=0 --launchbrowser=0 \
    --quicklaunchshortcut=1 \
    "--local-pref-default-overrides-server=http://127.0.0.1:$LOOPBACK_PORT/$1"
  [ -f "$STATS" ] || : >"$STATS"
  [ -f "$REPORT" ] || : >"$REPORT"
}

# Every process of the job ("?" when Wine could not name one) but Wine's
# own, the pin helper and the front end's download-folder probe: a bare
# copy of the host started only to see that something can start there,
# which ends with 0xC0000135 (its library is not beside it). The helper may
# end before Wine names it; the installer processes live long enough to be
# named, so an unnamed process that ended well is the helper.
installer_processes() {
  job_processes "$REPORT" |
    grep -v -e ' exit=3221225781 ' -e '^installer_helper_64\.exe ' \
      -e '^? exit=0 '
}
stats_has() { grep -F '"event":"'"$1"'"' "$STATS" | grep -qF -- "${2:-}"; }
# Step events of copy, unpack and move steps are too many to be worth
# sending; every other step sends them.
no_file_step_events() {
  ! grep -E '"event":"installer_step_(starting|finished)"' "$STATS" |
    grep -qE '"step_name":"(copy_file|direct_unpacking|move_file)'
}
front_end_log_starts_right() {
  local log
  for log in "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log; do
    [ -f "$log" ] || continue
    head -n1 "$log" |
      grep -qF "Kavor installer starting - version 47.0.4127.0 developer" &&
      sed -n 2p "$log" | grep -qF -- "--silent" && return 0
  done
  return 1
}

silent_install prefs
check "front end exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "three installer processes ($(installer_processes | tr '\n' ';'))" \
  [ "$(installer_processes | wc -l)" = 3 ]
check "every installer process exit 0" \
  [ -z "$(installer_processes | grep -v ' exit=0 ')" ]
check "log file's first lines" front_end_log_starts_right
check "controller_launched, payload none, silent" \
  stats_has controller_launched '"none"'
check "controller_launched is silent" stats_has controller_launched '"silent":true'
check "settings_accepted" stats_has settings_accepted
check "step events of the other steps" stats_has installer_step_finished
check "no step events of file steps" no_file_step_events
check "controller_quitting" stats_has controller_quitting
check "browser installed" [ -f "$C/Kavor/47.0.4127.0/kavor.exe" ]
check "overrides stored" [ "$(cat "$C/Kavor/pref_default_overrides" 2>/dev/null)" = "$OVERRIDES" ]
# The status read back names this version, its folder and its files.
status_right() {
  python3 - "$C/Kavor/installation_status.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
assert s["version"] == "47.0.4127.0", s
assert s["path"] == "C:\\Kavor" and s["_subfolder"] == "47.0.4127.0", s
assert "kavor.exe" in s["files"] and "setup.exe" in s["root_files"], s
assert s["copy_only"] is False and s["_all_users"] is False, s
PY
}
prefs_right() {
  python3 - "$C/Kavor/installer_prefs.json" <<'PY'
import json, sys
p = json.load(open(sys.argv[1], encoding="utf-8"))
assert p["autoupdate"] is False and "enable_stats" in p, p
assert p["installer-experiments"] == [], p
assert len(p["all-installer-experiments"]) == 3, p
assert p["last_installation_guid"], p
PY
}
check "installation_status.json read back" status_right
check "installer_prefs.json written" prefs_right
# The shortcuts: recorded in the status and read back with the shell link
# code of the base library, each to the launcher; the master one stays in
# the package folder.
recorded_shortcuts() {
  python3 - "$C/Kavor/installation_status.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))["shortcuts"]
for key, folder in (("SC_DEST_DESKTOP", "\\Desktop\\"),
                    ("SC_DEST_MENU", "\\Start Menu\\Programs\\"),
                    ("SC_DEST_QUICK_LAUNCH", "\\Quick Launch\\")):
    assert s[key].endswith(folder + "Kavor developer.lnk"), s
    print(s[key])
PY
}
shortcuts_to_launcher() {
  local paths
  mapfile -t paths < <(recorded_shortcuts) && [ "${#paths[@]}" = 3 ] &&
    run_in_job -- "$(e2e_winpath "$E2E_BIN/kavor_base_child.exe")" \
      read-shortcut "${paths[@]}" 'C:\pkg\Kavor developer.lnk' &&
    [ "$RC" = 0 ] && [ "$(tr -d '\r' <<<"$OUT")" = \
      "$(printf 'C:\\Kavor\\launcher.exe\nC:\\Kavor\n\n%.0s' 1 2 3 4)" ]
}
check "shortcuts recorded and to the launcher" shortcuts_to_launcher
# Wine's shell has no taskbar pin verb: the failure is logged and nothing
# starts; the Start-menu pin runs the package's helper.
check "taskbar pin failure logged" grep -qF 'Failed pinning C:\pkg\Kavor developer.lnk' \
  "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log
check "launcher not started" [ ! -e "$C/Kavor/launcher_calls.txt" ]
check "helper ran for the Start menu" [ "$(tr -d '\r' \
  <"$C/Kavor/47.0.4127.0/helper_calls.txt")" = \
  '"C:\Kavor\47.0.4127.0\installer_helper_64.exe" 1 "C:\pkg\Kavor developer.lnk"' ]
[ "$failed" = 0 ] || { echo "--- stats"; cat "$STATS"; echo "--- processes"; cat "$REPORT"; }

silent_install missing
check "404: install still succeeds (got $RC)" [ "$RC" = 0 ]
check "404: no overrides file" [ ! -e "$C/Kavor/pref_default_overrides" ]

e2e_summary
