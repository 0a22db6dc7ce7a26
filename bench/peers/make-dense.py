#!/usr/bin/env python3
"""Builds the second corpus from unpacked documentation packages, as a Japanese user on a
Shift-JIS desktop would have it:

    make-dense.py DIR PACKAGE...   (the packages unpacked in DIR/pkgs/PACKAGE)

The pages of the packages named *-ja are Japanese; each becomes what a site in Shift-JIS serves:
decoded from UTF-8, its declared charset changed to Shift_JIS, encoded in code page 932, and every
character that code page lacks (no-break spaces, emoji, the wave dash) written as a numeric
character reference, as such sites write them. The other pages are API references generated from
source, kept as they are (UTF-8). Both kinds are dense markup: tag removal keeps under 30% of the
bytes.

Writes into DIR:
  corpus.html   every page once in a fixed mixed order, then again from the first page until the
                file reaches 120,000,000 bytes
  small/        pages of at most 64 KiB, one file each, numbered in that order: every such
                reference page, and Japanese pages while they stay within a third of the bytes
  CEntity.txt   the table such a user would keep, saved in code page 932: 18 rows of the kind real
                tables add (numeric references the pages use, line breaks for the tags that end a
                line or a cell), then the 252 named entities of HTML 4 with "&amp;" last; a
                character the code page lacks is "?" (as an editor saving in that code page
                writes it), except the no-break space, which is a space
  STATS.txt     sizes, the share of Shift-JIS bytes and the markup density, for the record
The order and every byte depend only on the packages' contents: the same on every machine."""
import hashlib
import html.entities
import os
import re
import sys

BIG = 120_000_000
SMALL = 65536
TAG = re.compile(rb"<[^>]*(?:>|\Z)")
CHARSET = re.compile(r"""((?:<meta[^>]*charset=|<\?xml[^>]*encoding=)["']?)utf-8""", re.I)

# Rows a user adds beside the named entities: the numeric references these pages use most, and
# line breaks where a tag ends a line, a paragraph or a table cell.
EXTRA_ROWS = [
    ("<br>", "&tavri:ret;"), ("<br />", "&tavri:ret;"), ("<br/>", "&tavri:ret;"),
    ("</p>", "&tavri:ret;"), ("</li>", "&tavri:ret;"), ("</tr>", "&tavri:ret;"),
    ("</td>", "&tavri:tab;"),
    ("&#160;", " "), ("&#xa0;", " "), ("&#39;", "'"), ("&#x27;", "'"), ("&#34;", '"'),
    ("&#x22;", '"'), ("&#124;", "|"), ("&#45;", "-"), ("&#8211;", "-"), ("&#8212;", "\u2015"),
    ("&#9670;", "\u25c6"),
]


def table():
    names = sorted(html.entities.name2codepoint, key=lambda n: (n == "amp", n))
    rows = EXTRA_ROWS + [("&" + n + ";", chr(html.entities.name2codepoint[n])) for n in names]
    assert len(rows) == 270
    out = b""
    for pattern, value in rows:
        if value == "\xa0":
            value = " "
        out += pattern.encode() + b"=" + value.encode("cp932", errors="replace") + b"\r\n"
    return out


def shift_jis(page):
    text = CHARSET.sub(r"\1Shift_JIS", page.decode("utf-8"))
    return text.encode("cp932", errors="xmlcharrefreplace")


def main():
    out, packages = sys.argv[1], sys.argv[2:]
    pages = []
    for package in packages:
        root = os.path.join(out, "pkgs", package)
        for folder, _, files in os.walk(root):
            for name in files:
                path = os.path.join(folder, name)
                if name.endswith(".html") and not os.path.islink(path):
                    key = package + "/" + os.path.relpath(path, root)
                    pages.append((hashlib.sha1(key.encode()).hexdigest(), key, path, package))
    # Mixed by a hash of each name, so that every stretch of the corpus has about the same share
    # of Japanese pages, and any prefix repeated keeps it.
    pages.sort()

    converted = []
    for _, key, path, package in pages:
        with open(path, "rb") as f:
            data = f.read()
        japanese = package.endswith("-ja")
        converted.append((os.path.basename(key), shift_jis(data) if japanese else data, japanese))

    small = os.path.join(out, "small.part")
    os.makedirs(small, exist_ok=True)
    small_bytes = small_sjis = small_count = small_kept = 0
    for n, (name, data, japanese) in enumerate(converted, 1):
        # The Japanese help comes in many small pages: a Japanese page is taken only while
        # they make at most a third of the folder's bytes, as in the big file.
        if len(data) <= SMALL and (
                not japanese or 2 * (small_sjis + len(data)) <= small_bytes - small_sjis):
            with open(os.path.join(small, "%05d-%s" % (n, name)), "wb") as f:
                f.write(data)
            small_bytes += len(data)
            small_sjis += len(data) if japanese else 0
            small_kept += len(TAG.sub(b"", data))
            small_count += 1

    size = sjis = kept = once = 0
    with open(os.path.join(out, "corpus.html.part"), "wb") as corpus:
        while size < BIG:
            for _, data, japanese in converted:
                corpus.write(data)
                size += len(data)
                sjis += len(data) if japanese else 0
                kept += len(TAG.sub(b"", data))
                if size >= BIG:
                    break
            once = once or size
    with open(os.path.join(out, "CEntity.txt"), "wb") as f:
        f.write(table())

    stats = (f"pages: {len(converted)}, {sum(j for *_, j in converted)} of them Japanese in "
             f"Shift-JIS; once through {once} bytes\n"
             f"corpus.html: {size} bytes, {sjis / size:.1%} of them Shift-JIS pages; tag removal "
             f"keeps {kept / size:.1%}\n"
             f"small/: {small_count} pages, {small_bytes} bytes ({small_bytes / small_count:,.0f} "
             f"on average), {small_sjis / small_bytes:.1%} of them Shift-JIS pages; tag removal "
             f"keeps {small_kept / small_bytes:.1%}\n")
    with open(os.path.join(out, "STATS.txt"), "w") as f:
        f.write(stats)
    sys.stderr.write(stats)
    os.replace(small, os.path.join(out, "small"))
    os.replace(os.path.join(out, "corpus.html.part"), os.path.join(out, "corpus.html"))


if __name__ == "__main__":
    main()
