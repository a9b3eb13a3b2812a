# Sourced by the end-to-end tests that drive a window with
# kavor_ui_driver.exe (testing/exes/kavor_ui_driver; its commands are
# described at the top of its source). Needs e2e_init and a case
# (new_prefix).
#
#   drive ARG...          runs the driver in the case's prefix; sets
#                         DRIVE_RC, DRIVE_OUT and DRIVE_ERR (line ends
#                         without carriage returns) and adds both to
#                         E2E_CASE/drive.log
#   screenshot_path NAME  where the driver saves screenshot NAME (the .bmp;
#                         the .png for a reader lies beside it)
#   screenshot_drawn NAME [MIN_WIDTH MIN_HEIGHT]
#                         screenshot NAME is a whole 24-bit picture of at
#                         least the size given (default 100x80) with more
#                         than a few colours, not a blank or black capture;
#                         says what is wrong otherwise
#   run_in_background NAME COMMAND...
#                         runs COMMAND (a function of the test that sets RC,
#                         such as run_in_job) in the background, for the
#                         driver to act on its window meanwhile
#   background_ended NAME waits for that run and sets RC to the RC it set
#                         and ERR to E2E_CASE/err

# The windows of these tests get a display of their own: on a display that
# other tests share, a window of one test takes the focus from another's.
own_display || echo "no display of its own: sharing $DISPLAY" >&2

drive() {
  wine "$E2E_BIN/kavor_ui_driver.exe" "$@" >"$E2E_CASE/drive.out" \
    2>"$E2E_CASE/drive.err"
  DRIVE_RC=$?
  DRIVE_OUT=$(tr -d '\r' <"$E2E_CASE/drive.out")
  DRIVE_ERR=$(tr -d '\r' <"$E2E_CASE/drive.err")
  {
    echo "== drive $* (exit $DRIVE_RC)"
    cat "$E2E_CASE/drive.out" "$E2E_CASE/drive.err"
  } >>"$E2E_CASE/drive.log"
  return "$DRIVE_RC"
}

run_in_background() {
  local name="$1"
  shift
  rm -f "$E2E_CASE/$name.rc"
  (
    "$@"
    echo "$RC" >"$E2E_CASE/$name.rc"
  ) &
  BACKGROUND_PID=$!
}

background_ended() {
  wait "$BACKGROUND_PID"
  RC=$(cat "$E2E_CASE/$1.rc" 2>/dev/null)
  ERR=$(cat "$E2E_CASE/err")
}

screenshot_path() {
  printf '%s/artifacts/screenshots/%s.bmp' "$(dirname "$E2E_BIN")" "$1"
}

screenshot_drawn() {
  python3 - "$(screenshot_path "$1")" "${2:-100}" "${3:-80}" <<'PY'
import struct, sys
path, min_width, min_height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
try:
    data = open(path, "rb").read()
except OSError as e:
    sys.exit("no screenshot: %s" % e)
if len(data) < 54 or data[:2] != b"BM":
    sys.exit("%s: not a BMP" % path)
offset = struct.unpack_from("<I", data, 10)[0]
width, height = struct.unpack_from("<ii", data, 18)
bits = struct.unpack_from("<H", data, 28)[0]
row = (width * 3 + 3) & ~3
if bits != 24 or len(data) < offset + row * abs(height):
    sys.exit("%s: %d bits, %d bytes for %dx%d" % (path, bits, len(data),
                                                  width, height))
if width < min_width or abs(height) < min_height:
    sys.exit("%s: %dx%d, smaller than %dx%d" % (path, width, height,
                                                 min_width, min_height))
colours = set()
for y in range(abs(height)):
    line = data[offset + y * row:offset + y * row + width * 3]
    colours.update(line[i:i + 3] for i in range(0, len(line), 3))
if len(colours) <= 4:
    sys.exit("%s: only %d colours" % (path, len(colours)))
PY
}
