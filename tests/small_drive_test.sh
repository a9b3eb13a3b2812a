#!/usr/bin/env bash
# A backend unpacking a package onto a drive too small for it: drive K: is
# a size-limited file system mounted on a folder of the case. The package
# holds an entry of zeros larger than the whole drive (it packs to little).
# The unpacking must end in a clear failure that names the drive, the
# rollback must take away everything the install had made, and no process
# may crash on the way.
# Mounting takes the right to mount (root, or a user namespace that may);
# without it the test is skipped (exit 77): the unit tests cover the free
# space check and the faults in the reader's mapped view through seams.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
e2e_init "$1"
DRIVER_W=$(e2e_winpath "$E2E_BIN/kavor_backend_driver.exe")
export KAVOR_INSTALLER_VERBOSITY=1

MNT="$E2E_WORK/drive_k"
TINY="$E2E_WORK/drive_l"
mkdir -p "$MNT" "$TINY"
# 256 MiB: more than the 200 MB the install asks to be free, less than the
# package's entry of 512 MiB. 1 MiB for the readers' own tests.
if ! mount -t tmpfs -o size=256m kavor_small_drive "$MNT" 2>"$E2E_WORK/mount.err"; then
  echo "SKIPPED: cannot mount a size-limited file system here: $(cat "$E2E_WORK/mount.err")"
  exit 77
fi
# Lazily: the case's wineserver may still hold the drives while it ends.
trap 'umount -l "$MNT" "$TINY" 2>/dev/null; _e2e_exit' EXIT
mount -t tmpfs -o size=1m kavor_tiny_drive "$TINY" || exit 1

# --- The 7z reader and the downloader's file writer on a drive that fills
# up (their tests are disabled in the unit test run, which has no such
# drive).
new_prefix tiny_drive
ln -s "$TINY" "$WINEPREFIX/dosdevices/l:"
KAVOR_SMALL_DRIVE='L:\' wine "$E2E_BIN/installer_unittests.exe" \
  --gtest_also_run_disabled_tests \
  '--gtest_filter=*.DISABLED_OnASmallDrive*' >"$E2E_CASE/unittests.txt" 2>&1
rc=$?
check "reader and writer tests on a full drive (exit $rc)" [ "$rc" = 0 ]
check "both ran" grep -q '^\[  PASSED  \] 2 tests' "$E2E_CASE/unittests.txt"
[ "$failed" = 0 ] || grep -vE '^\[ *(RUN|OK) *\]' "$E2E_CASE/unittests.txt" | tail -40

new_prefix small_drive
C="$WINEPREFIX/drive_c"
ln -s "$MNT" "$WINEPREFIX/dosdevices/k:"
printf 'zeros.bin\n' >"$E2E_CASE/extra"
make_test_package "$E2E_BIN" "$C/pkg" "--extra-list=$E2E_CASE/extra"
truncate -s 512M "$C/pkg/zeros.bin"
pack_test_package "$C/pkg"

MSG="$E2E_CASE/messages.txt"
REPORT="$E2E_CASE/report.txt"
mkdir -p "$E2E_CASE/temp"
E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
run_in_job "--report=$(e2e_winpath "$REPORT")" -- "$DRIVER_W" '--folder=K:\Kavor' \
  "--messages=$(e2e_winpath "$MSG")" -- 'C:\pkg\kavor_setup.exe' --backend \
  --allusers=0 --copyonly=0 --singleprofile=0 --launchkavor=0 \
  --setdefaultbrowser=0 --desktopshortcut=0 --startmenushortcut=0 \
  --quicklaunchshortcut=0 --pintotaskbar=0 '--installfolder=K:\Kavor' \
  --install '--package-dir=C:\pkg'
[ -f "$MSG" ] || : >"$MSG"
messages() { tr -d '\r' <"$MSG"; }
has_message() { messages | grep -qF -- "$1"; }
lacks_message() { ! messages | grep -qF -- "$1"; }

check "driver ran (exit $RC: $ERR)" [ "$RC" = 0 ]
check "backend failed ($(messages | tail -n1))" has_message "exit="
check "backend did not succeed" lacks_message "exit=0"
check "the failure names the full drive ($(messages | grep -F 'OnError(' | head -c 400))" \
  has_message "Not enough space on K:\\ to unpack the archive"
# 3221225477 is an access violation; no process of the run may end so
# (Wine's own desktop process, which cannot start here, is not the run's).
crashed=$(tr -d '\r' <"$REPORT" 2>/dev/null | grep -vE ' exit=3221225781 ' |
  grep -E ' exit=(3221225477|3221225478) ' | head -3)
check "no process crashed ($crashed)" [ -z "$crashed" ]
check "nothing left on the drive ($(find "$MNT" -mindepth 1 | head -3))" \
  [ -z "$(find "$MNT" -mindepth 1)" ]
# The template prefix may hold a value of the unit tests (they share the
# build prefix it is copied from): only one naming this run's folder counts.
reg_answers() { wine reg query 'HKCU\Software' >/dev/null 2>&1; }
last_path=$(wine reg query 'HKCU\Software\Kavor Software' /v 'Last developer Install Path' 2>/dev/null |
  tr -d '\r' | grep -F 'Last developer Install Path')
check "registry readable" reg_answers
check "no last install path recorded ($last_path)" \
  eval '! grep -qiF "K:\Kavor" <<<"$last_path"'
if [ "$failed" != 0 ]; then
  echo "--- messages"; cat "$MSG"
  echo "--- report"; cat "$REPORT" 2>/dev/null
fi

e2e_summary
