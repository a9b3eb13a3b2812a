#!/usr/bin/env bash
# A backend told where a downloaded package lies (--package-dir, no
# --inside-package) unpacks the 7z archive "kavor_package" into a versioned
# subfolder and hands over to the installer.exe it unpacked. The installed
# files are the archive's bytes; the front end hears every unpacked entry.
# An archive that breaks halfway is rolled back and leaves nothing.
# kavor_backend_driver.exe plays the front end and writes down the messages
# of both backends.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/make_test_package.sh"
e2e_init "$1"
DRIVER_W=$(e2e_winpath "$E2E_BIN/kavor_backend_driver.exe")
export KAVOR_INSTALLER_VERBOSITY=1

run_backend() {
  MSG="$E2E_CASE/messages.txt"
  rm -f "$MSG"
  mkdir -p "$E2E_CASE/temp"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
  run_in_job -- "$DRIVER_W" '--folder=C:\Kavor' \
    "--messages=$(e2e_winpath "$MSG")" -- 'C:\pkg\kavor_setup.exe' --backend \
    --allusers=0 --copyonly=0 --singleprofile=0 --launchkavor=0 \
    --setdefaultbrowser=0 --desktopshortcut=0 --startmenushortcut=0 \
    --quicklaunchshortcut=0 --pintotaskbar=0 '--installfolder=C:\Kavor' \
    --install '--package-dir=C:\pkg'
  [ -f "$MSG" ] || : >"$MSG"
}
messages() { tr -d '\r' <"$MSG"; }
has_message() { messages | grep -qF -- "$1"; }
lacks_message() { ! messages | grep -qF -- "$1"; }
show_messages() { echo "--- messages"; cat "$MSG"; }

# The numbers of the unpacking's step messages, one line.
unpack_counts() {
  messages | sed -n 's/^OnStepFinished(direct_unpacking,0,\([0-9]*\))$/\1/p' |
    tr '\n' ' '
}

# --- A whole archive: every file lands where the install puts it, with the
# archive's bytes; the steps count 1 to the number of entries.
new_prefix archive
C="$WINEPREFIX/drive_c"
make_test_package "$E2E_BIN" "$C/pkg" --7z
EXPECTED="$E2E_CASE/expected"
7zz x -bd -bso0 -bsp0 "-o$EXPECTED" "$C/pkg/kavor_package"
entries=$(7zz l -slt "$C/pkg/kavor_package" | grep -c '^Path = ')
entries=$((entries - 1))  # the first Path is the archive's own
run_backend
V="$C/Kavor/47.0.4127.0"
check "backend exit 0 ($(tail -n1 "$MSG"))" has_message "exit=0"
check "no error message" lacks_message "OnError("
check "unpacking phase" has_message "OnEnteringPhase(6)"
check "total of $entries entries announced" \
  has_message "OnTotalSteps($entries)"
want=$(seq -s ' ' 1 "$entries")
check "unpack steps count 1 to $entries ($(unpack_counts))" \
  [ "$(unpack_counts)" = "$want " ]
differ=$(installed_differ "$EXPECTED" "$C/Kavor" "$V")
check "installed files are the archive's bytes (differ:$differ)" [ -z "$differ" ]
check "no temporary file of the reader left ($(find "$C/Kavor" -name '*.tmp' | head -3))" \
  [ -z "$(find "$C/Kavor" -name '*.tmp')" ]
[ "$failed" = 0 ] || show_messages

# --- An archive whose later stream is damaged: the files before it are
# written, then the unpacking fails and the rollback takes the version folder
# and the install folder away again.
new_prefix damaged
C="$WINEPREFIX/drive_c"
# One stored stream per file, without the filter for executables: the
# launcher's bytes, the last stream, are found as they are and damaged.
make_test_package "$E2E_BIN" "$C/pkg" --7z="-ms=off -m0=Copy -mf=off"
damage() {
  python3 - "$C/pkg/kavor_package" "$E2E_BIN/kavor_launcher_standin.exe" <<'PY'
import sys
archive, original = sys.argv[1], sys.argv[2]
data = bytearray(open(archive, "rb").read())
at = data.find(open(original, "rb").read())
if at < 0:
    sys.exit("the launcher's stream is not in the archive")
data[at + 4096:at + 4160] = b"#" * 64
open(archive, "wb").write(data)
PY
}
check "damaged: the launcher's stream damaged" damage
run_backend
check "damaged: run failed ($(tail -n1 "$MSG"))" lacks_message "exit=0"
check "damaged: decoder error reported" \
  has_message "Could not lzma unpack, error code: 4"
check "damaged: files were written before it broke ($(unpack_counts))" \
  [ -n "$(unpack_counts)" ]
check "damaged: nothing left ($(find "$C/Kavor" 2>/dev/null | head -3))" \
  [ ! -e "$C/Kavor" ]
[ "$failed" = 0 ] || show_messages

e2e_summary
