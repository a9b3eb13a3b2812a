#!/usr/bin/env bash
# The installer's main job, from nothing: installs what is missing, builds
# the library, its host and the stand-in programs in their release form (no
# debug checks, in build-release/ beside the test build), and then does what
# a user's download does: a signed kavor_setup.exe carrying tracking data
# asks the update service (the stand-in kavor_update_server.exe on the
# loopback, named by --internal-package-server) which package to fetch,
# downloads the signed package and a partner file, checks them and installs
# silently in a fresh Wine prefix, with the preference default overrides
# served by the same service and the statistics posted to the statistics
# test server on 127.0.0.1:9000 (--test-avro-srv). Then prints where it
# installed, what it wrote, the requests the service saw, the statistics
# received and each process's exit code and peak memory.
#
# The package and the installer are signed by a test maker certificate under
# a test root that the fresh prefix trusts: the signature fixtures' own.
#
# With --wizard the same install goes through the wizard instead: the
# installer starts without --silent on $DISPLAY (a new Xvfb on :99 when
# none is set), kavor_ui_driver.exe clicks through its pages as a user
# would (welcome, options, back, accept, progress) and keeps a screenshot
# of each in build-release/run-main/screenshots/. With --wizard=manual
# nothing is clicked: the wizard waits for a person on that display (one
# that can be seen, or an Xvfb shown through a VNC server).
set -euo pipefail
WIZARD=""
for arg in "$@"; do
  case "$arg" in
    --wizard) WIZARD=driven ;;
    --wizard=manual) WIZARD=manual ;;
    *) echo "usage: $0 [--wizard | --wizard=manual]" >&2; exit 2 ;;
  esac
done
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"

bash "$ROOT/scripts/install_deps.sh"
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer \
  kavor_browser_standin kavor_launcher_standin kavor_helper_standin \
  kavor_job_runner kavor_stats_schema kavor_update_server kavor_package_stub \
  kavor_trust_root kavor_ui_driver signature_fixtures
source "$ROOT/scripts/wine_env.sh"
source "$ROOT/tests/network_package.sh"
source "$ROOT/tests/update_server.sh"
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
WWW="$RUN/www"

network_signing_keys "$BIN"
trust_test_root "$BIN"
echo
echo "Making the signed package (signed by the maker certificate of $SIGNING_DIR)..."
make_network_package "$BIN" "$WWW/kavor_package.exe" --host-name=setup.exe
printf 'Partner content delivered beside the package.\n' >"$WWW/partner.txt"
printf '{"browser":{"check_default_browser":false}}' >"$WWW/prefs"
# The tracking blob as the update service hands it out with the installer:
# base64 of a hash and the JSON.
TRACKING=$(printf 'hash%s' '{"utm":{"campaign":"run_main","medium":"script","source":"run_main"},"uuid":"run-main"}' |
  base64 -w0)
mkdir -p "$C/Downloads"
make_signed_setup "$BIN" "$C/Downloads" "$TRACKING"
: >"$WWW/metadata"

# The service's reply names the package at the service's own address, which
# is known once it listens.
export UPDATE_SERVER_BIN="$BIN" E2E_WORK="$RUN"
start_update_server "$WWW"
URL="http://127.0.0.1:$UPDATE_PORT"
package_metadata_json "$URL/kavor_package.exe" \
  "$(sha256_of "$WWW/kavor_package.exe")" \
  "$(component_json "$URL/partner.txt" partner_content "$WWW/partner.txt" \
    partner.txt)" >"$WWW/metadata"
# The schema that decodes the statistics comes from the build's schema
# program; without it the requests are counted but not decoded.
SCHEMA="$RUN/stats_schema.json"
write_stats_schema "$BIN" "$SCHEMA" || SCHEMA=""
start_stats_server 9000 "$RUN" "$SCHEMA"
trap 'stop_update_server || true; stop_stats_server; _leave_fresh_prefix' EXIT

# The loopback services, for either mode.
ARGS=("--internal-package-server=$URL/metadata"
  "--local-pref-default-overrides-server=$URL/prefs" --test-avro-srv)
if [ -z "$WIZARD" ]; then
  ARGS+=(--silent '--installfolder=C:\Kavor' --allusers=0 --launchbrowser=0)
else
  # The wizard's own choices but the folder, which the report below reads.
  ARGS+=('--installfolder=C:\Kavor' --launchbrowser=0)
  if [ -z "${DISPLAY:-}" ]; then
    Xvfb :99 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:99
    trap 'kill $XVFB_PID 2>/dev/null; stop_update_server || true; stop_stats_server; _leave_fresh_prefix' EXIT
  fi
  SHOTS="$RUN/screenshots"
  mkdir -p "$SHOTS"
  export KAVOR_SCREENSHOT_DIR
  KAVOR_SCREENSHOT_DIR=$(winpath "$SHOTS")
  echo "The wizard is on display $DISPLAY."
fi
echo "Update service: $URL (package $(stat -c %s "$WWW/kavor_package.exe") bytes)"
echo
echo "Installing: C:\\Downloads\\kavor_setup.exe ${ARGS[*]}"
# The job runner waits for every installer process, not only the first.
wine "$BIN/kavor_job_runner.exe" --prepare-desktop >/dev/null 2>&1 || true
set +e
JOB_TIMEOUT=()
[ "$WIZARD" = manual ] && JOB_TIMEOUT=(--timeout-seconds=3600)
KAVOR_INSTALLER_VERBOSITY=1 \
  wine "$BIN/kavor_job_runner.exe" "--report=$(winpath "$RUN/processes.txt")" \
  "${JOB_TIMEOUT[@]}" \
  "--env=TEMP=$(winpath "$RUN/temp")" "--env=TMP=$(winpath "$RUN/temp")" \
  -- 'C:\Downloads\kavor_setup.exe' "${ARGS[@]}" &
JOB=$!
if [ "$WIZARD" = driven ]; then
  # The pages a user goes through; each screenshot is taken once the page
  # has settled.
  wine "$BIN/kavor_ui_driver.exe" --timeout=120 wait-window \
    wait-control 1003 --visible --enabled screenshot wizard_welcome \
    click 1001 wait-control 1201 --visible screenshot wizard_options \
    click 1201 wait-control 1001 --visible click 1003 \
    wait-control 1211 --visible screenshot wizard_progress wait-gone ||
    echo "The driver stopped (exit $?): see the screenshots so far."
elif [ "$WIZARD" = manual ]; then
  echo "Waiting for the wizard on $DISPLAY to end (at most an hour)..."
fi
wait "$JOB"
RC=$?
set -e
if [ "$WIZARD" = driven ]; then
  echo "Screenshots of the wizard's pages:"
  ls "$SHOTS"/*.bmp 2>/dev/null | sed 's/^/  /' || echo "  (none)"
fi
stop_update_server || true

echo
echo "kavor_setup.exe -> exit $RC"
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

echo
echo "Requests the update service saw ($UPDATE_LOG):"
python3 - "$UPDATE_LOG" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    body = r.get("body", "")
    extra = []
    if r["headers"].get("Range"):
        extra.append("Range: " + r["headers"]["Range"])
    if body:
        extra.append("body: %s" % (body if len(body) <= 60 else body[:57] + "..."))
    print("  %s %s%s" % (r["method"], r["target"],
                         "  (" + ", ".join(extra) + ")" if extra else ""))
PY

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
if [ -f "$FOLDER/server_tracking_data" ]; then
  echo "Tracking data kept for the browser (server_tracking_data): $(cat "$FOLDER/server_tracking_data")"
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
if [ -n "$WIZARD" ]; then
  # The wizard installs for all users: the machine's entry, which a 64-bit
  # installer keeps in the 32-bit view.
  query 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Kavor 47.0.4127.0'
else
  query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kavor 47.0.4127.0'
fi
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
  echo "Preference default overrides from $URL/prefs: $(cat "$FOLDER/pref_default_overrides")"
fi
left=$(find "$RUN/temp" -maxdepth 2 -name 'kavor_package_*' 2>/dev/null || true)
echo "Package folders left in the download folder: ${left:-(none)}"
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
