#!/usr/bin/env python3
"""Writes the example replacement tables: examples/utf-8/CEntity.txt and
examples/shift_jis/CEntity.txt, one line per HTML 4 named entity, "&amp;" last so that an
escaped entity such as "&amp;lt;" comes out as the text "&lt;" and is not decoded twice.

"<" and ">" become their full-width forms: a plain "<" would start a tag for the tag removal
that follows, and the text after it would vanish. A no-break space becomes a plain space.
In Shift-JIS, characters the code page lacks get the nearest stand-in it has."""
import html.entities
import os
import unicodedata

OVERRIDES = {"lt": "\uff1c", "gt": "\uff1e", "nbsp": " "}
SJIS_FALLBACK = {
    "\u2002": " ", "\u2003": " ", "\u2009": " ", "\u200c": "", "\u200d": "", "\u200e": "",
    "\u200f": "", "\u00ad": "", "\u2013": "-", "\u2014": "\u2015", "\u2018": "\u2018",
    "\u201a": ",", "\u201e": ",,", "\u2039": "<", "\u203a": ">", "\u2022": "\u30fb",
    "\u2026": "\u2026", "\u2122": "(TM)", "\u00a9": "(C)", "\u00ae": "(R)", "\u00a0": " ",
    "\u00bd": "1/2", "\u00bc": "1/4", "\u00be": "3/4", "\u00b9": "1", "\u00b2": "2",
    "\u00b3": "3", "\u00aa": "a", "\u00ba": "o", "\u00ab": "<<", "\u00bb": ">>",
    "\u00a6": "|", "\u00a1": "!", "\u00bf": "?", "\u00b7": "\u30fb", "\u00b8": ",",
    "\u00af": "\uffe3", "\u00a4": "\u00a4", "\u00a2": "\uffe0", "\u00a3": "\uffe1",
    "\u00a5": "\uffe5", "\u00ac": "\uffe2", "\u00b5": "\u03bc", "\u00c6": "AE", "\u00e6": "ae",
    "\u0152": "OE", "\u0153": "oe", "\u00df": "ss", "\u00d0": "D", "\u00f0": "d",
    "\u00de": "TH", "\u00fe": "th", "\u00f8": "o", "\u00d8": "O", "\u0192": "f",
    "\u02c6": "^", "\u02dc": "~", "\u2030": "\u2030", "\u2032": "\u2032", "\u2033": "\u2033",
    "\u203e": "\uffe3", "\u2044": "/", "\u20ac": "EUR", "\u2111": "I", "\u2118": "P",
    "\u211c": "R", "\u2135": "\u2135", "\u2205": "\u03c6", "\u2217": "*", "\u221d": "\u221d",
    "\u2220": "\u2220", "\u2245": "\u2252", "\u2248": "\u2252", "\u2264": "\u2266",
    "\u2265": "\u2267", "\u2295": "(+)", "\u2297": "(x)", "\u22c5": "\u30fb",
    "\u2308": "[", "\u2309": "]", "\u230a": "[", "\u230b": "]", "\u2329": "\u3008",
    "\u232a": "\u3009", "\u25ca": "\u25c7", "\u2660": "\u2660", "\u2663": "\u2663",
    "\u2665": "\u2661", "\u2666": "\u25c6", "\u03c2": "\u03c3", "\u03d1": "\u03b8",
    "\u03d2": "\u03a5", "\u03d6": "\u03c0", "\u2190": "\u2190", "\u21b5": "\u2190",
    "\u21d0": "\u21d0", "\u21d1": "\u2191", "\u21d3": "\u2193", "\u2194": "\u2190\u2192",
    "\u21d4": "\u21d4", "\u2212": "\u2212", "\u2216": "\uff3c", "\u223c": "\uff5e",
    "\u2284": "\u2282", "\u2309": "]", "\u00b4": "\u00b4", "\u00a8": "\u00a8",
}


def sjis(text):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError:
        pass
    if text in SJIS_FALLBACK:
        try:
            return SJIS_FALLBACK[text].encode("cp932")
        except UnicodeEncodeError:
            pass
    base = "".join(c for c in unicodedata.normalize("NFKD", text) if not unicodedata.combining(c))
    try:
        return base.encode("cp932")
    except UnicodeEncodeError:
        return b"?"


def main():
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    names = sorted(html.entities.name2codepoint, key=lambda n: (n == "amp", n.lower(), n))
    rows = [(n, OVERRIDES.get(n, chr(html.entities.name2codepoint[n]))) for n in names]
    for folder, encode in (("utf-8", lambda t: t.encode("utf-8")), ("shift_jis", sjis)):
        os.makedirs(os.path.join(top, folder), exist_ok=True)
        with open(os.path.join(top, folder, "CEntity.txt"), "wb") as out:
            for name, text in rows:
                value = b"&tavri:spe;" if text == " " else encode(text)
                out.write(b"&" + name.encode() + b";=" + value + b"\r\n")


if __name__ == "__main__":
    main()
