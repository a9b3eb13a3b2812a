# Sourced by the end-to-end tests: the stand-in update service
# (kavor_update_server.exe, the unit tests' loopback HTTP server) run under
# Wine in the caller's prefix (WINEPREFIX), beside the installer.
#
#   start_update_server DIR [SCRIPT]
#       serves every file under DIR at "/" + its path relative to DIR, on
#       127.0.0.1 at a free port, ranges ("Range: bytes=N-") honoured; sets
#       UPDATE_PORT, UPDATE_LOG (a JSON line per request, written before the
#       answer: request_line, method, target, headers, body) and
#       UPDATE_SERVER_PID. SCRIPT (a Unix path) scripts the answers, one per
#       line, the lines of one target used in turn and the last repeated:
#           TARGET STATUS [KEY=VALUE | FLAG]...
#       keys body=TEXT, body_file=PATH (under DIR when relative),
#       bytes=SIZE[:SEED], raw=TEXT, location=URL, header=NAME:VALUE,
#       close_after=N, reset_after=N, stall_after=N, trickle=BYTES/MS;
#       hold_until=WINPATH (nothing sent until that file exists), with
#       hold_after=N (from offset N of the body on, a byte every half
#       second until then);
#       flags no_length, ignore_range, silent (never answers). In TEXT "\s" is a space, "\r" and "\n" line ends. A
#       200 without a body of its own serves the file at TARGET, so
#           /p.7z 503
#           /p.7z 200
#       fails once, then serves DIR/p.7z. The full description is at the top
#       of testing/exes/kavor_update_server/kavor_update_server_main.cc.
#       The program is taken from UPDATE_SERVER_BIN, else from E2E_BIN
#       (e2e_init); the port and log files go to E2E_CASE, else E2E_WORK.
#   stop_update_server
#       ends it
#   start_no_content_update_server
#       for a run outside a package that is to end at the package fetch:
#       an update service (started as above, in the current case) that
#       answers the metadata request with 204, no content, after which the
#       fetcher gives up at its third attempt (two waits of 6 s) and the run
#       ends with 119; sets NO_CONTENT_URL, the URL to give with
#       --internal-package-server

declare -F wait_port_file >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

start_update_server() {
  local dir="$1" script="${2:-}" bin="${UPDATE_SERVER_BIN:-${E2E_BIN:-}}"
  local work="${E2E_CASE:-${E2E_WORK:-}}" port_file
  if [ -z "$bin" ] || [ -z "$work" ]; then
    echo "start_update_server: e2e_init first, or set UPDATE_SERVER_BIN" \
      "and E2E_WORK" >&2
    return 1
  fi
  port_file="$work/update_server.port"
  UPDATE_LOG="$work/update_server.log"
  rm -f "$port_file" "$UPDATE_LOG"
  local args=("--root=$(e2e_winpath "$(cd "$dir" && pwd)")"
    "--port-file=$(e2e_winpath "$port_file")"
    "--log=$(e2e_winpath "$UPDATE_LOG")")
  [ -n "$script" ] &&
    args+=("--script=$(e2e_winpath "$(cd "$(dirname "$script")" && pwd)/$(basename "$script")")")
  # A fresh prefix may take Wine some seconds to start the first program,
  # and a start on a loaded machine has been seen to end without a word:
  # one more try then, after saying why.
  local try
  for try in 1 2; do
    wine "$bin/kavor_update_server.exe" "${args[@]}" \
      >"$work/update_server.err" 2>&1 &
    UPDATE_SERVER_PID=$!
    wait_port_file "$UPDATE_SERVER_PID" "$port_file" 600 && break
    UPDATE_SERVER_PID=""
    rm -f "$port_file"
    echo "the update server did not start (try $try):" >&2
    cat "$work/update_server.err" >&2
    [ "$try" = 2 ] && return 1
  done
  UPDATE_PORT=$(cat "$port_file")
}

stop_update_server() {
  if [ -n "${UPDATE_SERVER_PID:-}" ]; then
    kill "$UPDATE_SERVER_PID" 2>/dev/null || true
    wait "$UPDATE_SERVER_PID" 2>/dev/null || true
  fi
  UPDATE_SERVER_PID=""
}

start_no_content_update_server() {
  local dir="${E2E_CASE:-$E2E_WORK}/no_content"
  mkdir -p "$dir/www" && echo '/metadata 204' >"$dir/script" &&
    start_update_server "$dir/www" "$dir/script" || return 1
  NO_CONTENT_URL="http://127.0.0.1:$UPDATE_PORT/metadata"
}
