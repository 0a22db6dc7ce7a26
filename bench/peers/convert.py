#!/usr/bin/env python3
"""The conversion written the obvious way in Python, as a yardstick for tavrin-convert:
    convert.py TABLE FILE...   writes FILE.txt beside each FILE.
The table is cut like CEntity.txt; each row is one bytes.replace over the whole text, in table
order; then every run from "<" to the next ">" (or to the end) goes."""
import re
import sys

ESCAPES = [(b"&tavri:ret;", b"\r\n"), (b"&tavri:tab;", b"\t"), (b"&tavri:nil;", b""),
           (b"&tavri:spe;", b" "), (b"&tavri:equ;", b"=")]
TAG = re.compile(rb"<[^>]*(?:>|\Z)")


def load_table(name):
    with open(name, "rb") as f:
        text = f.read().replace(b"\n", b"")
    rows = []
    for line in text.split(b"\r"):
        fields = re.split(rb"=+", line.lstrip(b"="))
        if len(fields) < 2:
            continue
        decoded = []
        for field in fields:
            for escape, value in ESCAPES:
                field = field.replace(escape, value)
            decoded.append(field)
        if decoded[0]:
            rows.append((decoded[0], decoded[1]))
    return rows


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: convert.py TABLE FILE...")
    rows = load_table(sys.argv[1])
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            text = f.read()
        for pattern, replacement in rows:
            text = text.replace(pattern, replacement)
        text = TAG.sub(b"", text)
        with open(name + ".txt", "wb") as out:
            out.write(text)


if __name__ == "__main__":
    main()
