#!/usr/bin/env python3
# Writes photo.svg: a synthetic photograph (smooth shapes and shading) and a
# 256-step grey ramp, both as embedded PNG images, with a caption.
import base64, math, struct, zlib

def png(width, height, rows, colour):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    kind = 2 if colour else 0
    raw = b"".join(b"\0" + bytes(r) for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, kind, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

w, h = 320, 240
rows = []
for y in range(h):
    row = []
    for x in range(w):
        sky = 150 + int(90 * y / h)
        v = [sky - 40, sky - 10, 255]
        hill = 160 + 30 * math.sin(x / 40.0)
        if y > hill:
            v = [40 + (x * 3) % 60, 120 + int(60 * (y - hill) / h), 50]
        d = math.hypot(x - 240, y - 60)
        if d < 28:
            v = [255, 220 - int(d * 2), 80]
        row += [max(0, min(255, c)) for c in v]
    rows.append(row)
photo = base64.b64encode(png(w, h, rows, True)).decode()
ramp = base64.b64encode(png(256, 1, [list(range(256))], False)).decode()
svg = f'''<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="170mm" height="200mm" viewBox="0 0 170 200">
  <rect x="0" y="0" width="170" height="200" fill="white"/>
  <g fill="black"><rect x="0" y="0" width="1.5" height="1.5"/><rect x="168.5" y="0" width="1.5" height="1.5"/><rect x="0" y="186.5" width="1.5" height="1.5"/><rect x="168.5" y="186.5" width="1.5" height="1.5"/></g>
  <image x="10" y="10" width="150" height="112.5" preserveAspectRatio="none" xlink:href="data:image/png;base64,{photo}"/>
  <text x="10" y="132" font-family="Liberation Sans" font-size="4">Hills at noon, 320 x 240 pixels stretched to 150 mm.</text>
  <image x="10" y="145" width="150" height="30" preserveAspectRatio="none" style="image-rendering:pixelated" xlink:href="data:image/png;base64,{ramp}"/>
  <text x="10" y="185" font-family="Liberation Sans" font-size="4">256 grey steps, black to white.</text>
</svg>
'''
open("photo.svg", "w").write(svg)
