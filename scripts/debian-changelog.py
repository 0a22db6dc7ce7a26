#!/usr/bin/env python3
"""Writes CHANGELOG.md as the changelog a Debian package made here carries: one entry per
"## VERSION (YYYY-MM-DD)" section, newest first, its "### " headings as [ groups ] and its
"- " items as "*" items.

Usage: debian-changelog.py CHANGELOG.md PACKAGE MAINTAINER OUTPUT
"""
import datetime
import re
import sys
import textwrap


def entries(text):
    """(version, date, lines) per version section, in file order."""
    found = []
    for line in text.splitlines():
        heading = re.match(r"^## (\S+) \((\d{4}-\d{2}-\d{2})\)\s*$", line)
        if heading:
            found.append((heading.group(1), heading.group(2), []))
        elif line.startswith("## "):
            sys.exit(f"debian-changelog: a version heading needs a date: {line!r}")
        elif found:
            found[-1][2].append(line)
    if not found:
        sys.exit("debian-changelog: no version section")
    return found


def paragraphs(lines):
    """("group", text) or ("item", text) in order; an item's indented lines join it."""
    out = []
    for line in lines:
        if line.startswith("### "):
            out.append(("group", line[4:].strip()))
        elif line.startswith("- "):
            out.append(("item", line[2:].strip()))
        elif line.strip() and out and out[-1][0] == "item" and line.startswith(" "):
            out[-1] = ("item", out[-1][1] + " " + line.strip())
        elif line.strip():
            out.append(("item", line.strip()))
    return out


def main():
    source, package, maintainer, output = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    result = []
    for version, date, lines in entries(text):
        result.append(f"{package} ({version}) unstable; urgency=medium\n\n")
        for kind, words in paragraphs(lines):
            words = words.replace("`", "")
            if kind == "group":
                if not result[-1].endswith("\n\n"):
                    result.append("\n")
                result.append(f"  [ {words} ]\n")
            else:
                result.append(textwrap.fill(words, width=78, initial_indent="  * ",
                                            subsequent_indent="    ", break_on_hyphens=False,
                                            break_long_words=False) + "\n")
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        result.append(f"\n -- {maintainer}  {day.strftime('%a, %d %b %Y %H:%M:%S +0000')}\n\n")
    with open(output, "w", encoding="utf-8") as f:
        f.write("".join(result).rstrip("\n") + "\n")


main()
