#!/usr/bin/env bash
# The payload appended to the installer executable reaches the run: a copy
# of the host whose payload is tracking data logs it, takes it as the
# process's tracking data and reports it in its statistics (posted to the
# test statistics server, --test-avro-srv: 127.0.0.1:9000); a copy whose
# payload is a 7z package is taken as a full package. Outside an unpacked
# package is taken as the package, without asking the update service. The
# tracking run then ends at the package fetch (119: the service, a stand-in
# on the loopback, has no package to give); the bogus package fails to
# unpack (101).
# A copy whose headers put its signature past its end ends the run with 118.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/stats_server.sh"
source "$(dirname "$0")/update_server.sh"
e2e_init "$1"
trap 'stop_update_server; stop_stats_server; _e2e_exit' EXIT

STATS_PY=$(stats_python) || exit 1
SCHEMA="$E2E_WORK/stats_schema.json"
write_stats_schema "$E2E_BIN" "$SCHEMA" || SCHEMA=""

# copy_host NAME: a fresh prefix for case NAME with a copy of the host and
# its library in $E2E_CASE/bin; TEMP is $E2E_CASE/temp.
copy_host() {
  new_prefix "$1"
  mkdir -p "$E2E_CASE/bin" "$E2E_CASE/temp"
  cp "$E2E_EXE" "$E2E_BIN/kavor_installer.dll" "$E2E_CASE/bin/"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
}
# run_copy ARGS...: runs the copy silently; sets LOG to the text of its log.
run_copy() {
  run_in_job -- "$(e2e_winpath "$E2E_CASE/bin/kavor_setup.exe")" --silent \
    '--installfolder=C:\Kavor' --allusers=0 "$@"
  LOG=$(cat "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log 2>/dev/null)
}
# run_with_payload NAME DATA: the copy of case NAME with DATA appended as
# payload, run with its statistics sent to the test server and the update
# service answering without a package.
run_with_payload() {
  copy_host "$1"
  append_payload "$E2E_CASE/bin/kavor_setup.exe" "$2"
  stop_stats_server
  start_stats_server 9000 "$E2E_CASE" "$SCHEMA" || exit 1
  start_no_content_update_server || exit 1
  run_copy --test-avro-srv "--session-guid=$SESSION" \
    "--internal-package-server=$NO_CONTENT_URL"
  stop_update_server
  stop_stats_server
}
has() { grep -qF -- "$2" <<<"$1"; }
# stats_has EXPR / stats_all EXPR: whether EXPR holds for one / every one of
# this run's decoded records (at least one), each as r; E(r) is its
# installer_event.
stats_has() { stats_records "R and any(($1) for r in R)" "$SESSION"; }
stats_all() { stats_records "R and all(($1) for r in R)" "$SESSION"; }

SESSION=7d3f0c52-1b9e-4c1a-9a77-0e5b2c1d9f40
# The tracking blob as the update service hands it out: base64 of a hash
# and the JSON.
JSON='{"utm":{"campaign":"spring","medium":"banner","source":"payload_test"},"uuid":"6f1c2a9e-payload"}'
BLOB=$(printf 'hash%s' "$JSON" | base64 -w0)
run_with_payload tracking "$BLOB"
check "tracking: exit 119 at the package fetch (got $RC)" [ "$RC" = 119 ]
check "tracking: logged" has "$LOG" "Tracking data: $BLOB"
CL="E(r).get('event_type') == 'controller_launched' and E(r)['controller_launched_details']"
check "tracking: controller_launched names the payload type" \
  stats_has "$CL['payload_type'] == 'tracking_data'"
check "tracking: controller_launched carries the tracking data" \
  stats_has "$CL['tracking_data'] and json.loads($CL['tracking_data'])['utm']['campaign'] == 'spring'"
check "tracking: every message names the campaign" \
  stats_all "r['context']['campaign'] == {'name': 'spring', 'source': 'payload_test', 'medium': 'banner'}"
[ "$failed" = 0 ] || { echo "--- stats"; cat "$STATS_RECORDS"; }

run_with_payload package "$(printf '7z\274\257\047\034')rest"
check "package: the service not asked" [ ! -s "$UPDATE_LOG" ]
check "package: found" has "$LOG" "Found full package"
check "package: the bogus archive fails to unpack, 101 (got $RC)" [ "$RC" = 101 ]
check "package: controller_launched names the payload type" \
  stats_has "$CL['payload_type'] == 'full_package'"

# A copy whose security directory lies past its end is corrupted: the run
# ends with 118 before any window (the build's "tamber-library" feature).
copy_host corrupted
python3 - "$E2E_CASE/bin/kavor_setup.exe" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    image = f.read()
    pe = struct.unpack_from("<I", image, 60)[0]
    machine = struct.unpack_from("<H", image, pe + 4)[0]
    f.seek(pe + (152 if machine == 0x14C else 168))
    f.write(struct.pack("<II", len(image) + 1, 8))
PY
run_copy --enable-installer-stats=0
check "corrupted: exit 118 (got $RC)" [ "$RC" = 118 ]
check "corrupted: logged" has "$LOG" \
  "Security directory is located past the image file length"

e2e_summary
