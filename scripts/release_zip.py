#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on what it holds.

    release_zip.py OUT.zip EPOCH NAME=FILE...

The entries come in the order given, each dated EPOCH (seconds since 1970;
zip keeps a zone-less date in 2-second steps, and the UTC one is stored),
with the same attributes and the same compression. Entries named *.txt or
LICENSE are text for Windows readers: their lines end in CR LF, and one that
is not plain ASCII starts with a UTF-8 byte order mark so Notepad reads it.
"""

import os
import sys
import time
import zipfile

BOM = b"\xef\xbb\xbf"


def for_windows(text):
    text = text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    if not text.isascii() and not text.startswith(BOM):
        text = BOM + text
    return text


def main(argv):
    if len(argv) < 4 or not all("=" in a for a in argv[3:]):
        sys.exit(__doc__)
    out, when = argv[1], time.gmtime(int(argv[2]))[:6]
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for entry in argv[3:]:
            name, _, path = entry.partition("=")
            with open(path, "rb") as f:
                data = f.read()
            is_text = name.endswith(".txt") or name == "LICENSE"
            if is_text:
                data = for_windows(data)
            info = zipfile.ZipInfo(name, date_time=when)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix: the mode bits below are read on extraction
            info.external_attr = (0o100644 if is_text else 0o100755) << 16
            archive.writestr(info, data, compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main(sys.argv)
