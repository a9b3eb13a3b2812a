#!/usr/bin/env bash
# What a silent install registers: the browser's class, Start menu client,
# registered application and uninstall entry, under the current user or,
# for all users, the machine (the uninstall entry in the 32-bit view); a
# second installation of the same version gets the next uninstall key and
# keeps its registration when the first is uninstalled; a standalone copy
# registers nothing.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
source "$(dirname "$0")/loopback_server.sh"
e2e_init "$1"
trap 'stop_loopback_server; _e2e_exit' EXIT

serve_overrides '{}' || exit 1

UNINSTALL='Software\Microsoft\Windows\CurrentVersion\Uninstall'
ENTRY='Kavor 47.0.4127.0'

# install FOLDER SWITCHES...: a silent install from C:\pkg into FOLDER.
install() {
  local folder="$1"
  shift
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  run_in_job -- 'C:\pkg\setup.exe' --silent "--installfolder=$folder" \
    --launchbrowser=0 "$@" "${OVERRIDES_ARGS[@]}"
}

# value KEY NAME: the data of value NAME (the default value for "") as
# `reg query` prints it; "missing" when there is none. Under load a `wine reg`
# start can fail on its own; a value that is really missing stays missing
# when asked again, and what `reg` said goes to the case's output.
value() {
  local line out try
  for try in 1 2 3; do
    if [ -z "$2" ]; then
      out=$(wine reg query "$1" /ve 2>&1)
      line=$(tr -d '\r' <<<"$out" | grep -F 'REG_')
    else
      out=$(wine reg query "$1" /v "$2" 2>&1)
      line=$(tr -d '\r' <<<"$out" | grep -F "    $2    REG_")
    fi
    [ -n "$line" ] && break
  done
  if [ -z "$line" ]; then
    echo "reg query $1 /v $2: $out" >&2
    echo missing
    return
  fi
  sed -E 's/^ +.*    REG_[A-Z_]+    //; s/^ +\(Default\) +REG_[A-Z_]+ +//' <<<"$line"
}
has_value() { [ "$(value "$1" "$2")" = "$3" ]; }
has_key() { wine reg query "$1" >/dev/null 2>&1; }
no_key() { ! wine reg query "$1" >/dev/null 2>&1; }

# check_registration HIVE UNINSTALL_KEY FOLDER
check_registration() {
  local hive="$1" entry="$2" folder="$3"
  local classes="$hive\\Software\\Classes\\Kavordeveloper"
  local client="$hive\\Software\\Clients\\StartMenuInternet\\Kavordeveloper"
  check "$hive class command" has_value "$classes\\shell\\open\\command" "" \
    "\"$folder\\Launcher.exe\" -noautoupdate -- \"%1\""
  check "$hive client name" has_value "$client" "" "Kavor developer"
  check "$hive capabilities" has_value "$client\\Capabilities\\UrlAssociations" \
    https Kavordeveloper
  check "$hive registered application" has_value \
    "$hive\\Software\\RegisteredApplications" "Kavor developer" \
    'Software\Clients\StartMenuInternet\Kavordeveloper\Capabilities'
  check "$entry display name" has_value "$entry" DisplayName \
    "Kavor developer 47.0.4127.0"
  check "$entry install location" has_value "$entry" InstallLocation "$folder"
  check "$entry publisher" has_value "$entry" Publisher "Kavor Software"
  check "$entry uninstall string" has_value "$entry" UninstallString \
    "\"$folder\\Launcher.exe\" /uninstall"
  check "$entry no modify" has_value "$entry" NoModify 0x1
  check "$entry no repair" has_value "$entry" NoRepair 0x1
  check "$entry version" has_value "$entry" DisplayVersion 47.0.4127.0
}

# status_records FOLDER HIVE: installation_status.json of FOLDER records the
# written keys under HIVE only, each once with its clean depth, the uninstall
# entry with the values it holds.
status_records() {
  python3 - "$C/$1/installation_status.json" "$2" "$UNINSTALL\\$ENTRY" <<'PY'
import json, sys
path, hive, entry = sys.argv[1:]
reg = json.load(open(path, encoding="utf-8"))["registry"]
assert list(reg) == [hive], reg
keys = {k["path"]: k for k in reg[hive]}
assert len(keys) == len(reg[hive]), "a key recorded twice"
u = keys[entry]
assert u["clean"] == 1, u
values = {v["name"]: v for v in u["values"]}
assert values["DisplayVersion"]["data"] == "47.0.4127.0", values
assert values["NoModify"]["type"] == "REG_DWORD", values
client = keys["Software\\Clients\\StartMenuInternet\\Kavordeveloper"]
assert client["clean"] >= 1, client
assert all(k["clean"] >= 0 for k in reg[hive]), reg
PY
}
copy_records_nothing() {
  python3 - "$C/KavorCopy/installation_status.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
assert s["registry"] == {} and s["copy_only"] is True, s
PY
}

# --- Current user, then a second installation of the same version.
new_prefix user
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
install 'C:\Kavor' --allusers=0
check "user install exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check_registration HKCU "HKCU\\$UNINSTALL\\$ENTRY" 'C:\Kavor'
check "user ddeexec topic" has_key \
  'HKCU\Software\Classes\Kavordeveloper\shell\open\ddeexec\Topic'
check "nothing under the machine" no_key \
  'HKLM\Software\Clients\StartMenuInternet\Kavordeveloper'
check "user keys recorded in the status" status_records Kavor HKCU
install 'C:\Kavor2' --allusers=0
check "second install exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "second uninstall entry" has_value "HKCU\\$UNINSTALL\\${ENTRY}1" \
  InstallLocation 'C:\Kavor2'
check "first uninstall entry kept" has_value "HKCU\\$UNINSTALL\\$ENTRY" \
  InstallLocation 'C:\Kavor'
# The second one took the shared class, client and application keys over:
# uninstalling the first leaves them to it.
run_in_job -- 'C:\Kavor\47.0.4127.0\installer.exe' --uninstall --silent \
  --enable-installer-stats=0
check "first uninstall exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "first uninstall entry gone" no_key "HKCU\\$UNINSTALL\\$ENTRY"
check_registration HKCU "HKCU\\$UNINSTALL\\${ENTRY}1" 'C:\Kavor2'

# --- All users: the machine's hive, the uninstall entry in the 32-bit view.
new_prefix machine
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
install 'C:\KavorAll' --allusers=1
check "all-users install exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check_registration HKLM \
  "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$ENTRY" \
  'C:\KavorAll'
check "no machine ddeexec" no_key \
  'HKLM\Software\Classes\Kavordeveloper\shell\open\ddeexec'
check "nothing under the user" no_key \
  'HKCU\Software\Clients\StartMenuInternet\Kavordeveloper'
check "machine keys recorded in the status" status_records KavorAll HKLM

# --- A standalone copy.
new_prefix copy
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --host-name=setup.exe
install 'C:\KavorCopy' --copyonly=1
check "copy exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "copy installed" [ -f "$C/KavorCopy/47.0.4127.0/kavor.exe" ]
check "copy: no user class" no_key 'HKCU\Software\Classes\Kavordeveloper'
check "copy: no machine class" no_key 'HKLM\Software\Classes\Kavordeveloper'
check "copy: no uninstall entry" no_key "HKCU\\$UNINSTALL\\$ENTRY"
check "copy: no keys recorded" copy_records_nothing

e2e_summary
