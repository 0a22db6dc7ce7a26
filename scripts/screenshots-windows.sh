#!/usr/bin/env bash
# Takes the README's pictures of the Windows window under Wine on a virtual X server, as a
# Japanese Windows shows it (code page 932, Shift-JIS examples): docs/screenshots/windows-*.png;
# and as a Western Windows shows it (code page 1252, UTF-8 examples): windows-*-cp1252.png.
# TAVRIN_SHOTS_DIR puts them elsewhere.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/install-windows-deps.sh
# The fonts Wine draws with: a Japanese gothic (found through fontconfig) and Wine's own, whose
# Marlett draws the caption buttons.
for p in fonts-ipafont-gothic fonts-wine; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "screenshots-windows: installing $p"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" >/dev/null
  fi
done
cmake --preset windows >/dev/null
cmake --build --preset windows --target tavrin-screenshots-windows >/dev/null
tool="$top/build/windows/tools/tavrin-screenshots-windows.exe"

# A throwaway Wine prefix, as for the tests, with nothing written outside it.
# shellcheck source=scripts/wine-prefix.sh
. scripts/wine-prefix.sh
target=${TAVRIN_SHOTS_DIR:-$top/docs/screenshots}
mkdir -p "$target"

# Wine draws the frames itself (there is no window manager to), and the faces the window asks
# for stand for the system's Japanese gothic fonts, as on a Japanese Windows.
regfile="$WINEPREFIX/shots.reg"
cat >"$regfile" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS PGothic"="IPAPGothic"
"MS UI Gothic"="IPAPGothic"
"MS Gothic"="IPAGothic"
EOF
# Marlett, for the caption buttons, where this Wine looks first.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine regedit /S "$(winepath -w "$regfile")" >/dev/null 2>&1
wineserver -w

# take LOCALE EXAMPLES SUFFIX: the pictures in the code page Wine takes from the locale, of the
# window listing those examples, as windows-NAME$SUFFIX.png.
take() {
  local shots="$WINEPREFIX/shots$3"
  mkdir -p "$shots"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  LC_ALL=$1 xvfb-run -a -s "-screen 0 1024x768x24" \
    wine "$tool" "$(winepath -w "$top/examples/$2")" "$(winepath -w "$shots")"
  wineserver -w
  to_png "$shots" "$target" "$3"
}

# BMP to PNG with Python's own zlib: RGB, 8 bits, no filter.
to_png() {
  python3 - "$@" <<'EOF'
import pathlib, struct, sys, zlib

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

source, target = map(pathlib.Path, sys.argv[1:3])
suffix = sys.argv[3]
for bmp in sorted(source.glob("*.bmp")):
    data = bmp.read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24 and height > 0, bmp
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))
    png = target / (bmp.stem + suffix + ".png")
    png.write_bytes(b"\x89PNG\r\n\x1a\n"
                    + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
                    + chunk(b"IEND", b""))
    print("wrote", png)
EOF
}

take ja_JP.UTF-8 shift_jis ""
take C.UTF-8 utf-8 -cp1252
# The About box and the menu read the same in either code page: one picture of each is enough.
rm -f "$target/windows-about-cp1252.png" "$target/windows-menu-cp1252.png"
