#!/usr/bin/env bash
# Builds the benchmark corpus into bench/corpus (or the folder given) from
# named Debian packages, so that the same Debian release gives the same
# files on any machine: each package's .deb is fetched with `apt-get
# download` and unpacked apart; nothing is installed for the pieces except
# espeak-ng, which speaks the speech sample, and man-db, which renders the
# manual pages. Texts are named .txt and binary data .dat, so that vesk picks
# its text and mixed methods.
#
#   piece             made from
#   changelogs.txt    the changelogs in /usr/share/doc of CHANGELOGS (list order), 20,000,000 bytes
#   licences.txt      the licences in /usr/share/common-licenses (base-files), then the copyright
#                     files of every package named here (sorted), 10,000,000 bytes at most
#   headers.txt       every *.h under /usr/include of HEADERS (sorted by path), 10,000,000 bytes
#   manpages.txt      the section-1 manual pages of MANPAGES rendered 80 columns wide (sorted)
#   small1k.txt       the first 1,000 bytes of changelogs.txt
#   executables.dat   /usr/bin/gdb (gdb) and /usr/bin/cmake (cmake), 20,000,000 bytes
#   libraries.dat     the shared libraries of LIBRARIES (list order), 20,000,000 bytes
#   source-tree.dat   a tar (sorted names, fixed owner and times) of /usr/include of HEADERS,
#                     20,000,000 bytes at most
#   image.dat         astronaut.png of python3-skimage (a 512x512 photograph) as PPM
#   speech.dat        espeak-ng reading the first 2,500 bytes of GPL-3 (base-files), WAV
#   small1k.dat       the first 1,000 bytes of executables.dat
#
# With --large (into bench/corpus-large, or the folder given after it), the
# pieces of 100 MB and more that the framed archive is measured on:
#   kernel-tar.txt    the first 150,000,000 bytes of the kernel source tar of KERNEL_SOURCE
#   llvm-library.dat  the shared library of LLVM_LIBRARY, 150,000,000 bytes at most
#
# With --everyday (into bench/corpus-everyday, or the folder given after
# it), files under everyday names, from other packages than the pieces
# above, whose method vesk picks by content (bench/methods.py measures
# them): a tar of the bison package and one of python3.11-minimal, the
# Unicode table as .csv, an ISO 639-3 .json, C sources of bison and
# lemon, a git manual .html, bison's README.md, libsqlite3.so, the python3.11
# binary (no extension), two alsa-utils .wav sounds, this machine's
# dpkg.log; and data that does not compress: a .png and two .jpg of
# python3-skimage, a .pdf.gz of nettle-dev, the bison tar as .xz, the
# python tar as .zst, and random bytes.
#
# Writes manifest.tsv beside the pieces: name, bytes, sha256, and the
# packages (name=version) each piece was made from. A package that cannot
# be fetched or a piece that cannot be made is reported at the end, the
# manifest marks it, and the script exits with status 1; nothing is dropped
# silently.
set -u
CHANGELOGS=(strace git libharfbuzz0b linux-libc-dev libgnutls30 libmpfr6 gnupg libgmp10 fontconfig
  wget findutils tar)
HEADERS=(linux-libc-dev libc6-dev libglib2.0-dev libgtk-3-dev libx11-dev libssl-dev libxml2-dev
  libsqlite3-dev zlib1g-dev libncurses-dev libgnutls28-dev libgmp-dev libcurl4-openssl-dev
  libpython3.11-dev)
MANPAGES=(git-man coreutils findutils tar gdb cmake strace wget gpg)
EXECUTABLES=(gdb cmake)
LIBRARIES=(libstdc++6 libssl3 libpython3.11 libgnutls30 libc6 libapt-pkg6.0 libxml2 libglib2.0-0)
LICENCE_EXTRA=(libboost-regex1.74.0 perl-base manpages)
KERNEL_SOURCE=linux-source-6.1
LLVM_LIBRARY=libllvm15

here=$(cd "$(dirname "$0")" && pwd)
large=false
everyday=false
case "${1:-}" in
  --large) large=true; shift ;;
  --everyday) everyday=true; shift ;;
esac
if $large; then out=${1:-$here/corpus-large}
elif $everyday; then out=${1:-$here/corpus-everyday}
else out=${1:-$here/corpus}; fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$out"

declare -A version       # package -> version fetched
declare -A unavailable   # package -> why it could not be fetched
problems=()
manifest=()

. "$here/../scripts/deps.sh"
install_missing espeak-ng=espeak-ng man=man-db col=bsdextrautils ||
  problems+=("tools: espeak-ng, man-db or bsdextrautils missing")

# Fetches and unpacks each package into $work/root/PACKAGE.
fetch() {
  local p deb
  for p in "$@"; do
    [ -n "${version[$p]:-}" ] || [ -n "${unavailable[$p]:-}" ] && continue
    mkdir -p "$work/debs/$p"
    if ! (cd "$work/debs/$p" && apt-get download -q -o APT::Sandbox::User=root "$p") \
      >"$work/log" 2>&1; then
      unavailable[$p]=$(tail -1 "$work/log")
      echo "cannot fetch $p: ${unavailable[$p]}" >&2
      continue
    fi
    deb=$(ls "$work/debs/$p"/*.deb)
    mkdir -p "$work/root/$p"
    dpkg-deb -x "$deb" "$work/root/$p"
    version[$p]=$(dpkg-deb -f "$deb" Version)
  done
}

# Files of the packages' trees under a path, matching a find expression.
files_of() {
  local path=$1 p
  shift 1
  local pkgs=() expr=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do pkgs+=("$1"); shift; done
  shift
  expr=("$@")
  for p in "${pkgs[@]}"; do
    [ -d "$work/root/$p$path" ] && find "$work/root/$p$path" "${expr[@]}" -print0 |
      sort -z | while IFS= read -r -d '' f; do printf '%s\t%s\n' "${f#"$work/root/$p"}" "$f"; done
  done
}

take() { head -c "$1" || true; }

# Records a piece in the manifest; a missing or empty piece is reported.
finish() {
  local name=$1 why=$2
  shift 2
  local p sources=() lacking=()
  for p in "$@"; do
    if [ -n "${version[$p]:-}" ]; then sources+=("$p=${version[$p]}"); else lacking+=("$p"); fi
  done
  local src=${sources[*]:-none}
  if [ ! -s "$name" ]; then
    rm -f "$name"
    problems+=("$name: MISSING ($why${lacking[*]:+; not fetched: ${lacking[*]}})")
    manifest+=("$name"$'\t-\t-\tMISSING\t'"$src")
    return
  fi
  local state=ok
  if [ ${#lacking[@]} -gt 0 ]; then
    state=INCOMPLETE
    problems+=("$name: INCOMPLETE (not fetched: ${lacking[*]})")
  fi
  local t=$'\t'
  manifest+=("$name$t$(stat -c %s "$name")$t$(sha256sum "$name" | cut -d' ' -f1)$t$state$t$src")
}

rm -f ./*.txt ./*.dat manifest.tsv

if $everyday; then
  rm -f ./*.tar ./*.csv ./*.md ./*.json ./*.c ./*.html ./*.so ./*.wav ./*.log ./*.png ./*.jpg \
    ./*.gz ./*.xz ./*.zst ./*.bin python3.11
  root=$work/root
  fetch bison python3.11-minimal unicode-data iso-codes lemon git-doc libsqlite3-0 \
    alsa-utils python3-skimage nettle-dev
  pack_tar() { tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --format=gnu -cf - \
    -C "$root/$1" . 2>/dev/null; }
  pack_tar bison >bison.tar
  finish bison.tar "bison not fetched" bison
  pack_tar python3.11-minimal >python-minimal.tar
  finish python-minimal.tar "python3.11-minimal not fetched" python3.11-minimal
  copy() { [ -f "$root/$2/$3" ] && cp "$root/$2/$3" "$1"; finish "$1" "$3 not found" "$2"; }
  copy UnicodeData.csv unicode-data usr/share/unicode/UnicodeData.txt
  copy iso_639-3.json iso-codes usr/share/iso-codes/json/iso_639-3.json
  copy yacc.c bison usr/share/bison/skeletons/yacc.c
  copy lempar.c lemon usr/share/lemon/lempar.c
  copy git-log.html git-doc usr/share/doc/git-doc/git-log.html
  copy README.md bison usr/share/bison/README.md
  copy libsqlite3.so libsqlite3-0 usr/lib/x86_64-linux-gnu/libsqlite3.so.0.8.6
  copy python3.11 python3.11-minimal usr/bin/python3.11
  copy Front_Center.wav alsa-utils usr/share/sounds/alsa/Front_Center.wav
  copy Noise.wav alsa-utils usr/share/sounds/alsa/Noise.wav
  [ -f /var/log/dpkg.log ] && take 1000000 </var/log/dpkg.log >dpkg.log
  finish dpkg.log "/var/log/dpkg.log missing"
  skimage=usr/lib/python3/dist-packages/skimage/data
  copy astronaut.png python3-skimage $skimage/astronaut.png  # stored deflate: it compresses
  copy coffee.png python3-skimage $skimage/coffee.png
  copy rocket.jpg python3-skimage $skimage/rocket.jpg
  copy retina.jpg python3-skimage $skimage/retina.jpg
  copy nettle.pdf.gz nettle-dev usr/share/doc/nettle-dev/nettle.pdf.gz
  [ -s bison.tar ] && xz -9 -c bison.tar >bison.tar.xz
  finish bison.tar.xz "bison.tar missing" bison
  [ -s python-minimal.tar ] && command -v zstd >/dev/null && zstd -19 -q -c python-minimal.tar >python-minimal.tar.zst
  finish python-minimal.tar.zst "python-minimal.tar or zstd missing" python3.11-minimal
  python3 -c 'import random, sys; r = random.Random(1); sys.stdout.buffer.write(r.randbytes(4000000))' >random.bin
  finish random.bin "python3 missing"
elif $large; then
  fetch "$KERNEL_SOURCE"
  tarxz=$(find "$work/root/$KERNEL_SOURCE/usr/src" -name '*.tar.xz' 2>/dev/null | head -1)
  [ -n "$tarxz" ] && xz -dc "$tarxz" | take 150000000 >kernel-tar.txt
  finish kernel-tar.txt "no kernel source tar found" "$KERNEL_SOURCE"
  fetch "$LLVM_LIBRARY"
  files_of /usr/lib/x86_64-linux-gnu "$LLVM_LIBRARY" -- -maxdepth 1 -type f -name 'libLLVM*.so*' |
    cut -f2 | tr "\n" "\0" | xargs -0 -r cat 2>/dev/null | take 150000000 >llvm-library.dat
  finish llvm-library.dat "no LLVM library found" "$LLVM_LIBRARY"
else
# Texts.
fetch "${CHANGELOGS[@]}"
for p in "${CHANGELOGS[@]}"; do
  [ -d "$work/root/$p/usr/share/doc/$p" ] || continue
  find "$work/root/$p/usr/share/doc/$p" -maxdepth 1 -type f -name 'changelog*.gz' | sort |
    xargs -r zcat 2>/dev/null
done | take 20000000 >changelogs.txt
finish changelogs.txt "no changelog found" "${CHANGELOGS[@]}"

fetch "${HEADERS[@]}"
files_of /usr/include "${HEADERS[@]}" -- -type f -name '*.h' | sort | cut -f2 |
  tr "\n" "\0" | xargs -0 -r cat 2>/dev/null | take 10000000 >headers.txt
finish headers.txt "no header found" "${HEADERS[@]}"

fetch "${MANPAGES[@]}"
files_of /usr/share/man/man1 "${MANPAGES[@]}" -- -type f -name '*.1*' | sort | cut -f2 |
  while IFS= read -r f; do MANWIDTH=80 man -l "$f" 2>/dev/null | col -bx; done >manpages.txt
finish manpages.txt "no manual page rendered" "${MANPAGES[@]}"

take 1000 <changelogs.txt >small1k.txt
finish small1k.txt "changelogs.txt is missing" "${CHANGELOGS[@]}"

# Binary data for the mixed method.
fetch "${EXECUTABLES[@]}"
cat "$work/root/gdb/usr/bin/gdb" "$work/root/cmake/usr/bin/cmake" 2>/dev/null |
  take 20000000 >executables.dat
finish executables.dat "no executable found" "${EXECUTABLES[@]}"

fetch "${LIBRARIES[@]}"
for p in "${LIBRARIES[@]}"; do
  files_of /usr/lib/x86_64-linux-gnu "$p" -- -maxdepth 1 -type f -name '*.so*' | cut -f2
done | tr "\n" "\0" | xargs -0 -r cat 2>/dev/null | take 20000000 >libraries.dat
finish libraries.dat "no library found" "${LIBRARIES[@]}"

mkdir -p "$work/include"
for p in "${HEADERS[@]}"; do
  [ -d "$work/root/$p/usr/include" ] && cp -a "$work/root/$p/usr/include/." "$work/include/"
done
tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --format=gnu -cf - \
  -C "$work/include" . 2>/dev/null | take 20000000 >source-tree.dat
finish source-tree.dat "no header found" "${HEADERS[@]}"

fetch python3-skimage
python3 - "$work/root/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png" \
  image.dat <<'PY' || true
# An uncompressed photograph: a PNG decoded to PPM (8-bit RGB or RGBA, not interlaced).
import struct, sys, zlib
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
img = png_to_ppm(sys.argv[1])
if img: open(sys.argv[2], 'wb').write(img)
PY
finish image.dat "astronaut.png not found or not decodable" python3-skimage

fetch base-files
gpl="$work/root/base-files/usr/share/common-licenses/GPL-3"
if command -v espeak-ng >/dev/null && [ -f "$gpl" ]; then
  take 2500 <"$gpl" | espeak-ng -w speech.dat --stdin 2>/dev/null || true
fi
finish speech.dat "espeak-ng or GPL-3 missing" base-files

take 1000 <executables.dat >small1k.dat 2>/dev/null
finish small1k.dat "executables.dat is missing" "${EXECUTABLES[@]}"

# The licences last: the copyright file of every package named above.
all=(base-files "${CHANGELOGS[@]}" "${HEADERS[@]}" "${MANPAGES[@]}" "${EXECUTABLES[@]}"
  "${LIBRARIES[@]}" python3-skimage "${LICENCE_EXTRA[@]}")
mapfile -t all < <(printf '%s\n' "${all[@]}" | sort -u)
fetch "${all[@]}"
{
  find "$work/root/base-files/usr/share/common-licenses" -type f 2>/dev/null | sort | xargs -r cat
  for p in "${all[@]}"; do
    [ -f "$work/root/$p/usr/share/doc/$p/copyright" ] && cat "$work/root/$p/usr/share/doc/$p/copyright"
  done
} | take 10000000 >licences.txt
finish licences.txt "no licence found" "${all[@]}"
fi

{
  printf '# vesk benchmark corpus, made by bench/make_corpus.sh on Debian %s\n' \
    "$(cat /etc/debian_version 2>/dev/null || echo '?')"
  printf 'name\tbytes\tsha256\tstate\tsources\n'
  printf '%s\n' "${manifest[@]}"
} >manifest.tsv

ls -l
if [ ${#problems[@]} -gt 0 ]; then
  echo "The corpus in $out is not complete:" >&2
  printf '  %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "corpus complete: $out (manifest.tsv)"
