#!/usr/bin/env bash
# The silent uninstall, started as a user would from the installation's own
# installer.exe: it removes what the installation recorded (its files, root
# files and launcher, its registry keys and values, its shortcuts) and keeps
# the installer preferences, the remembered install folder and the
# package's master shortcut. While the browser runs, it refuses with exit
# 109 (the in-use result 9 + 100) and changes nothing. Taskbar pins are
# left out: Wine can't pin, and its shell links keep no app id, by which
# alone a pin is told as the installation's.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; _e2e_exit' EXIT

serve_overrides '{}' || exit 1

VERSION=47.0.4127.0
UNINSTALLER="C:\\Kavor\\$VERSION\\installer.exe"
BROWSER="C:\\Kavor\\$VERSION\\kavor.exe"
MASTER_SHORTCUT='C:\pkg\Kavor developer.lnk'


# status_get KEY...: values of the installation status saved before the
# uninstall, one a line; KEY is files, root_files, subfolder or shortcuts.
status_get() {
  python3 - "$STATUS" "$@" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
for key in sys.argv[2:]:
    if key == "subfolder":
        print(s["_subfolder"])
    elif key == "shortcuts":
        for name in ("SC_DEST_DESKTOP", "SC_DEST_MENU", "SC_DEST_QUICK_LAUNCH"):
            print(s["shortcuts"][name])
    else:
        for entry in s[key]:
            print(entry)
PY
}

# install NAME: case NAME in a fresh prefix: the silent install of the test
# package from C:\pkg into C:\Kavor with every shortcut; the status is kept
# as the install wrote it.
install() {
  new_prefix "$1"
  C="$WINEPREFIX/drive_c"
  make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  run_in_job -- 'C:\pkg\setup.exe' --silent '--installfolder=C:\Kavor' \
    --allusers=0 --launchbrowser=0 --desktopshortcut=1 --startmenushortcut=1 \
    --quicklaunchshortcut=1 "${OVERRIDES_ARGS[@]}"
  check "$1: install exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  STATUS="$E2E_CASE/installation_status.json"
  cp "$C/Kavor/installation_status.json" "$STATUS" || {
    echo "$1: no installation status, nothing to uninstall" >&2
    e2e_summary
    exit 1
  }
  # What the pin helper stand-in wrote is the test's, not the installation's.
  rm -f "$C/Kavor/$VERSION/helper_calls.txt"
}

# uninstall: the silent uninstall from the installation, in the job, with
# its logs in a temporary folder of its own; sets RC and REPORT.
uninstall() {
  mkdir -p "$E2E_CASE/utemp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/utemp")
  REPORT="$E2E_CASE/report.txt"
  run_in_job "--report=$(e2e_winpath "$REPORT")" \
    -- "$UNINSTALLER" --uninstall --silent --enable-installer-stats=0
  [ -f "$REPORT" ] || : >"$REPORT"
}
uninstall_log_has() {
  cat "$E2E_CASE/utemp/Kavor Installer"/kavor_installer_*.log 2>/dev/null |
    grep -qF -- "$1"
}

# all_gone PATH...: none of the Windows paths exists; names those that do.
all_gone() {
  local path left=0
  for path in "$@"; do
    if [ -e "$(unix_path "$path")" ]; then
      echo "still there: $path" >&2
      left=1
    fi
  done
  [ "$left" = 0 ]
}
all_there() {
  local path
  for path in "$@"; do
    [ -e "$(unix_path "$path")" ] || { echo "missing: $path" >&2; return 1; }
  done
}
# Every file of the installation: the versioned folder's files, the root
# files and the launcher.
installed_files() {
  local subfolder entry
  subfolder=$(status_get subfolder)
  while IFS= read -r entry; do
    printf 'C:\\Kavor\\%s\\%s\n' "$subfolder" "$entry"
  done < <(status_get files)
  while IFS= read -r entry; do
    printf 'C:\\Kavor\\%s\n' "$entry"
  done < <(status_get root_files)
  printf '%s\n' 'C:\Kavor\launcher.exe'
}
last_install_path() {
  wine reg query 'HKCU\Software\Kavor Software' \
    /v 'Last developer Install Path' 2>/dev/null | tr -d '\r' |
    grep -qF 'REG_SZ    C:\Kavor\'
}
# The installer processes of the uninstall (front end and backend), by name
# and exit code; the front end's probe of its download folder is a bare
# copy of the host that cannot load its library (0xC0000135).
uninstaller_processes() {
  job_processes "$REPORT" | grep -E '^installer\.exe ' |
    grep -v ' exit=3221225781 ' | cut -d' ' -f1-2 | tr '\n' ';'
}
# Every other process of the job ended well, but for the probe and the
# clean-up batch's FIND, which Wine refuses with 2 (it may end before Wine
# names it).
others_ended_well() {
  ! job_processes "$REPORT" | grep -v -E -e '^installer\.exe ' \
    -e ' exit=(0|3221225781) ' -e '^(find\.exe|\?) exit=2 ' | grep -q .
}

# --- The uninstall removes the installation.
install uninstall
mapfile -t FILES < <(installed_files)
mapfile -t SHORTCUTS < <(status_get shortcuts)
check "before: files and shortcuts there" \
  all_there "${FILES[@]}" "${SHORTCUTS[@]}"
check "before: recorded registry there" registry present HKCU
uninstall
check "uninstall exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
# The front end, its crash reporter and the backend, in the order they
# started.
check "front end, reporter and backend exit 0 ($(uninstaller_processes))" \
  [ "$(uninstaller_processes)" = 'installer.exe exit=0;installer.exe exit=0;installer.exe exit=0;' ]
check "the job's other processes end well" others_ended_well
# Files that the running uninstaller holds are handed to the clean-up batch
# ("Cannot delete PATH now: ..."). Under Wine the batch cannot wait for the
# installer processes (TASKLIST filters nothing and FIND refuses /c), so
# whether it gets to delete them depends on timing: what the uninstall
# itself must delete is everything else, and only the uninstaller's own
# files may be handed over.
handed_over() {
  cat "$E2E_CASE/utemp/Kavor Installer"/kavor_installer_*.log 2>/dev/null |
    tr -d '\r' | sed -n 's/.*Cannot delete \(.*\) now: .*/\1/p' | sort -u
}
mapfile -t HANDED < <(handed_over)
echo "note: handed to the batch: ${HANDED[*]:-nothing}"
not_handed() {
  local path
  for path in "$@"; do
    printf '%s\n' "${HANDED[@]}" | grep -qxF -- "$path" || printf '%s\n' "$path"
  done
}
only_own_files_handed() {
  local version_folder path
  version_folder="C:\\Kavor\\$(status_get subfolder)"
  for path in "${HANDED[@]}"; do
    case "$path" in
      "$version_folder\installer.exe" | "$version_folder\kavor_installer.dll") ;;
      *) echo "handed over: $path" >&2; return 1 ;;
    esac
  done
}
check "only the uninstaller's own files handed to the batch" only_own_files_handed
mapfile -t DELETED < <(not_handed "${FILES[@]}")
check "installed files gone" all_gone "${DELETED[@]}"
check "status and overrides gone" all_gone 'C:\Kavor\installation_status.json' \
  'C:\Kavor\pref_default_overrides'
check "recorded registry gone" registry gone HKCU
check "shortcuts gone" all_gone "${SHORTCUTS[@]}"
check "installer_prefs.json kept" all_there 'C:\Kavor\installer_prefs.json'
check "last install path kept" last_install_path
check "master shortcut kept" all_there "$MASTER_SHORTCUT"
check "clean-up batch started" uninstall_log_has "Starting final cleanup batch file."
# Left in the install folder: its entries and those of the version folder,
# but for what is kept and what the batch may not have got to yet.
leftovers() {
  local subfolder
  subfolder=$(status_get subfolder)
  (cd "$C/Kavor" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||') |
    grep -v -x -e installer_prefs.json -e k.bat -e "$subfolder" \
      -e "$subfolder/installer.exe" -e "$subfolder/kavor_installer.dll"
}
check "nothing left but the batch's share ($(leftovers | tr '\n' ' '))" \
  [ -z "$(leftovers)" ]
# batch_deletes_handed_over: the copy of k.bat deletes each file handed to
# it, then itself.
batch_deletes_handed_over() {
  local path lines
  mapfile -t lines < <(tr -d '\r' <"$E2E_CASE/k.bat")
  for path in "${HANDED[@]}"; do
    printf '%s\n' "${lines[@]}" | grep -qxF -- "del \"$path\"" ||
      { echo "no del line for $path" >&2; return 1; }
  done
  [ "${lines[${#lines[@]}-1]}" = 'del %0' ]
}
# A copy, as the batch may be deleting itself meanwhile.
if cp "$C/Kavor/k.bat" "$E2E_CASE/k.bat" 2>/dev/null; then
  echo "note: k.bat is left in C:\\Kavor"
  check "k.bat deletes what was handed over, then itself" \
    batch_deletes_handed_over
else
  echo "note: no k.bat in C:\\Kavor"
fi
[ "$failed" = 0 ] || { echo "--- processes"; cat "$REPORT"; }

# --- A running browser refuses the uninstall, which changes nothing.
install in_use
mapfile -t FILES < <(installed_files)
mapfile -t SHORTCUTS < <(status_get shortcuts)
(cd "$C/Kavor" && find . | sort) >"$E2E_CASE/files_before"
wine "$E2E_RUNNER" -- "$BROWSER" '--stay-until=C:\stop_browser' \
  >"$E2E_CASE/browser.out" 2>&1 &
BROWSER_PID=$!
browser_running() {
  local waited
  for waited in $(seq 300); do
    grep -q '^running' "$E2E_CASE/browser.out" && return 0
    kill -0 "$BROWSER_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
check "browser started" browser_running
uninstall
check "in use: exit 109 (got $RC: $ERR)" [ "$RC" = 109 ]
check "in use: front end and backend exit 109 ($(uninstaller_processes))" \
  [ "$(uninstaller_processes)" = 'installer.exe exit=109;installer.exe exit=0;installer.exe exit=109;' ]
check "in use: reason logged" \
  uninstall_log_has "Can't uninstall when kavor.exe is in use"
check "in use: status unchanged" cmp -s "$STATUS" "$C/Kavor/installation_status.json"
check "in use: no file added or removed" \
  diff <(cd "$C/Kavor" && find . | sort) "$E2E_CASE/files_before"
check "in use: files and shortcuts there" \
  all_there "${FILES[@]}" "${SHORTCUTS[@]}"
check "in use: recorded registry there" registry present HKCU
: >"$C/stop_browser"
wait "$BROWSER_PID"
BROWSER_RC=$?
check "browser ended with 0 (got $BROWSER_RC)" [ "$BROWSER_RC" = 0 ]

e2e_summary
