#!/usr/bin/env python3
"""Two or more vesk commands side by side: builds, or options of one build.

For every file and every command: archive bytes, compress and decompress
wall seconds and peak RSS (medians of --runs runs), each round trip
verified. Runs are interleaved: each run measures every command on a file
in turn, and the order rotates from run to run, so that a drift of the
machine falls on all of them alike. Prints a markdown table per pair
(the first command against each other one) and the totals.

  bench/side_by_side.py [--runs N] NAME=COMMAND ... -- [PATH ...]

COMMAND is a vesk binary and its options, split at spaces:
  bench/side_by_side.py old=/tmp/old/vesk new=build/release/vesk -- bench/corpus
  bench/side_by_side.py default=build/release/vesk "-9=build/release/vesk -9"

PATH is a file or a folder (manifest.tsv left out); the default is
bench/corpus.
"""
import argparse, filecmp, os, statistics, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(cmd):
    """Runs cmd under /usr/bin/time; returns (wall seconds, peak RSS in KB)."""
    r = subprocess.run(['/usr/bin/time', '-f', '%e %M', *cmd], capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f'{" ".join(cmd)} failed: {r.stderr.strip()}')
    wall, rss = r.stderr.strip().splitlines()[-1].split()
    return float(wall), int(rss)


def main():
    args = sys.argv[1:]
    paths = []
    if '--' in args:
        i = args.index('--')
        args, paths = args[:i], args[i + 1:]
    ap = argparse.ArgumentParser()
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('commands', nargs='+')
    a = ap.parse_args(args)
    commands = []
    for c in a.commands:
        name, _, cmd = c.partition('=')
        commands.append((name, cmd.split()))
    files = []
    for p in paths or [os.path.join(HERE, 'corpus')]:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p) if f != 'manifest.tsv')
        else:
            files.append(p)
    # figures[file][name] = lists of (size, c s, d s, rss KB)
    figures = {f: {n: [] for n, _ in commands} for f in files}
    with tempfile.TemporaryDirectory() as work:
        for run in range(a.runs):
            for f in files:
                # The file under its own name: vesk's method may follow it.
                src = os.path.join(work, os.path.basename(f))
                if not os.path.lexists(src):
                    os.symlink(os.path.abspath(f), src)
                k = run % len(commands)
                for name, cmd in commands[k:] + commands[:k]:
                    packed, back = os.path.join(work, 'p.vsk'), os.path.join(work, 'back')
                    c, rc = timed([*cmd, '-q', '-f', '-c', src, packed])
                    d, rd = timed([cmd[0], '-q', '-f', '-d', packed, back])
                    if not filecmp.cmp(f, back, shallow=False):
                        sys.exit(f'{f}: {name} did not restore it')
                    figures[f][name].append((os.path.getsize(packed), c, d, max(rc, rd)))
                    os.remove(packed)
                    os.remove(back)
                print(f'run {run + 1}: {os.path.basename(f)}', file=sys.stderr)
    med = {f: {n: [statistics.median(x[i] for x in v) for i in range(4)] for n, v in byname.items()}
           for f, byname in figures.items()}
    base = commands[0][0]
    for other, _ in commands[1:]:
        print(f'\n| file | bytes | {base} | {other} (change) | c s {base} / {other} (x) '
              f'| d s {base} / {other} (x) | RSS MB {base} / {other} (x) |')
        print('|---|---|---|---|---|---|---|')
        tot = [0, 0, 0, 0, 0, 0, 0]
        for f in files:
            b, o = med[f][base], med[f][other]
            n = os.path.getsize(f)
            tot = [tot[0] + n, tot[1] + b[0], tot[2] + o[0], tot[3] + b[1], tot[4] + o[1], tot[5] + b[2],
                   tot[6] + o[2]]
            print(f'| {os.path.basename(f)} | {n:,} | {b[0]:,.0f} | {o[0]:,.0f} ({(o[0] / b[0] - 1) * 100:+.2f}%) '
                  f'| {b[1]:.2f} / {o[1]:.2f} ({o[1] / max(b[1], 1e-9):.2f}x) '
                  f'| {b[2]:.2f} / {o[2]:.2f} ({o[2] / max(b[2], 1e-9):.2f}x) '
                  f'| {b[3] / 1024:.0f} / {o[3] / 1024:.0f} ({o[3] / b[3]:.2f}x) |')
        print(f'| all | {tot[0]:,} | {tot[1]:,.0f} | {tot[2]:,.0f} ({(tot[2] / tot[1] - 1) * 100:+.2f}%) '
              f'| {tot[3]:.2f} / {tot[4]:.2f} ({tot[4] / tot[3]:.3f}x) '
              f'| {tot[5]:.2f} / {tot[6]:.2f} ({tot[6] / tot[5]:.3f}x) | |')


if __name__ == '__main__':
    main()
