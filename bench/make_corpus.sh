#!/usr/bin/env bash
# Builds the default benchmark corpus from what this machine has, into
# bench/corpus (or the folder given). Texts are named .txt and binary data
# .dat, so that vesk picks its text and mixed methods.
#   text:  Debian changelogs, licence files, C headers (source code), rendered
#          manual pages, and a 1 KB text for the small-file round trip
#   mixed: x86-64 executables and libraries, a tar of a source tree, an
#          uncompressed image, synthesised speech, and a 1 KB file
set -eu  # no pipefail: head closes the pipes it has read enough of
out=${1:-$(dirname "$0")/corpus}
mkdir -p "$out"
cd "$out"
take() { head -c "$1" || true; }

find /usr/share/doc -name 'changelog*.gz' | sort | xargs zcat 2>/dev/null | take 20000000 > changelogs.txt
find /usr/share/doc -name copyright -type f | sort | xargs cat 2>/dev/null | take 10000000 > licences.txt
find /usr/include -name '*.h' -type f | sort | xargs cat 2>/dev/null | take 10000000 > headers.txt
if command -v man >/dev/null; then
  ls /usr/share/man/man1/*.gz 2>/dev/null | head -300 | while read -r f; do
    MANWIDTH=80 man -l "$f" 2>/dev/null | col -bx
  done > manpages.txt || true
fi
take 1000 < changelogs.txt > small1k.txt

# Binary data for the mixed method.
cat /usr/bin/gdb /usr/bin/cmake 2>/dev/null | take 20000000 > executables.dat || true
ls -S /usr/lib/x86_64-linux-gnu/*.so* 2>/dev/null | head -40 | xargs cat 2>/dev/null | take 20000000 > libraries.dat || true
tar -cf - -C /usr/include . 2>/dev/null | take 20000000 > source-tree.dat || true
find /usr/share /usr/lib /opt "$HOME" -xdev -name '*.png' -size +20k 2>/dev/null > pngs.list || true
python3 - <<'PY' || true
# An uncompressed image: the largest PNG on the machine decoded to PPM.
import os, struct, zlib
def png_to_ppm(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n': return None
    pos, idat, w = 8, b'', 0
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8]); body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            w, h, depth, ctype, _, _, lace = struct.unpack('>IIBBBBB', body)
            if depth != 8 or ctype not in (2, 6) or lace: return None
            bpp = 3 if ctype == 2 else 4
        elif kind == b'IDAT': idat += body
        pos += 12 + n
    raw, stride, prev, out = zlib.decompress(idat), w * bpp, bytearray(w * bpp), bytearray()
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0; b = prev[i]; c = prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        for x in range(w): out += line[x * bpp:x * bpp + 3]
        prev = line
    return b'P6\n%d %d\n255\n' % (w, h) + bytes(out)
# Prefer a photograph: of the PNGs of 200,000 to 2,000,000 pixels, the one that
# PNG packs worst (most bytes per pixel); icons and screenshots pack far
# better than photos and would make an unusually easy image.
def pixels(path):
    head = open(path, 'rb').read(33)
    if head[:8] != b'\x89PNG\r\n\x1a\n': return 0
    w, h = struct.unpack('>II', head[16:24])
    return w * h
pngs = open('pngs.list').read().split('\n')
scored = []
for p in pngs:
    try:
        n = pixels(p) if p else 0
        if 200000 <= n <= 2000000: scored.append((os.path.getsize(p) / n, p))
    except OSError:
        pass
for _, p in sorted(scored, reverse=True)[:20]:
    try:
        img = png_to_ppm(p)
    except Exception:
        img = None
    if img:
        open('image.dat', 'wb').write(img); break
PY
rm -f pngs.list
if ! command -v espeak-ng >/dev/null && [ "$(id -u)" = 0 ]; then
  (apt-get install -y -qq espeak-ng >/dev/null 2>&1 || true)
fi
if command -v espeak-ng >/dev/null; then
  take 2500 < licences.txt | espeak-ng -w speech.dat --stdin 2>/dev/null || true
fi
take 1000 < executables.dat > small1k.dat
find . -size 0 -delete
ls -l
