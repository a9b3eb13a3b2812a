#!/usr/bin/env bash
# The repair of downloadable resources, as the browser starts it when its
# resource files are missing: a silent network install puts the package
# into C:\Kavor (it holds none of the 100 downloadable resources), the test
# lays some of them in place and marks the installation minimal, then runs
# the installation's own installer.exe with --fix-downloadable-resources.
# The stand-in update service answers the request for the missing files;
# the run must put exactly those into the version folder, byte for byte,
# record them in the installation status, remove the minimal marker once
# all 100 are there, and change nothing else. A repair whose downloads fail
# ends with the fetcher's failure and leaves the installation as it was.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
e2e_init "$1"
trap 'stop_update_server; _e2e_exit' EXIT
export KAVOR_INSTALLER_VERBOSITY=1
SOURCE_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
VERSION=47.0.4127.0

network_signing_keys "$E2E_BIN" || exit 1
ARCHIVE="$E2E_WORK/package.7z"
make_package_archive "$E2E_BIN" "$ARCHIVE" --host-name=setup.exe \
  --7z=-mx=1 || exit 1
PACKAGE="$E2E_WORK/kavor_package.exe"
make_network_package "$E2E_BIN" "$PACKAGE" --archive="$ARCHIVE" || exit 1
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" || exit 1

# The 100 resources in the order of the build's digest table, each file
# holding what the table expects of it ("kavor resource " + its path).
RESOURCES="$E2E_WORK/resources"
mkdir -p "$RESOURCES"
python3 - "$SOURCE_ROOT/desktop/windows/installer/steps/downloadable_resources.cc" \
  "$RESOURCES" >"$E2E_WORK/resource_names" <<'PY' || exit 1
import base64, hashlib, os, re, sys
source, out = sys.argv[1:3]
rows = re.findall(r'\{"([A-Za-z0-9+/=]+)",\s*"([A-Za-z0-9+/=]+)"\}',
                  open(source).read())
assert len(rows) == 100, len(rows)
for path64, sha64 in rows:
    name = base64.b64decode(path64).decode()
    data = ("kavor resource " + name + "\n").encode()
    assert base64.b64encode(hashlib.sha1(data).digest()).decode() == sha64, name
    os.makedirs(os.path.dirname(os.path.join(out, name)) or out, exist_ok=True)
    open(os.path.join(out, name), "wb").write(data)
    print(name)
PY
mapfile -t NAMES <"$E2E_WORK/resource_names"

# repair_case NAME: a fresh prefix trusting the test root, with the package
# installed into C:\Kavor by the signed setup from the stand-in service;
# the case's www folder serves the package and every resource. Sets URL,
# C, VF (the version folder, Unix path) and WWW.
repair_case() {
  network_prefix "$1" "$SETUP"
  ln "$PACKAGE" "$WWW/kavor_package.exe"
  cp -r "$RESOURCES" "$WWW/res"
  : >"$WWW/metadata"
  start_update_server "$WWW" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  package_metadata_json "$URL/kavor_package.exe" "$(sha256_of "$PACKAGE")" \
    >"$WWW/metadata"
  run_in_job "--report=$(e2e_winpath "$E2E_CASE/install.txt")" -- \
    'C:\dl\kavor_setup.exe' --silent '--installfolder=C:\Kavor' --allusers=0 \
    --launchbrowser=0 --enable-installer-stats=0 \
    "--internal-package-server=$URL/metadata"
  VF="$C/Kavor/$VERSION"
  [ "$RC" = 0 ] && [ -f "$VF/kavor.exe" ] || {
    echo "the install before the repair failed: $RC $ERR"
    cat "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log 2>/dev/null |
      tail -n 40
    exit 1
  }
}

# lay_resources FIRST COUNT: resources FIRST .. FIRST+COUNT-1 (in table
# order) put into the version folder, as an earlier run would have.
lay_resources() {
  local i
  for ((i = $1; i < $1 + $2; i++)); do
    mkdir -p "$(dirname "$VF/${NAMES[i]}")"
    cp "$RESOURCES/${NAMES[i]}" "$VF/${NAMES[i]}"
  done
}

# serve_missing FIRST COUNT [BROKEN]: the service's reply names resources
# FIRST .. FIRST+COUNT-1 as downloadable resources, each at its own URL;
# with BROKEN their checksums are those of other bytes, so that every
# download of them fails its check.
serve_missing() {
  local i components=() file
  for ((i = $1; i < $1 + $2; i++)); do
    file="$WWW/res/${NAMES[i]}"
    [ -n "${3:-}" ] && file="$E2E_WORK/resource_names"
    components+=("$(component_json "$URL/res/${NAMES[i]}" \
      downloadable_resource "$file" "${NAMES[i]}")")
  done
  package_metadata_json "" "" "${components[@]}" |
    python3 -c 'import json,sys; r=json.load(sys.stdin); del r["installer"], r["installer_checksum"]; print(json.dumps(r))' \
    >"$WWW/metadata"
}

# snapshot: every file of the installation with its digest, and the
# product's registry lines.
snapshot() {
  (cd "$C/Kavor" && find . -type f -print0 | sort -z | xargs -0 sha1sum)
  registry_kavor_lines
}

run_repair() {
  REPORT="$E2E_CASE/repair.txt"
  run_in_job "--report=$(e2e_winpath "$REPORT")" -- \
    "C:\\Kavor\\$VERSION\\installer.exe" --silent --fix-downloadable-resources \
    '--installfolder=C:\Kavor' --enable-installer-stats=0 \
    "--internal-package-server=$URL/metadata"
  LOG=$(cat "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log \
    2>/dev/null)
}

# status_lists_resources FIRST COUNT: the installation status names
# resources FIRST .. FIRST+COUNT-1 among its files.
status_lists_resources() {
  python3 - "$C/Kavor/installation_status.json" "$1" "$2" \
    "$E2E_WORK/resource_names" <<'PY'
import json, sys
status = json.load(open(sys.argv[1], encoding="utf-8-sig"))
first, count = int(sys.argv[2]), int(sys.argv[3])
names = open(sys.argv[4]).read().split()
def files(node):
    if isinstance(node, dict):
        for k, v in node.items():
            if k == "files" and isinstance(v, list):
                yield from v
            else:
                yield from files(v)
    elif isinstance(node, list):
        for v in node:
            yield from files(v)
listed = {str(f).replace("\\", "/").lower() for f in files(status)}
wanted = {n.lower() for n in names[first:first + count]}
missing = wanted - listed
assert not missing, sorted(missing)[:5]
PY
}

# check_repaired WHAT FIRST COUNT: the run put resources FIRST ..
# FIRST+COUNT-1 in place and all 100 are there now.
check_repaired() {
  local what="$1" i differ=""
  check "$what: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
  for ((i = 0; i < 100; i++)); do
    cmp -s "$RESOURCES/${NAMES[i]}" "$VF/${NAMES[i]}" || differ+=" ${NAMES[i]}"
  done
  check "$what: every resource in place, byte for byte (not:${differ:0:200})" \
    [ -z "$differ" ]
  check "$what: the status names the repaired resources" \
    status_lists_resources "$2" "$3"
  check "$what: the minimal marker removed" [ ! -e "$VF/minimal_install" ]
  check "$what: the browser still there" [ -f "$VF/kavor.exe" ]
  check "$what: no package folder left" \
    [ -z "$(find "$E2E_CASE/temp" -name 'kavor_package_*' -type d)" ]
}

# --- An installation that lacks every resource.
repair_case all
: >"$VF/minimal_install"
serve_missing 0 100
run_repair
check_repaired all 0 100
all_requested_in_order() {
  python3 - "$UPDATE_LOG" "$E2E_WORK/resource_names" <<'PY'
import json, sys, urllib.parse
r = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
m = [x for x in r if x["target"].startswith("/metadata?")]
assert m, [x["target"] for x in r]
query = urllib.parse.parse_qs(urllib.parse.urlsplit(m[-1]["target"]).query)
asked = query["additional_files"][0].split(",")
assert asked == open(sys.argv[2]).read().split(), asked[:5]
PY
}
check "all: the request named all 100 resources in table order" \
  all_requested_in_order
[ "$failed" = 0 ] || { echo "--- requests"; cat "$UPDATE_LOG" | cut -c1-300
  echo "--- log"; tail -n 60 <<<"$LOG"; }

# --- An installation that lacks the last ten: only those are fetched, the
# rest of the installation stays as it was.
repair_case few
lay_resources 0 90
: >"$VF/minimal_install"
serve_missing 90 10
BEFORE=$(snapshot | grep -v -e installation_status -e minimal_install)
run_repair
check_repaired few 90 10
fetched=$(grep -c -F '"target":"/res/' "$UPDATE_LOG")
check "few: only the ten missing resources fetched ($fetched)" [ "$fetched" = 10 ]
AFTER=$(snapshot | grep -v -e installation_status -e minimal_install)
kept() { [ -z "$(comm -23 <(echo "$BEFORE" | sort) <(echo "$AFTER" | sort))" ]; }
check "few: every file and registry line of the installation kept ($(comm -23 <(echo "$BEFORE" | sort) <(echo "$AFTER" | sort) | head -3 | tr '\n' ';'))" kept
[ "$failed" = 0 ] || { echo "--- requests"; cat "$UPDATE_LOG" | cut -c1-300
  echo "--- log"; tail -n 60 <<<"$LOG"; }

# --- Downloads that fail their checksum: the fetcher's retries, then its
# failure; nothing changed.
repair_case broken
lay_resources 0 95
: >"$VF/minimal_install"
serve_missing 95 5 broken
BEFORE=$(snapshot)
run_repair
check "broken: exit 119 (got $RC: ${ERR:0:300})" [ "$RC" = 119 ]
check "broken: the failure names the resource" \
  grep -q "Could not download the resource kavor_" <<<"$ERR"
check "broken: the installation as it was" [ "$(snapshot)" = "$BEFORE" ]
check "broken: still minimal" [ -e "$VF/minimal_install" ]
[ "$failed" = 0 ] || { echo "--- log"; tail -n 60 <<<"$LOG"; }

e2e_summary
