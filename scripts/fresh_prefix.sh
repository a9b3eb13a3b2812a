# Sourced by run_main.sh and bench_install.sh, after wine_env.sh (and
# tests/loopback_server.sh where the script serves through it).
#
#   enter_fresh_prefix DIR [keep]   empties DIR and makes DIR/www, DIR/temp
#                                   and DIR/prefix, a copy of the build's
#                                   prefix (so that what an earlier run
#                                   installed is not there), exported as
#                                   WINEPREFIX; starts Xvfb when there is no
#                                   display (Wine's desktop needs one even
#                                   when no window shows) and the prefix's
#                                   wineserver. At exit the loopback server
#                                   (if sourced), the wineserver and Xvfb
#                                   are stopped and, unless "keep" is
#                                   given, the prefix is removed.
#   winpath PATH                    the Windows form of an absolute Unix path

enter_fresh_prefix() {
  FRESH_DIR="$1"
  FRESH_KEEP="${2:-}"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$FRESH_DIR"
  mkdir -p "$FRESH_DIR/www" "$FRESH_DIR/temp"
  cp -a "$WINEPREFIX" "$FRESH_DIR/prefix"
  export WINEPREFIX="$FRESH_DIR/prefix"
  if [ -z "${DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
      3>"$FRESH_DIR/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do [ -s "$FRESH_DIR/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$FRESH_DIR/display")"
  fi
  trap _leave_fresh_prefix EXIT
  wineserver -p
}

_leave_fresh_prefix() {
  # A script without the loopback server must still stop the rest.
  ! declare -F stop_loopback_server >/dev/null || stop_loopback_server || true
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
  [ "$FRESH_KEEP" = keep ] || rm -rf "$FRESH_DIR/prefix"
}

winpath() { local p="${1//\//\\}"; printf 'Z:%s' "$p"; }
