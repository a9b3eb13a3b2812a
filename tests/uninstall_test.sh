#!/usr/bin/env bash
# The silent uninstall, started as a user would from the installation's own
# installer.exe: it removes what the installation recorded (its files, root
# files and launcher, its registry keys and values, its shortcuts) and keeps
# the installer preferences, the remembered install folder and the
# package's master shortcut. No uninstall entry is left in either registry
# view, also of an installation for all users, whose entry lives in the
# 32-bit view. A folder with letters beyond ASCII goes as well, with what
# the clean-up batch has to delete in it. While the browser runs, the
# uninstall refuses with exit 109 (the in-use result 9 + 100) and changes
# nothing. Taskbar pins are left out: Wine can't pin, and its shell links
# keep no app id, by which alone a pin is told as the installation's.
set -u
source "$(dirname "$0")/local_install.sh"
local_install_init "$1"

# --- The uninstall removes the installation.
install uninstall
before_uninstall HKCU
uninstall
check_uninstalled uninstall HKCU
check "nothing left but the batch's share ($(leftovers | tr '\n' ' '))" \
  [ -z "$(leftovers)" ]
[ "$failed" = 0 ] || { echo "--- processes"; cat "$REPORT"; }

# --- For all users: the machine's registrations go, the uninstall entry
# from the 32-bit view it was written to.
install all_users 'C:\Kavor' --allusers=1
before_uninstall HKLM
uninstall
check_uninstalled "all users" HKLM
[ "$failed" = 0 ] || { echo "--- processes"; cat "$REPORT"; }

# --- A folder named with letters beyond ASCII. A file of the installation
# that another process holds (letting others delete it) is handed to the
# clean-up batch, which must spell its path as cmd reads it to delete it.
install non_ascii 'C:\Kavör José'
before_uninstall HKCU
HELD="$ROOT\\$VERSION\\resources\\hold.dll"
rm -f "$C/stop_holder"
wine "$E2E_BIN/kavor_test_child.exe" hold "$HELD" 'C:\stop_holder' \
  >"$E2E_CASE/holder.out" 2>&1 &
HOLDER_PID=$!
check "non-ASCII: the file is held" started "$HOLDER_PID" "$E2E_CASE/holder.out" holding
uninstall
check_uninstalled non-ASCII HKCU "$HELD"
check "non-ASCII: the held file handed to the batch" \
  grep -qxF -- "$HELD" <(printf '%s\n' "${HANDED[@]}")
: >"$C/stop_holder"
wait "$HOLDER_PID"
HOLDER_RC=$?
check "non-ASCII: the holder ended with 0 (got $HOLDER_RC)" [ "$HOLDER_RC" = 0 ]
check "non-ASCII: the batch deleted the held file" all_gone "$HELD"
# The batch's rmdir came while the file was still held.
check "non-ASCII: nothing left but the batch's share ($(leftovers "$VERSION/resources" | tr '\n' ' '))" \
  [ -z "$(leftovers "$VERSION/resources")" ]
[ "$failed" = 0 ] || { echo "--- processes"; cat "$REPORT"; }

# --- A running browser refuses the uninstall, which changes nothing.
install in_use
mapfile -t FILES < <(installed_files)
mapfile -t SHORTCUTS < <(status_get shortcuts)
(cd "$UROOT" && find . | sort) >"$E2E_CASE/files_before"
wine "$E2E_RUNNER" -- "$BROWSER" '--stay-until=C:\stop_browser' \
  >"$E2E_CASE/browser.out" 2>&1 &
BROWSER_PID=$!
check "browser started" started "$BROWSER_PID" "$E2E_CASE/browser.out" running
uninstall
check "in use: exit 109 (got $RC: $ERR)" [ "$RC" = 109 ]
check "in use: front end and backend exit 109, the reporter 0 ($(uninstaller_exits))" \
  [ "$(uninstaller_exits)" = 'exit=0 exit=109 exit=109 ' ]
check "in use: reason logged" \
  uninstall_log_has "Can't uninstall when kavor.exe is in use"
check "in use: status unchanged" cmp -s "$STATUS" "$UROOT/installation_status.json"
check "in use: no file added or removed" \
  diff <(cd "$UROOT" && find . | sort) "$E2E_CASE/files_before"
check "in use: files and shortcuts there" \
  all_there "${FILES[@]}" "${SHORTCUTS[@]}"
check "in use: recorded registry there" registry present HKCU
: >"$C/stop_browser"
wait "$BROWSER_PID"
BROWSER_RC=$?
check "browser ended with 0 (got $BROWSER_RC)" [ "$BROWSER_RC" = 0 ]

e2e_summary
