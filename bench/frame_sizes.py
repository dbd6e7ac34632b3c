#!/usr/bin/env python3
"""Size of the framed archive against the single archive, per file and frame size.

    bench/frame_sizes.py [--vesk PATH] [--sizes 4M,16M,64M] [--threads N] FILE...

For every file: the single archive's size (plain `vesk -c`), then for each
frame size the framed archive's size (`vesk -T N --frame-size=S`) and its
change against the single archive. Prints a Markdown table. The archive does
not depend on the thread count, so N only sets how long this takes.
"""
import argparse
import os
import subprocess
import sys
import tempfile


def packed_size(cmd, out):
    subprocess.run(cmd + [out], check=True, stdout=subprocess.DEVNULL)
    return os.path.getsize(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument('--vesk', default=os.path.join(here, '..', 'build', 'release', 'vesk'))
    ap.add_argument('--sizes', default='4M,16M,64M')
    ap.add_argument('--threads', default='2')
    ap.add_argument('files', nargs='+')
    a = ap.parse_args()
    sizes = a.sizes.split(',')
    print('| file | bytes | single | ' + ' | '.join(f'frames of {s}' for s in sizes) + ' |')
    print('|---|---|---|' + '---|' * len(sizes))
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'packed')
        for f in a.files:
            single = packed_size([a.vesk, '-q', '-c', f], out)
            cells = []
            for s in sizes:
                framed = packed_size([a.vesk, '-q', '-T', a.threads, f'--frame-size={s}', f], out)
                cells.append(f'{framed:,} ({100.0 * (framed - single) / single:+.2f}%)')
            print(f'| {os.path.basename(f)} | {os.path.getsize(f):,} | {single:,} | ' +
                  ' | '.join(cells) + ' |', flush=True)


if __name__ == '__main__':
    sys.exit(main())
