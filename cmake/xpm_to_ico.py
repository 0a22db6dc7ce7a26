#!/usr/bin/env python3
"""Writes a Windows icon file holding the given XPM pictures, for the resource compiler.

Usage: xpm_to_ico.py OUT.ico PICTURE.xpm...

The pictures are the Linux face's own sources (one character per pixel, colours "#RRGGBB" or
"None"). Each becomes one icon image with a colour table as small as its colours allow (16
colours for ours) and the mask from its "None" pixels.
"""
import re
import struct
import sys


def read_xpm(path):
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, colours, per_pixel = (int(v) for v in strings[0].split()[:4])
    if per_pixel != 1:
        raise SystemExit(f"{path}: only one character per pixel is read")
    table = {}
    for line in strings[1:1 + colours]:
        value = line[1:].split()[-1]
        table[line[0]] = None if value.lower() == "none" else int(value.lstrip("#")[:6], 16)
    rows = strings[1 + colours:1 + colours + height]
    if len(rows) != height or any(len(r) < width for r in rows):
        raise SystemExit(f"{path}: fewer pixels than its header says")
    return width, height, [[table[c] for c in r[:width]] for r in rows]


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def icon_image(width, height, pixels):
    palette = sorted({p for row in pixels for p in row if p is not None})
    bits = 4 if len(palette) <= 16 else 8 if len(palette) <= 256 else 32
    colours = 1 << bits if bits <= 8 else 0
    index = {rgb: i for i, rgb in enumerate(palette)}
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):  # bottom-up
        if bits == 32:
            data = b"".join(struct.pack("<I", 0 if p is None else 0xFF000000 | p) for p in row)
        else:
            indices = [0 if p is None else index[p] for p in row]
            per_byte = 8 // bits
            data = bytes(
                sum(v << (8 - bits * (k + 1)) for k, v in enumerate(indices[i:i + per_byte]))
                for i in range(0, width, per_byte))
        colour_rows.append(padded(data))
        mask = bytearray((width + 7) // 8)
        for x, p in enumerate(row):
            if p is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(padded(bytes(mask)))
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, 0, 0, 0, colours, 0)
    table = b"".join(struct.pack("<I", rgb) for rgb in palette)
    table += b"\0" * (4 * colours - len(table))
    return bits, colours, header + table + b"".join(colour_rows) + b"".join(mask_rows)


def main(out, *sources):
    images = [(w, h, *icon_image(w, h, px)) for w, h, px in map(read_xpm, sources)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, blobs = b"", b""
    for w, h, bits, colours, blob in images:
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, colours % 256, 0, 1, bits,
                               len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(out, "wb") as f:
        f.write(directory + entries + blobs)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    main(*sys.argv[1:])
