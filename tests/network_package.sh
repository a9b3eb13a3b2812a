# Sourced by the network install test, scripts/run_main.sh and
# scripts/bench_install.sh: what the update service hands out, made from a
# build, and signed as the maker signs what it ships.
#
#   network_signing_keys BIN
#       sets SIGNING_DIR to the signature fixtures (BIN/signature_fixtures,
#       made by scripts/make_signature_fixtures.sh): a test root (root.cer)
#       and under it the maker's key and certificate chain (maker.key,
#       maker.chain.pem: the maker's legal name) and another publisher's
#       (other.key, other.chain.pem)
#   sign_image SIGNER FILE...
#       signs each FILE in place, SHA-256, as SIGNER (maker or other)
#   trust_test_root BIN
#       puts the fixtures' root into the machine root store of WINEPREFIX
#       (BIN/kavor_trust_root.exe): the other publisher is trusted too, and
#       refused only for not being the maker
#   make_package_archive BIN ARCHIVE [OPTION...]
#       ARCHIVE becomes the 7z archive of the package tree make_test_package
#       lays out, every program in it signed as the maker. Options:
#         --7z=OPTIONS      7zz's options, blank-separated
#         --tree=DIR        the tree is made in DIR (kept) instead of a
#                           scratch folder; files the caller put there
#                           before are packed too (list them with
#                           --extra-list)
#         any other option  goes to make_test_package
#   make_network_package BIN FILE [OPTION...]
#       FILE becomes a network package: a package stub (the self-extracting
#       head whose version resource is the package's version and stream)
#       followed by such an archive, then signed. Options:
#         --stub=NAME       the stub program (default kavor_package_stub.exe;
#                           _old: 47.0.4100.0, _stream: stream "beta")
#         --signer=WHO      maker (default), other, or none (unsigned)
#         --archive=FILE    this archive (make_package_archive) instead of a
#                           new one
#         any other option  goes to make_package_archive
#   make_release BIN NAME [OPTION...]
#       what the service hands out of the package tree of BIN, in E2E_WORK:
#       sets ARCHIVE (NAME.7z, make_package_archive's with the host named
#       setup.exe), EXPECTED (the folder NAME, that archive unpacked) and
#       PACKAGE (NAME.exe, the network package of that archive, whose stub
#       comes from BIN too; the options go to make_network_package)
#   make_signed_setup BIN DIR [TRACKING_DATA]
#       DIR gets kavor_setup.exe and its library from BIN, the executable
#       with TRACKING_DATA appended as its payload (when given) and then
#       signed as the maker, so that the signature covers the payload and
#       the payload ends where the certificate table starts
#   network_prefix NAME SETUP
#       starts case NAME (new_prefix) trusting the test root, with the
#       signed installer of SETUP (make_signed_setup) in C:\dl and empty
#       temp and www folders of the case; sets C (the case's drive_c),
#       E2E_TEMP (the temp folder, which the installer is given) and WWW
#       (the www folder, Unix paths)
#   package_metadata_json PACKAGE_URL CHECKSUM [COMPONENT_JSON...]
#       prints the update service's reply naming the package and its
#       components
#   component_json LOCATION TYPE FILE NAME
#       prints one plain (not self-extracting) component of type TYPE whose
#       content is FILE, fetched from LOCATION, placed as NAME
#   sha256_of FILE
#       the lower-case hexadecimal SHA-256 of FILE
#   pad_certificate_table FILE EXTRA
#       puts the bytes of EXTRA into the signed FILE's certificate table
#       right after its signature data, the table's lengths grown to match:
#       bytes that no signature covers

declare -F make_test_package >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/make_test_package.sh"
declare -F append_payload >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

network_signing_keys() {
  SIGNING_DIR="$1/signature_fixtures"
  local file
  for file in root.cer maker.key maker.chain.pem other.key other.chain.pem; do
    [ -s "$SIGNING_DIR/$file" ] || {
      echo "no $file in $SIGNING_DIR: build the signature_fixtures target" >&2
      return 1
    }
  done
}

sign_image() {
  local signer="$1" file
  shift
  for file in "$@"; do
    osslsigncode sign -certs "$SIGNING_DIR/$signer.chain.pem" \
      -key "$SIGNING_DIR/$signer.key" -h sha256 \
      -in "$file" -out "$file.signed" >/dev/null 2>"$file.sign_err" &&
      mv "$file.signed" "$file" && rm -f "$file.sign_err" || {
      echo "cannot sign $file as $signer:" >&2
      cat "$file.sign_err" >&2
      rm -f "$file.signed" "$file.sign_err"
      return 1
    }
  done
}

trust_test_root() {
  wine "$1/kavor_trust_root.exe" "$(e2e_winpath "$SIGNING_DIR/root.cer")" ||
    { echo "cannot trust the test root in $WINEPREFIX" >&2; return 1; }
}

make_package_archive() {
  local bin="$1" archive="$2"
  shift 2
  local options="" tree="" keep=0 rest=() opt
  for opt in "$@"; do
    case "$opt" in
      --7z=*) options="${opt#*=}" ;;
      --tree=*) tree="${opt#*=}" keep=1 ;;
      *) rest+=("$opt") ;;
    esac
  done
  [ -n "$tree" ] || tree="$(mktemp -d)/tree"
  make_test_package "$bin" "$tree" "${rest[@]}" || return 1
  local programs=() file
  while IFS= read -r file; do
    [ "$(head -c2 "$file")" != MZ ] || programs+=("$file")
  done < <(find "$tree" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \))
  # The programs inside are the maker's too: a signed installer starts only
  # signed ones (component installers, the installer it hands over to).
  sign_image maker "${programs[@]}" || return 1
  archive="$(cd "$(dirname "$archive")" && pwd)/$(basename "$archive")"
  rm -f "$archive" "$archive.7z"
  # 7zz names an archive without an extension .7z.
  # shellcheck disable=SC2086 # the options are blank-separated on purpose
  (cd "$tree" && 7zz a -bd -bso0 -bsp0 $options "$archive.7z" .) &&
    mv "$archive.7z" "$archive" || return 1
  [ "$keep" = 1 ] || rm -rf "$(dirname "$tree")"
}

make_network_package() {
  local bin="$1" file="$2"
  shift 2
  local stub=kavor_package_stub.exe signer=maker archive="" rest=() opt
  for opt in "$@"; do
    case "$opt" in
      --stub=*) stub="${opt#*=}" ;;
      --signer=*) signer="${opt#*=}" ;;
      --archive=*) archive="${opt#*=}" ;;
      *) rest+=("$opt") ;;
    esac
  done
  case "$signer" in
    maker | other | none) ;;
    *) echo "make_network_package: unknown signer $signer" >&2; return 2 ;;
  esac
  if [ -z "$archive" ]; then
    make_package_archive "$bin" "$file.7z" "${rest[@]}" || return 1
    cat "$bin/$stub" "$file.7z" >"$file" && rm -f "$file.7z" || return 1
  else
    cat "$bin/$stub" "$archive" >"$file" || return 1
  fi
  [ "$signer" = none ] || sign_image "$signer" "$file"
}

make_release() {
  local bin="$1" name="$2"
  shift 2
  ARCHIVE="$E2E_WORK/$name.7z"
  EXPECTED="$E2E_WORK/$name"
  PACKAGE="$E2E_WORK/$name.exe"
  make_package_archive "$bin" "$ARCHIVE" --host-name=setup.exe \
    --7z=-mx=1 &&
    7zz x -bd -bso0 -bsp0 "-o$EXPECTED" "$ARCHIVE" &&
    make_network_package "$bin" "$PACKAGE" --archive="$ARCHIVE" "$@"
}

make_signed_setup() {
  local bin="$1" dir="$2"
  mkdir -p "$dir" &&
    cp "$bin/kavor_setup.exe" "$bin/kavor_installer.dll" "$dir/" || return 1
  if [ $# -ge 3 ]; then
    # The certificate table starts at a multiple of 8 bytes: the signing
    # tool pads the image up to there, which would put padding between the
    # payload's length and the table, where the installer looks for it. The
    # padding goes before the payload instead.
    local exe="$dir/kavor_setup.exe" size length
    size=$(stat -c %s "$exe")
    length=$(printf '%s' "$3" | LC_ALL=C wc -c)
    head -c $(((8 - (size + 3 + length + 4) % 8) % 8)) /dev/zero >>"$exe" &&
      append_payload "$exe" "$3" || return 1
  fi
  sign_image maker "$dir/kavor_setup.exe" "$dir/kavor_installer.dll"
}

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

pad_certificate_table() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
path, extra = sys.argv[1], open(sys.argv[2], 'rb').read()
data = bytearray(open(path, 'rb').read())
nt = struct.unpack_from('<I', data, 0x3c)[0]
magic = struct.unpack_from('<H', data, nt + 24)[0]
entry = nt + 24 + (144 if magic == 0x20b else 128)
offset, size = struct.unpack_from('<II', data, entry)
assert size and offset + size == len(data)
# The signature data: a DER SEQUENCE after the table entry's 8-byte header.
at = offset + 8
first = data[at + 1]
if first < 0x80:
    end = at + 2 + first
else:
    count = first & 0x7f
    end = at + 2 + count + int.from_bytes(data[at + 2:at + 2 + count], 'big')
table = bytearray(data[offset:end] + extra)
table += bytes(-len(table) % 8)
struct.pack_into('<I', table, 0, len(table))
struct.pack_into('<I', data, entry + 4, len(table))
open(path, 'wb').write(bytes(data[:offset] + table))
PY
}

network_prefix() {
  new_prefix "$1"
  C="$WINEPREFIX/drive_c"
  trust_test_root "$E2E_BIN" >"$E2E_CASE/trust.log" 2>&1 ||
    { cat "$E2E_CASE/trust.log"; exit 1; }
  WWW="$E2E_CASE/www"
  mkdir -p "$C/dl" "$E2E_CASE/temp" "$WWW"
  cp "$2/kavor_setup.exe" "$2/kavor_installer.dll" "$C/dl/"
  E2E_TEMP=$(e2e_winpath "$E2E_CASE/temp")
}

component_json() {
  python3 - "$1" "$2" "$(sha256_of "$3")" "$4" <<'PY'
import json, sys
location, kind, checksum, name = sys.argv[1:5]
print(json.dumps({"location": location, "type": kind, "archive": 0,
                  "checksum": checksum, "filename": name}))
PY
}

package_metadata_json() {
  python3 - "$@" <<'PY'
import json, sys
reply = {"installer": sys.argv[1], "installer_checksum": sys.argv[2]}
components = [json.loads(c) for c in sys.argv[3:]]
if components:
    reply["components"] = components
print(json.dumps(reply))
PY
}
