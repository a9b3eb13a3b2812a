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

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/sources.list.d" "$WORK/lists/partial" "$WORK/src"

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

APT_OPTS=(
  -o "Dir::Etc::SourceParts=$WORK/sources.list.d"
  -o "Dir::Etc::SourceList=/dev/null"
  -o "Dir::State::Lists=$WORK/lists"
  # The private folders belong to whoever runs this; apt's own download
  # user could not write there.
  -o "APT::Sandbox::User=$(id -un)"
)
echo "Fetching the 7zip source package for the LZMA SDK"
apt-get "${APT_OPTS[@]}" update >"$WORK/update.log" 2>&1 ||
  { cat "$WORK/update.log" >&2; exit 1; }
(cd "$WORK/src" && apt-get "${APT_OPTS[@]}" source --download-only 7zip)

dsc=$(ls "$WORK"/src/7zip_*.dsc | sort -V | tail -1)
dpkg-source --no-check -x "$dsc" "$WORK/src/tree" >/dev/null

# Only the C sources of the decoder are needed.
rm -rf "$DEST.partial"
mkdir -p "$DEST.partial"
cp -r "$WORK/src/tree/C" "$DEST.partial/C"
basename "$dsc" >"$DEST.partial/SOURCE"
rm -rf "$DEST"
mv "$DEST.partial" "$DEST"
echo "LZMA SDK sources in $DEST ($(cat "$DEST/SOURCE"))"
