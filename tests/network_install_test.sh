#!/usr/bin/env bash
# The network install: a signed kavor_setup.exe carrying tracking data asks
# the update service (kavor_update_server.exe on the loopback, named by
# --internal-package-server) for the package, downloads the signed package
# and a partner file it names, checks them and installs silently. Then what
# goes wrong on the way: cut connections are resumed to the same result; a
# wrong checksum, a foreign signature, an archive in the certificate table
# of a signed stub, an older package, a reply without a package and a
# service that is down each end the run, after
# the fetcher's retries, with its failure (119) and leave no installation
# and no package folder behind.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/stats_server.sh"
e2e_init "$1"
trap 'stop_update_server; stop_stats_server; _e2e_exit' EXIT
export KAVOR_INSTALLER_VERBOSITY=1

STATS_PY=$(stats_python) || exit 1
SCHEMA="$E2E_WORK/stats_schema.json"
write_stats_schema "$E2E_BIN" "$SCHEMA" || SCHEMA=""

network_signing_keys "$E2E_BIN" || exit 1
# One archive serves every case; the packages differ in stub and signer.
ARCHIVE="$E2E_WORK/package.7z"
make_package_archive "$E2E_BIN" "$ARCHIVE" --host-name=setup.exe \
  --7z=-mx=1 || exit 1
EXPECTED="$E2E_WORK/expected"
7zz x -bd -bso0 -bsp0 "-o$EXPECTED" "$ARCHIVE" || exit 1
PACKAGES="$E2E_WORK/packages"
mkdir -p "$PACKAGES"
make_network_package "$E2E_BIN" "$PACKAGES/good" --archive="$ARCHIVE" &&
  make_network_package "$E2E_BIN" "$PACKAGES/other" --archive="$ARCHIVE" \
    --signer=other &&
  make_network_package "$E2E_BIN" "$PACKAGES/old" --archive="$ARCHIVE" \
    --stub=kavor_package_stub_old.exe || exit 1
# The maker's stub alone, signed, with the archive in its certificate
# table's padding.
cp "$E2E_BIN/kavor_package_stub.exe" "$PACKAGES/padded" &&
  sign_image maker "$PACKAGES/padded" &&
  pad_certificate_table "$PACKAGES/padded" "$ARCHIVE" || exit 1
printf 'partner content of the network test\n' >"$E2E_WORK/partner.txt"
printf 'a resource nobody asked for\n' >"$E2E_WORK/resource.pak"

SESSION=2b6f4c1e-5d0a-4e8b-9c3f-7a1d2e4b6c80
JSON='{"utm":{"campaign":"autumn","medium":"mail","source":"network_test"},"uuid":"0c9e-network"}'
BLOB=$(printf 'hash%s' "$JSON" | base64 -w0)
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" "$BLOB" || exit 1

# network_case NAME PACKAGE [SCRIPT_LINE...]: a fresh prefix of case NAME
# trusting the test root, the signed installer in C:\dl, and the update
# service serving PACKAGES/PACKAGE as /kavor_package.exe, the partner file
# and the resource, scripted by the lines given. METADATA (a file of the
# case's www folder) is the service's reply at /metadata, written once the
# port is known: write_metadata fills it. Sets URL.
network_case() {
  local name="$1" package="$2"
  shift 2
  network_prefix "$name" "$SETUP"
  ln "$PACKAGES/$package" "$WWW/kavor_package.exe"
  ln "$E2E_WORK/partner.txt" "$E2E_WORK/resource.pak" "$WWW/"
  METADATA="$WWW/metadata"
  : >"$METADATA"
  printf '%s\n' "$@" >"$E2E_CASE/script"
  start_update_server "$WWW" "$E2E_CASE/script" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  REG_BEFORE=$(registry_kavor_lines)
}

# write_metadata [CHECKSUM]: the reply naming the package (with CHECKSUM,
# else its own), the partner file and a resource the installer did not ask
# for.
write_metadata() {
  package_metadata_json "$URL/kavor_package.exe" \
    "${1:-$(sha256_of "$WWW/kavor_package.exe")}" \
    "$(component_json "$URL/partner.txt" partner_content \
      "$WWW/partner.txt" partner.txt)" \
    "$(component_json "$URL/resource.pak" downloadable_resource \
      "$WWW/resource.pak" 'resources\extra.pak')" >"$METADATA"
}

# run_setup ARGS...: the silent network install, its statistics off unless
# ARGS turn them on; the preference default overrides are asked of the
# service too (it has none: 404).
run_setup() {
  REPORT="$E2E_CASE/report.txt"
  run_in_job "--report=$(e2e_winpath "$REPORT")" -- 'C:\dl\kavor_setup.exe' \
    --silent '--installfolder=C:\Kavor' --allusers=0 --launchbrowser=0 \
    "--internal-package-server=$URL/metadata" "--session-guid=$SESSION" \
    "--local-pref-default-overrides-server=$URL/prefs" "$@"
  stop_update_server
  [ -f "$REPORT" ] || : >"$REPORT"
  LOG=$(cat "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log \
    2>/dev/null)
}

# Every process of the job but Wine's own and the front end's probe of its
# download folder (a bare copy of the host, which ends with 0xC0000135);
# the pin helper may end before Wine names it ("?").
installer_processes() {
  job_processes "$REPORT" |
    grep -v -e ' exit=3221225781 ' -e '^installer_helper_64\.exe ' \
      -e '^? exit=0 '
}
requests_for() { grep -c -F "\"target\":\"$1\"" "$UPDATE_LOG"; }
has() { grep -qF -- "$2" <<<"$1"; }
package_folders() {
  find "$E2E_CASE/temp" -name 'kavor_package_*' -type d 2>/dev/null
}
# The checks of a run that installed the package.
check_installed() {
  local what="$1" differ
  check "$what: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  check "$what: every installer process exit 0 ($(installer_processes | tr '\n' ';'))" \
    [ -n "$(installer_processes)" -a -z "$(installer_processes | grep -v ' exit=0 ')" ]
  differ=$(installed_differ "$EXPECTED" "$C/Kavor" "$C/Kavor/47.0.4127.0")
  check "$what: installed files are the package's (differ:$differ)" \
    [ -z "$differ" ]
  check "$what: the partner file installed" \
    cmp -s "$E2E_WORK/partner.txt" "$C/Kavor/47.0.4127.0/partner.txt"
  check "$what: no package folder left ($(package_folders | head -3))" \
    [ -z "$(package_folders)" ]
}
# The checks of a run that the fetcher ended: MESSAGE is part of the error
# of each attempt.
check_fetch_failed() {
  local what="$1" message="$2"
  check "$what: exit 119 (got $RC: $ERR)" [ "$RC" = 119 ]
  check "$what: the fetcher's failure ended the run" \
    has "$LOG" "Package fetcher failed."
  check "$what: \"$message\" reported" has "$ERR" "$message"
  check "$what: nothing installed" [ ! -e "$C/Kavor" ]
  local now
  now=$(registry_kavor_lines)
  check "$what: registry as it was ($(diff <(echo "$REG_BEFORE") <(echo "$now") | grep '^[<>]' | tr '\n' ';'))" \
    [ "$now" = "$REG_BEFORE" ]
  check "$what: no package folder left ($(package_folders | head -3))" \
    [ -z "$(package_folders)" ]
}

# --- The install, its tracking data and statistics.
network_case install good
write_metadata
stop_stats_server
start_stats_server 9000 "$E2E_CASE" "$SCHEMA" || exit 1
run_setup --test-avro-srv
stop_stats_server
check_installed install
# The request's body is the tracking data, the blob's JSON.
metadata_posted_with_tracking_data() {
  python3 - "$UPDATE_LOG" "$JSON" <<'PY'
import json, sys
r = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
m = [x for x in r if x["target"] == "/metadata"]
assert len(m) == 1 and m[0]["method"] == "POST", m
assert json.loads(m[0]["body"]) == json.loads(sys.argv[2]), m
PY
}
# What the installation keeps for the browser: a blob (base64 of a digest,
# ":" and the JSON) of the same tracking data.
tracking_data_installed() {
  python3 - "$C/Kavor/server_tracking_data" "$JSON" <<'PY'
import base64, json, sys
blob = base64.b64decode(open(sys.argv[1], "rb").read()).decode()
assert json.loads(blob[blob.index("{"):]) == json.loads(sys.argv[2]), blob
PY
}
check "install: the metadata posted once, with the tracking data" \
  metadata_posted_with_tracking_data
check "install: the package fetched once" [ "$(requests_for /kavor_package.exe)" = 1 ]
check "install: the partner file fetched" [ "$(requests_for /partner.txt)" = 1 ]
check "install: the resource nobody asked for not fetched" \
  [ "$(requests_for /resource.pak)" = 0 ]
check "install: the tracking data installed" tracking_data_installed
stats_has() { stats_records "R and any(($1) for r in R)" "$SESSION"; }
stats_all() { stats_records "R and all(($1) for r in R)" "$SESSION"; }
CL="E(r)['controller_launched_details']"
check "install: controller_launched names the tracking data" \
  stats_has "T(r) == 'controller_launched' and $CL['payload_type'] == 'tracking_data' and json.loads($CL['tracking_data'])['utm']['campaign'] == 'autumn'"
check "install: every message names the campaign" \
  stats_all "r['context']['campaign'] == {'name': 'autumn', 'source': 'network_test', 'medium': 'mail'}"
for event in fetching_download_url fetching_primary_package \
  primary_package_fetched checksum_verified signature_verified \
  version_verified fetching_additional_file package_ready; do
  check "install: statistics event $event" stats_has "T(r) == '$event'"
done
check "install: controller_quitting with result true" \
  stats_has "T(r) == 'controller_quitting' and E(r)['result'] is True"
[ "$failed" = 0 ] || {
  echo "--- requests"; cat "$UPDATE_LOG"; echo "--- processes"; cat "$REPORT"
  echo "--- stats"; cat "$STATS_RECORDS"
}

# --- Cut connections: closed and reset mid-body, each time further on; the
# downloader resumes where it was and the install is the same.
network_case cuts good \
  '/kavor_package.exe 200 close_after=1000000' \
  '/kavor_package.exe 200 reset_after=1500000' \
  '/kavor_package.exe 200 close_after=2000000' \
  '/kavor_package.exe 200'
write_metadata
run_setup --enable-installer-stats=0
check_installed cuts
ranges=$(grep -F '"target":"/kavor_package.exe"' "$UPDATE_LOG" |
  sed -n 's/.*"Range":"bytes=\([0-9]*\)-".*/\1/p' | tr '\n' ' ')
# A closed connection delivers all it sent, a reset may lose what was on
# the way: the second resume starts at or before 2,500,000 bytes, the third
# 2,000,000 bytes after it.
resumed_at_cuts() {
  local r=($ranges)
  [ "${#r[@]}" = 3 ] && [ "${r[0]}" = 1000000 ] && [ "${r[1]}" -gt 1000000 ] &&
    [ "${r[1]}" -le 2500000 ] && [ "${r[2]}" = $((r[1] + 2000000)) ]
}
check "cuts: resumed at each cut (ranges from: $ranges)" resumed_at_cuts
check "cuts: within one fetch ($(requests_for /metadata) metadata requests)" \
  [ "$(requests_for /metadata)" = 1 ]
[ "$failed" = 0 ] || { echo "--- requests"; cat "$UPDATE_LOG"; }

# --- Packages the checks refuse.
network_case checksum good
write_metadata "$(printf 'not the package' | sha256sum | cut -d' ' -f1)"
run_setup --enable-installer-stats=0
check_fetch_failed checksum "Checksum incorrect for the downloaded package"
# More than 4 MiB received: three attempts, not six. An attempt whose
# connection dropped on a busy machine goes on with a byte range: that is
# the same attempt, so only requests from the start count.
attempts_for() {
  grep -F "\"target\":\"$1\"" "$UPDATE_LOG" | grep -c -v '"Range":'
}
check "checksum: three attempts ($(attempts_for /kavor_package.exe) of $(requests_for /kavor_package.exe) requests)" \
  [ "$(attempts_for /kavor_package.exe)" = 3 ]

network_case signature other
write_metadata
run_setup --enable-installer-stats=0
check_fetch_failed signature "Signature incorrect for the downloaded package"

# Signed, but the archive lies where the signature covers nothing.
network_case padded padded
write_metadata
run_setup --enable-installer-stats=0
check_fetch_failed padded "Signature incorrect for the downloaded package"

network_case older old
write_metadata
run_setup --enable-installer-stats=0
check_fetch_failed older "Downloaded item is older than the installer"

network_case no_url good
printf '{"installer_checksum":"%s"}' "$(sha256_of "$WWW/kavor_package.exe")" \
  >"$METADATA"
run_setup --enable-installer-stats=0
check_fetch_failed no_url "Missing full package url"
check "no_url: no package requested" [ "$(requests_for /kavor_package.exe)" = 0 ]
# Little received: six attempts.
check "no_url: six attempts ($(requests_for /metadata))" \
  [ "$(requests_for /metadata)" = 6 ]

# --- A service that is down and takes no connection: a few tries of each
# metadata request, the fetcher's retries, then the network error.
network_case down good
stop_update_server
run_setup --enable-installer-stats=0
check_fetch_failed down "Number of retries exceeded"
check "down: the fetcher retried ($(grep -c 'Retrying a fetch attempt' <<<"$LOG"))" \
  [ "$(grep -c 'Retrying a fetch attempt' <<<"$LOG")" = 5 ]

e2e_summary
