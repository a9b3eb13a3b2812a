#!/usr/bin/env bash
# Install benchmark: how much more than a plain copy the silent install of
# an unpacked package costs. Builds (release form, build-release/) if
# needed, makes a package of the shape of a real browser (2,000 files of
# 2-120 KB in 20 folders, one in five incompressible, plus one 28 MB
# binary; about 114 MB), then in one Wine prefix alternately times
#   (a) setup.exe --silent of that package, until its last process ended,
#       posting its statistics (--test-avro-srv) to the statistics stand-in
#       (tests/stats_server.py on 127.0.0.1:9000), so that the time is the
#       install's and not the statistics sender's back-off
#   (b) xcopy /e /i /q of the same tree
# and prints the medians, the ratio (a)/(b) against its goal of 1.3 and
# each installer process's peak memory. One more install with nothing
# listening on the statistics address, on a line of its own, shows what
# the sender's back-off adds where the statistics service cannot be
# reached.
#
# With --7z the same tree is packed as a downloaded package (the 7z archive
# "kavor_package", 7zz -mx=7) and each run times
#   (a) the backend's install from the archive (kavor_backend_driver.exe
#       playing the front end, which ends once the backend has ended and
#       the mailslot is empty), until its last process ended
#   (b) a native 7zz x of the same archive into the prefix
#   (c) xcopy /e /i /q of the tree (b) extracted
# and prints the medians, the ratio (a)/((b)+(c)) against its goal of 1.1
# and each installer process's peak memory, which must not grow with the
# package: the reader keeps the unpacked solid block in a file mapping.
#
# With --network the same tree is the signed network package (the package
# stub followed by the 7z archive, 7zz -mx=7, signed by the test maker
# certificate that the prefix trusts) that the loopback update service
# (kavor_update_server.exe) names in its reply and serves, and each run
# times
#   (a) the signed setup.exe --silent fetching it from the service and
#       installing it, until its last process ended
#   (b) a native curl -o of the package from the same service
#   (c) a native 7zz x of what curl fetched
#   (d) xcopy /e /i /q of the tree (c) extracted
# and prints the medians, the ratio (a)/((b)+(c)+(d)) against its goal of
# 1.1 and each installer process's peak memory.
#
# Every mode ends with the largest peak private memory of an installer
# process over all runs, against its goal of less than 64 MB.
#
# KAVOR_BENCH_BIG_FILE_MB=N makes the big binary N MB instead of 28 (say
# 2048, with --7z: the installer's memory must not grow with the package).
# A big binary of another size holds compressible but varied data (words
# in an order of their own in every MiB, a little incompressible data
# between them), so that 7zz -mx=7 packs gigabytes in minutes; mind the
# free space: the payload, its install and two copies of it are on the
# drive at once.
#
#   bash scripts/bench_install.sh [--7z | --network] [RUNS]
#                                                   (default 5 runs of each)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"
ARCHIVE=0
NETWORK=0
case "${1:-}" in
  --7z) ARCHIVE=1; shift ;;
  --network) NETWORK=1; shift ;;
esac
RUNS="${1:-5}"
BIG_FILE_MB="${KAVOR_BENCH_BIG_FILE_MB:-28}"
case "$BIG_FILE_MB" in
  ''|*[!0-9]*|0) echo "KAVOR_BENCH_BIG_FILE_MB must be a whole number of MB above 0" >&2
     exit 2 ;;
esac

bash "$ROOT/scripts/install_deps.sh" >/dev/null
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer \
  kavor_browser_standin kavor_launcher_standin kavor_helper_standin \
  kavor_job_runner kavor_backend_driver kavor_update_server \
  kavor_package_stub kavor_trust_root signature_fixtures >/dev/null
source "$ROOT/scripts/wine_env.sh"
source "$ROOT/tests/network_package.sh"
source "$ROOT/tests/loopback_server.sh"
source "$ROOT/tests/update_server.sh"
source "$ROOT/tests/stats_server.sh"
source "$ROOT/scripts/fresh_prefix.sh"
BIN="$BUILD/bin"

BENCH="$BUILD/bench-install"
enter_fresh_prefix "$BENCH"
C="$WINEPREFIX/drive_c"
PKG="$C/pkg"

# The browser-shaped payload; sizes are skewed towards small files as in a
# real browser, so that the total stays near 114 MB. Fixed seed: every run
# of the benchmark copies the same tree.
echo "Making the package (big binary: $BIG_FILE_MB MB; $(df -h --output=avail "$BUILD" | tail -n1 | tr -d ' ') free)..."
python3 - "$BENCH/payload" "$BENCH/payload_list" "$BIG_FILE_MB" <<'PY'
import os, random, sys
root, list_file, big_mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(4127)
text = b"The quick brown fox jumps over the lazy dog. " * 3000
names = []
for i in range(2000):
    folder = "payload%02d" % (i % 20)
    os.makedirs(os.path.join(root, folder), exist_ok=True)
    size = int((2 + 118 * rng.random() ** 2) * 1024)
    if i % 5 == 0:
        data = os.urandom(size)
    else:
        start = rng.randrange(0, 1000)
        data = (text * (size // len(text) + 2))[start:start + size]
    with open(os.path.join(root, folder, "file%04d.bin" % i), "wb") as f:
        f.write(data)
    names.append("%s\\file%04d.bin" % (folder, i))
MIB = 1024 * 1024
with open(os.path.join(root, "kavor_core.dll"), "wb") as f:
    if big_mb == 28:
        f.write(os.urandom(28 * MIB))
    else:
        # Two MiB of words drawn from a vocabulary of random ones; every MiB
        # written is a window of it at a place of its own, followed by 8 KiB
        # of random bytes.
        vocabulary = [os.urandom(rng.randrange(2, 12)).hex().encode()
                      for _ in range(20000)]
        pool = bytearray()
        while len(pool) < 2 * MIB:
            pool += rng.choice(vocabulary) + b" "
        tail = 8 * 1024
        for _ in range(big_mb):
            start = rng.randrange(0, MIB)
            f.write(pool[start:start + MIB - tail])
            f.write(os.urandom(tail))
names.append("kavor_core.dll")
with open(list_file, "w") as f:
    f.write("\n".join(names) + "\n")
PY
now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# ratio NAME VALUE GOAL: the ratio's line, with whether it meets its goal.
ratio() {
  awk -v name="$1" -v value="$2" -v goal="$3" 'BEGIN {
    printf "%s: %.2f (goal: at most %.2f, %s)\n", name, value, goal,
      (value <= goal) ? "met" : "not met" }'
}
# The largest peak private memory of an installer process (the job
# runner's reports of every run; the benchmark's own driver and Wine's
# desktop process left out).
peak_private() {
  cat "$BENCH"/processes_*.txt | tr -d '\r' | grep -v -e '^job ' \
    -e '^kavor_backend_driver\.exe ' -e '^explorer\.exe ' |
    sed -n 's/^\([^ ]*\) .*peak_private_kb=\([0-9]*\).*/\2 \1/p' |
    sort -n | tail -n1 | awk '{
      printf "largest peak private memory of an installer process: %.1f MB (%s; goal: less than 64 MB, %s)\n",
        $1 / 1024, $2, ($1 < 64 * 1024) ? "met" : "not met" }'
}

if [ "$NETWORK" = 1 ]; then
  WWW="$BENCH/www"
  network_signing_keys "$BIN"
  trust_test_root "$BIN" >/dev/null
  make_network_package "$BIN" "$WWW/kavor_package.exe" --tree="$BENCH/payload" \
    --host-name=setup.exe --extra-list="$BENCH/payload_list" --7z=-mx=7
  echo "Package: $(find "$BENCH/payload" -type f | wc -l) files, $(du -sm --apparent-size "$BENCH/payload" | cut -f1) MB;" \
    "signed network package $(du -sm --apparent-size "$WWW/kavor_package.exe" | cut -f1) MB"
  rm -rf "$BENCH/payload"
  mkdir -p "$C/dl"
  make_signed_setup "$BIN" "$C/dl"
  : >"$WWW/metadata"
  export UPDATE_SERVER_BIN="$BIN" E2E_WORK="$BENCH"
  start_update_server "$WWW"
  trap 'stop_update_server || true; _leave_fresh_prefix' EXIT
  URL="http://127.0.0.1:$UPDATE_PORT"
  package_metadata_json "$URL/kavor_package.exe" \
    "$(sha256_of "$WWW/kavor_package.exe")" >"$WWW/metadata"
  wine "$BIN/kavor_job_runner.exe" --prepare-desktop >/dev/null 2>&1 || true
  install_times=()
  fetch_times=()
  unpack_times=()
  copy_times=()
  for run in $(seq "$RUNS"); do
    rm -rf "$C/Kavor" "$C/extracted" "$C/copy" "$BENCH/curl_package" \
      "$BENCH/temp"
    mkdir -p "$BENCH/temp"
    t0=$(now)
    rc=0
    wine "$BIN/kavor_job_runner.exe" --timeout-seconds=600 \
      "--report=$(winpath "$BENCH/processes_$run.txt")" \
      "--env=TEMP=$(winpath "$BENCH/temp")" "--env=TMP=$(winpath "$BENCH/temp")" \
      -- 'C:\dl\kavor_setup.exe' --silent '--installfolder=C:\Kavor' \
      --allusers=0 --launchbrowser=0 --enable-installer-stats=0 \
      "--internal-package-server=$URL/metadata" \
      "--local-pref-default-overrides-server=$URL/prefs" \
      >/dev/null 2>&1 || rc=$?
    t1=$(now)
    curl -sS --noproxy '*' -o "$BENCH/curl_package" "$URL/kavor_package.exe"
    t2=$(now)
    7zz x -bd -bso0 -bsp0 "-o$C/extracted" "$BENCH/curl_package"
    t3=$(now)
    wine xcopy /e /i /q 'C:\extracted' 'C:\copy' >/dev/null 2>&1 || true
    t4=$(now)
    a=$(awk "BEGIN {print $t1 - $t0}")
    b=$(awk "BEGIN {print $t2 - $t1}")
    c=$(awk "BEGIN {print $t3 - $t2}")
    d=$(awk "BEGIN {print $t4 - $t3}")
    installed=$( (find "$C/Kavor" -type f 2>/dev/null || true) | wc -l)
    printf 'run %d: network install %.2f s (exit %d, %d files), curl %.2f s, 7zz x %.2f s, xcopy %.2f s\n' \
      "$run" "$a" "$rc" "$installed" "$b" "$c" "$d"
    # A failed install is no measure of the install's speed.
    if [ "$rc" != 0 ]; then
      echo "Run $run failed (setup.exe exit $rc): see $BENCH/temp; no medians." >&2
      exit 1
    fi
    install_times+=("$a")
    fetch_times+=("$b")
    unpack_times+=("$c")
    copy_times+=("$d")
  done
  ma=$(median "${install_times[@]}")
  mb=$(median "${fetch_times[@]}")
  mc=$(median "${unpack_times[@]}")
  md=$(median "${copy_times[@]}")
  echo
  printf 'median network install: %.2f s\nmedian curl -o:  %.2f s\nmedian 7zz x:    %.2f s\nmedian xcopy:    %.2f s\n' \
    "$ma" "$mb" "$mc" "$md"
  ratio 'ratio install / (curl + 7zz x + xcopy)' \
    "$(awk "BEGIN {print $ma / ($mb + $mc + $md)}")" 1.1
  echo "Requests per run: $(($(wc -l <"$UPDATE_LOG") / RUNS)) (the installer's metadata, package and overrides, and curl's)"
  echo "Peak memory of the installer processes (last run):"
  tr -d '\r' <"$BENCH/processes_$RUNS.txt" | grep -v '^job ' | sed 's/^/  /'
  peak_private
  exit 0
fi

make_test_package "$BIN" "$PKG" --host-name=setup.exe \
  --extra-list="$BENCH/payload_list"
cp -a "$BENCH/payload/." "$PKG/"
rm -rf "$BENCH/payload"
echo "Package: $(find "$PKG" -type f | wc -l) files, $(du -sm --apparent-size "$PKG" | cut -f1) MB"
if [ "$ARCHIVE" = 1 ]; then
  pack_test_package "$PKG" -mx=7
  echo "Archive: $(du -sm --apparent-size "$PKG/kavor_package" | cut -f1) MB"
fi

start_loopback_server "$BENCH/www"  # empty: the overrides fetch gets a 404
wine "$BIN/kavor_job_runner.exe" --prepare-desktop >/dev/null 2>&1 || true

if [ "$ARCHIVE" = 1 ]; then
  install_times=()
  unpack_times=()
  copy_times=()
  for run in $(seq "$RUNS"); do
    rm -rf "$C/Kavor" "$C/extracted" "$C/copy"
    t0=$(now)
    rc=0
    wine "$BIN/kavor_job_runner.exe" --timeout-seconds=600 \
      "--report=$(winpath "$BENCH/processes_$run.txt")" \
      "--env=TEMP=$(winpath "$BENCH/temp")" "--env=TMP=$(winpath "$BENCH/temp")" \
      -- "$(winpath "$BIN/kavor_backend_driver.exe")" '--folder=C:\Kavor' \
      "--messages=$(winpath "$BENCH/messages_$run.txt")" -- 'C:\pkg\setup.exe' \
      --backend --install '--package-dir=C:\pkg' '--installfolder=C:\Kavor' \
      --allusers=0 --copyonly=0 --singleprofile=0 --launchkavor=0 \
      --setdefaultbrowser=0 --desktopshortcut=0 --startmenushortcut=0 \
      --quicklaunchshortcut=0 --pintotaskbar=0 >/dev/null 2>&1 || rc=$?
    t1=$(now)
    7zz x -bd -bso0 -bsp0 "-o$C/extracted" "$PKG/kavor_package"
    t2=$(now)
    wine xcopy /e /i /q 'C:\extracted' 'C:\copy' >/dev/null 2>&1 || true
    t3=$(now)
    a=$(awk "BEGIN {print $t1 - $t0}")
    b=$(awk "BEGIN {print $t2 - $t1}")
    c=$(awk "BEGIN {print $t3 - $t2}")
    installed=$( (find "$C/Kavor" -type f 2>/dev/null || true) | wc -l)
    backend=$( (tr -d '\r' <"$BENCH/messages_$run.txt" 2>/dev/null || true) |
      (grep '^exit=' || true) | tail -n1)
    printf 'run %d: install %.2f s (%s, driver exit %d, %d files), 7zz x %.2f s, xcopy %.2f s\n' \
      "$run" "$a" "${backend:-no exit message}" "$rc" "$installed" "$b" "$c"
    # A failed install is no measure of the install's speed.
    if [ "$rc" != 0 ] || [ "$backend" != exit=0 ]; then
      echo "Run $run failed (driver exit $rc, ${backend:-no exit message}):" \
        "see $BENCH/messages_$run.txt; no medians." >&2
      exit 1
    fi
    install_times+=("$a")
    unpack_times+=("$b")
    copy_times+=("$c")
  done
  ma=$(median "${install_times[@]}")
  mb=$(median "${unpack_times[@]}")
  mc=$(median "${copy_times[@]}")
  echo
  printf 'median install from the archive: %.2f s\nmedian 7zz x:   %.2f s\nmedian xcopy:   %.2f s\n' \
    "$ma" "$mb" "$mc"
  ratio 'ratio install / (7zz x + xcopy)' \
    "$(awk "BEGIN {print $ma / ($mb + $mc)}")" 1.1
  echo "Peak memory of the installer processes (last run):"
  tr -d '\r' <"$BENCH/processes_$RUNS.txt" | sed 's/^/  /'
  peak_private
  exit 0
fi
# silent_install REPORT: setup.exe --silent of the package into C:\Kavor,
# which the caller removed before its clock started (as it removes the
# copy's target before xcopy's), its statistics posted to 127.0.0.1:9000;
# sets rc.
silent_install() {
  rc=0
  wine "$BIN/kavor_job_runner.exe" --timeout-seconds=600 \
    "--report=$(winpath "$1")" \
    "--env=TEMP=$(winpath "$BENCH/temp")" "--env=TMP=$(winpath "$BENCH/temp")" \
    -- 'C:\pkg\setup.exe' --silent '--installfolder=C:\Kavor' --allusers=0 \
    --launchbrowser=0 --test-avro-srv \
    "--local-pref-default-overrides-server=http://127.0.0.1:$LOOPBACK_PORT/prefs" \
    >/dev/null 2>&1 || rc=$?
}
# The statistics stand-in; a port held by another build's tests on this
# machine is waited for.
start_stats_server 9000 "$BENCH/stats" || exit 1
trap 'stop_stats_server; _leave_fresh_prefix' EXIT
install_times=()
copy_times=()
for run in $(seq "$RUNS"); do
  rm -rf "$C/Kavor" "$C/copy"
  t0=$(now)
  silent_install "$BENCH/processes_$run.txt"
  t1=$(now)
  wine xcopy /e /i /q 'C:\pkg' 'C:\copy' >/dev/null 2>&1 || true
  t2=$(now)
  a=$(awk "BEGIN {print $t1 - $t0}")
  b=$(awk "BEGIN {print $t2 - $t1}")
  installed=$( (find "$C/Kavor" -type f 2>/dev/null || true) | wc -l)
  copied=$( (find "$C/copy" -type f 2>/dev/null || true) | wc -l)
  printf 'run %d: install %.2f s (exit %d, %d files), xcopy %.2f s (%d files)\n' \
    "$run" "$a" "$rc" "$installed" "$b" "$copied"
  if [ "$rc" != 0 ]; then
    echo "Run $run failed (setup.exe exit $rc); no medians." >&2
    exit 1
  fi
  install_times+=("$a")
  copy_times+=("$b")
done

echo "Statistics requests answered by the stand-in: $(wc -l <"$STATS_REQUESTS")"
stop_stats_server

# The same install where nothing listens on the statistics address: the
# front end ends only after the sender's back-off.
if (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null; then
  backoff="not measured: another process serves 127.0.0.1:9000"
else
  rm -rf "$C/Kavor"
  t0=$(now)
  silent_install "$BENCH/processes_backoff.txt"
  t1=$(now)
  backoff=$(printf '%.2f s (exit %d)' "$(awk "BEGIN {print $t1 - $t0}")" "$rc")
fi

ma=$(median "${install_times[@]}")
mb=$(median "${copy_times[@]}")
echo
printf 'median install: %.2f s\nmedian xcopy:   %.2f s\n' "$ma" "$mb"
ratio 'ratio install / xcopy' "$(awk "BEGIN {print $ma / $mb}")" 1.3
echo "install with no statistics service listening (statistics back-off, one run): $backoff"
echo "Peak memory of the installer processes (last run):"
tr -d '\r' <"$BENCH/processes_$RUNS.txt" | sed 's/^/  /'
peak_private
