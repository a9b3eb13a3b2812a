#!/usr/bin/env bash
# Makes the signed images the signature check's and the package checks'
# unit tests read:
#   make_signature_fixtures.sh SOURCE_EXE OUT_DIR COMPANY PACKAGE_STUB \
#     VERSION_STANDIN
# SOURCE_EXE is any unsigned PE image of the build, COMPANY the maker's legal
# name (the subject the installer accepts), PACKAGE_STUB the head of a test
# package (kavor_package_stub.exe, whose version resource says 47.0.4127.0,
# stream "developer") and VERSION_STANDIN the stand-in for an old package's
# installer (kavor_version_standin.exe, no version resource). Everything is
# made afresh in OUT_DIR: a test root, an untrusted root, certificates for
# the maker, for another publisher, for an impostor named like the maker
# but issued by the untrusted root and for a stranger, a publisher of its
# own name under the untrusted root, and these images:
#   unsigned.exe         the source image
#   maker.exe            signed by the maker (SHA-256)
#   other.exe            signed by the other publisher
#   tampered.exe         maker.exe with one byte of its code changed
#   dual.exe             other publisher (SHA-256), nested maker (SHA-256)
#   dual_sha1.exe        other publisher (SHA-1), nested maker (SHA-256)
#   forged_untrusted.exe other publisher, nested impostor
#   untrusted_dual.exe   stranger (SHA-256), nested maker (SHA-256): the
#                        outer signature, the one Windows judges, chains to
#                        the untrusted root while the nested one is valid
#   forged_digest.exe    dual.exe whose nested maker signature is one made
#                        for a different image (valid, wrong digest)
#   forged_content.exe   forged_digest.exe with the nested signature's
#                        image digest changed to the right one
#   forged_attrs.exe     forged_content.exe whose nested signature's signed
#                        message digest is also rewritten to match: only its
#                        signature over those attributes gives it away
#   impostor.exe         signed by the impostor
#   partial.exe          signed by a certificate named like the maker whose
#                        chain (it and its issuer, under the untrusted root,
#                        which the signature does not carry) ends short of
#                        any root
#   partial_nested.exe   other publisher, nested that signer
#   partial_outer_dual.exe  a publisher of its own name under the same
#                        authority, whose chain thus ends short of any root
#                        too (SHA-256), nested maker (SHA-256)
#   partial_outer_deep.exe  that publisher, nested the whole signature of
#                        dual.exe: the maker's signature two levels down
#   dual_deep.exe        other publisher, nested the whole signature of
#                        dual.exe: the maker's signature two levels down
#                        under a trusted outer signer
#   dual_tampered.exe    dual.exe with one byte of its code changed
#   expired.exe          signed by the maker with a certificate that has
#                        expired, timestamped (RFC 3161, by a time-stamping
#                        authority under the test root) and dated while it
#                        was valid
#   expired_dual.exe     other publisher, nested maker as in expired.exe
#   expired_untrusted_ts.exe  the same, timestamped by an authority under
#                        the untrusted root
#   expired_copied_ts.exe  expired_dual.exe whose nested signature carries a
#                        genuine timestamp copied from another signature
#   root.cer             the test root (DER), which the tests trust
# and these test packages (a head with a 7z archive appended, the archive
# holding installer.exe, the version stand-in, and readme.txt):
#   package.exe          PACKAGE_STUB + archive, signed by the maker
#   package_aligned.exe  the same with an archive that holds a filler file
#                        sized so that stub and archive end on 8 bytes: the
#                        certificate table starts right where the archive
#                        ends, with no padding between them
#   package_unsigned.exe the same unsigned
#   package_other.exe    the same signed by the other publisher
#   package_legacy.exe   VERSION_STANDIN + an archive that also holds
#                        kavor_installer.dll (a few bytes, not a library),
#                        signed by the maker: an old package without
#                        version information
#   package_legacy_bare.exe  the same without kavor_installer.dll, unsigned
#   package_tampered.exe package.exe with one byte of its archive changed
#   package_dual.exe     package_other.exe with a nested maker signature
#   package_dual_tampered.exe  the same with one byte of its archive changed
# and signed files carrying bytes in their certificate table's padding,
# after the signature data, where no signature covers them:
#   padded_archive.exe   PACKAGE_STUB signed by the maker, the package's
#                        archive in the padding
#   padded_garbage.exe   package.exe with 200 random bytes in the padding
#   straddling_archive.exe  PACKAGE_STUB + the archive without its header,
#                        signed by the maker; the header lies in the
#                        padding, where the signed start header points
# The maker's and the other publisher's signing material stays there too,
# so that other tests can sign packages and installers the tests accept or
# refuse for their publisher:
#   maker.chain.pem      the maker's certificate followed by the test root's
#                        (PEM)
#   maker.key            the maker's private key (PEM, not encrypted)
#   other.chain.pem      the same for the other publisher, under the same
#   other.key            test root
# Signing a file IN as the maker (OUT is the signed copy; SHA-256 as the
# installer expects; a file with data appended to its image, such as a
# package, signs the same way, the certificate table going after the data):
#   osslsigncode sign -certs maker.chain.pem -key maker.key -h sha256 \
#     -in IN -out OUT
# Windows (or Wine) accepts the result only while root.cer is in the
# machine's Root store (see the signature check's unit tests).
# SEVEN_ZIP names 7-Zip's command-line tool (default: 7zz from PATH).
# OSSLSIGNCODE names the signing tool (default: osslsigncode from PATH); any
# version from 2.5 on does. The time-stamping authority is a loopback HTTP
# server of this script's own, whose openssl runs under faketime: openssl
# stamps only the present, and the expired certificate needs a past one.
set -euo pipefail
SOURCE="$(realpath "$1")"
OUT="$(realpath -m "$2")"
COMPANY="$3"
PACKAGE_STUB="$(realpath "$4")"
VERSION_STANDIN="$(realpath "$5")"
OSSLSIGNCODE="${OSSLSIGNCODE:-osslsigncode}"
SEVEN_ZIP="${SEVEN_ZIP:-7zz}"
command -v faketime >/dev/null ||
  { echo "faketime is missing (scripts/install_deps.sh installs it)" >&2; exit 1; }

rm -rf "$OUT.tmp"
mkdir -p "$OUT.tmp"
cd "$OUT.tmp"

# The DER reading the Python steps below share (they run here, so each
# imports it).
cat > der.py <<'EOF'
def element(data, pos):
    """(value start, value end) of the DER element at pos."""
    first = data[pos + 1]
    if first < 0x80:
        return pos + 2, pos + 2 + first
    count = first & 0x7f
    length = int.from_bytes(data[pos + 2:pos + 2 + count], 'big')
    return pos + 2 + count, pos + 2 + count + length

def encode(tag, value):
    """The DER element of tag whose value is value."""
    size = len(value)
    if size < 0x80:
        return bytes([tag, size]) + value
    octets = size.to_bytes((size.bit_length() + 7) // 8, 'big')
    return bytes([tag, 0x80 | len(octets)]) + octets + value

def attribute_value(data, oid):
    """(start, end) of the first value of the first attribute in data whose
    type is the DER object identifier oid."""
    at = data.index(oid) + len(oid)
    assert data[at] == 0x31  # the attribute's SET of values
    start, _ = element(data, at)
    return start, element(data, start)[1]
EOF

cat > ext.cnf <<'EOF'
[signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[tsa]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
EOF

quiet() { "$@" >/dev/null 2>&1 || { "$@"; exit 1; }; }

# Certificates come from openssl ca, the one tool that takes explicit
# validity dates: the roots and the time-stamping authority must have been
# valid when the expired certificate was.
mkdir ca
: > ca/index.txt
echo 1000 > ca/serial
printf '%s\n' '[ca]' 'default_ca = test' '[test]' 'database = ca/index.txt' \
  'serial = ca/serial' 'new_certs_dir = ca' 'default_md = sha256' \
  'unique_subject = no' 'policy = any' '[any]' 'commonName = supplied' \
  'organizationName = optional' > ca.cnf

issue() {  # NAME SUBJECT ISSUER START END EXTENSIONS
  quiet openssl req -newkey rsa:2048 -nodes -sha256 -subj "$2" \
    -keyout "$1.key" -out "$1.csr"
  local issuer=(-cert "$3.pem" -keyfile "$3.key")
  [ "$3" != "$1" ] || issuer=(-selfsign -keyfile "$1.key")
  quiet openssl ca -batch -config ca.cnf "${issuer[@]}" -startdate "$4" \
    -enddate "$5" -notext -extfile ext.cnf -extensions "$6" -in "$1.csr" \
    -out "$1.pem"
  [ "$3" = "$1" ] || cat "$1.pem" "$3.pem" > "$1.chain.pem"
}

make_root() {  # NAME CN
  issue "$1" "/CN=$2" "$1" 20190101000000Z 20360101000000Z root
}

make_signer() {  # NAME CN ISSUER
  issue "$1" "/CN=$2/O=$2" "$3" 20190101000000Z 20360101000000Z signer
}

make_root root "Kavor Test Root"
make_root untrusted "Kavor Untrusted Root"
make_signer maker "$COMPANY" root
make_signer other "Other Test Publisher" root
make_signer impostor "$COMPANY" untrusted
make_signer stranger "Untrusted Test Publisher" untrusted
# An authority under the untrusted root and a certificate named like the
# maker that it issued: a signature that carries these two alone has a chain
# that stops short of any root.
issue intermediate "/CN=Kavor Untrusted Intermediate" untrusted \
  20190101000000Z 20360101000000Z root
make_signer partial "$COMPANY" intermediate
make_signer partial_outer "Partial Chain Test Publisher" intermediate
# The maker's certificate once expired, and a time-stamping authority.
issue expired "/CN=$COMPANY/O=$COMPANY" root 20200101000000Z \
  20210101000000Z signer
issue tsa "/CN=Kavor Test Time Stamps" root 20190101000000Z 20360101000000Z \
  tsa
issue untrusted_tsa "/CN=Kavor Test Time Stamps" untrusted 20190101000000Z \
  20360101000000Z tsa
quiet openssl x509 -in root.pem -outform DER -out root.cer

sign() {  # SIGNER HASH IN OUT [-nest]
  quiet "$OSSLSIGNCODE" sign -certs "$1.chain.pem" -key "$1.key" -h "$2" \
    ${5:-} -in "$3" -out "$4"
}

# Changes one byte in the middle of the image's first section.
flip_code_byte() {  # FILE
  python3 - "$1" <<'EOF'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
nt = struct.unpack_from('<I', data, 0x3c)[0]
sections = struct.unpack_from('<H', data, nt + 6)[0]
optional_size = struct.unpack_from('<H', data, nt + 20)[0]
first = nt + 24 + optional_size
raw_size, raw_offset = struct.unpack_from('<II', data, first + 16)
assert sections > 0 and raw_size > 0
data[raw_offset + raw_size // 2] ^= 0xFF
open(path, 'wb').write(bytes(data))
EOF
}

cp "$SOURCE" unsigned.exe
sign maker sha256 unsigned.exe maker.exe
sign other sha256 unsigned.exe other.exe
cp maker.exe tampered.exe
flip_code_byte tampered.exe
sign maker sha256 other.exe dual.exe -nest
sign other sha1 unsigned.exe other_sha1.exe
sign maker sha256 other_sha1.exe dual_sha1.exe -nest
sign impostor sha256 other.exe forged_untrusted.exe -nest
sign stranger sha256 unsigned.exe stranger.exe
sign maker sha256 stranger.exe untrusted_dual.exe -nest
sign impostor sha256 unsigned.exe impostor.exe
sign partial sha256 unsigned.exe partial.exe
sign partial sha256 other.exe partial_nested.exe -nest
# The time-stamping authorities, stamping 2020-06-01 00:00:00 UTC whatever
# the clock says: a request to /tsa is answered by the authority under the
# test root, one to /untrusted_tsa by that under the untrusted root.
STAMP_TIME=1590969600
for name in tsa untrusted_tsa; do
  issuer=root
  [ "$name" = tsa ] || issuer=untrusted
  printf '%s\n' "[$name]" "serial = $name.serial" "signer_cert = $name.pem" \
    "signer_key = $name.key" "certs = $issuer.pem" "signer_digest = sha256" \
    'default_policy = 1.2.3.4.1' 'digests = sha1, sha256, sha384, sha512' \
    'accuracy = secs:1, millisecs:500, microsecs:100' \
    'clock_precision_digits = 0' 'ordering = no' 'tsa_name = no' \
    'ess_cert_id_chain = no' >> ts.cnf
  echo 01 > "$name.serial"
done
cat > tsa_server.py <<'EOF'
import datetime, http.server, os, subprocess, sys, threading, time

stamp_time, port_file, parent = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
when = datetime.datetime.fromtimestamp(stamp_time, datetime.timezone.utc)
# The GeneralizedTime every token must carry: proof that faketime took hold.
gen_time = b'\x18\x0f' + when.strftime('%Y%m%d%H%M%SZ').encode()
AUTHORITIES = ('tsa', 'untrusted_tsa')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.0'

    def do_POST(self):
        name = self.path.strip('/')
        length = self.headers.get('Content-Length')
        if name not in AUTHORITIES or not length:
            self.send_error(404 if length else 411)
            return
        with open('ts_query.der', 'wb') as query:
            query.write(self.rfile.read(int(length)))
        env = dict(os.environ, TZ='UTC')
        result = subprocess.run(
            ['faketime', '-f', when.strftime('%Y-%m-%d %H:%M:%S'),
             'openssl', 'ts', '-reply', '-config', 'ts.cnf', '-section', name,
             '-queryfile', 'ts_query.der', '-out', 'ts_reply.der'],
            env=env, capture_output=True, text=True)
        reply = b''
        if result.returncode == 0:
            with open('ts_reply.der', 'rb') as file:
                reply = file.read()
        if gen_time not in reply:
            sys.stderr.write('time stamp not made at %s:\n%s' %
                             (when, result.stderr))
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def end_with_the_script():
    # Even when the script is killed before its trap runs (or before this
    # server has started).
    while os.getppid() == parent:
        time.sleep(0.2)
    os._exit(0)


threading.Thread(target=end_with_the_script, daemon=True).start()
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
with open(port_file + '.new', 'w') as file:
    file.write(str(server.server_address[1]))
os.rename(port_file + '.new', port_file)
server.serve_forever()
EOF
python3 tsa_server.py "$STAMP_TIME" tsa.port $$ &
TSA_PID=$!
trap 'kill "$TSA_PID" 2>/dev/null || true' EXIT
for _ in $(seq 200); do
  [ ! -s tsa.port ] || break
  kill -0 "$TSA_PID" 2>/dev/null ||
    { echo "the time-stamping server did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s tsa.port ] || { echo "the time-stamping server did not start" >&2; exit 1; }
TSA_URL="http://127.0.0.1:$(cat tsa.port)"
# Requests go straight to the loopback, never through a proxy.
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# osslsigncode 2.5 sets -time on the outer signature too when it nests one,
# which breaks the outer signature: the outer signer's signing time is put
# back as it was (a no-op for later versions).
keep_outer_signing_time() {  # IN OUT
  python3 - "$@" <<'EOF'
import sys
SIGNING_TIME = bytes.fromhex('06092a864886f70d010905')

def first(data):
    """Where the first signer's signing time attribute's values lie."""
    at = data.index(SIGNING_TIME) + len(SIGNING_TIME)
    assert data[at] == 0x31 and data[at + 1] < 0x80
    return at, at + 2 + data[at + 1]

before = open(sys.argv[1], 'rb').read()
after = open(sys.argv[2], 'rb').read()
a, b = first(before)
c, d = first(after)
assert b - a == d - c, 'signing times differ in size'
open(sys.argv[2], 'wb').write(after[:c] + before[a:b] + after[d:])
EOF
}

# Dated and timestamped 2020-06-01, when the certificate was valid.
sign_expired() {  # TSA IN OUT [-nest]
  quiet "$OSSLSIGNCODE" sign -certs expired.chain.pem -key expired.key \
    -h sha256 -time "$STAMP_TIME" -ts "$TSA_URL/$1" ${4:-} -in "$2" -out "$3"
  [ -z "${4:-}" ] || keep_outer_signing_time "$2" "$3"
}
sign_expired tsa unsigned.exe expired.exe
sign_expired tsa other.exe expired_dual.exe -nest
sign_expired untrusted_tsa other.exe expired_untrusted_ts.exe -nest

# A genuine maker signature, nested in a dual signature of another image of
# the same size, grafted in place of dual.exe's nested one: the outer
# signature does not cover its unauthenticated attributes, so it stays valid.
cp unsigned.exe changed.exe
flip_code_byte changed.exe
sign other sha256 changed.exe changed_other.exe
sign maker sha256 changed_other.exe changed_dual.exe -nest
python3 - dual.exe changed_dual.exe forged_digest.exe <<'EOF'
import sys
from der import attribute_value
# DER of the nested-signature attribute's object identifier.
OID = bytes.fromhex('060a2b060104018237020401')

dual = open(sys.argv[1], 'rb').read()
other = open(sys.argv[2], 'rb').read()
a, b = attribute_value(dual, OID)
c, d = attribute_value(other, OID)
assert b - a == d - c, 'nested signatures differ in size'
assert dual[a:b] != other[c:d]
open(sys.argv[3], 'wb').write(dual[:a] + other[c:d] + dual[b:])
EOF

# The grafted signature with the image digest in its content replaced by
# this image's: its signature over the authenticated attributes still
# verifies, but their message digest no longer matches the content.
# (The check fails, as it should: only its report is wanted.)
{ "$OSSLSIGNCODE" verify -in forged_digest.exe 2>&1 || true; } |
  sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' > digests.txt
python3 - forged_digest.exe forged_content.exe digests.txt <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
outer, nested = [bytes.fromhex(line) for line in open(sys.argv[3]).read().split()]
assert outer != nested and data.count(nested) == 1
open(sys.argv[2], 'wb').write(data.replace(nested, outer))
EOF

# A timestamp token made for another signature, of the same size so that
# the outer signature stays valid (the tokens' sizes vary by an octet or
# so, hence the tries).
graft_timestamp() {  # INTO FROM OUT
  python3 - "$@" <<'EOF'
import sys
from der import attribute_value
OID = bytes.fromhex('060a2b060104018237030301')  # RFC 3161 timestamp

into = open(sys.argv[1], 'rb').read()
donor = open(sys.argv[2], 'rb').read()
a, b = attribute_value(into, OID)
c, d = attribute_value(donor, OID)
if b - a != d - c:
    sys.exit(1)
assert into[a:b] != donor[c:d]
open(sys.argv[3], 'wb').write(into[:a] + donor[c:d] + into[b:])
EOF
}
for attempt in $(seq 20); do
  rm -f donor.exe
  sign_expired tsa changed_other.exe donor.exe -nest
  if graft_timestamp expired_dual.exe donor.exe expired_copied_ts.exe; then
    break
  fi
done
[ -f expired_copied_ts.exe ]

# forged_content.exe once more, with the nested signer's signed message
# digest made that of its new content (SHA-256 over the value octets of its
# SpcIndirectDataContent, as the signer digests it).
python3 - forged_digest.exe forged_content.exe forged_attrs.exe <<'EOF'
import hashlib, sys
from der import element
OID = bytes.fromhex('060a2b060104018237020401')
SPC_INDIRECT = bytes.fromhex('060a2b060104018237020104')

def nested_content_digest(data):
    at = data.index(OID) + len(OID)
    values, _ = element(data, at)          # the attribute's SET
    at = data.index(SPC_INDIRECT, values) + len(SPC_INDIRECT)
    explicit, _ = element(data, at)        # [0] around the content
    start, end = element(data, explicit)   # SpcIndirectDataContent
    return hashlib.sha256(data[start:end]).digest()

old = nested_content_digest(open(sys.argv[1], 'rb').read())
data = open(sys.argv[2], 'rb').read()
new = nested_content_digest(data)
assert old != new and data.count(old) == 1
open(sys.argv[3], 'wb').write(data.replace(old, new))
EOF

# Test packages: a head with a 7z archive appended, as the build makes a
# package; signing puts the certificate table after the archive.
pack() {  # ARCHIVE FILE...
  local archive="$1"
  shift
  (cd package_src && quiet "$SEVEN_ZIP" a -t7z -mx=5 "../$archive" "$@")
}
mkdir package_src
cp "$VERSION_STANDIN" package_src/installer.exe
printf 'A test package.\r\n' > package_src/readme.txt
printf 'Not a library: the stand-in only looks for it.\r\n' \
  > package_src/kavor_installer.dll
pack package.7z installer.exe readme.txt
pack legacy.7z installer.exe kavor_installer.dll readme.txt
pack legacy_bare.7z installer.exe readme.txt
cat "$PACKAGE_STUB" package.7z > package_unsigned.exe
sign maker sha256 package_unsigned.exe package.exe
sign other sha256 package_unsigned.exe package_other.exe
# The signing tool pads the image to 8 bytes before the certificate table,
# so a package usually has zeros between its archive's end and the table.
# Here the filler's size is tried until none are needed: its bytes, the
# same on every build, do not compress, so the archive grows by about a byte
# per try and a few tries do.
stub_size=$(stat -c %s "$PACKAGE_STUB")
for filler in $(seq 0 63); do
  rm -f package_aligned.7z
  python3 -c 'import random, sys
random.seed(8)
sys.stdout.buffer.write(random.randbytes(int(sys.argv[1])))' "$filler" \
    > package_src/filler.txt
  pack package_aligned.7z installer.exe readme.txt filler.txt
  [ $(((stub_size + $(stat -c %s package_aligned.7z)) % 8)) != 0 ] || break
done
[ $(((stub_size + $(stat -c %s package_aligned.7z)) % 8)) = 0 ] ||
  { echo "no filler size aligns the package's archive" >&2; exit 1; }
cat "$PACKAGE_STUB" package_aligned.7z > package_aligned_unsigned.exe
sign maker sha256 package_aligned_unsigned.exe package_aligned.exe
cat "$VERSION_STANDIN" legacy.7z > legacy_unsigned.exe
sign maker sha256 legacy_unsigned.exe package_legacy.exe
cat "$VERSION_STANDIN" legacy_bare.7z > package_legacy_bare.exe

# Signed files with bytes their signature does not cover: nobody hashes the
# certificate table, the padding after its signature data included.
cat > table.py <<'EOF'
import struct
from der import element

SIGNATURE = bytes.fromhex('377abcaf271c')  # 7z

def table(data):
    """(security directory entry offset, table offset, table size, end of
    the signature data) of a signed image."""
    nt = struct.unpack_from('<I', data, 0x3c)[0]
    magic = struct.unpack_from('<H', data, nt + 24)[0]
    entry = nt + 24 + (144 if magic == 0x20b else 128)
    offset, size = struct.unpack_from('<II', data, entry)
    assert size and offset + size == len(data)
    return entry, offset, size, element(data, offset + 8)[1]

def pad_with(data, extra):
    """data with extra put into its certificate table right after the
    signature data, the table's two lengths grown to match (8-aligned)."""
    data = bytearray(data)
    entry, offset, size, end = table(data)
    grown = bytearray(data[offset:end] + extra)
    grown += bytes(-len(grown) % 8)
    struct.pack_into('<I', grown, 0, len(grown))
    struct.pack_into('<I', data, entry + 4, len(grown))
    return bytes(data[:offset] + grown)
EOF
pad_with() {  # IN EXTRA OUT
  python3 - "$@" <<'EOF'
import sys
from table import pad_with
data = open(sys.argv[1], 'rb').read()
open(sys.argv[3], 'wb').write(pad_with(data, open(sys.argv[2], 'rb').read()))
EOF
}
# Changes one byte in the middle of a package's archive.
flip_archive_byte() {  # FILE
  python3 - "$1" <<'EOF'
import sys
from table import SIGNATURE, table
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
data[(data.index(SIGNATURE) + table(data)[1]) // 2] ^= 0xFF
open(path, 'wb').write(bytes(data))
EOF
}
cp "$PACKAGE_STUB" stub.exe
sign maker sha256 stub.exe stub_signed.exe
pad_with stub_signed.exe package.7z padded_archive.exe
head -c 200 /dev/urandom > garbage.bin
pad_with package.exe garbage.bin padded_garbage.exe
cp package.exe package_tampered.exe
flip_archive_byte package_tampered.exe
cp dual.exe dual_tampered.exe
flip_code_byte dual_tampered.exe
sign maker sha256 package_other.exe package_dual.exe -nest
cp package_dual.exe package_dual_tampered.exe
flip_archive_byte package_dual_tampered.exe
# The signing tool nests only a signature it has just made, one level down.
# A signature that carries a nested one of its own is nested by hand: an
# unsigned attribute is added to the outer signer of IN, which has none yet,
# and the lengths around it are written anew. Nothing signs unsigned
# attributes, so IN's signature stays valid.
nest_signature() {  # IN DONOR OUT
  python3 - "$@" <<'EOF'
import struct, sys
from der import element, encode
from table import table
NESTED = bytes.fromhex('060a2b060104018237020401')

def children(data, start, end):
    """(start, end) of each element from start to end."""
    found = []
    while start < end:
        found.append((start, element(data, start)[1]))
        start = found[-1][1]
    return found

def value(data, at):
    return data[slice(*element(data, at))]

def signature(data):
    """The certificate table's header and signature data."""
    _, offset, _, end = table(data)
    return data[offset:offset + 8], data[offset + 8:end]

into = open(sys.argv[1], 'rb').read()
header, message = signature(into)
# ContentInfo { type, [0] { SignedData { ..., signerInfos { first, ... } } } }
content_type, explicit = children(message, *element(message, 0))
signed_data = element(message, explicit[0])[0]
*head, signer_infos = children(message, *element(message, signed_data))
first, *rest = children(message, *element(message, signer_infos[0]))
assert message[signer_infos[0]] == 0x31 and message[first[0]] == 0x30
assert all(message[at] != 0xA1
           for at, _ in children(message, *element(message, first[0])))
nested = signature(open(sys.argv[2], 'rb').read())[1]
signer = encode(0x30, value(message, first[0]) +
                encode(0xA1, encode(0x30, NESTED + encode(0x31, nested))))
signed = encode(0x30, b''.join(message[a:b] for a, b in head) + encode(
    0x31, signer + b''.join(message[a:b] for a, b in rest)))
message = encode(0x30, message[slice(*content_type)] + encode(0xA0, signed))
certificate = bytearray(header + message + bytes(-len(message) % 8))
struct.pack_into('<I', certificate, 0, len(certificate))
entry, offset, _, _ = table(into)
out = bytearray(into[:offset] + certificate)
struct.pack_into('<I', out, entry + 4, len(certificate))
open(sys.argv[3], 'wb').write(bytes(out))
EOF
}
# Over a signer whose chain stops short of any root, the maker's signature
# one level down, and two levels down inside dual.exe's signature.
sign partial_outer sha256 unsigned.exe partial_outer.exe
sign maker sha256 partial_outer.exe partial_outer_dual.exe -nest
nest_signature partial_outer.exe dual.exe partial_outer_deep.exe
# The same under the other publisher, whose chain is trusted.
nest_signature other.exe dual.exe dual_deep.exe
# An archive whose start header and packed streams are signed and whose
# header lies in the table's padding: its start header is made to point
# there before signing (the signature's size does not change with that).
python3 - package.7z straddle_start.bin straddle_header.bin <<'EOF'
import struct, sys
archive = open(sys.argv[1], 'rb').read()
offset, size = struct.unpack_from('<QQ', archive, 12)
assert 32 + offset + size == len(archive)
open(sys.argv[2], 'wb').write(archive[:32 + offset])
open(sys.argv[3], 'wb').write(archive[32 + offset:])
EOF
signature_end() {  # SIGNED
  python3 -c 'import sys; from table import table
print(table(open(sys.argv[1], "rb").read())[3])' "$1"
}
cat stub.exe straddle_start.bin > straddle_unsigned.exe
sign maker sha256 straddle_unsigned.exe straddle_probe.exe
header_at=$(signature_end straddle_probe.exe)
python3 - straddle_unsigned.exe "$header_at" <<'EOF'
import struct, sys, zlib
from table import SIGNATURE
data = bytearray(open(sys.argv[1], 'rb').read())
start = data.index(SIGNATURE)
struct.pack_into('<Q', data, start + 12, int(sys.argv[2]) - start - 32)
struct.pack_into('<I', data, start + 8, zlib.crc32(data[start + 12:start + 32]))
open(sys.argv[1], 'wb').write(bytes(data))
EOF
sign maker sha256 straddle_unsigned.exe straddle_signed.exe
[ "$(signature_end straddle_signed.exe)" = "$header_at" ]
pad_with straddle_signed.exe straddle_header.bin straddling_archive.exe

rm -rf "$OUT"
mkdir -p "$OUT"
mv unsigned.exe maker.exe other.exe tampered.exe dual.exe dual_sha1.exe \
  forged_untrusted.exe untrusted_dual.exe forged_digest.exe \
  forged_content.exe forged_attrs.exe impostor.exe expired.exe \
  expired_dual.exe expired_untrusted_ts.exe expired_copied_ts.exe root.cer \
  package.exe package_unsigned.exe package_other.exe package_aligned.exe \
  package_legacy.exe package_legacy_bare.exe \
  partial.exe partial_nested.exe partial_outer_dual.exe \
  partial_outer_deep.exe dual_deep.exe padded_archive.exe padded_garbage.exe \
  straddling_archive.exe package_tampered.exe dual_tampered.exe \
  package_dual.exe package_dual_tampered.exe \
  maker.chain.pem maker.key other.chain.pem other.key "$OUT"/
cd "$OUT"
rm -rf "$OUT.tmp"
