#!/usr/bin/env python3
"""Benchmark vesk beside xz -9e, zstd -19 --long, bzip2 -9, bzip3, 7-Zip PPMd and zpaq -m5
(and xz and zstd on two threads, for vesk's frames: --variant=-T0).

For every file: compressed size, bits per byte, compress and decompress MB/s
and peak RSS of each tool, with every round trip verified. Runs are
interleaved (each run measures every tool in turn, vesk and its variants
taking turns at going first) and figures are medians,
since this machine's memory costs drift from run to run. vesk is rebuilt
(cmake --build of the release preset) before anything is measured.

  bench/bench.py [--runs N] [--csv FILE] [--plot PNG] [--peers LIST | --no-peers]
                 [--reference VESK] [--vesk BIN] [--variant OPTIONS ...] [PATH ...]
  bench/bench.py --reuse CSV --plot PNG

PATH is a file or a folder of files; the default is bench/corpus, built by
bench/make_corpus.sh when missing (its manifest.tsv is checked, not
measured). vesk picks its method by the file's name (.txt text, .dat mixed,
anything else stored). Missing peers are installed from Debian's registry
when possible, else skipped with a note.

--plot draws compression ratio against speed over all the files (total
original bytes over total packed bytes; total bytes over total seconds),
compress and decompress speed on a log axis, one point per tool.
--reuse draws from the CSV of an earlier run instead of measuring.
--reference VESK names an earlier vesk binary: its archive of each file must
hold exactly the coded bytes of today's (today's may add the 12-byte
checksum trailer), else the bench stops; it is measured once per file, as
"vesk before", for the before-and-after figures.
"""
import argparse, csv, filecmp, hashlib, os, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
VESK = os.path.join(ROOT, 'build', 'release', 'vesk')


class Tool:
    """A compressor: how to run it each way. Commands name {src}, {packed},
    {restored} and {dir}; a command without an output file writes stdout."""

    def __init__(self, name, package, binary, packed_name, c, c_out, d, d_out):
        self.name, self.package, self.binary = name, package, binary
        self.packed_name = packed_name
        self.c, self.c_out, self.d, self.d_out = c, c_out, d, d_out


PEERS = [
    Tool('xz -9e', 'xz-utils', 'xz', 'packed.xz',
         ['xz', '-9e', '-k', '-c', '{src}'], '{packed}', ['xz', '-d', '-c', '{packed}'], '{restored}'),
    Tool('zstd -19 --long', 'zstd', 'zstd', 'packed.zst',
         ['zstd', '-19', '--long=27', '-q', '-c', '{src}'], '{packed}',
         ['zstd', '-d', '--long=27', '-q', '-c', '{packed}'], '{restored}'),
    Tool('xz -9e -T2', 'xz-utils', 'xz', 'packed.xz',
         ['xz', '-9e', '-T2', '-k', '-c', '{src}'], '{packed}', ['xz', '-d', '-T2', '-c', '{packed}'],
         '{restored}'),
    Tool('zstd -19 --long -T2', 'zstd', 'zstd', 'packed.zst',
         ['zstd', '-19', '--long=27', '-T2', '-q', '-c', '{src}'], '{packed}',
         ['zstd', '-d', '--long=27', '-q', '-c', '{packed}'], '{restored}'),
    Tool('bzip2 -9', 'bzip2', 'bzip2', 'packed.bz2',
         ['bzip2', '-9', '-k', '-c', '{src}'], '{packed}', ['bzip2', '-d', '-c', '{packed}'], '{restored}'),
    Tool('7-Zip PPMd', '7zip', '7zz', 'packed.7z',
         ['7zz', 'a', '-bd', '-bso0', '-bsp0', '-m0=PPMd:mem=1g:o=32', '-mmt=1', '{packed}', '{src}'], None,
         ['7zz', 'e', '-so', '{packed}'], '{restored}'),
    Tool('bzip3', 'bzip3', 'bzip3', 'packed.bz3',
         ['bzip3', '-b', '511', '-j1', '-c', '{src}'], '{packed}', ['bzip3', '-d', '-c', '{packed}'],
         '{restored}'),
    # zpaq keeps the path it was given: it runs in the work folder on the
    # file's base name and extracts into a folder of its own (-t1: one
    # thread, as the others).
    Tool('zpaq -m5', 'zpaq', 'zpaq', 'packed.zpaq',
         ['zpaq', 'a', '{packed}', '{base}', '-m5', '-t1'], None,
         ['zpaq', 'x', '{packed}', '-to', '{dir}', '-t1'], None),
]
VESK_TOOL = Tool('vesk', None, None, 'packed.vsk',
                 [VESK, '-c', '{src}', '{packed}'], None, [VESK, '-d', '{packed}', '{restored}'], None)
COLUMNS = ['file', 'bytes', 'tool', 'packed', 'vs_xz', 'bpb', 'c_mbs', 'd_mbs', 'c_s', 'd_s', 'rss_mb',
           'c_cpu', 'd_cpu']


def run(cmd, cwd, stdout_path=None):
    """Runs cmd; returns (seconds, peak RSS in MB, CPU seconds: user and system)."""
    out = open(stdout_path, 'wb') if stdout_path else subprocess.DEVNULL
    try:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.PIPE)
        err = p.stderr.read()
        _, status, usage = os.wait4(p.pid, 0)
        dt = time.perf_counter() - t0
    finally:
        if stdout_path:
            out.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError('failed: ' + ' '.join(cmd) + '\n' + err.decode(errors='replace'))
    return dt, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime


def rebuild_vesk():
    """Builds the release preset's vesk, so that the figures are today's code's."""
    if not os.path.exists(os.path.join(ROOT, 'build', 'release', 'build.ninja')):
        subprocess.run(['cmake', '--preset', 'release'], cwd=ROOT, check=True)
    subprocess.run(['cmake', '--build', '--preset', 'release', '--target', 'vesk'], cwd=ROOT, check=True)
    rev = subprocess.run(['git', 'describe', '--always', '--dirty'], cwd=ROOT, capture_output=True, text=True)
    print('vesk', rev.stdout.strip() or '(no git)', VESK)


def ensure_peers(wanted):
    tools, notes = [], []
    for t in PEERS:
        if t.name not in wanted:
            continue
        if shutil.which(t.binary) is None and os.geteuid() == 0:
            subprocess.run(['apt-get', 'install', '-y', '-qq', t.package], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'))
        if shutil.which(t.binary) is None:
            notes.append(f'{t.name}: not installed (Debian package {t.package}), skipped')
        else:
            tools.append(t)
    return tools, notes


def sha256(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def check_manifest(folder):
    """Notes where a corpus folder differs from its manifest.tsv."""
    path = os.path.join(folder, 'manifest.tsv')
    if not os.path.exists(path):
        return
    with open(path) as f:
        rows = [r for r in csv.DictReader((l for l in f if not l.startswith('#')), delimiter='\t')]
    for r in rows:
        p = os.path.join(folder, r['name'])
        if r['state'] != 'ok':
            print(f"note: {r['name']} is {r['state']} in the corpus manifest")
        elif not os.path.exists(p):
            print(f"note: {r['name']} is in the manifest but not in {folder}")
        elif sha256(p) != r['sha256']:
            print(f"note: {r['name']} differs from the manifest (sha256)")


def fill(args, **names):
    return [a.format(**names) for a in args] if args else args


TRAILER_BYTES = 12  # "XXH3" and the 64-bit hash of the original


def same_coded_bytes(today, before):
    """True when today's archive holds exactly the earlier archive's bytes,
    with or without the checksum trailer behind them."""
    if today == before:
        return True
    return (len(today) == len(before) + TRAILER_BYTES and today.startswith(before)
            and today[len(before):len(before) + 4] == b'XXH3')


def measure(path, tools, runs, work):
    size = os.path.getsize(path)
    base = os.path.basename(path)
    src = os.path.join(work, base)
    shutil.copyfile(path, src)
    samples = {t.name: {'c': [], 'd': [], 'rss': [], 'c_cpu': [], 'd_cpu': []} for t in tools}
    packed_size = {}
    archives = {}
    for run_index in range(runs):
        # vesk and its variants take turns at going first, so that the
        # machine's drift does not favour one of them.
        ours = [t for t in tools if t.name.startswith('vesk')]
        order = (ours if run_index % 2 == 0 else ours[::-1]) + [t for t in tools if t not in ours]
        for t in order:
            if t.name == 'vesk before' and run_index > 0:
                continue  # measured once: it only gives the before figures
            packed = os.path.join(work, t.packed_name)
            restored = os.path.join(work, 'restored')
            outdir = os.path.join(work, 'out')
            names = dict(src=src, base=base, packed=packed, restored=restored, dir=outdir)
            tc, mc, cc = run(fill(t.c, **names), work, t.c_out and t.c_out.format(**names))
            td, md, cd = run(fill(t.d, **names), work, t.d_out and t.d_out.format(**names))
            got = restored if os.path.exists(restored) else os.path.join(outdir, base)
            if not filecmp.cmp(src, got, shallow=False):
                raise RuntimeError(f'{t.name}: round trip of {base} FAILED')
            packed_size[t.name] = os.path.getsize(packed)
            if t.name in ('vesk', 'vesk before') and run_index == 0:
                with open(packed, 'rb') as f:
                    archives[t.name] = f.read()
            s = samples[t.name]
            s['c'].append(tc); s['d'].append(td); s['rss'].append(max(mc, md))
            s['c_cpu'].append(cc); s['d_cpu'].append(cd)
            os.remove(packed)
            if os.path.exists(restored):
                os.remove(restored)
            shutil.rmtree(outdir, ignore_errors=True)
    os.remove(src)
    if 'vesk before' in archives:
        if not same_coded_bytes(archives['vesk'], archives['vesk before']):
            raise RuntimeError(f'{base}: the coded bytes differ from the reference vesk')
        print(f'{base}: coded bytes identical to the reference '
              f'(sha256 {hashlib.sha256(archives["vesk before"]).hexdigest()[:16]})')
    rows = {}
    for name, s in samples.items():
        tc, td = statistics.median(s['c']), statistics.median(s['d'])
        rows[name] = dict(file=base, bytes=size, tool=name, packed=packed_size[name],
                          bpb=8.0 * packed_size[name] / size if size else 0.0,
                          c_mbs=size / 1e6 / tc, d_mbs=size / 1e6 / td, c_s=tc, d_s=td,
                          rss_mb=statistics.median(s['rss']),
                          c_cpu=statistics.median(s['c_cpu']), d_cpu=statistics.median(s['d_cpu']))
    return rows


def totals(rows):
    """Per tool over all files: ratio (original / packed) and MB/s each way."""
    by_tool = {}
    for r in rows:
        t = by_tool.setdefault(r['tool'], dict(bytes=0, packed=0, c_s=0.0, d_s=0.0, files=0))
        t['bytes'] += int(r['bytes']); t['packed'] += int(r['packed'])
        t['c_s'] += float(r['c_s']); t['d_s'] += float(r['d_s']); t['files'] += 1
    out = {}
    for name, t in by_tool.items():
        out[name] = dict(ratio=t['bytes'] / t['packed'] if t['packed'] else 0.0,
                         c_mbs=t['bytes'] / 1e6 / t['c_s'] if t['c_s'] else 0.0,
                         d_mbs=t['bytes'] / 1e6 / t['d_s'] if t['d_s'] else 0.0,
                         bytes=t['bytes'], files=t['files'])
    return out


def import_pyplot():
    """matplotlib from Debian (python3-matplotlib), installed when missing.
    Only looked for, not imported, until the chart is drawn: an imported
    matplotlib would swell the peak RSS that every measured child inherits
    from the fork."""
    import importlib.util
    if importlib.util.find_spec('matplotlib') is None:
        system_python = '/usr/bin/python3'
        probe = [system_python, '-c', 'import matplotlib']
        if os.path.exists(system_python) and subprocess.run(probe, capture_output=True).returncode != 0 \
                and os.geteuid() == 0:
            subprocess.run(['apt-get', 'install', '-y', '-qq', 'python3-matplotlib'],
                           env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'))
        if os.path.realpath(sys.executable) != os.path.realpath(system_python) and \
                os.path.exists(system_python) and subprocess.run(probe, capture_output=True).returncode == 0:
            # This interpreter does not see Debian's packages: run again under the system's.
            os.execv(system_python, [system_python] + sys.argv)
        sys.exit('--plot needs matplotlib: apt-get install python3-matplotlib')


def plot(rows, path, title):
    import_pyplot()
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter
    t = totals([r for r in rows if r['tool'] != 'vesk before'])
    names = sorted(t, key=lambda n: (n != 'vesk', n))
    fig, axes = plt.subplots(1, 2, figsize=(11, 5.2), sharey=True)
    colors = plt.rcParams['axes.prop_cycle'].by_key()['color']
    markers = 'osD^vP<>hX'
    for ax, key, label in ((axes[0], 'c_mbs', 'compress'), (axes[1], 'd_mbs', 'decompress')):
        for i, name in enumerate(names):
            vesk = name == 'vesk'
            ax.scatter([t[name][key]], [t[name]['ratio']], s=170 if vesk else 60,
                       marker='*' if vesk else markers[i % len(markers)],
                       color=colors[i % len(colors)], zorder=3, label=name)
        ax.set_xscale('log')
        ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f'{v:g}'))
        ax.set_xlabel(f'{label} speed, MB/s (log scale)')
        ax.grid(True, which='both', alpha=0.3)
        ax.set_title(f'ratio against {label} speed', fontsize=10)
        lo = min(t[n][key] for n in names); hi = max(t[n][key] for n in names)
        ax.set_xlim(lo / 2, hi * 2)
    axes[0].set_ylabel('compression ratio (original / packed)')
    ratios = [t[n]['ratio'] for n in names]
    axes[0].set_ylim(min(ratios) * 0.92, max(ratios) * 1.06)
    handles, labels = axes[0].get_legend_handles_labels()
    fig.legend(handles, labels, loc='lower center', ncol=len(names), frameon=False)
    files = max(t[n]['files'] for n in names)
    total = max(t[n]['bytes'] for n in names)
    fig.suptitle(f'{title}: {files} files, {total / 1e6:.1f} MB (totals); up and right is better')
    fig.tight_layout(rect=(0, 0.07, 1, 1))
    fig.savefig(path, dpi=120)
    print('chart:', path)


def read_csv(path):
    with open(path) as f:
        return list(csv.DictReader(f))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('paths', nargs='*')
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('--csv', help='write every figure to this CSV file')
    ap.add_argument('--plot', help='draw the ratio-against-speed chart into this PNG file')
    ap.add_argument('--reuse', metavar='CSV', help='plot the figures of an earlier --csv; measure nothing')
    ap.add_argument('--peers', default=','.join(t.name for t in PEERS),
                    help='comma-separated peers to measure (default: all)')
    ap.add_argument('--no-peers', action='store_true')
    ap.add_argument('--reference', metavar='VESK', help='an earlier vesk binary whose coded bytes must match')
    ap.add_argument('--vesk', metavar='BIN', help='measure this vesk binary instead of rebuilding')
    ap.add_argument('--variant', action='append', default=[], metavar='OPTIONS',
                    help='also measure vesk with these options (e.g. "-T0"; repeatable)')
    args = ap.parse_args()
    if args.reuse:
        if not args.plot:
            ap.error('--reuse needs --plot')
        plot(read_csv(args.reuse), args.plot, 'vesk and its peers')
        return
    if args.plot:
        import_pyplot()  # fail (or install) before hours of measuring
    global VESK
    if args.vesk:
        VESK = os.path.abspath(args.vesk)
        VESK_TOOL.c[0] = VESK_TOOL.d[0] = VESK
    else:
        rebuild_vesk()
    paths = args.paths or [os.path.join(HERE, 'corpus')]
    if not args.paths and not os.path.isdir(paths[0]):
        subprocess.run([os.path.join(HERE, 'make_corpus.sh'), paths[0]])
    files = []
    for p in paths:
        if os.path.isdir(p):
            check_manifest(p)
            files += sorted(os.path.join(p, f) for f in os.listdir(p)
                            if os.path.isfile(os.path.join(p, f)) and f != 'manifest.tsv')
        else:
            files.append(p)
    wanted = [] if args.no_peers else [w.strip() for w in args.peers.split(',') if w.strip()]
    unknown = [w for w in wanted if w not in [t.name for t in PEERS]]
    if unknown:
        ap.error('unknown peers: ' + ', '.join(unknown))
    peers, notes = ensure_peers(wanted)
    for n in notes:
        print('note:', n)
    # Options of compression alone (-9, --method, --frame-size) are not
    # given to -d, which refuses them.
    def restoring(v):
        return [o for o in v.split() if o not in ('-9', '--best') and
                not o.startswith(('--method', '--frame-size'))]
    tools = [VESK_TOOL] + [Tool('vesk ' + v, None, None, 'variant.vsk', [VESK] + v.split() + ['-c', '{src}', '{packed}'],
                                None, [VESK] + restoring(v) + ['-d', '{packed}', '{restored}'], None)
                           for v in args.variant] + peers
    if args.reference:
        ref = os.path.abspath(args.reference)
        tools.append(Tool('vesk before', None, None, 'before.vsk', [ref, '-c', '{src}', '{packed}'], None,
                          [ref, '-d', '{packed}', '{restored}'], None))
    all_rows = []
    hdr = (f"{'file':<20} {'bytes':>11} {'tool':<16} {'packed':>11} {'vs xz':>7} {'bpb':>6} "
           f"{'c MB/s':>7} {'d MB/s':>7} {'c s':>7} {'d s':>7} {'RSS MB':>7}")
    print(hdr)
    with tempfile.TemporaryDirectory() as work:
        for f in files:
            rows = measure(f, tools, args.runs, work)
            xz = rows.get('xz -9e')
            for name, r in rows.items():
                r['vs_xz'] = (r['packed'] / xz['packed'] - 1) * 100 if xz and xz['packed'] else float('nan')
                all_rows.append(r)
                print(f"{r['file']:<20} {r['bytes']:>11} {name:<16} {r['packed']:>11} {r['vs_xz']:>+6.1f}% "
                      f"{r['bpb']:>6.3f} {r['c_mbs']:>7.2f} {r['d_mbs']:>7.2f} {r['c_s']:>7.3f} {r['d_s']:>7.3f} "
                      f"{r['rss_mb']:>7.0f}")
            sys.stdout.flush()
    if args.csv:
        with open(args.csv, 'w') as f:
            f.write(','.join(COLUMNS) + '\n')
            for r in all_rows:
                f.write(','.join(str(r[k]) for k in COLUMNS) + '\n')
    print(f'medians of {args.runs} interleaved runs; "vs xz": size relative to xz -9e')
    print(f"{'all files':<20} {'ratio':>7} {'c MB/s':>8} {'d MB/s':>8}")
    for name, t in totals(all_rows).items():
        print(f"{name:<20} {t['ratio']:>7.3f} {t['c_mbs']:>8.2f} {t['d_mbs']:>8.2f}")
    if args.plot:
        plot(all_rows, args.plot, 'vesk and its peers')


if __name__ == '__main__':
    main()
