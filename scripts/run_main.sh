#!/usr/bin/env bash
# The installer's main job, from nothing: installs what is missing, builds
# the library, its host and the stand-in browser programs in their release
# form (no debug checks, in build-release/ beside the test build), makes an
# unpacked test package, and installs it silently in a fresh Wine prefix
# with the preference default overrides served from a loopback server and
# the statistics posted to the statistics test server on 127.0.0.1:9000
# (--test-avro-srv). Then prints where it installed, what it wrote, the
# statistics received and the exit codes.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"

bash "$ROOT/scripts/install_deps.sh"
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer \
  kavor_browser_standin kavor_launcher_standin kavor_helper_standin \
  kavor_job_runner kavor_stats_schema
source "$ROOT/scripts/wine_env.sh"
source "$ROOT/tests/make_test_package.sh"
source "$ROOT/tests/loopback_server.sh"
source "$ROOT/tests/stats_server.sh"
source "$ROOT/scripts/fresh_prefix.sh"
BIN="$BUILD/bin"

cd "$BUILD"
for sw in --version --internal-version --stream; do
  rc=0
  out=$(wine bin/kavor_setup.exe "$sw") || rc=$?
  echo "kavor_setup.exe $sw -> \"$out\" (exit $rc)"
done

# A fresh prefix for every run, kept afterwards for a look.
RUN="$BUILD/run-main"
enter_fresh_prefix "$RUN" keep

C="$WINEPREFIX/drive_c"
make_test_package "$BIN" "$C/pkg" --host-name=setup.exe
printf '{"browser":{"check_default_browser":false}}' >"$RUN/www/prefs"
start_loopback_server "$RUN/www"
# The schema that decodes the statistics comes from the build's schema
# program; without it the requests are counted but not decoded.
SCHEMA="$RUN/stats_schema.json"
write_stats_schema "$BIN" "$SCHEMA" || SCHEMA=""
start_stats_server 9000 "$RUN" "$SCHEMA"
trap 'stop_stats_server; _leave_fresh_prefix' EXIT

URL="http://127.0.0.1:$LOOPBACK_PORT/prefs"
ARGS=(--silent '--installfolder=C:\Kavor' --allusers=0 --launchbrowser=0
  "--local-pref-default-overrides-server=$URL" --test-avro-srv)
echo
echo "Installing: C:\\pkg\\setup.exe ${ARGS[*]}"
# The job runner waits for every installer process, not only the first.
wine "$BIN/kavor_job_runner.exe" --prepare-desktop >/dev/null 2>&1 || true
set +e
KAVOR_INSTALLER_VERBOSITY=1 \
  wine "$BIN/kavor_job_runner.exe" "--report=$(winpath "$RUN/processes.txt")" \
  "--env=TEMP=$(winpath "$RUN/temp")" "--env=TMP=$(winpath "$RUN/temp")" \
  -- 'C:\pkg\setup.exe' "${ARGS[@]}"
RC=$?
set -e

echo
echo "setup.exe -> exit $RC"
echo "Installer processes (exit codes, peak memory):"
if [ -f "$RUN/processes.txt" ]; then
  # The job's own peak is left out: Wine does not keep it.
  tr -d '\r' <"$RUN/processes.txt" | grep -v '^job ' | sed 's/^/  /'
  # The front end checks that its download folder lets programs start by
  # running a bare copy of itself there; without the library beside it
  # that copy ends at once with 3221225781 (DLL not found), as intended.
  # The settings-change broadcast after registering the browser makes Wine
  # start its desktop program inside the job, where it cannot load.
  echo "  (an exit of 3221225781 is that download-folder check's bare copy, or"
  echo "  Wine's desktop program that the settings-change broadcast starts)"
fi

FOLDER="$C/Kavor"
echo
echo "Installed into C:\\Kavor ($FOLDER)"
for name in installation_status.json installer_prefs.json; do
  if [ -f "$FOLDER/$name" ]; then
    echo "What the installer wrote ($name):"
    python3 -m json.tool "$FOLDER/$name" | sed 's/^/  /'
  else
    echo "No $name (the install did not finish)."
  fi
done
echo "Files:"
if [ -d "$FOLDER" ]; then
  (cd "$FOLDER" && find . -type f | sort | sed 's|^\./|  |')
else
  echo "  (the folder does not exist)"
fi
# query KEY: the key's values as the registry holds them, indented.
query() {
  local keys
  keys=$(wine reg query "$1" 2>/dev/null | tr -d '\r' | sed '/^$/d' || true)
  if [ -n "$keys" ]; then
    sed 's/^/  /' <<<"$keys"
  else
    echo "  $1: (none)"
  fi
}
echo "Registry the installation recorded (installation_status.json, \"registry\"; an"
echo "uninstall removes a key's values at clean depth 0, the key at 1, the key n-1 levels up at n):"
if [ -f "$FOLDER/installation_status.json" ]; then
  python3 - "$FOLDER/installation_status.json" <<'PY'
import json, sys
registry = json.load(open(sys.argv[1], encoding="utf-8"))["registry"]
for hive, keys in registry.items():
    for key in keys:
        print(f"  {hive}\\{key['path']} (clean depth {key['clean']})")
        for value in key["values"]:
            print(f"      {value['name'] or '(default)'} {value['type']} {value['data']}")
PY
else
  echo "  (none)"
fi
echo "Uninstall entry, as the registry holds it:"
query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kavor 47.0.4127.0'
echo "Last install folder:"
query 'HKCU\Software\Kavor Software'
echo "Shortcuts:"
shortcuts=$(find "$C/users" "$C/ProgramData" -iname '*kavor*.lnk' 2>/dev/null || true)
if [ -n "$shortcuts" ]; then
  sed "s|^$C/|  C:/|" <<<"$shortcuts"
else
  echo "  (none)"
fi
if [ -f "$FOLDER/pref_default_overrides" ]; then
  echo "Preference default overrides from $URL: $(cat "$FOLDER/pref_default_overrides")"
fi
echo
stop_stats_server
echo "Statistics the test server received: $(wc -l <"$STATS_REQUESTS") requests"
if [ -s "$STATS_RECORDS" ]; then
  echo "Decoded ($STATS_RECORDS), event type and description:"
  "$(stats_python)" - "$STATS_RECORDS" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    event = json.loads(line).get("installer_event") or {}
    print("  %s %s" % (event.get("event_type"), event.get("description") or ""))
PY
else
  echo "  (none decoded: see $STATS_REQUESTS)"
fi
# Named by their start time: the first is the front end's.
log=$(ls "$RUN/temp/Kavor Installer"/kavor_installer_*.log 2>/dev/null | sort | head -1 || true)
if [ -n "$log" ]; then
  echo
  echo "Front end's log file: $log (first lines)"
  head -n 5 "$log"
fi
exit "$RC"
