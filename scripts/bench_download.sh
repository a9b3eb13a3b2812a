#!/usr/bin/env bash
# Download benchmark: the installer's downloader (asynchronous WinINet under
# Wine, kavor_download_bench.exe) against native curl -o, both fetching the
# same body from the loopback update service (kavor_update_server.exe) into
# a file. Builds the release form (build-release/) if needed, then for a
# 20 MB and a 200 MB body alternately times
#   (a) kavor_download_bench.exe URL FILE, inside kavor_job_runner.exe for
#       its peak memory (the time includes Wine starting the process; the
#       program's own time of the download alone is printed beside it)
#   (b) curl -s -o FILE URL
# checks that every file is the body, and prints the medians, the ratio
# (a)/(b) and the downloader's peak memory per size. The download has no
# goal of its own: it is a part of the silent network install, whose goal
# (at most 1.1 x curl + 7zz x + xcopy, scripts/bench_install.sh --network)
# each ratio is printed against.
#
#   bash scripts/bench_download.sh [RUNS]     (default 5 runs of each)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KAVOR_BUILD_DIR:-$ROOT/build-release}"
export KAVOR_BUILD_DIR="$BUILD"
RUNS="${1:-5}"

bash "$ROOT/scripts/install_deps.sh" >/dev/null
command -v curl >/dev/null || apt-get install -y curl >/dev/null
KAVOR_RELEASE=1 bash "$ROOT/scripts/build.sh" kavor_download_bench \
  kavor_update_server kavor_job_runner >/dev/null
source "$ROOT/scripts/wine_env.sh"
source "$ROOT/tests/update_server.sh"
BIN="$BUILD/bin"

BENCH="$BUILD/bench-download"
rm -rf "$BENCH"
mkdir -p "$BENCH/www"
SIZES="20 200"
for mb in $SIZES; do
  head -c "$((mb * 1024 * 1024))" /dev/urandom >"$BENCH/www/body$mb"
done

UPDATE_SERVER_BIN="$BIN" E2E_WORK="$BENCH" start_update_server "$BENCH/www"
trap 'stop_update_server || true' EXIT
PORT=$UPDATE_PORT

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

summary=()
ratios=()
for mb in $SIZES; do
  url="http://127.0.0.1:$PORT/body$mb"
  want=$(sha256sum <"$BENCH/www/body$mb" | cut -d' ' -f1)
  wall=() own=() curl_times=() peaks=()
  for run in $(seq "$RUNS"); do
    rm -f "$BENCH/out" "$BENCH/out_curl"
    t0=$(now)
    line=$(wine "$BIN/kavor_job_runner.exe" --timeout-seconds=600 \
      "--report=$(e2e_winpath "$BENCH/report")" -- \
      "$BIN/kavor_download_bench.exe" "$url" "$(e2e_winpath "$BENCH/out")" |
      tr -d '\r')
    t1=$(now)
    curl -s -o "$BENCH/out_curl" "$url"
    t2=$(now)
    for f in out out_curl; do
      got=$(sha256sum <"$BENCH/$f" | cut -d' ' -f1)
      [ "$got" = "$want" ] || { echo "run $run: $f differs from the body" >&2; exit 1; }
    done
    a=$(awk "BEGIN {print $t1 - $t0}")
    b=$(awk "BEGIN {print $t2 - $t1}")
    s=$(sed -n 's/.* in \([0-9.]*\) s$/\1/p' <<<"$line")
    peak=$(tr -d '\r' <"$BENCH/report" |
      sed -n 's/^kavor_download_bench.exe .*peak_working_set_kb=\([0-9]*\).*/\1/p')
    printf '%d MB run %d: downloader %.2f s (download %.2f s, peak %s KB), curl %.2f s\n' \
      "$mb" "$run" "$a" "$s" "$peak" "$b"
    wall+=("$a") own+=("$s") curl_times+=("$b") peaks+=("$peak")
  done
  ma=$(median "${wall[@]}")
  ms=$(median "${own[@]}")
  mc=$(median "${curl_times[@]}")
  mp=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
  ratios+=("$(awk "BEGIN {print $ma / $mc}")")
  summary+=("$(printf '%3d MB: downloader %.2f s (download alone %.2f s), curl %.2f s, ratio %.1f (alone %.1f), downloader peak working set %s KB' \
    "$mb" "$ma" "$ms" "$mc" "$(awk "BEGIN {print $ma / $mc}")" \
    "$(awk "BEGIN {print $ms / $mc}")" "$mp")")
done
echo
echo "Medians of $RUNS runs:"
printf '%s\n' "${summary[@]}"
echo "No goal of the download alone; the network install it is part of has" \
  "at most 1.10 x (curl + 7zz x + xcopy): the ratios above are" \
  "$(for r in "${ratios[@]}"; do
    awk -v r="$r" 'BEGIN { printf "%.2f (%s) ", r, (r <= 1.1) ? "within 1.10" : "above 1.10" }'
  done)"
