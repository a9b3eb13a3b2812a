# Sourced by the silent-install test and scripts/run_main.sh: a loopback
# HTTP server serving the files of one folder.
#
#   start_loopback_server DIR   serves DIR on 127.0.0.1 at a free port (GET
#                               and POST alike);
#                               sets LOOPBACK_PORT and LOOPBACK_PID
#   stop_loopback_server        ends it

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
  local tries
  for tries in $(seq 50); do
    [ -s "$port_file" ] && break
    sleep 0.1
  done
  LOOPBACK_PORT=$(cat "$port_file" 2>/dev/null)
  rm -f "$port_file"
  if [ -z "$LOOPBACK_PORT" ]; then
    echo "the loopback server did not start" >&2
    return 1
  fi
}

stop_loopback_server() {
  [ -n "${LOOPBACK_PID:-}" ] && kill "$LOOPBACK_PID" 2>/dev/null
  LOOPBACK_PID=""
}

# serve_overrides JSON: starts the loopback server on $E2E_WORK/www, which
# answers the path "prefs" with JSON as the preference default overrides.
serve_overrides() {
  mkdir -p "$E2E_WORK/www"
  printf '%s' "$1" >"$E2E_WORK/www/prefs"
  start_loopback_server "$E2E_WORK/www"
}
