#!/usr/bin/env bash
# The registration of the browser as a protocol's handler, as the browser
# starts it when the user makes it the handler of a protocol: the
# installation's own installer.exe with --register-kavor-as-protocol-handler.
# The protocol joins the URL associations of the browser's capabilities
# under the installation's root (the user's for a per-user installation,
# which gets no machine-wide key, the machine's for all users), and the
# user's class of the protocol opens the installation's launcher. The
# uninstall that follows leaves nothing that the registration wrote naming
# the installation.
set -u
source "$(dirname "$0")/local_install.sh"
local_install_init "$1"
export KAVOR_INSTALLER_VERBOSITY=1

CAPABILITIES='Software\Clients\StartMenuInternet\Kavordeveloper\Capabilities\URLAssociations'
PROTOCOL=irc

register() {
  mkdir -p "$E2E_CASE/rtemp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/rtemp")
  run_in_job -- "$UNINSTALLER" "--register-kavor-as-protocol-handler=$PROTOCOL"
  LOG=$(cat "$E2E_CASE/rtemp/Kavor Installer"/kavor_installer_*.log 2>/dev/null)
}

# value_is HIVE KEY NAME DATA: the string value NAME (default: /ve) of KEY
# holds DATA exactly.
value_is() {
  local name=(/v "$3")
  [ -n "$3" ] || name=(/ve)
  reg_query "$1\\$2" "${name[@]}" || return 1
  tr -d '\r' <<<"$OUT" | grep -qxF "    ${3:-(Default)}    REG_SZ    $4" ||
    { echo "$1\\$2 ${3:-(default)}: $OUT" >&2; return 1; }
}
key_missing() {
  reg_query "$1\\$2" || return 1
  [ -z "$OUT" ] || { echo "still there: $1\\$2" >&2; return 1; }
}

# naming_launcher: the registry lines of the user and the machine that name
# the installation's launcher.
naming_launcher() {
  local root export
  for root in HKCU 'HKLM\Software'; do
    export="$E2E_CASE/launcher.reg"
    wine reg export "$root" "$(e2e_winpath "$export")" /y >/dev/null 2>&1 ||
      { echo "cannot export $root" >&2; return 1; }
    iconv -f UTF-16LE -t UTF-8 "$export" | tr -d '\r' |
      grep -iF "${ROOT//\\/\\\\}\\\\launcher.exe"
  done
  return 0
}
nothing_names_launcher() {
  local lines
  lines=$(naming_launcher) || return 1
  [ -z "$lines" ] || { echo "$lines" >&2; return 1; }
}

OPEN_COMMAND="\"C:\\Kavor\\launcher.exe\" -noautoupdate -- \"%1\""

# --- A per-user installation, the default: everything under the user's
# root, nothing for the machine.
install user
register
check "user: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "user: Operation 4" grep -qF "Operation: 4" <<<"$LOG"
check "user: the protocol in the user's URL associations" \
  value_is HKCU "$CAPABILITIES" "$PROTOCOL" Kavordeveloper
check "user: the user's class opens the launcher" \
  value_is HKCU "Software\\Classes\\$PROTOCOL\\shell\\open\\command" "" \
  "$OPEN_COMMAND"
check "user: the class's icon is the launcher's" \
  value_is HKCU "Software\\Classes\\$PROTOCOL\\DefaultIcon" "" \
  'C:\Kavor\Launcher.exe,0'
check "user: no machine-wide capabilities" \
  key_missing HKLM 'Software\Clients\StartMenuInternet\Kavordeveloper'
check "user: no machine-wide class" \
  key_missing HKLM "Software\\Classes\\$PROTOCOL\\shell\\open\\command"
check "user: the installation's registrations still all there" \
  registry present HKCU
[ "$failed" = 0 ] || { echo "--- log"; tail -n 40 <<<"$LOG"; }
before_uninstall HKCU
uninstall
check_uninstalled user HKCU
check "user: the protocol's class gone" \
  key_missing HKCU "Software\\Classes\\$PROTOCOL"
check "user: no capability left" \
  key_missing HKCU 'Software\Clients\StartMenuInternet\Kavordeveloper'
check "user: nothing names the launcher" nothing_names_launcher

# --- For all users: the machine's URL associations.
install all_users 'C:\Kavor' --allusers=1
register
check "all users: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "all users: the protocol in the machine's URL associations" \
  value_is HKLM "$CAPABILITIES" "$PROTOCOL" Kavordeveloper
check "all users: none in the user's" \
  key_missing HKCU 'Software\Clients\StartMenuInternet\Kavordeveloper'
[ "$failed" = 0 ] || { echo "--- log"; tail -n 40 <<<"$LOG"; }
before_uninstall HKLM
uninstall
check_uninstalled "all users" HKLM
check "all users: no capability left" \
  key_missing HKLM 'Software\Clients\StartMenuInternet\Kavordeveloper'
check "all users: nothing names the launcher" nothing_names_launcher

e2e_summary
