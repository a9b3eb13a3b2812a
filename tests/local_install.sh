# Sourced by the end-to-end tests of an installation made from an unpacked
# package: the silent install into a fresh prefix, the silent uninstall
# from the installation, and the checks of what either leaves. The main
# functions:
#
#   local_install_init EXE
#                       once per script, instead of e2e_init: also serves
#                       the preference default overrides the installs fetch
#   install NAME [FOLDER [SWITCHES...]]
#                       case NAME: a fresh prefix, the package in C:\pkg,
#                       installed silently into FOLDER; sets ROOT, UROOT,
#                       C, STATUS (a copy of the status the install wrote),
#                       UNINSTALLER and BROWSER
#   run_setup [SWITCHES...]
#                       the package's setup again, silently into ROOT, with
#                       the switches install uses (an upgrade, when ROOT
#                       holds an installation); sets RC, OUT and ERR
#   uninstall           the silent uninstall from the installation
#   before_uninstall HIVE, check_uninstalled LABEL HIVE [PATH...]
#                       what an installation holds before, and what its
#                       uninstall must have removed
#   leftovers [ENTRY...] what is left in ROOT but what is kept

declare -F e2e_init >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
declare -F make_test_package >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/make_test_package.sh"
declare -F serve_overrides >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/loopback_server.sh"

local_install_init() {
  e2e_init "$1"
  trap 'stop_loopback_server; _e2e_exit' EXIT
  serve_overrides '{}' || exit 1
}

VERSION=47.0.4127.0
MASTER_SHORTCUT='C:\pkg\Kavor developer.lnk'
UNINSTALL_KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall'


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
        # An installation for all users names its shortcuts as common ones.
        for name in ("SC_DEST_DESKTOP", "SC_DEST_COMMON_DESKTOP", "SC_DEST_MENU",
                     "SC_DEST_COMMON_MENU", "SC_DEST_QUICK_LAUNCH"):
            if name in s["shortcuts"]:
                print(s["shortcuts"][name])
    else:
        for entry in s[key]:
            print(entry)
PY
}

# install NAME [FOLDER [SWITCHES...]]: case NAME in a fresh prefix: the
# silent install of the test package from C:\pkg into FOLDER (C:\Kavor by
# default; ROOT and UROOT name it for Windows and Unix) with every shortcut,
# for the user unless SWITCHES say otherwise; the status is kept as the
# install wrote it. The package lists resources\hold.dll too, a file that
# nothing but a test holds.
install() {
  local name="$1"
  ROOT="${2:-C:\Kavor}"
  shift
  [ $# -gt 0 ] && shift
  new_prefix "$name"
  C="$WINEPREFIX/drive_c"
  UROOT=$(unix_path "$ROOT")
  UNINSTALLER="$ROOT\\$VERSION\\installer.exe"
  BROWSER="$ROOT\\$VERSION\\kavor.exe"
  printf '%s\n' 'resources\hold.dll' >"$E2E_CASE/extra_list"
  make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe \
    --extra-list="$E2E_CASE/extra_list"
  printf 'held\n' >"$C/pkg/resources/hold.dll"
  run_setup "$@"
  check "$name: install exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  STATUS="$E2E_CASE/installation_status.json"
  cp "$UROOT/installation_status.json" "$STATUS" || {
    echo "$name: no installation status, nothing to uninstall" >&2
    e2e_summary
    exit 1
  }
  # What the pin helper stand-in wrote is the test's, not the installation's.
  rm -f "$UROOT/$VERSION/helper_calls.txt"
}

run_setup() {
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  run_in_job -- 'C:\pkg\setup.exe' --silent "--installfolder=$ROOT" \
    --allusers=0 --launchbrowser=0 --desktopshortcut=1 --startmenushortcut=1 \
    --quicklaunchshortcut=1 "$@" "${OVERRIDES_ARGS[@]}"
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
    printf '%s\\%s\\%s\n' "$ROOT" "$subfolder" "$entry"
  done < <(status_get files)
  while IFS= read -r entry; do
    printf '%s\\%s\n' "$ROOT" "$entry"
  done < <(status_get root_files)
  printf '%s\\launcher.exe\n' "$ROOT"
}
last_install_path() {
  reg_query 'HKCU\Software\Kavor Software' /v 'Last developer Install Path' &&
    oem_to_utf8 <<<"$OUT" | tr -d '\r' | grep -qF "REG_SZ    $ROOT\\"
}
# The exit codes of the uninstall's installer processes (front end, its
# crash reporter and backend), sorted: they end in whatever order the
# machine lets them. The front end's probe of its download folder is a bare
# copy of the host that cannot load its library (0xC0000135).
uninstaller_exits() {
  job_processes "$REPORT" | grep -E '^installer\.exe ' |
    grep -v ' exit=3221225781 ' | cut -d' ' -f2 | sort | tr '\n' ' '
}
# reg_query ARGS...: `wine reg query ARGS` into OUT, asked again when a
# start under load fails on its own; a missing key is an answer too.
reg_query() {
  local try
  for try in 1 2 3; do
    OUT=$(wine reg query "$@" 2>&1) && return 0
    grep -qF 'Unable to find' <<<"$OUT" && { OUT=""; return 0; }
  done
  echo "reg query $*: $OUT" >&2
  return 1
}
# oem_to_utf8: standard input, in the OEM code page of the case's prefix
# (in which Wine's console programs write and cmd reads a batch), as UTF-8.
oem_to_utf8() {
  local oem
  reg_query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' \
    /v OEMCP </dev/null || return 1
  oem=$(tr -d '\r' <<<"$OUT" | sed -n 's/.*OEMCP *REG_SZ *//p')
  iconv -f "CP$oem" -t UTF-8
}
# no_uninstall_entry: no uninstall entry naming the installation's folder
# under either root, in the 32-bit view or the native one; names what is
# left. Only the folder counts: the template prefix may hold entries the
# unit tests make for a moment in the build prefix it is copied from.
no_uninstall_entry() {
  local root view found left=0
  for root in HKCU HKLM; do
    for view in 32 64; do
      reg_query "$root\\$UNINSTALL_KEY" /s /reg:$view || return 1
      found=$(oem_to_utf8 <<<"$OUT" | tr -d '\r' | grep -iF "$ROOT\\")
      if [ -n "$found" ]; then
        echo "left in $root ($view-bit view):" >&2
        echo "$found" >&2
        left=1
      fi
    done
  done
  [ "$left" = 0 ]
}
# Every other process of the job ended well, but for the probe and the
# clean-up batch's FIND, which Wine refuses with 2 (it may end before Wine
# names it).
others_ended_well() {
  ! job_processes "$REPORT" | grep -v -E -e '^installer\.exe ' \
    -e ' exit=(0|3221225781) ' -e '^(find\.exe|\?) exit=2 ' | grep -q .
}

# started PID FILE WORD: the background process PID wrote a line starting
# with WORD to FILE; waits a minute at most, and fails at once when PID
# ended first.
started() {
  local pid="$1" file="$2" word="$3" waited
  for waited in $(seq 600); do
    grep -q "^$word" "$file" && return 0
    kill -0 "$pid" 2>/dev/null || { echo "ended before '$word'" >&2; return 1; }
    sleep 0.1
  done
  echo "no '$word' in $file within a minute" >&2
  return 1
}
# Files that the running uninstaller holds are handed to the clean-up batch
# ("Cannot delete PATH now: ..."). Under Wine the batch cannot wait for the
# installer processes (TASKLIST filters nothing and FIND refuses /c), so
# whether it gets to delete them depends on timing: what the uninstall
# itself must delete is everything else, and only the uninstaller's own
# files (and what a case holds itself) may be handed over.
handed_over() {
  cat "$E2E_CASE/utemp/Kavor Installer"/kavor_installer_*.log 2>/dev/null |
    tr -d '\r' | sed -n 's/.*Cannot delete \(.*\) now: .*/\1/p' | sort -u
}
not_handed() {
  local path
  for path in "$@"; do
    printf '%s\n' "${HANDED[@]}" | grep -qxF -- "$path" || printf '%s\n' "$path"
  done
}
# only_handed PATH...: nothing but the uninstaller's own files and PATHs
# was handed to the batch.
only_handed() {
  local version_folder path
  version_folder="$ROOT\\$(status_get subfolder)"
  for path in "${HANDED[@]}"; do
    case "$path" in
      "$version_folder\installer.exe" | "$version_folder\kavor_installer.dll") ;;
      *)
        printf '%s\n' "$@" | grep -qxF -- "$path" ||
          { echo "handed over: $path" >&2; return 1; }
        ;;
    esac
  done
}
# leftovers [ENTRY...]: what is left in the install folder and its version
# folder but for what is kept, what the batch may not have got to yet and
# ENTRY (relative Unix paths).
leftovers() {
  local subfolder
  subfolder=$(status_get subfolder)
  (cd "$UROOT" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||') |
    grep -v -x -e installer_prefs.json -e k.bat -e "$subfolder" \
      -e "$subfolder/installer.exe" -e "$subfolder/kavor_installer.dll" \
      "${@/#/-e}"
}
# batch_deletes_handed_over: the copy of k.bat, read in the OEM code page
# as cmd reads it, deletes each file handed to it, then itself.
batch_deletes_handed_over() {
  local path lines
  mapfile -t lines < <(oem_to_utf8 <"$E2E_CASE/k.bat" | tr -d '\r')
  for path in "${HANDED[@]}"; do
    printf '%s\n' "${lines[@]}" | grep -qxF -- "del \"$path\"" ||
      { echo "no del line for $path" >&2; return 1; }
  done
  [ "${lines[${#lines[@]}-1]}" = 'del %0' ]
}
# check_uninstalled LABEL HIVE [PATH...]: the uninstall ended well and
# removed what the installation recorded, its registrations under HIVE
# among them; only the uninstaller's own files and PATHs were handed over.
check_uninstalled() {
  local label="$1" hive="$2"
  shift 2
  check "$label: uninstall exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  check "$label: front end, reporter and backend exit 0 ($(uninstaller_exits))" \
    [ "$(uninstaller_exits)" = 'exit=0 exit=0 exit=0 ' ]
  check "$label: the job's other processes end well" others_ended_well
  mapfile -t HANDED < <(handed_over)
  echo "note: $label: handed to the batch: ${HANDED[*]:-nothing}"
  check "$label: only the uninstaller's own files handed to the batch" \
    only_handed "$@"
  mapfile -t DELETED < <(not_handed "${FILES[@]}")
  check "$label: installed files gone" all_gone "${DELETED[@]}"
  check "$label: status and overrides gone" \
    all_gone "$ROOT\\installation_status.json" "$ROOT\\pref_default_overrides"
  check "$label: recorded registry gone" registry gone "$hive"
  check "$label: no uninstall entry in either view" no_uninstall_entry
  check "$label: shortcuts gone" all_gone "${SHORTCUTS[@]}"
  check "$label: installer_prefs.json kept" all_there "$ROOT\\installer_prefs.json"
  check "$label: last install path kept" last_install_path
  check "$label: master shortcut kept" all_there "$MASTER_SHORTCUT"
  check "$label: clean-up batch started" \
    uninstall_log_has "Starting final cleanup batch file."
  # A copy, as the batch may be deleting itself meanwhile.
  if cp "$UROOT/k.bat" "$E2E_CASE/k.bat" 2>/dev/null; then
    echo "note: $label: k.bat is left in $ROOT"
    check "$label: k.bat deletes what was handed over, then itself" \
      batch_deletes_handed_over
  else
    echo "note: $label: no k.bat in $ROOT"
  fi
}
# before_uninstall HIVE: takes the installation's files and shortcuts, and
# checks that they and its registrations under HIVE are there.
before_uninstall() {
  mapfile -t FILES < <(installed_files)
  mapfile -t SHORTCUTS < <(status_get shortcuts)
  check "before: files and shortcuts there" \
    all_there "${FILES[@]}" "${SHORTCUTS[@]}"
  check "before: recorded registry there" registry present "$1"
  check "before: an uninstall entry names the folder" \
    eval '! no_uninstall_entry 2>/dev/null'
}
