#!/usr/bin/env python3
"""Benchmark vesk beside xz -9e, zstd -19 --long=27 and bzip2 -9.

For every file: compressed size, bits per byte, compress and decompress MB/s
and peak RSS of each tool, with every round trip verified. Runs are
interleaved (each run measures every tool in turn) and figures are medians,
since this machine's memory costs drift from run to run.

  bench/bench.py [--runs N] [--csv FILE] [--no-peers] [PATH ...]

PATH is a file or a folder of files; the default is bench/corpus, built by
bench/make_corpus.sh when missing. vesk picks its method by the file's name
(.txt text, .dat mixed, anything else stored). Missing peers are installed
from Debian's registry when possible, else skipped with a note.
"""
import argparse, filecmp, os, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
VESK = os.path.join(ROOT, 'build', 'release', 'vesk')

PEERS = {
    'xz -9e': ('xz-utils', 'xz', ['xz', '-9e', '-k', '-c'], ['xz', '-d', '-c']),
    'zstd -19': ('zstd', 'zstd', ['zstd', '-19', '--long=27', '-q', '-c'], ['zstd', '-d', '--long=27', '-q', '-c']),
    'bzip2 -9': ('bzip2', 'bzip2', ['bzip2', '-9', '-k', '-c'], ['bzip2', '-d', '-c']),
}


def run(cmd, stdout=None):
    """Runs cmd; returns (seconds, peak RSS in MB)."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=stdout, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    dt = time.perf_counter() - t0
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError('failed: ' + ' '.join(cmd))
    return dt, usage.ru_maxrss / 1024.0


def ensure_peers(wanted):
    tools, notes = {}, []
    for name in wanted:
        pkg, binary, c, d = PEERS[name]
        if shutil.which(binary) is None and os.geteuid() == 0:
            subprocess.run(['apt-get', 'install', '-y', '-qq', pkg], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if shutil.which(binary) is None:
            notes.append(f'{name}: not installed, skipped')
        else:
            tools[name] = (c, d)
    return tools, notes


def measure(path, tools, runs, work):
    size = os.path.getsize(path)
    base = os.path.basename(path)
    src = os.path.join(work, base)
    shutil.copyfile(path, src)
    rows = {}
    samples = {name: {'c': [], 'd': [], 'rss': []} for name in ['vesk'] + list(tools)}
    packed_size = {}
    for r in range(runs):
        for name in samples:
            packed = os.path.join(work, 'packed')
            restored = os.path.join(work, 'restored')
            if name == 'vesk':
                tc, mc = run([VESK, '-c', src, packed], stdout=subprocess.DEVNULL)
                td, md = run([VESK, '-d', packed, restored], stdout=subprocess.DEVNULL)
            else:
                c, d = tools[name]
                with open(packed, 'wb') as f:
                    tc, mc = run(c + [src], stdout=f)
                with open(restored, 'wb') as f:
                    td, md = run(d + [packed], stdout=f)
            if not filecmp.cmp(src, restored, shallow=False):
                raise RuntimeError(f'{name}: round trip of {base} FAILED')
            packed_size[name] = os.path.getsize(packed)
            s = samples[name]
            s['c'].append(tc); s['d'].append(td); s['rss'].append(max(mc, md))
            os.remove(packed); os.remove(restored)
    os.remove(src)
    for name, s in samples.items():
        tc, td = statistics.median(s['c']), statistics.median(s['d'])
        rows[name] = dict(file=base, bytes=size, tool=name, packed=packed_size[name],
                          bpb=8.0 * packed_size[name] / size if size else 0.0,
                          c_mbs=size / 1e6 / tc, d_mbs=size / 1e6 / td, c_s=tc, d_s=td,
                          rss_mb=statistics.median(s['rss']))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('paths', nargs='*')
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('--csv')
    ap.add_argument('--no-peers', action='store_true')
    args = ap.parse_args()
    if not os.path.exists(VESK):
        subprocess.run(['cmake', '--preset', 'release'], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['cmake', '--build', '--preset', 'release', '--target', 'vesk'], cwd=ROOT, check=True)
    paths = args.paths or [os.path.join(HERE, 'corpus')]
    if not args.paths and not os.path.isdir(paths[0]):
        subprocess.run([os.path.join(HERE, 'make_corpus.sh'), paths[0]], check=True)
    files = []
    for p in paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p) if os.path.isfile(os.path.join(p, f)))
        else:
            files.append(p)
    tools, notes = ({}, []) if args.no_peers else ensure_peers(list(PEERS))
    for n in notes:
        print('note:', n)
    all_rows = []
    hdr = f"{'file':<20} {'bytes':>11} {'tool':<9} {'packed':>11} {'vs xz':>7} {'bpb':>6} {'c MB/s':>7} {'d MB/s':>7} {'c s':>7} {'d s':>7} {'RSS MB':>7}"
    print(hdr)
    with tempfile.TemporaryDirectory() as work:
        for f in files:
            rows = measure(f, tools, args.runs, work)
            xz = rows.get('xz -9e')
            for name, r in rows.items():
                r['vs_xz'] = (r['packed'] / xz['packed'] - 1) * 100 if xz and xz['packed'] else float('nan')
                all_rows.append(r)
                print(f"{r['file']:<20} {r['bytes']:>11} {name:<9} {r['packed']:>11} {r['vs_xz']:>+6.1f}% "
                      f"{r['bpb']:>6.3f} {r['c_mbs']:>7.2f} {r['d_mbs']:>7.2f} {r['c_s']:>7.3f} {r['d_s']:>7.3f} {r['rss_mb']:>7.0f}")
            sys.stdout.flush()
    if args.csv:
        keys = ['file', 'bytes', 'tool', 'packed', 'vs_xz', 'bpb', 'c_mbs', 'd_mbs', 'c_s', 'd_s', 'rss_mb']
        with open(args.csv, 'w') as f:
            f.write(','.join(keys) + '\n')
            for r in all_rows:
                f.write(','.join(str(r[k]) for k in keys) + '\n')
    print(f'medians of {args.runs} interleaved runs; "vs xz": size relative to xz -9e')


if __name__ == '__main__':
    main()
