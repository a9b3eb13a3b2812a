#!/usr/bin/env bash
# A backend started by hand installs from an unpacked package folder: the
# backend copies the package into a versioned subfolder and hands over to
# the copy's installer.exe, which runs the install list from there.
# kavor_backend_driver.exe plays the front end (event, mailslot, initial
# process) and writes down the messages of both backends.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
e2e_init "$1"
DRIVER_W=$(e2e_winpath "$E2E_BIN/kavor_backend_driver.exe")
EXIT_NOT_FINISHED=120  # an interrupted run never reports an outcome

BACKEND_SWITCHES=(--backend --allusers=0 --copyonly=0 --singleprofile=0
  --launchkavor=0 --setdefaultbrowser=0 --desktopshortcut=0
  --startmenushortcut=0 --quicklaunchshortcut=0 --pintotaskbar=0
  --installfolder='C:\Kavor')

# run_backend [--interrupt-after-first-step] -- PROGRAM ARGS...: the driver
# in the job; MSG is the messages file, REPORT the job's process report.
run_backend() {
  local driver_options=()
  while [ "$1" != -- ]; do driver_options+=("$1"); shift; done
  shift
  MSG="$E2E_CASE/messages.txt"
  REPORT="$E2E_CASE/report.txt"
  rm -f "$MSG" "$REPORT"
  run_in_job "--report=$(e2e_winpath "$REPORT")" -- "$DRIVER_W" \
    '--folder=C:\Kavor' "--messages=$(e2e_winpath "$MSG")" \
    "${driver_options[@]}" -- "$@"
  [ -f "$MSG" ] || : >"$MSG"
  [ -f "$REPORT" ] || : >"$REPORT"
}

has_message() { tr -d '\r' <"$MSG" | grep -qF -- "$1"; }
lacks_message() { ! tr -d '\r' <"$MSG" | grep -qF -- "$1"; }
all_files() { local f; for f; do [ -f "$f" ] || return 1; done; }
none_exist() { local f; for f; do [ ! -e "$f" ] || return 1; done; }
moved() { [ -f "$2" ] && [ ! -e "$1" ]; }
show_messages() { echo "--- messages"; cat "$MSG"; echo "--- processes"; cat "$REPORT"; }

# Each case's installer logs go into the case folder, where check() shows
# them on a failure.
case_temp() {
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
}
export KAVOR_INSTALLER_VERBOSITY=1

install_from_package() {
  run_backend "$@" -- 'C:\pkg\kavor_setup.exe' "${BACKEND_SWITCHES[@]}" \
    --install '--package-dir=C:\pkg' --inside-package
}

# --- The in-package run, then an uninstall started from the version folder.
new_prefix in_package
C="$WINEPREFIX/drive_c"
case_temp
make_test_package "$E2E_BIN" "$C/pkg"
install_from_package
V="$C/Kavor/47.0.4127.0"
check "driver ran (exit $RC: $ERR)" [ "$RC" = 0 ]
check "backend exit 0 ($(tail -n1 "$MSG"))" has_message "exit=0"
# The job holds the driver, the two backends and the crash reporter that the
# first one started, the second one joined ("?" when Wine could not name a
# process). The default-browser settings-change broadcast makes Wine
# try to start its desktop process, which cannot start here and ends with
# 3221225781; it is not an installer process.
backends() {
  tr -d '\r' <"$REPORT" |
    grep -vE -e '^(kavor_backend_driver\.exe|job) ' -e ' exit=3221225781 '
}
check "two backends and a reporter ($(backends | cut -d' ' -f1-2 | tr '\n' ';'))" \
  [ "$(backends | wc -l)" = 3 ]
check "backends and reporter exit 0" [ -z "$(backends | grep -v ' exit=0 ')" ]
check "package files in the version folder" all_files "$V/installer.exe" \
  "$V/kavor_installer.dll" "$V/kavor.exe" "$V/resources/a.pak"
check "launcher.exe moved up" moved "$V/launcher.exe" "$C/Kavor/launcher.exe"
check "root files moved up" moved "$V/kavor_setup.exe" "$C/Kavor/kavor_setup.exe"
check "list files gone" none_exist "$V/files_list" "$V/root_files_list"
check "no .old files left ($(find "$C/Kavor" -name '*.old' | head -3))" \
  [ -z "$(find "$C/Kavor" -name '*.old')" ]
check "direct_unpacking step messages" has_message "OnStepFinished(direct_unpacking,"
check "first unpacked file counts 0" \
  grep -qE '^OnStepFinished\(direct_unpacking,[0-9]+,0\)' "$MSG"
check "no error message" lacks_message "OnError("
last_path=$(wine reg query 'HKCU\Software\Kavor Software' /v 'Last developer Install Path' 2>/dev/null | tr -d '\r')
check "last install path written ($last_path)" grep -qF 'C:\Kavor\' <<<"$last_path"
[ "$failed" = 0 ] || show_messages

# Silent: otherwise the uninstall opens its survey page in Internet Explorer,
# which under Wine stays in the run's job.
run_backend -- 'C:\Kavor\47.0.4127.0\installer.exe' --backend --uninstall \
  '--installfolder=C:\Kavor' '--package-dir=C:\Kavor\47.0.4127.0' --silent
check "uninstall from the version folder does not unpack" \
  lacks_message "OnEnteringPhase(6)"
check "uninstall did not fail on the package" \
  lacks_message "Cannot copy unpacked files to subfolder"

# --- Subfolder naming: the next free suffix; without a version resource and
# package_version the installer's own version names it.
new_prefix naming
C="$WINEPREFIX/drive_c"
case_temp
make_test_package "$E2E_BIN" "$C/pkg" --no-version
mkdir -p "$C/Kavor/47.0.4127.0" "$C/Kavor/47.0.4127.0_0"
install_from_package
check "new subfolder 47.0.4127.0_1 (exit $RC)" [ -f "$C/Kavor/47.0.4127.0_1/installer.exe" ]
left=$(find "$C/Kavor/47.0.4127.0" "$C/Kavor/47.0.4127.0_0" -mindepth 1)
check "existing subfolders untouched ($left)" [ -z "$left" ]

# --- Errors: an empty files_list, an autoupdate run of an install. The
# list is read by the package's installer run from the version folder
# (the in-package backend would not get that far: installer.exe is not
# copied when the list is empty), so the test starts it there, as the
# hand-over does.
new_prefix errors
C="$WINEPREFIX/drive_c"
case_temp
make_test_package "$E2E_BIN" "$C/Kavor/47.0.4127.0" --empty-files-list
run_backend -- 'C:\Kavor\47.0.4127.0\installer.exe' "${BACKEND_SWITCHES[@]}" \
  --install --install-subfolder=47.0.4127.0 \
  '--package-dir=C:\Kavor\47.0.4127.0' --inside-package
check "empty files list refused" has_message "No files in normal files list"
check "empty files list: no step ran" lacks_message "OnStepStarting("
check "empty files list: backend failed ($(tail -n1 "$MSG"))" lacks_message "exit=0"
[ "$failed" = 0 ] || show_messages

make_test_package "$E2E_BIN" "$C/pkg"
run_backend -- 'C:\pkg\kavor_setup.exe' "${BACKEND_SWITCHES[@]}" --install \
  --autoupdate '--package-dir=C:\pkg' --inside-package
check "autoupdate install refused with code 5" \
  has_message "Settings operation invalid for autoupdate: 1"
check "autoupdate refusal is code 5" has_message "OnError(5,"

# A list entry that reaches outside the package is refused, nothing stays.
printf '..\\outside.txt\n' >"$E2E_CASE/escape_list"
printf 'outside\n' >"$C/outside.txt"
rm -rf "$C/pkg" "$C/Kavor"
make_test_package "$E2E_BIN" "$C/pkg" --extra-list="$E2E_CASE/escape_list"
install_from_package
check "entry outside the package: run failed" has_message "OnError("
check "entry outside the package: nothing installed" [ ! -e "$C/Kavor" ]

# The in-package backend refuses an empty list before it copies anything.
rm -rf "$C/pkg" "$C/Kavor"
make_test_package "$E2E_BIN" "$C/pkg" --empty-files-list
install_from_package
check "empty list in the package refused" \
  has_message "No files in normal files list"
check "empty list in the package: nothing installed" [ ! -e "$C/Kavor" ]

# --- Interruption after the first step message: everything rolled back.
new_prefix interrupted
C="$WINEPREFIX/drive_c"
case_temp
make_test_package "$E2E_BIN" "$C/pkg"
install_from_package --interrupt-after-first-step
check "interrupted: created folder gone" [ ! -e "$C/Kavor" ]
check "interrupted: no OnError" lacks_message "OnError("
check "interrupted: exit code $EXIT_NOT_FINISHED ($(tail -n1 "$MSG"))" \
  has_message "exit=$EXIT_NOT_FINISHED"
[ "$failed" = 0 ] || show_messages

e2e_summary
