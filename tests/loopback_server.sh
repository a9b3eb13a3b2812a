# Sourced by the end-to-end tests and scripts/bench_install.sh: a loopback
# HTTP server serving the files of one folder.
#
#   start_loopback_server DIR   serves DIR on 127.0.0.1 at a free port (GET
#                               and POST alike);
#                               sets LOOPBACK_PORT and LOOPBACK_PID
#   stop_loopback_server        ends it
#   serve_overrides JSON        serves JSON as the preference default
#                               overrides; sets OVERRIDES_ARGS

declare -F wait_port_file >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

start_loopback_server() {
  local dir="$1" port_file
  port_file="$(mktemp)"
  python3 - "$dir" "$port_file" <<'PY' >/dev/null 2>&1 &
import functools, http.server, sys

# The installer sends the run's tracking data as the body of its overrides
# request, which makes it a POST whenever there is tracking data; such a
# request for a file is answered like a GET (the body is read and ignored).
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.do_GET()

handler = functools.partial(Handler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
with open(sys.argv[2] + ".new", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(sys.argv[2] + ".new", sys.argv[2])
server.serve_forever()
PY
  LOOPBACK_PID=$!
  if ! wait_port_file "$LOOPBACK_PID" "$port_file" 600; then
    rm -f "$port_file"
    LOOPBACK_PID=""
    echo "the loopback server did not start" >&2
    return 1
  fi
  LOOPBACK_PORT=$(cat "$port_file")
  rm -f "$port_file"
}

stop_loopback_server() {
  [ -n "${LOOPBACK_PID:-}" ] && kill "$LOOPBACK_PID" 2>/dev/null
  LOOPBACK_PID=""
}

# serve_overrides JSON: starts the loopback server on $E2E_WORK/www, which
# answers the path "prefs" with JSON as the preference default overrides.
# OVERRIDES_ARGS then holds the switches of a run that reads them there and
# sends no statistics.
serve_overrides() {
  mkdir -p "$E2E_WORK/www"
  printf '%s' "$1" >"$E2E_WORK/www/prefs"
  start_loopback_server "$E2E_WORK/www" || return 1
  OVERRIDES_ARGS=(--enable-installer-stats=0
    "--local-pref-default-overrides-server=http://127.0.0.1:$LOOPBACK_PORT/prefs")
}
