#!/usr/bin/env python3
"""Independent decoder of the driver's stored font and list formats.

Written from the format descriptions alone, for tests to check what the
driver writes:

  records FILE...   record lists (printer-data values or list files)
  cache FILE...     font-summary cache files: header, strings, entries
  summary FILE...   font-summary blocks on their own

Output is plain text, one item per line, so tests can compare it; with
several files a line "--" separates their outputs.
"""
import struct
import sys


def text_or_hex(data):
    if data.endswith(b"\0") and all(32 <= b < 127 for b in data[:-1]):
        return "'" + data[:-1].decode("ascii") + "'"
    return data.hex()


def decode_records(buf, out):
    at = 0
    while at < len(buf):
        if len(buf) - at < 7:
            break
        (length,) = struct.unpack_from("<H", buf, at)
        if length < 7 or at + length > len(buf):
            break
        end = at + length
        p = at + 2
        fields = []
        ok = False
        while end - p >= 4:
            key, flen = struct.unpack_from("<HH", buf, p)
            if key == 0:
                ok = flen == 5 and end - p == 5 and buf[p + 4] == 0
                break
            if flen < 5 or p + flen > end:
                break
            data = bytes(buf[p + 4:p + flen - 1])
            if buf[p + flen - 1] != 0:
                out.append("nonzero spare at %d" % (p + flen - 1))
            if key == 1 and len(data) == 2:
                fields.append("1=%d" % struct.unpack("<H", data)[0])
            else:
                fields.append("%d=%s" % (key, text_or_hex(data) if len(data) <= 64 else "<%d bytes>" % len(data)))
            p += flen
        if not ok:
            break
        out.append("record " + " ".join(fields))
        at = end
    if at != len(buf):
        out.append("damaged %d bytes at %d" % (len(buf) - at, at))
    return out


ENTRY = 192
DEVMODE = 1256


def decode_summary(buf, out, prefix=""):
    if len(buf) < 24 + DEVMODE:
        out.append(prefix + "summary too short")
        return out
    one, zero, count, zero2, pool1, pool2, ffff, zero3, one2 = struct.unpack_from("<HHHHIIHHI", buf, 0)
    out.append(prefix + "summary fonts=%d pool1=%d pool2=%d marks=%d,%d,%x,%d" % (count, pool1, pool2, one, zero, ffff, one2))
    base = 24 + DEVMODE
    pool1_at = base + ENTRY * count
    pool2_at = pool1_at + pool1
    for i in range(count):
        e = base + ENTRY * i
        if e + ENTRY > len(buf):
            out.append(prefix + "entry %d past the end" % i)
            break
        res_id, list_id = struct.unpack_from("<HH", buf, e)
        offsets = struct.unpack_from("<12I", buf, e + 4)
        scalable, = struct.unpack_from("<I", buf, e + 56)
        units, design_res = struct.unpack_from("<HH", buf, e + 60)
        memory, = struct.unpack_from("<I", buf, e + 68)
        kind, = struct.unpack_from("<H", buf, e + 72)
        handle1, = struct.unpack_from("<I", buf, e + 76)
        metrics = struct.unpack_from("<7H", buf, e + 86)
        italic = buf[e + 100]
        weight, = struct.unpack_from("<H", buf, e + 104)
        charset = buf[e + 106]
        pw, ph = struct.unpack_from("<HH", buf, e + 108)
        avg, maxw, c1, c2 = struct.unpack_from("<4H", buf, e + 114)
        vert = struct.unpack_from("<hh", buf, e + 122)
        symset, = struct.unpack_from("<H", buf, e + 126)
        handle2, = struct.unpack_from("<I", buf, e + 184)
        face_at = pool1_at + offsets[0]
        face = b""
        if offsets[0] < pool1:
            end = buf.find(b"\0", face_at, pool2_at)
            face = buf[face_at:end if end >= 0 else pool2_at]
        out.append(prefix + "font %d face='%s' res=%d list=%d kind=%d charset=%d scalable=%d weight=%d italic=%d "
                   "height=%d ascent=%d avg=%d max=%d size=%dx%d symset=%d memory=%d units=%d design=%d "
                   "vert=%d,%d handles=%d,%d" % (
                       i, face.decode("latin-1"), res_id, list_id, kind, charset, scalable, weight, italic,
                       metrics[1], metrics[4], avg, maxw, pw, ph, symset, memory, units, design_res,
                       vert[0], vert[1], handle1, handle2))
    return out


def decode_cache(buf, out):
    if len(buf) < 28:
        out.append("header too short")
        return out
    tag = buf[0:18]
    keysize, count, reserved, first = struct.unpack_from("<HHHI", buf, 18)
    out.append("cache tag='%s' key=%d entries=%d reserved=%d first=%d" % (
        tag.rstrip(b"\0").decode("latin-1"), keysize, count, reserved, first))
    if first > len(buf) or first < 28:
        out.append("first entry offset outside the file")
        return out
    out.append("strings '%s'" % buf[28:first].decode("latin-1"))
    at = first
    for i in range(count):
        if at + DEVMODE + 4 > len(buf):
            out.append("entry %d past the end" % i)
            return out
        key = buf[at:at + DEVMODE]
        (n,) = struct.unpack_from("<I", buf, at + DEVMODE)
        if at + DEVMODE + 4 + n > len(buf):
            out.append("entry %d data past the end" % i)
            return out
        quality, = struct.unpack_from("<h", key, 90)
        fields, = struct.unpack_from("<I", key, 72)
        device = key[0:64].decode("utf-16-le").split("\0")[0]
        out.append("entry %d at=%d n=%d device='%s' fields=%x quality=%d" % (i, at, n, device, fields, quality))
        decode_summary(buf[at + DEVMODE + 4:at + DEVMODE + 4 + n], out, "  ")
        at += DEVMODE + 4 + n
    if at != len(buf):
        out.append("trailing %d bytes" % (len(buf) - at))
    return out


def main(argv):
    if len(argv) < 3 or argv[1] not in ("records", "cache", "summary"):
        sys.stderr.write(__doc__)
        return 2
    decode = {"records": decode_records, "cache": decode_cache, "summary": decode_summary}[argv[1]]
    texts = []
    for name in argv[2:]:
        with open(name, "rb") as f:
            texts.append("".join(line + "\n" for line in decode(f.read(), [])))
    sys.stdout.write("--\n".join(texts))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
