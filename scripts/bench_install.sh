#!/usr/bin/env bash
# Install benchmark: how much more than a plain copy the silent install of
# an unpacked package costs. Builds (release form, build-release/) if
# needed, makes a package of the shape of a real browser (2,000 files of
# 2-120 KB in 20 folders, one in five incompressible, plus one 28 MB
# binary; about 114 MB), then in one Wine prefix alternately times
#   (a) setup.exe --silent of that package, until its last process ended
#   (b) xcopy /e /i /q of the same tree
# and prints the medians, the ratio (a)/(b) and each installer process's
# peak memory.
#
#   bash scripts/bench_install.sh [RUNS]     (default 5 runs of each)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"
RUNS="${1:-5}"

bash "$ROOT/scripts/install_deps.sh" >/dev/null
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_setup kavor_installer \
  kavor_browser_standin kavor_launcher_standin kavor_helper_standin \
  kavor_job_runner >/dev/null
source "$ROOT/scripts/wine_env.sh"
source "$ROOT/tests/make_test_package.sh"
source "$ROOT/tests/loopback_server.sh"
source "$ROOT/scripts/fresh_prefix.sh"
BIN="$BUILD/bin"

BENCH="$BUILD/bench-install"
enter_fresh_prefix "$BENCH"
C="$WINEPREFIX/drive_c"
PKG="$C/pkg"

# The browser-shaped payload; sizes are skewed towards small files as in a
# real browser, so that the total stays near 114 MB. Fixed seed: every run
# of the benchmark copies the same tree.
echo "Making the package..."
python3 - "$BENCH/payload" "$BENCH/payload_list" <<'PY'
import os, random, sys
root, list_file = sys.argv[1], sys.argv[2]
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
with open(os.path.join(root, "kavor_core.dll"), "wb") as f:
    f.write(os.urandom(28 * 1024 * 1024))
names.append("kavor_core.dll")
with open(list_file, "w") as f:
    f.write("\n".join(names) + "\n")
PY
make_test_package "$BIN" "$PKG" --host-name=setup.exe \
  --extra-list="$BENCH/payload_list"
cp -a "$BENCH/payload/." "$PKG/"
rm -rf "$BENCH/payload"
echo "Package: $(find "$PKG" -type f | wc -l) files, $(du -sm --apparent-size "$PKG" | cut -f1) MB"

start_loopback_server "$BENCH/www"  # empty: the overrides fetch gets a 404
wine "$BIN/kavor_job_runner.exe" --prepare-desktop >/dev/null 2>&1 || true

now() { date +%s.%N; }
install_times=()
copy_times=()
for run in $(seq "$RUNS"); do
  rm -rf "$C/Kavor" "$C/copy"
  t0=$(now)
  rc=0
  wine "$BIN/kavor_job_runner.exe" --timeout-seconds=600 \
    "--report=$(winpath "$BENCH/processes_$run.txt")" \
    "--env=TEMP=$(winpath "$BENCH/temp")" "--env=TMP=$(winpath "$BENCH/temp")" \
    -- 'C:\pkg\setup.exe' --silent '--installfolder=C:\Kavor' --allusers=0 \
    --launchbrowser=0 \
    "--local-pref-default-overrides-server=http://127.0.0.1:$LOOPBACK_PORT/prefs" \
    >/dev/null 2>&1 || rc=$?
  t1=$(now)
  wine xcopy /e /i /q 'C:\pkg' 'C:\copy' >/dev/null 2>&1 || true
  t2=$(now)
  a=$(awk "BEGIN {print $t1 - $t0}")
  b=$(awk "BEGIN {print $t2 - $t1}")
  installed=$( (find "$C/Kavor" -type f 2>/dev/null || true) | wc -l)
  copied=$( (find "$C/copy" -type f 2>/dev/null || true) | wc -l)
  printf 'run %d: install %.2f s (exit %d, %d files), xcopy %.2f s (%d files)\n' \
    "$run" "$a" "$rc" "$installed" "$b" "$copied"
  install_times+=("$a")
  copy_times+=("$b")
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ma=$(median "${install_times[@]}")
mb=$(median "${copy_times[@]}")
echo
printf 'median install: %.2f s\nmedian xcopy:   %.2f s\nratio:          %.2f\n' \
  "$ma" "$mb" "$(awk "BEGIN {print $ma / $mb}")"
echo "Peak memory of the installer processes (last run):"
tr -d '\r' <"$BENCH/processes_$RUNS.txt" | sed 's/^/  /'
