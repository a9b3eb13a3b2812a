# Sourced by the silent-install test and scripts/run_main.sh: a loopback
# HTTP server serving the files of one folder.
#
#   start_loopback_server DIR   serves DIR on 127.0.0.1 at a free port;
#                               sets LOOPBACK_PORT and LOOPBACK_PID
#   stop_loopback_server        ends it

start_loopback_server() {
  local dir="$1" port_file
  port_file="$(mktemp)"
  python3 - "$dir" "$port_file" <<'PY' >/dev/null 2>&1 &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler,
                            directory=sys.argv[1])
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
