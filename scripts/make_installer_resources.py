#!/usr/bin/env python3
"""Makes the installer UI's resources for the host executable.

From the string table (installer_strings.json) it writes one RT_STRING table
per language, falling back to the English text for an entry that has no
translation yet so that no control is ever empty; the "TXT" list of the
languages; the artwork (icon and PNG images, drawn here); and the top-level
.rc that pulls these together with the dialog templates.

Usage: make_installer_resources.py SOURCE_DIR OUT_DIR
"""

import hashlib
import json
import math
import os
import re
import struct
import sys
import zlib


def fail(message):
    sys.stderr.write("make_installer_resources: %s\n" % message)
    sys.exit(1)


def rc_string(text):
    out = []
    for ch in text:
        if ch == '"':
            out.append('""')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            fail("carriage return in a string: use \\n")
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def read_ids_header(path):
    ids = {}
    with open(path, encoding="utf-8") as f:
        for name, value in re.findall(r"X\((IDS_\w+), (\d+)\)", f.read()):
            ids[name] = int(value)
    return ids


def read_language_ids(path):
    """The code -> LANGID table (kLanguageIds) of the localization handler,
    codes in lower case; as there, the first row of a code wins."""
    with open(path, encoding="utf-8") as f:
        source = f.read()
    block = re.search(r"kLanguageIds\[\]\s*=\s*\{(.*?)\n\};", source, re.S)
    if not block:
        fail("no kLanguageIds table in %s" % path)
    ids = {}
    for code, value in re.findall(r'\{L"([^"]+)",\s*(0x[0-9a-fA-F]+)\}',
                                  block.group(1)):
        ids.setdefault(code.lower(), int(value, 16))
    if not ids:
        fail("cannot read the kLanguageIds table of %s" % path)
    return ids


def check_table(table, header_ids, langids):
    table_ids = {s["name"]: s["id"] for s in table["strings"]}
    if table_ids != header_ids:
        missing = sorted(set(header_ids.items()) ^ set(table_ids.items()))
        fail("installer_strings.json and installer_string_ids.h differ: %r"
             % missing)
    languages = table["languages"]
    if len(set(languages)) != len(languages):
        fail("a language is listed twice")
    for code in languages:
        if code.lower() not in langids:
            fail("language %r has no LANGID" % code)
    placeholders = re.compile(r"\$[1-9]")
    for entry in table["strings"]:
        english = entry["text"].get("en")
        if not english:
            fail("%s has no English text" % entry["name"])
        wanted = sorted(placeholders.findall(english))
        for code, text in entry["text"].items():
            if code not in languages:
                fail("%s has text for unlisted language %r"
                     % (entry["name"], code))
            if sorted(placeholders.findall(text)) != wanted:
                fail("%s in %s does not keep the placeholders %r"
                     % (entry["name"], code, wanted))
            if ("<a " in english) != ("<a " in text):
                fail("%s in %s drops or adds a link" % (entry["name"], code))


def write_if_changed(path, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def string_tables(table, langids):
    out = ["// Made by make_installer_resources.py; do not edit.",
           "#pragma code_page(65001)", ""]
    for code in table["languages"]:
        langid = langids[code.lower()]
        out.append("// %s" % code)
        out.append("LANGUAGE 0x%x, 0x%x" % (langid & 0x3FF, langid >> 10))
        out.append("STRINGTABLE")
        out.append("BEGIN")
        for entry in table["strings"]:
            text = entry["text"].get(code) or entry["text"]["en"]
            out.append("  %d %s" % (entry["id"], rc_string(text)))
        out.append("END")
        out.append("")
    return "\n".join(out)


# --- artwork ---------------------------------------------------------------

def png(width, height, pixel):
    """A straight-alpha RGBA PNG; |pixel|(x, y) gives (r, g, b, a)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(bytes(pixel(x, y)))

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) +
            chunk(b"IEND", b""))


def clamp(v):
    return max(0, min(255, int(round(v))))


def coverage(distance):
    """Anti-aliased inside-ness of a pixel |distance| from an edge."""
    return max(0.0, min(1.0, 0.5 - distance))


BRAND = (0x1F, 0x6F, 0xD8)
ACCENT = (0xFF, 0x1B, 0x2C)


def logo_pixel(size):
    c = (size - 1) / 2.0
    r = size * 0.46

    def pixel(x, y):
        d = math.hypot(x - c, y - c)
        disc = coverage(d - r)
        if disc == 0:
            return (0, 0, 0, 0)
        # A ring cut by a wedge: the product's mark.
        ring = coverage(abs(d - r * 0.55) - r * 0.16)
        angle = math.degrees(math.atan2(y - c, x - c))
        if -25 < angle < 25:
            ring = 0.0
        shade = 1.0 - 0.25 * (y / size)
        base = tuple(clamp(ch * shade) for ch in BRAND)
        color = tuple(clamp(b * (1 - ring) + 255 * ring) for b in base)
        return color + (clamp(255 * disc),)
    return pixel


def badge_pixel(size):
    c = (size - 1) / 2.0
    r = size * 0.45

    def pixel(x, y):
        d = math.hypot(x - c, y - c)
        disc = coverage(d - r)
        if disc == 0:
            return (0, 0, 0, 0)
        # An exclamation mark: a bar and a dot.
        bar = (abs(x - c) < size * 0.07 and size * 0.2 < y < size * 0.6)
        dot = math.hypot(x - c, y - size * 0.74) < size * 0.08
        color = (255, 255, 255) if (bar or dot) else ACCENT
        return color + (clamp(255 * disc),)
    return pixel


def background_pixel(width, height):
    def pixel(x, y):
        # A soft wash of the brand colour towards the lower right.
        t = (x / width + y / height) / 2.0
        alpha = clamp(70 * t * t)
        return BRAND + (alpha,)
    return pixel


def icon(size):
    """A 32-bit DIB icon of one image."""
    pixel = logo_pixel(size)
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixel(x, y)
            xor.extend((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + bytes(xor) + and_mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image),
                        6 + 16)
    return directory + entry + image


def rc_path(path):
    return '"' + path.replace("\\", "/") + '"'


def main():
    if len(sys.argv) != 3:
        fail("usage: make_installer_resources.py SOURCE_DIR OUT_DIR")
    source, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    l10n = os.path.join(source, "desktop/windows/l10n_handler")
    ui = os.path.join(source, "desktop/windows/installer/ui/resources")
    with open(os.path.join(l10n, "installer_strings.json"),
              encoding="utf-8") as f:
        table = json.load(f)
    langids = read_language_ids(os.path.join(l10n, "l10n_handler.cc"))
    check_table(table,
                read_ids_header(os.path.join(l10n, "installer_string_ids.h")),
                langids)

    write_if_changed(os.path.join(out, "installer_strings.rc"),
                     string_tables(table, langids))
    # One code a line and no line end after the last: the reader keeps
    # empty lines, and an empty code is no language.
    write_if_changed(os.path.join(out, "languages.txt"),
                     "\n".join(table["languages"]))
    write_if_changed(os.path.join(out, "kavor.ico"), icon(32))
    write_if_changed(os.path.join(out, "background.png"),
                     png(480, 320, background_pixel(480, 320)))
    write_if_changed(os.path.join(out, "logo.png"), png(96, 96, logo_pixel(96)))
    write_if_changed(os.path.join(out, "error_badge.png"),
                     png(32, 32, badge_pixel(32)))

    # The resource compiler tracks no included files, so every input's
    # digest goes into the top-level file: changing any of them rebuilds it.
    digest = hashlib.sha256()
    inputs = [os.path.abspath(__file__),
              os.path.join(l10n, "installer_strings.json"),
              os.path.join(l10n, "installer_string_ids.h"),
              os.path.join(l10n, "l10n_handler.cc"),
              os.path.join(source,
                           "desktop/windows/installer/ui/resource_ids.h")]
    inputs += [os.path.join(ui, name) for name in sorted(os.listdir(ui))]
    for path in inputs:
        with open(path, "rb") as f:
            digest.update(f.read())
    top = [
        "// Made by make_installer_resources.py; do not edit.",
        "// Inputs: %s" % digest.hexdigest(),
        "#include <windows.h>",
        "#include <commctrl.h>",
        "#include <richedit.h>",
        '#include "desktop/windows/installer/ui/resource_ids.h"',
        "",
        "LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL",
        "1 ICON %s" % rc_path(os.path.join(out, "kavor.ico")),
        "139 PNG %s" % rc_path(os.path.join(out, "background.png")),
        "140 PNG %s" % rc_path(os.path.join(out, "logo.png")),
        "141 PNG %s" % rc_path(os.path.join(out, "error_badge.png")),
        "134 TXT %s" % rc_path(os.path.join(out, "languages.txt")),
        "142 TXT %s" % rc_path(os.path.join(ui, "terms.txt")),
        "",
    ]
    for name in sorted(os.listdir(ui)):
        if name.endswith(".rc"):
            top.append('#include "%s"' % os.path.join(ui, name))
    top.append('#include "%s"' % os.path.join(out, "installer_strings.rc"))
    write_if_changed(os.path.join(out, "installer_ui.rc"), "\n".join(top) + "\n")


if __name__ == "__main__":
    main()
