#!/usr/bin/env python3
"""Writes the installable font files the font tests use, from the stored
formats (Python struct, not the package's code): printer font metrics files
(soft fonts), cartridge files of such descriptions, and a fontdb.dfm.

    font_files.py DIR

writes DIR/roman.pfm, DIR/mono.pfm, DIR/cart.pcm (two fonts), DIR/fontdb.dfm
(two fonts) and DIR/many1.pcm, DIR/many2.pcm (230 fonts each, faces
"Many A 000".. and "Many B 000"..)."""
import os
import struct
import sys


def pfm(face, points=12, weight=400, selection=b"\x1b(8U\x1b(s0p10h12v0s3b3T", scalable=False):
    """A printer font metrics file: the packed header (117 bytes), the
    extension (30 bytes), optional extended metrics, optional driver
    information {size, version 1, memory, selection offset}, the face name and
    the selection string."""
    ext_at = 117
    at = ext_at + 30
    ext_metrics_at = at if scalable else 0
    at += 52 if scalable else 0
    info_at = at if selection else 0
    at += 12 if selection else 0
    face_at = at
    sel_at = face_at + len(face) + 1
    head = struct.pack("<HI60sHHHHHHHBBBHBHHBHHBBBBHIIII", 256, 0, b"", 0, points, 300, 300, 40, 5, 2,
                       0, 0, 0, weight, 0, 0, 50, 0, 25, 30, 32, 126, 32, 32, 0, 0, face_at, 0, 0)
    assert len(head) == ext_at
    ext = struct.pack("<HIIIIIII", 30, ext_metrics_at, 0, 0, 0, 0, info_at, 0)
    body = head + ext
    if scalable:
        body += struct.pack("<26h", 52, 240, 0, 1000, 4, 999, 1000, 700, 500, 720, 200, 0, 0, 0, 0, 0,
                            100, 50, 0, 0, 0, 0, 300, 50, 0, 0)
    if selection:
        body += struct.pack("<HHII", 12, 1, 4096, sel_at)
    body += face + b"\0"
    if selection:
        body += selection + b"\0"
    return body[:2] + struct.pack("<I", len(body)) + body[6:]


def cartridge(descriptions):
    """A cartridge block: 3244, the byte count at 4, the first description's
    offset at 12, then the descriptions back to back."""
    content = b"".join(descriptions)
    return struct.pack("<HHIII", 3244, 0, 16 + len(content), 0, 16) + content


def fontdb(descriptions):
    """fontdb.dfm: a count, the file offsets, then the descriptions."""
    at = 4 + 4 * len(descriptions)
    offsets = []
    for d in descriptions:
        offsets.append(at)
        at += len(d)
    return struct.pack("<I%dI" % len(descriptions), len(descriptions), *offsets) + b"".join(descriptions)


def main():
    d = sys.argv[1]
    files = {
        "roman.pfm": pfm(b"Aardvark Soft", 12, 700, scalable=True),
        "mono.pfm": pfm(b"Mono Soft", 10),
        "cart.pcm": cartridge([pfm(b"Cart Gothic", 10), pfm(b"Zzz Cart", 8)]),
        "fontdb.dfm": fontdb([pfm(b"Double Mincho", 12, selection=b"\x1b(19K\x1b(s0p10h12v0s0b0T"),
                              pfm(b"Double Gothic", 12, selection=b"\x1b(19K\x1b(s0p10h12v0s3b0T")]),
        "many1.pcm": cartridge([pfm(b"Many A %03d" % i, selection=b"") for i in range(230)]),
        "many2.pcm": cartridge([pfm(b"Many B %03d" % i, selection=b"") for i in range(230)]),
    }
    for name, data in files.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
