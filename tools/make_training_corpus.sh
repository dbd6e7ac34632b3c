#!/usr/bin/env bash
# Builds the corpus that the byte predictor's probability rows are fitted on
# (tools/predictor_rows) into tools/training (or the folder given), from
# Debian 12 packages pinned by version. None of them feeds the benchmark
# corpus (bench/make_corpus.sh), so the rows are judged on data they were not
# fitted to. Each .deb is fetched with `apt-get download PACKAGE=VERSION` and
# unpacked apart; nothing is installed. Every piece is checked against the
# sha256 in tools/training.sha256: a piece that differs is removed and the
# script exits with status 1, so the rows are never fitted to other data.
#
#   piece            made from
#   manuals.txt      the info manuals of gnu-standards and bash-doc, then bash-doc's bashref.html
#   python.txt       the *.py files of python3-docutils (sorted by path)
#   code.dat         /usr/bin/gawk (gawk), then 3,000,000 bytes of libz3.so.4 (libz3-4) from
#                    offset 1,000,000
#   sounds.dat       the WAV files of alsa-utils (/usr/share/sounds/alsa, sorted)
#   fonts.dat        DejaVuSans.ttf and DejaVuSerif.ttf (fonts-dejavu-core)
#   tree.dat         a tar (sorted names, fixed owner and times) of docutils' package folder
#                    and bash-doc's examples
#
# Usage: tools/make_training_corpus.sh [FOLDER]
set -euo pipefail
PACKAGES=(gawk=1:5.2.1-2 libz3-4=4.8.12-3.1 alsa-utils=1.2.8-1 fonts-dejavu-core=2.37-6
  bash-doc=5.2.15-2 gnu-standards=2022.03.23-0.1 python3-docutils=0.19+dfsg-6)

here=$(cd "$(dirname "$0")" && pwd)
sums=$here/training.sha256
out=${1:-$here/training}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for pv in "${PACKAGES[@]}"; do
  p=${pv%%=*}
  mkdir -p "$work/debs/$p" "$work/root/$p"
  if ! (cd "$work/debs/$p" && apt-get download -q -o APT::Sandbox::User=root "$pv") \
    >"$work/log" 2>&1; then
    echo "cannot fetch $pv: $(tail -1 "$work/log")" >&2
    exit 1
  fi
  dpkg-deb -x "$work/debs/$p"/*.deb "$work/root/$p"
done
r=$work/root

cd "$out"
rm -f ./*.txt ./*.dat
{
  for f in gnu-standards/usr/share/info/standards.info.gz gnu-standards/usr/share/info/maintain.info.gz \
    bash-doc/usr/share/info/bash.info.gz; do
    zcat "$r/$f"
  done
  cat "$r/bash-doc/usr/share/doc/bash/bashref.html"
} >manuals.txt
(cd "$r/python3-docutils" && find . -name '*.py' -type f -print0 | LC_ALL=C sort -z |
  xargs -0 cat) >python.txt
{
  cat "$r/gawk/usr/bin/gawk"
  tail -c +1000001 "$r/libz3-4/usr/lib/x86_64-linux-gnu/libz3.so.4" | head -c 3000000 || true
} >code.dat
(cd "$r/alsa-utils/usr/share/sounds/alsa" && find . -name '*.wav' -type f -print0 |
  LC_ALL=C sort -z | xargs -0 cat) >sounds.dat
cat "$r"/fonts-dejavu-core/usr/share/fonts/truetype/dejavu/{DejaVuSans,DejaVuSerif}.ttf >fonts.dat
mkdir -p "$work/tree"
cp -a "$r/python3-docutils/usr/lib/python3/dist-packages/docutils" "$work/tree/"
cp -a "$r/bash-doc/usr/share/doc/bash/examples" "$work/tree/"
LC_ALL=C tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --mode=go-w --format=gnu \
  -cf tree.dat -C "$work/tree" .

if [ "${VESK_TRAINING_WRITE_SUMS:-}" = 1 ]; then
  sha256sum -- *.txt *.dat >"$sums"
  echo "wrote $sums"
fi
bad=0
while read -r sum name; do
  if [ ! -f "$name" ] || [ "$(sha256sum "$name" | cut -d' ' -f1)" != "$sum" ]; then
    echo "$name: not the expected data (sha256 differs from tools/training.sha256); removed" >&2
    rm -f "$name"
    bad=1
  fi
done <"$sums"
[ $bad = 0 ] || exit 1
ls -l "$out"
echo "training corpus complete: $out"
