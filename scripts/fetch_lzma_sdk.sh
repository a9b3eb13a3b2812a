#!/usr/bin/env bash
# Fetches the C sources of the LZMA SDK (the 7z decoder) from the
# distribution's 7zip source package and unpacks them into
# third_party/lzma_sdk/ (or $KAVOR_LZMA_SDK_DIR); the build compiles them
# from there. Nothing is fetched when they are unpacked already.
#
# The machine's package sources may list binary packages only, so the source
# package is fetched under a private apt configuration whose entries are the
# machine's own with the type changed to deb-src, made here at run time.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEST="${KAVOR_LZMA_SDK_DIR:-$ROOT/third_party/lzma_sdk}"

if [ -f "$DEST/C/7zArcIn.c" ]; then
  exit 0
fi

fail() {
  echo "fetch_lzma_sdk.sh: $*" >&2
  exit 1
}
command -v apt-get >/dev/null ||
  fail "apt-get is missing: the sources come from the distribution's" \
    "7zip source package"
command -v dpkg-source >/dev/null ||
  fail "dpkg-source is missing: install dpkg-dev (apt-get install dpkg-dev)"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/sources.list.d" "$WORK/lists/partial" "$WORK/src" \
  "$WORK/cache/archives/partial"

# deb822 files: every "Types:" line lists deb-src instead.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$WORK/sources.list.d/$(basename "$f")"
done
# One-line files: "deb [options] uri suite components" becomes deb-src.
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$f" \
    >>"$WORK/sources.list.d/machine.list"
done
if ! grep -qsE '^(Types: deb-src|deb-src[[:space:]])' "$WORK"/sources.list.d/*; then
  fail "no package sources in /etc/apt/sources.list or" \
    "/etc/apt/sources.list.d to fetch the 7zip source package from"
fi

APT_OPTS=(
  -o "Dir::Etc::SourceParts=$WORK/sources.list.d"
  -o "Dir::Etc::SourceList=/dev/null"
  -o "Dir::State::Lists=$WORK/lists"
  # The machine's package cache stays as it was.
  -o "Dir::Cache=$WORK/cache"
  -o "Dir::Cache::archives=$WORK/cache/archives/"
  # The private folders belong to whoever runs this; apt's own download
  # user could not write there.
  -o "APT::Sandbox::User=$(id -un)"
)
echo "Fetching the 7zip source package for the LZMA SDK"
apt-get "${APT_OPTS[@]}" update >"$WORK/update.log" 2>&1 ||
  { cat "$WORK/update.log" >&2; fail "updating the package lists failed"; }
(cd "$WORK/src" && apt-get "${APT_OPTS[@]}" source --download-only 7zip) ||
  fail "downloading the 7zip source package failed"

dsc=$(ls "$WORK"/src/7zip_*.dsc 2>/dev/null | sort -V | tail -1 || true)
[ -n "$dsc" ] || fail "no 7zip_*.dsc was downloaded: the package sources" \
  "offer no 7zip source package"
dpkg-source --no-check -x "$dsc" "$WORK/src/tree" >/dev/null ||
  fail "unpacking $dsc failed"
[ -f "$WORK/src/tree/C/7zArcIn.c" ] ||
  fail "$(basename "$dsc") holds no C/7zArcIn.c"

# Only the C sources of the decoder are needed.
rm -rf "$DEST.partial"
mkdir -p "$DEST.partial"
cp -r "$WORK/src/tree/C" "$DEST.partial/C"
basename "$dsc" >"$DEST.partial/SOURCE"
rm -rf "$DEST"
mv "$DEST.partial" "$DEST"
echo "LZMA SDK sources in $DEST ($(cat "$DEST/SOURCE"))"
