#!/usr/bin/env bash
# The wizard, driven as a user would with kavor_ui_driver.exe: a signed
# kavor_setup.exe started without switches but those that point it at the
# loopback update and statistics services fetches the package behind the
# welcome page; the user looks at the options, goes back, accepts, and the
# progress page shows until the run ends by itself with the package
# installed in the default folder (the all-users one: Wine's user is an
# administrator) and the browser launched. A user who closes the welcome
# page and answers the quit box Yes installs nothing. Then the interactive
# uninstall from the installation's own installer.exe: Uninstall, the
# warning box answered Yes, and the installation's files and registry
# entries are gone. Screenshots of each page go to artifacts/screenshots,
# each taken once every visible control lies inside the window, clear of
# its neighbours, and draws the text it reads back.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/stats_server.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"
trap 'stop_update_server; stop_stats_server; _e2e_exit' EXIT
export KAVOR_INSTALLER_VERBOSITY=1

VERSION=47.0.4127.0
network_signing_keys "$E2E_BIN" || exit 1
make_release "$E2E_BIN" package || exit 1
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" || exit 1
STATS_PY=$(stats_python) || exit 1
SCHEMA="$E2E_WORK/stats_schema.json"
write_stats_schema "$E2E_BIN" "$SCHEMA" || SCHEMA=""

has() { grep -qF -- "$2" <<<"$1"; }

# wizard_case NAME [SCRIPT_LINE...]: a fresh prefix trusting the test
# root, the signed installer in C:\dl, the update service serving the
# package (scripted by the lines given, else held until RELEASE) and naming it at
# /metadata, and the statistics service. Sets C, URL.
wizard_case() {
  new_prefix "$1"
  shift
  C="$WINEPREFIX/drive_c"
  trust_test_root "$E2E_BIN" >"$E2E_CASE/trust.log" 2>&1 ||
    { cat "$E2E_CASE/trust.log"; exit 1; }
  mkdir -p "$C/dl" "$E2E_CASE/www"
  cp "$SETUP/kavor_setup.exe" "$SETUP/kavor_installer.dll" "$C/dl/"
  ln "$PACKAGE" "$E2E_CASE/www/kavor_package.exe"
  # The service serves the files there when it starts; the reply is
  # written once the port is known.
  : >"$E2E_CASE/www/metadata"
  # By default the package comes slowly (about 12 s), and its last 64 KiB
  # are held back until the case makes the file RELEASE: the user accepts
  # while it downloads, and the progress page, its status telling of the
  # download, stays for a screenshot, however slow a loaded machine is.
  RELEASE="$E2E_CASE/release"
  if [ $# -gt 0 ]; then
    printf '%s\n' "$@" >"$E2E_CASE/script"
  else
    printf '/kavor_package.exe 200 trickle=65536/120 hold_after=%s hold_until=%s\n' \
      "$(($(stat -c %s "$PACKAGE") - 65536))" "$(e2e_winpath "$RELEASE")" \
      >"$E2E_CASE/script"
  fi
  stop_update_server
  start_update_server "$E2E_CASE/www" "$E2E_CASE/script" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  write_metadata
  stop_stats_server
  start_stats_server 9000 "$E2E_CASE/stats" "$SCHEMA" || exit 1
}

# write_metadata [CHECKSUM]: the service's reply names the package with
# CHECKSUM, else its own.
write_metadata() {
  package_metadata_json "$URL/kavor_package.exe" \
    "${1:-$(sha256_of "$PACKAGE")}" >"$E2E_CASE/www/metadata"
}

# start_wizard NAME PROGRAM ARGS...: starts PROGRAM in the job in the
# background, its TEMP a folder NAME of the case; wizard_ended waits for
# it and sets RC, ERR, LOG (the run's log) and REPORT.
start_wizard() {
  local name="$1"
  shift
  mkdir -p "$E2E_CASE/$name"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/$name")
  LOG_DIR="$E2E_CASE/$name/Kavor Installer"
  REPORT="$E2E_CASE/$name.report"
  run_in_background "$name" run_in_job "--report=$(e2e_winpath "$REPORT")" \
    -- "$@"
}
wizard_ended() {
  background_ended "$1"
  LOG=$(cat "$LOG_DIR"/kavor_installer_*.log 2>/dev/null | tr -d '\r')
  [ -f "$REPORT" ] || : >"$REPORT"
}
# The wizard's switches: the loopback services only.
SERVICES=()
set_services() {
  SERVICES=("--internal-package-server=$URL/metadata"
    "--local-pref-default-overrides-server=$URL/prefs" --test-avro-srv)
}
# package_folders NAME: the fetcher's package folders left in the TEMP of
# run NAME.
package_folders() {
  find "$E2E_CASE/$1" -name 'kavor_package_*' -type d 2>/dev/null
}
stats_has() { stats_records "R and any(($1) for r in R)"; }
PT="E(r)['page_transitions']"
# page_shown TYPE ACTION: a page transition to page TYPE by ACTION.
page_shown() {
  stats_has "T(r) == 'page_transition' and $PT['page_type'] == $1 and $PT['navigation_action'] == '$2'"
}

# --- The install.
wizard_case install
set_services
REG_BEFORE=$(registry_kavor_lines)
for shot in welcome options progress quit_box; do
  rm -f "$(screenshot_path "interactive_install_$shot")"
done
start_wizard install 'C:\dl\kavor_setup.exe' "${SERVICES[@]}"
# The folder's details come in the background: Accept waits for them.
drive --timeout=90 wait-window wait-control 1003 --visible --enabled \
  screenshot interactive_install_welcome --shown text 1003
check "install: the welcome page (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "install: the window is the installer's ($DRIVE_OUT)" \
  has "$DRIVE_OUT" 'window "Kavor Installer" of kavor_setup.exe'
check "install: Accept reads \"Accept and Install\" ($DRIVE_OUT)" \
  has "$DRIVE_OUT" "Accept and Install"
# A second start by the same user brings the first wizard to the front
# and ends at once with 122; the first one goes on.
(
  run_in_job -- 'C:\dl\kavor_setup.exe' "${SERVICES[@]}"
  echo "$RC" >"$E2E_CASE/second.rc"
)
check "install: a second wizard exits with 122 (got $(cat "$E2E_CASE/second.rc"))" \
  [ "$(cat "$E2E_CASE/second.rc")" = 122 ]
check "install: the second wizard switched to the first" grep -qF \
  "Another instance of the installer UI is running. Switching to it" \
  "$LOG_DIR"/kavor_installer_*.log
drive click 1001 wait-control 1201 --visible wait-control 1204 --visible \
  wait-control 1001 --hidden screenshot interactive_install_options --shown \
  text 1204
check "install: the options page (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
FOLDER=$(tail -n 1 <<<"$DRIVE_OUT")
drive click 1201 wait-control 1001 --visible wait-control 1201 --hidden \
  click 1003 wait-control 1211 --visible screenshot interactive_install_progress \
  --shown text 1100
check "install: back, accepted, the progress page (rc $DRIVE_RC: $DRIVE_ERR)" \
  [ "$DRIVE_RC" = 0 ]
check "install: the progress page has a status ($DRIVE_OUT)" \
  [ -n "$(tail -n 1 <<<"$DRIVE_OUT" | grep -v '^screenshot ')" ]
touch "$RELEASE"
drive --timeout=120 wait-gone
check "install: the window goes (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
wizard_ended install
stop_stats_server
check "install: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "install: every installer process exit 0 ($(job_processes "$REPORT" | tr '\n' ';'))" \
  [ -z "$(job_processes "$REPORT" | grep -v -e ' exit=0 ' -e ' exit=3221225781 ')" ]
for shot in welcome options progress; do
  check "install: the $shot screenshot is drawn" \
    screenshot_drawn "interactive_install_$shot"
done
check "install: the options show the all-users folder ($FOLDER)" \
  [ "$FOLDER" = 'C:\Program Files\Kavor developer' ]
ROOT=$(unix_path "$FOLDER")
for line in "Initializing installer UI" "Package fetched successfully." \
  "Accept clicked." "Installer terminated successfully. Finishing."; do
  check "install: \"$line\" logged" has "$LOG" "$line"
done
DIFFER=$(installed_differ "$EXPECTED" "$ROOT" "$ROOT/$VERSION")
check "install: the package's files installed in $FOLDER (differ:$DIFFER)" \
  [ -d "$ROOT" -a -z "$DIFFER" ]
check "install: no package folder left ($(package_folders install))" \
  [ -z "$(package_folders install)" ]
check "install: the browser launched through the launcher" \
  [ -s "$ROOT/launcher_calls.txt" ]
STATUS="$E2E_CASE/installation_status.json"
cp "$ROOT/installation_status.json" "$STATUS" 2>/dev/null || : >"$STATUS"
check "install: the recorded registry entries there" registry present
# A 64-bit installer keeps its uninstall entry in the 32-bit view.
check "install: the uninstall entry is the machine's" \
  has "$(registry_kavor_lines)" "[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Kavor $VERSION]"
# The pages shown, as the statistics tell: options, back, accept.
check "install: statistics: the options page by OPTIONS" page_shown 3 OPTIONS
check "install: statistics: the welcome page by BACK" page_shown 0 BACK
check "install: statistics: the progress page by ACCEPT" page_shown 4 ACCEPT
check "install: statistics: the settings accepted" \
  stats_has "T(r) == 'settings_accepted'"
check "install: statistics: controller_quitting with result true" \
  stats_has "T(r) == 'controller_quitting' and E(r)['result'] is True"
[ "$failed" = 0 ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; echo "--- processes"
  cat "$REPORT"; echo "--- log"; tail -n 40 <<<"$LOG"
  echo "--- registry"; registry_kavor_lines
  echo "--- statistics"; grep -e page_transition -e settings_accepted "$E2E_CASE/stats/stats_records.jsonl"
}

# --- The interactive uninstall of that installation.
UNINSTALLER="$FOLDER\\$VERSION\\installer.exe"
mapfile -t FILES < <(python3 - "$STATUS" "$FOLDER" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
for entry in s["files"]:
    print("%s\\%s\\%s" % (sys.argv[2], s["_subfolder"], entry))
for entry in s["root_files"]:
    print("%s\\%s" % (sys.argv[2], entry))
PY
)
# The survey page opens in Internet Explorer: here a stand-in that notes
# its command line. Program files are shared between prefixes (hard links):
# the stand-in replaces the link, not the file behind it.
IE="$C/Program Files/Internet Explorer"
rm -f "$IE/iexplore.exe" && cp "$E2E_BIN/kavor_launcher_standin.exe" "$IE/iexplore.exe"
stop_stats_server
start_stats_server 9000 "$E2E_CASE/ustats" "$SCHEMA" || exit 1
rm -f "$(screenshot_path interactive_uninstall_welcome)" \
  "$(screenshot_path interactive_uninstall_confirm)"
start_wizard uninstall "$UNINSTALLER" --uninstall --test-avro-srv
drive --timeout=90 --process=installer.exe wait-window \
  wait-control 1006 --visible --enabled wait-control 1003 --hidden \
  screenshot interactive_uninstall_welcome --shown text 1006 click 1006 \
  wait-messagebox screenshot interactive_uninstall_confirm --messagebox --shown \
  answer-messagebox IDYES
check "uninstall: the uninstall page, confirmed (rc $DRIVE_RC: $DRIVE_ERR)" \
  [ "$DRIVE_RC" = 0 ]
check "uninstall: the button reads \"&Uninstall\" ($DRIVE_OUT)" \
  has "$DRIVE_OUT" "&Uninstall"
check "uninstall: the box asks ($DRIVE_OUT)" \
  has "$DRIVE_OUT" "Are you sure you want to uninstall Kavor?"
drive --timeout=120 --process=installer.exe wait-gone
check "uninstall: the window goes (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
wizard_ended uninstall
stop_stats_server
check "uninstall: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "uninstall: the page screenshot is drawn" \
  screenshot_drawn interactive_uninstall_welcome
check "uninstall: the box screenshot is drawn" \
  screenshot_drawn interactive_uninstall_confirm 80 60
check "uninstall: \"Accept clicked.\" logged" has "$LOG" "Accept clicked."
# The files the running uninstaller holds go to the clean-up batch, which
# may not have got to them yet (see uninstall_test.sh).
HANDED=$(sed -n 's/.*Cannot delete \(.*\) now: .*/\1/p' <<<"$LOG" | sort -u)
left_files() {
  local path
  for path in "${FILES[@]}"; do
    grep -qxF -- "$path" <<<"$HANDED" && continue
    [ -e "$(unix_path "$path")" ] && printf '%s ' "$path"
  done
}
check "uninstall: the installed files gone (left: $(left_files))" \
  [ "${#FILES[@]}" -gt 0 -a -z "$(left_files)" ]
check "uninstall: the status gone" [ ! -e "$ROOT/installation_status.json" ]
check "uninstall: the recorded registry entries gone" registry gone
check "uninstall: the survey page opened ($(cat "$IE/iexplore_calls.txt" 2>/dev/null))" \
  grep -qF '/uninstallsurvey/' "$IE/iexplore_calls.txt"
check "uninstall: statistics: the warning answered Yes" \
  page_shown 100 "WARNING YES"
[ "$failed" = 0 ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; echo "--- processes"
  cat "$REPORT"; echo "--- log"; tail -n 40 <<<"$LOG"
}

# --- Closing the welcome page and quitting installs nothing.
# The package comes in about 12 s: the close may come while it downloads
# or after; either way nothing is installed.
wizard_case cancel '/kavor_package.exe 200 trickle=65536/120'
set_services
REG_BEFORE=$(registry_kavor_lines)
start_wizard cancel 'C:\dl\kavor_setup.exe' "${SERVICES[@]}"
drive --timeout=90 wait-window close wait-messagebox \
  screenshot interactive_install_quit_box --messagebox --shown \
  answer-messagebox IDYES wait-gone
check "cancel: closed and quit (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "cancel: the box asks ($DRIVE_OUT)" has "$DRIVE_OUT" \
  "Are you sure you want to quit the installation?"
wizard_ended cancel
stop_stats_server
# The run did not finish: 100 + RESULT_NOT_FINISHED.
check "cancel: exit 120 (got $RC: $ERR)" [ "$RC" = 120 ]
check "cancel: the quit box screenshot is drawn" \
  screenshot_drawn interactive_install_quit_box 80 60
not_accepted() { [ -n "$LOG" ] && ! has "$LOG" "Accept clicked."; }
check "cancel: a log, and no accept in it" not_accepted
check "cancel: nothing installed" [ ! -e "$C/Program Files/Kavor developer" ]
check "cancel: no package folder left ($(package_folders cancel))" \
  [ -z "$(package_folders cancel)" ]
check "cancel: registry as it was" [ "$(registry_kavor_lines)" = "$REG_BEFORE" ]
check "cancel: statistics: the installation cancelled" \
  stats_has "T(r) == 'installation_cancelled'"
check "cancel: statistics: controller_quitting with result false" \
  stats_has "T(r) == 'controller_quitting' and E(r)['result'] is False"
[ "$failed" = 0 ] || { echo "--- drive"; cat "$E2E_CASE/drive.log"; }

# --- Quitting while the package request hangs on a service that never
# answers: the run ends by itself at once, with nothing left behind, not
# when the request times out (nor never, as the job's time-out would).
wizard_case hang '/kavor_package.exe 200 silent'
set_services
REG_BEFORE=$(registry_kavor_lines)
start_wizard hang 'C:\dl\kavor_setup.exe' "${SERVICES[@]}"
package_asked() { grep -qF '"target":"/kavor_package.exe"' "$UPDATE_LOG"; }
for _ in $(seq 600); do
  package_asked && break
  sleep 0.1
done
check "hang: the package was asked for" package_asked
drive --timeout=90 wait-window close wait-messagebox \
  answer-messagebox IDYES wait-gone
check "hang: closed and quit (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
wizard_ended hang
check "hang: exit 120, every process ended by itself (got $RC: $ERR)" \
  [ "$RC" = 120 ]
check "hang: nothing installed" [ ! -e "$C/Program Files/Kavor developer" ]
check "hang: registry as it was" [ "$(registry_kavor_lines)" = "$REG_BEFORE" ]
[ "$failed" = 0 ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; echo "--- processes"
  cat "$REPORT"; echo "--- log"; tail -n 40 <<<"$LOG"
}

# --- A package that fails its check ends on the error page; once the
# service has it right, Try again installs.
wizard_case retry '/kavor_package.exe 200'
set_services
write_metadata "$(printf 'not the package' | sha256sum | cut -d' ' -f1)"
rm -f "$(screenshot_path interactive_install_error)"
start_wizard retry 'C:\dl\kavor_setup.exe' "${SERVICES[@]}"
# Three attempts, two waits of 6 s between them, after the accept or before.
drive --timeout=90 wait-window click 1003 wait-control 1005 --visible \
  --enabled wait-control 1211 --hidden screenshot interactive_install_error \
  --shown text 1100
check "retry: the error page (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "retry: the error page says the download failed ($DRIVE_OUT)" \
  has "$DRIVE_OUT" "could not download Kavor"
check "retry: the error screenshot is drawn" \
  screenshot_drawn interactive_install_error
write_metadata
drive click 1005 wait-gone --timeout=120
check "retry: tried again, and the window goes (rc $DRIVE_RC: $DRIVE_ERR)" \
  [ "$DRIVE_RC" = 0 ]
wizard_ended retry
stop_stats_server
check "retry: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "retry: the fetcher's failure was shown" has "$LOG" "Displaying error"
check "retry: then fetched" has "$LOG" "Package fetched successfully."
ROOT=$(unix_path "$FOLDER")
DIFFER=$(installed_differ "$EXPECTED" "$ROOT" "$ROOT/$VERSION")
check "retry: the package's files installed (differ:$DIFFER)" \
  [ -d "$ROOT" -a -z "$DIFFER" ]
check "retry: no package folder left ($(package_folders retry))" \
  [ -z "$(package_folders retry)" ]
[ "$failed" = 0 ] || {
  echo "--- drive"; cat "$E2E_CASE/drive.log"; echo "--- log"
  tail -n 60 <<<"$LOG"
}

e2e_summary
