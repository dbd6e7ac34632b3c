#!/usr/bin/env python3
"""The method vesk picks by content, beside the two it could have picked.

For every file: its size, the archive with --method=text and with
--method=mixed, the one vesk makes under the file's own name (the start
line says which method it chose), how far that is from the better of the
two, and xz -9e. Data that vesk stores: the bytes over the input and the
MB/s of compressing it (median of --runs runs), and the same for random
bytes of --speed-bytes. Prints markdown tables.

  bench/methods.py [--vesk BIN] [--runs N] [--speed-bytes N] [PATH ...]

PATH is a file or a folder; the default is bench/corpus-everyday, which
bench/make_corpus.sh --everyday builds. Every archive is restored and
compared.
"""
import argparse, filecmp, os, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
VESK = os.path.join(os.path.dirname(HERE), 'build', 'release', 'vesk')


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, **kw)


def vesk_size(vesk, args, src, work):
    """Compresses src with the extra args; restores it; returns (size, start line, seconds)."""
    packed, back = os.path.join(work, 'p.vsk'), os.path.join(work, 'back')
    t = time.perf_counter()
    r = run([vesk, *args, '-c', src, packed])
    seconds = time.perf_counter() - t
    run([vesk, '-q', '-d', packed, back])
    if not filecmp.cmp(src, back, shallow=False):
        sys.exit(f'{src}: vesk {" ".join(args)} did not restore it')
    return os.path.getsize(packed), r.stdout.decode().strip(), seconds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--vesk', default=VESK)
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('--speed-bytes', type=int, default=200_000_000)
    ap.add_argument('paths', nargs='*', default=[os.path.join(HERE, 'corpus-everyday')])
    a = ap.parse_args()
    files = []
    for p in a.paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p) if f != 'manifest.tsv')
        else:
            files.append(p)
    print('| file | bytes | text | mixed | chosen | vs better | xz -9e | vs xz |')
    print('|---|---|---|---|---|---|---|---|')
    stored = []
    with tempfile.TemporaryDirectory() as work:
        for f in files:
            n = os.path.getsize(f)
            # The file under its own name, in the work folder (a link keeps the name).
            named = os.path.join(work, os.path.basename(f))
            if os.path.lexists(named):
                os.remove(named)
            os.symlink(os.path.abspath(f), named)
            auto, line, _ = vesk_size(a.vesk, [], named, work)
            text = vesk_size(a.vesk, ['-q', '--method=text'], named, work)[0]
            mixed = vesk_size(a.vesk, ['-q', '--method=mixed'], named, work)[0]
            xz = len(run(['xz', '-9e', '-c', f]).stdout)
            chosen = line.replace('Compressing ', '').replace(' (by content)', '')
            if line.startswith('Storing'):
                chosen = 'stored'
                secs = [vesk_size(a.vesk, ['-q'], named, work)[2] for _ in range(a.runs)]
                stored.append((os.path.basename(f), n, auto - n, n / statistics.median(secs) / 1e6))
            best = min(text, mixed)
            print(f'| {os.path.basename(f)} | {n:,} | {text:,} | {mixed:,} | {chosen} {auto:,} | '
                  f'{100 * (auto / best - 1):+.1f}% | {xz:,} | {100 * (auto / xz - 1):+.1f}% |')
            os.remove(named)
        # The speed of storing, on a file large enough that starting the
        # process costs nothing: random bytes of --speed-bytes.
        big = os.path.join(work, 'random-big.bin')
        with open(big, 'wb') as out:
            out.write(os.urandom(a.speed_bytes))
        n = a.speed_bytes
        c = [vesk_size(a.vesk, ['-q'], big, work)[2] for _ in range(a.runs)]
        stored.append((f'random bytes ({n // 1000000} MB)', n, os.path.getsize(
            os.path.join(work, 'p.vsk')) - n, n / statistics.median(c) / 1e6))
    print()
    print('| stored file | bytes | over the input | MB/s compressing |')
    print('|---|---|---|---|')
    for name, n, over, rate in stored:
        print(f'| {name} | {n:,} | {over} | {rate:.0f} |')


if __name__ == '__main__':
    main()
