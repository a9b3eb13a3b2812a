#!/usr/bin/env bash
# The installer's main job without a window: setup.exe --silent in an
# unpacked package installs through three processes (front end, backend,
# the package's installer) talking over the mailslot, with the preference
# default overrides fetched from a loopback server and the statistics posted
# to the test statistics server (--test-avro-srv: 127.0.0.1:9000).
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
source "$(dirname "$0")/stats_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; stop_stats_server; _e2e_exit' EXIT

OVERRIDES='{"browser":{"check_default_browser":false}}'
serve_overrides "$OVERRIDES" || exit 1
STATS_PY=$(stats_python) || exit 1
# The bodies are decoded with the schema the build's schema program prints;
# without it they are only counted, and the check that all decoded fails.
SCHEMA="$E2E_WORK/stats_schema.json"
write_stats_schema "$E2E_BIN" "$SCHEMA" || SCHEMA=""

# silent_install PATH: a fresh prefix with the package in C:\pkg, then the
# silent install with the overrides at http://127.0.0.1:<port>/PATH.
silent_install() {
  new_prefix "silent_$1"
  C="$WINEPREFIX/drive_c"
  make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  REPORT="$E2E_CASE/report.txt"
  stop_stats_server
  start_stats_server 9000 "$E2E_CASE" "$SCHEMA" || exit 1
  run_in_job \
    "--report=$(e2e_winpath "$REPORT")" -- 'C:\pkg\setup.exe' --silent \
    '--installfolder=C:\Kavor' --allusers=0 --launchbrowser=0 \
    --quicklaunchshortcut=1 --test-avro-srv \
    "--local-pref-default-overrides-server=http://127.0.0.1:$LOOPBACK_PORT/$1"
  stop_stats_server
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
stats_has() {
  stats_records "any(T(r) == '$1' and (${2:-True}) for r in R)"
}
# Every request went to /v1/binary as Avro and was answered 201; at least
# one came.
stats_delivered() {
  "$STATS_PY" - "$STATS_REQUESTS" <<'PY'
import json, sys
q = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert q and all(r["path"] == "/v1/binary" and r["status"] == 201 and
                 r["content_type"] == "application/avro-binary" for r in q), q
PY
}
stats_all_decoded() {
  [ -n "$SCHEMA" ] && ! grep -q '"error"' "$STATS_REQUESTS"
}
# One front end sends, one message at a time: its counters in the bodies
# count the attempts and successes before each; message numbers and
# identifiers are unique.
stats_counters_right() {
  stats_records "R and sorted(E(r)['diagnostic_data']['successfully_sent_total'] for r in R) == list(range(len(R))) and sorted(E(r)['diagnostic_data']['send_attempts_total'] for r in R) == list(range(len(R))) and all(E(r)['diagnostic_data']['dumps_total'] == 0 for r in R) and len({E(r)['message_session_id'] for r in R}) == len(R) and len({r['identifiers']['session_guid'] for r in R}) == 1 and len({r['TLXMessageUUID'] for r in R}) == len(R)"
}
# Step events of copy, unpack and move steps are too many to be worth
# sending; every other step sends them.
no_file_step_events() {
  stats_records "not any(T(r) in ('installer_step_starting', 'installer_step_finished') and E(r).get('description') in ('copy_file', 'direct_unpacking', 'move_file') for r in R)"
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
# The front end, its crash reporter, the backend and the package's own
# installer.
check "four installer processes ($(installer_processes | tr '\n' ';'))" \
  [ "$(installer_processes | wc -l)" = 4 ]
check "every installer process exit 0" \
  [ -z "$(installer_processes | grep -v ' exit=0 ')" ]
check "log file's first lines" front_end_log_starts_right
check "statistics delivered to the test server" stats_delivered
check "every statistics body decoded" stats_all_decoded
CL="E(r)['controller_launched_details']"
check "controller_launched, payload none" \
  stats_has controller_launched "$CL['payload_type'] == 'none'"
check "controller_launched is silent" \
  stats_has controller_launched "$CL['silent'] is True"
check "settings_accepted" stats_has settings_accepted
check "step events of the other steps" stats_has installer_step_finished
check "no step events of file steps" no_file_step_events
check "controller_quitting with result true" \
  stats_has controller_quitting "E(r)['result'] is True"
check "diagnostic counters and message numbers" stats_counters_right
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
[ "$failed" = 0 ] || { echo "--- stats"; cat "$STATS_REQUESTS" "$STATS_RECORDS"; echo "--- processes"; cat "$REPORT"; }

silent_install missing
check "404: install still succeeds (got $RC)" [ "$RC" = 0 ]
check "404: no overrides file" [ ! -e "$C/Kavor/pref_default_overrides" ]

e2e_summary
