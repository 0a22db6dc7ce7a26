#!/usr/bin/env python3
"""The conversion written the obvious way in Python, as a yardstick for tavrin-convert:
    convert.py [--codepage 932] TABLE FILE...   writes FILE.txt beside each FILE.
The table is cut like CEntity.txt; each row is one bytes.replace over the whole text, in table
order; then every run from "<" to the next ">" (or to the end) goes. With --codepage 932 an
occurrence is passed over where it would begin on the second byte of a Shift-JIS character: when
the bytes before it that are Shift-JIS lead bytes, counted back to the end of the last replacement,
are odd in number. The texts are taken to hold no NUL byte."""
import re
import sys

ESCAPES = [(b"&tavri:ret;", b"\r\n"), (b"&tavri:tab;", b"\t"), (b"&tavri:nil;", b""),
           (b"&tavri:spe;", b" "), (b"&tavri:equ;", b"=")]
TAG = re.compile(rb"<[^>]*(?:>|\Z)")
SHIFT_JIS_LEAD = [0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC for b in range(256)]


def replace_outside_second_bytes(text, pattern, replacement, lead=SHIFT_JIS_LEAD):
    parts, start = [], 0
    pos = text.find(pattern)
    while pos >= 0:
        run = pos
        while run > start and lead[text[run - 1]]:
            run -= 1
        if (pos - run) % 2:
            pos = text.find(pattern, pos + 1)
            continue
        parts += [text[start:pos], replacement]
        start = pos + len(pattern)
        pos = text.find(pattern, start)
    if not parts:
        return text
    parts.append(text[start:])
    return b"".join(parts)


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
    args = sys.argv[1:]
    shift_jis = args[:2] == ["--codepage", "932"]
    if shift_jis:
        args = args[2:]
    if len(args) < 2:
        sys.exit("usage: convert.py [--codepage 932] TABLE FILE...")
    rows = load_table(args[0])
    for name in args[1:]:
        with open(name, "rb") as f:
            text = f.read()
        for pattern, replacement in rows:
            if shift_jis:
                text = replace_outside_second_bytes(text, pattern, replacement)
            else:
                text = text.replace(pattern, replacement)
        text = TAG.sub(b"", text)
        with open(name + ".txt", "wb") as out:
            out.write(text)


if __name__ == "__main__":
    main()
