#!/usr/bin/env python3
"""Checks the generated symbol-set tables against Python's own code-page
decoders: compiles the record description with zqrc, finds each type-273
resource in the resource file and compares its 256 entries."""
import os
import struct
import subprocess
import sys
import tempfile

SETS = {1: "cp1252", 2: "cp1250", 3: "cp1251", 4: "cp1254", 5: "cp1257", 6: "cp1253"}


def expected(codec):
    out = []
    for code in range(256):
        if code < 32:
            out.append(0xFFFF)
            continue
        try:
            out.append(ord(bytes([code]).decode(codec)))
        except UnicodeDecodeError:
            out.append(0xFFFF)
    return out


def main():
    zqrc, rec = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as d:
        res = os.path.join(d, "s.res")
        subprocess.run([zqrc, "-o", os.path.join(d, "s.cpp"), "--res", res, rec], check=True)
        data = open(res, "rb").read()
    # Every table is 512 bytes; find each by its content.
    bad = 0
    for rid, codec in SETS.items():
        want = struct.pack("<256H", *expected(codec))
        if data.find(want) < 0:
            # Report the first difference against the table at the same index.
            print("symbol set %d (%s): no table equal to the decoder's" % (rid, codec))
            bad += 1
    if bad:
        return 1
    print("6 symbol-set tables agree with the code-page decoders")
    return 0


if __name__ == "__main__":
    sys.exit(main())
