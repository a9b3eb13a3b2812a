#!/usr/bin/env bash
# The stand-in update service under Wine, seen by a native client: files of
# its folder, a scripted failure before success, a resumed range, cut and
# reset connections, and the request log.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/update_server.sh"
e2e_init "$1"
command -v curl >/dev/null || { echo "curl is missing (scripts/install_deps.sh)" >&2; exit 1; }

new_prefix update_server
www="$E2E_CASE/www"
mkdir -p "$www/pkg"
head -c 300000 /dev/urandom >"$www/pkg/p.bin"
cp "$www/pkg/p.bin" "$www/busy.bin"
cat >"$E2E_CASE/script" <<'EOF'
# busy once, then the file
/busy.bin 503
/busy.bin 200
/short 200 bytes=5000 close_after=100
/reset 200 bytes=100000 reset_after=1000
/hop 302 location=/pkg/p.bin header=X-Served-By:stand-in
EOF
start_update_server "$www" "$E2E_CASE/script" || exit 1
url="http://127.0.0.1:$UPDATE_PORT"
get() { curl -sS --max-time 30 "$@"; }

check "a file of the folder" \
  cmp <(get "$url/pkg/p.bin") "$www/pkg/p.bin"
check "a 503 retried, then the file" \
  cmp <(get -f --retry 1 --retry-delay 0 "$url/busy.bin") "$www/busy.bin"
check "a range resumes at its offset" \
  cmp <(get -r 123456- "$url/pkg/p.bin") <(tail -c +123457 "$www/pkg/p.bin")
check "a redirect with its header" \
  test "$(get -i "$url/hop" | tr -d '\r' | grep -c -E '^(Location: /pkg/p.bin|X-Served-By: stand-in)$')" = 2
get -o "$E2E_CASE/short" "$url/short" 2>/dev/null
check "a closed connection ends the body short (curl 18)" \
  test "$?:$(stat -c %s "$E2E_CASE/short")" = "18:100"
get -o /dev/null "$url/reset" 2>/dev/null
check "a reset connection fails (curl 56)" test "$?" = 56
check "an unknown target is 404" \
  test "$(get -o /dev/null -w '%{http_code}' -d 'a=1' "$url/none")" = 404

stop_update_server
log() { grep -c -F "$1" "$UPDATE_LOG"; }
check "two requests for the busy file" test "$(log '"target":"/busy.bin"')" = 2
check "the range request is logged" test "$(log '"Range":"bytes=123456-"')" = 1
check "the posted body is logged" \
  test "$(log '"request_line":"POST /none HTTP/1.1","method":"POST","target":"/none"')" = 1 -a \
  "$(log '"body":"a=1"')" = 1
check "one line per request" test "$(wc -l <"$UPDATE_LOG")" = 8

e2e_summary
