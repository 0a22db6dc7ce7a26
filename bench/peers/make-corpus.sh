#!/usr/bin/env bash
# Builds the data the peer comparison runs on, in DIR (default build/peers):
#   corpus.html     real HTML documentation from Debian packages, concatenated (about 120 MB)
#   CEntity.txt     the 252 named entities of HTML 4, "&amp;" last, values in UTF-8
#   empty.txt       a table without rows (conversion = tag removal alone)
#   small/          the documentation's pages of at most 64 KB, one file each
#   adversarial.bin 64 MiB of the byte 0x83, with adversarial.txt: the one row 0x83=0x83
#   dense/          a second corpus, unlike the first: a third Japanese pages in Shift-JIS, the
#                   rest API references in UTF-8, all of dense markup (make-dense.py tells more)
# Idempotent: what exists already is kept.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
dir=${1:-build/peers}
mkdir -p "$dir"
cd "$dir"

packages=(python3.11-doc python-django-doc postgresql-doc-15 cmake-doc)
doc_dirs=(/usr/share/doc/python3.11 /usr/share/doc/python-django-doc
  /usr/share/doc/postgresql-doc-15 /usr/share/doc/cmake-doc)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "make-corpus: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The pages in a fixed order, so every machine builds the same corpus. -H follows the
# packages' symlinked folders.
if [ ! -s corpus.html ] || [ ! -d small ]; then
  rm -rf corpus.html small
  find -H "${doc_dirs[@]}" -type f -name '*.html' -print0 | python3 -c '
import os, shutil, sys
pages = sorted(p for p in sys.stdin.buffer.read().split(b"\0") if p)
os.makedirs("small.part", exist_ok=True)
with open("corpus.html.part", "wb") as corpus:
    for n, page in enumerate(pages, 1):
        with open(page, "rb") as f:
            data = f.read()
        corpus.write(data)
        if len(data) <= 65536:
            name = b"%05d-" % n + os.path.basename(page)
            with open(os.path.join(b"small.part", name), "wb") as out:
                out.write(data)
'
  mv small.part small
  mv corpus.html.part corpus.html
fi

if [ ! -s CEntity.txt ]; then
  python3 - <<'EOF'
import html.entities
names = sorted(html.entities.name2codepoint, key=lambda n: (n == "amp", n))
assert len(names) == 252
with open("CEntity.txt", "wb") as out:
    for n in names:
        out.write(b"&" + n.encode() + b";=" + chr(html.entities.name2codepoint[n]).encode() + b"\r\n")
EOF
fi
[ -e empty.txt ] || : > empty.txt

if [ ! -s adversarial.bin ]; then
  head -c $((64 << 20)) /dev/zero | tr '\0' '\203' > adversarial.bin
  printf '\203=\203\r\n' > adversarial.txt
fi

# The second corpus comes from other packages, unpacked rather than installed: the Japanese help
# depends on its applications, and nothing of these packages but their pages is wanted.
dense_packages=(libreoffice-help-ja gimp-help-ja debian-reference-ja libeigen3-doc libsdl2-doc)
if [ ! -s dense/corpus.html ] || [ ! -d dense/small ] || [ ! -s dense/CEntity.txt ]; then
  mkdir -p dense/debs
  rm -rf dense/pkgs dense/small dense/small.part dense/corpus.html
  for p in "${dense_packages[@]}"; do
    if ! ls dense/debs/"${p}"_*.deb >/dev/null 2>&1; then
      [ -n "${updated:-}" ] || { $sudo apt-get update -qq; updated=1; }
      # apt downloads as its own user where it may write; this folder need not be its.
      (cd dense/debs && apt-get download -qq "$p" 2> >(grep -v 'unsandboxed' >&2))
    fi
    deb=$(ls dense/debs/"${p}"_*.deb | sort -V | tail -n 1)
    mkdir -p "dense/pkgs/$p"
    dpkg-deb -x "$deb" "dense/pkgs/$p"
  done
  python3 "$here/make-dense.py" dense "${dense_packages[@]}"
  rm -rf dense/pkgs
fi

echo "make-corpus: $(stat -c %s corpus.html) bytes of HTML, $(ls small | wc -l) small files in $PWD" >&2
echo "make-corpus: dense: $(stat -c %s dense/corpus.html) bytes of HTML," \
  "$(ls dense/small | wc -l) small files, from $(cd dense/debs && ls | tr '\n' ' ')" >&2
