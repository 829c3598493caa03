#!/usr/bin/env python3
"""Writes a region of an X window dump (XWD, 24/32 bits per pixel, as Xvfb's
-fbdir keeps its screen) as a PNG file: xwd2png.py DUMP PNG [X Y W H]."""
import struct
import sys
import zlib


def main():
    dump, png = sys.argv[1], sys.argv[2]
    data = open(dump, "rb").read()
    h = struct.unpack(">25I", data[:100])
    header_size, depth, width, height = h[0], h[3], h[4], h[5]
    byte_order, bpp, line, ncolors = h[7], h[11], h[12], h[19]
    if bpp != 32 or depth < 24:
        sys.exit("xwd2png: only 24-bit screens in 32-bit pixels are read")
    x, y, w, hgt = 0, 0, width, height
    if len(sys.argv) == 7:
        x, y, w, hgt = (int(v) for v in sys.argv[3:7])
        x, y = max(0, x), max(0, y)
        w, hgt = min(w, width - x), min(hgt, height - y)
    pixels = header_size + ncolors * 12
    rows = bytearray()
    for row in range(y, y + hgt):
        start = pixels + row * line + x * 4
        rows.append(0)  # no filter
        chunk = data[start:start + w * 4]
        for i in range(0, len(chunk), 4):
            p = chunk[i:i + 4]
            if byte_order == 0:  # least significant byte first: B G R X
                rows += bytes((p[2], p[1], p[0]))
            else:
                rows += bytes((p[1], p[2], p[3]))

    def block(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(png, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(block(b"IHDR", struct.pack(">IIBBBBB", w, hgt, 8, 2, 0, 0, 0)))
        f.write(block(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(block(b"IEND", b""))


if __name__ == "__main__":
    main()
