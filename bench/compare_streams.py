#!/usr/bin/env python3
"""Coded size per model call of two vesk builds, side by side.

    bench/compare_streams.py OLD_MODELRUN NEW_MODELRUN FILE...
    bench/compare_streams.py --strong MODELRUN FILE...

Runs `modelrun streams FILE` of both builds (one model call per line, in the
compress direction) and prints, per file and model call, the coded bytes of
each and the change, then the totals per model and overall. Use it to judge
a change of the coded bits (such as new probability rows) on held-out data.
--strong compares one build's default models with its strong ones (-9).
"""
import re
import subprocess
import sys
from collections import defaultdict


def streams(modelrun, path):
    out = subprocess.run(modelrun + ["streams", path], check=True, capture_output=True,
                         text=True).stdout
    sizes = {}
    for line in out.splitlines():
        m = re.match(r"(.+?)\s+(\d+) bytes ->\s+(\d+)", line)
        if m:
            sizes[m.group(1)] = (int(m.group(2)), int(m.group(3)))
    return sizes


def pct(a, b):
    return f"{100.0 * (b - a) / a:+.2f}%" if a else "-"


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    if sys.argv[1] == "--strong":
        old_run, new_run, files = [sys.argv[2]], [sys.argv[2], "-9"], sys.argv[3:]
    else:
        old_run, new_run, files = [sys.argv[1]], [sys.argv[2]], sys.argv[3:]
    per_model = defaultdict(lambda: [0, 0])
    total = [0, 0]
    print(f"{'file':24} {'model call':11} {'bytes':>11} {'old':>10} {'new':>10} {'change':>8}")
    for path in files:
        old, new = streams(old_run, path), streams(new_run, path)
        name = path.rsplit("/", 1)[-1]
        file_total = [0, 0]
        for call, (n, a) in old.items():
            b = new[call][1]
            print(f"{name:24} {call:11} {n:11} {a:10} {b:10} {pct(a, b):>8}")
            per_model[call][0] += a
            per_model[call][1] += b
            file_total[0] += a
            file_total[1] += b
        print(f"{name:24} {'(all)':11} {'':11} {file_total[0]:10} {file_total[1]:10} "
              f"{pct(*file_total):>8}")
        total[0] += file_total[0]
        total[1] += file_total[1]
    print()
    for call, (a, b) in per_model.items():
        print(f"{'(every file)':24} {call:11} {'':11} {a:10} {b:10} {pct(a, b):>8}")
    print(f"{'(every file)':24} {'(all)':11} {'':11} {total[0]:10} {total[1]:10} {pct(*total):>8}")


if __name__ == "__main__":
    main()
