#!/usr/bin/env python3
"""Mutation testing: how many planted faults does the test suite catch?

Each mutant in the list (tools/mutants.txt) replaces one exact snippet of a
source file, which must occur there exactly once, so the list survives
edits elsewhere in the file. For each mutant the tool applies it to the
tree, builds the targets its tests need in a build folder of its own, runs
the tests of its labels (ctest -L, a timeout per test: a hang counts as
caught) and restores the file byte for byte, also on Ctrl-C, SIGTERM or an
exception. A mutant that does not compile is a fault of the list, reported
apart from the kill rate.

    tools/mutate.py                      every mutant, this checkout
    tools/mutate.py --only ID...         some of them
    tools/mutate.py --check              every snippet occurs exactly once (fast)
    tools/mutate.py --tree PATH          another checkout's sources and tests

Standard library only.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
LABELS = ("cli", "coding", "driver", "mixed", "models", "text", "util")
FOLDERS = ("driver", "util", "coding", "models", "text", "mixed")


@dataclass
class Mutant:
    id: str
    file: str
    labels: list
    line: int  # where the entry starts in the list, for messages
    why: str = ""
    old: list = field(default_factory=list)  # lines of the snippet
    new: list = field(default_factory=list)  # lines of its replacement

    @property
    def snippet(self):
        return "\n".join(self.old)

    @property
    def replacement(self):
        return "\n".join(self.new)

    @property
    def folder(self):
        parts = Path(self.file).parts
        return parts[1] if len(parts) > 2 and parts[0] == "src" else "?"


def parse_list(path):
    """Entries of the form

        == id
        file: src/dir/name.cc
        labels: driver cli
        why: what the mutant breaks (optional)
        - a line of the snippet (one or more)
        + a line of its replacement (none: the snippet is deleted)

    Blank lines and lines starting with '#' between entries are ignored.
    The text after "- " or "+ " is taken exactly, trailing spaces included.
    """
    mutants, errors = [], []
    current = None
    for number, raw in enumerate(Path(path).read_text().split("\n"), 1):
        if raw.startswith("== "):
            current = Mutant(id=raw[3:].strip(), file="", labels=[], line=number)
            mutants.append(current)
        elif raw.strip() == "" or raw.startswith("#"):
            continue
        elif current is None:
            errors.append(f"{path}:{number}: text before the first entry")
        elif raw.startswith("file: "):
            current.file = raw[6:].strip()
        elif raw.startswith("labels: "):
            current.labels = raw[8:].split()
        elif raw.startswith("why: "):
            current.why = raw[5:].strip()
        elif raw.startswith("- ") or raw == "-":
            current.old.append(raw[2:])
        elif raw.startswith("+ ") or raw == "+":
            current.new.append(raw[2:])
        else:
            errors.append(f"{path}:{number}: cannot read {raw!r}")
    return mutants, errors


def check_list(mutants, tree):
    """Problems of the list against the sources of `tree`, one line each."""
    problems = []
    seen = set()
    for m in mutants:
        where = f"{m.id} (line {m.line})"
        if m.id in seen:
            problems.append(f"{where}: the id is used twice")
        seen.add(m.id)
        if not m.file or not m.old:
            problems.append(f"{where}: needs a file and a snippet")
            continue
        if not m.labels or any(l not in LABELS for l in m.labels):
            problems.append(f"{where}: labels must be among {' '.join(LABELS)}")
        if m.snippet == m.replacement:
            problems.append(f"{where}: the replacement equals the snippet")
        source = Path(tree) / m.file
        if not source.is_file():
            problems.append(f"{where}: {m.file} does not exist")
            continue
        count = source.read_text().count(m.snippet)
        if count != 1:
            problems.append(f"{where}: the snippet occurs {count} times in {m.file}")
    return problems


class Stop(Exception):
    """SIGTERM or SIGHUP: leave like Ctrl-C, restoring the tree."""


def on_stop(signum, frame):
    raise Stop(signal.Signals(signum).name)


# A mutated file's original is kept in the build folder until it is back in
# place, so that a run killed outright (SIGKILL, a power cut) is repaired by
# the next one.
def journal_path(build):
    return Path(build) / "mutate-journal.json"


def apply_mutant(m, tree, build):
    source = Path(tree) / m.file
    original = source.read_bytes()
    text = original.decode()
    journal_path(build).write_text(json.dumps({"file": str(source), "original": text,
                                               "pid": os.getpid()}))
    source.write_bytes(text.replace(m.snippet, m.replacement, 1).encode())
    return source, original


def restore(source, original, build):
    source.write_bytes(original)
    journal_path(build).unlink(missing_ok=True)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def repair_from_journal(build):
    """Restores what a run that ended without restoring left mutated; a
    run still going is refused (one mutant at a time per build folder)."""
    j = journal_path(build)
    if not j.exists():
        return True
    entry = json.loads(j.read_text())
    if alive(entry.get("pid", 0)):
        print(f"A mutation run (pid {entry['pid']}) is using {build}", file=sys.stderr)
        return False
    Path(entry["file"]).write_bytes(entry["original"].encode())
    j.unlink()
    print(f"Restored {entry['file']}, left mutated by an interrupted run")
    return True


# A line of ctest's that reports a failed test, a timeout or a crash.
TEST_FAILED = re.compile(r"\*\*\*(Failed|Timeout|Exception)|\*\*\*Not Run|Not Run ")


def run(cmd, log, timeout=None, stop_on=None):
    """Runs cmd in a process group of its own with its output appended to
    log. Returns the exit status; "stopped" when a line matched `stop_on`
    (the group is ended at once: the first failed test decides, and the
    slow tests still running would only cost time); None when the whole
    command ran out of time. Interrupted, it ends the group and re-raises."""
    with open(log, "a") as f:
        f.write("$ " + " ".join(cmd) + "\n")
        f.flush()
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                start_new_session=True)
        # Out of time, the group is ended, which closes the output.
        timer = threading.Timer(timeout, os.killpg, (proc.pid, signal.SIGKILL)) if timeout else None
        if timer:
            timer.start()
        try:
            for line in proc.stdout:
                f.write(line)
                if stop_on is not None and stop_on.search(line):
                    f.write("(stopped at the first failure)\n")
                    return "stopped"
            status = proc.wait()
            if timer and not timer.is_alive():
                f.write(f"(stopped after {timeout} s)\n")
                return None
            return status
        finally:
            if timer:
                timer.cancel()
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()


def label_regex(labels):
    return "^(" + "|".join(sorted(set(labels))) + ")$"


def configure(tree, build, log):
    if (Path(build) / "build.ninja").exists():
        return True
    cmd = ["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja",
           "-DCMAKE_BUILD_TYPE=Release", "-DVESK_TESTS=ON"]
    return run(cmd, log) == 0


def test_targets(build, labels):
    """The executables the tests of these labels run, by their target names,
    and the program they call: all a mutant's tests need rebuilt."""
    out = subprocess.run(["ctest", "--test-dir", str(build), "-L", label_regex(labels),
                          "--show-only=json-v1"], capture_output=True, text=True, check=True)
    targets = {"vesk"}
    for t in json.loads(out.stdout).get("tests", []):
        command = t.get("command") or []
        # Executables built here are named after their targets.
        if command and Path(command[0]).resolve().is_relative_to(Path(build).resolve()):
            targets.add(Path(command[0]).name)
    return sorted(targets)


def slow_tests(build, seconds=3.0):
    """A regex of the tests that took more than `seconds` on average in
    this build folder's earlier runs (ctest keeps their costs), or None."""
    costs = Path(build) / "Testing" / "Temporary" / "CTestCostData.txt"
    names = []
    if costs.exists():
        for line in costs.read_text().splitlines():
            if line.startswith("---"):
                break
            parts = line.split()
            if len(parts) == 3 and float(parts[2]) > seconds:
                names.append(re.escape(parts[0]))
    return "^(" + "|".join(names) + ")$" if names else None


def ctest(build, labels, args, log):
    """Runs the tests of the labels; 0 when all pass. The quick tests go
    first and the slow ones after: a fault is mostly caught by a quick one,
    and then the slow ones need not run at all."""
    base = ["ctest", "--test-dir", str(build), "-L", label_regex(labels), "-j", str(args.jobs),
            "--timeout", str(args.timeout), "--output-on-failure"]
    slow = slow_tests(build)
    left_out = [x for x in (args.exclude,) if x]
    if slow:
        passes = [["-E", "|".join([slow] + left_out)], ["-R", slow]]
    else:
        passes = [[]]
    for extra in passes:
        cmd = base + extra
        if left_out and "-E" not in extra:
            cmd += ["-E", left_out[0]]
        # A bound on the whole run too, should a test escape its timeout.
        status = run(cmd, log, timeout=args.timeout * 20, stop_on=TEST_FAILED)
        if status != 0:
            return status
    return 0


def fmt_time(s):
    return f"{int(s) // 60}m{int(s) % 60:02d}s"


def main():
    p = argparse.ArgumentParser(description="Runs the mutants of the list against the test suite.")
    p.add_argument("--list", default=str(HERE / "mutants.txt"), help="the mutants (tools/mutants.txt)")
    p.add_argument("--tree", default=str(HERE.parent),
                   help="the checkout whose sources are mutated and whose tests run (this one)")
    p.add_argument("--build", help="the build folder for mutants (TREE/build/mutate)")
    p.add_argument("--only", nargs="+", metavar="ID", help="run these mutants only")
    p.add_argument("--check", action="store_true",
                   help="only check that every snippet occurs exactly once in its file")
    p.add_argument("--timeout", type=int, default=120, help="seconds per test (120)")
    p.add_argument("--jobs", type=int, default=2, help="build and test jobs (2)")
    p.add_argument("--exclude", metavar="REGEX", help="leave out the tests this matches (ctest -E)")
    p.add_argument("--no-baseline", action="store_true",
                   help="skip the run of the unmutated tests that comes first")
    p.add_argument("--results", help="also write the outcomes to this TSV file")
    args = p.parse_args()

    tree = Path(args.tree).resolve()
    build = Path(args.build).resolve() if args.build else tree / "build" / "mutate"
    mutants, errors = parse_list(args.list)
    if args.only:
        unknown = set(args.only) - {m.id for m in mutants}
        if unknown:
            errors.append("no such mutant: " + " ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.id in args.only]
    # --check only reads; a run first repairs what an interrupted one left.
    if not args.check and build.exists() and not repair_from_journal(build):
        return 1
    problems = errors + check_list(mutants, tree)
    if problems:
        print("\n".join(problems), file=sys.stderr)
        return 1
    if args.check:
        counts = {f: sum(m.folder == f for m in mutants) for f in FOLDERS}
        print(f"{len(mutants)} mutants, each snippet found once in {tree}: " +
              ", ".join(f"{f} {n}" for f, n in counts.items()))
        return 0

    signal.signal(signal.SIGTERM, on_stop)
    signal.signal(signal.SIGHUP, on_stop)
    build.mkdir(parents=True, exist_ok=True)
    logs = build / "mutate-logs"
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir()
    started = time.monotonic()

    # The unmutated tree first: it must build and pass, else every mutant
    # would count as caught.
    base_log = logs / "baseline.log"
    print(f"Building {tree} in {build} (log: {base_log})", flush=True)
    if not configure(tree, build, base_log) or \
            run(["cmake", "--build", str(build), "-j", str(args.jobs)], base_log) != 0:
        print(f"The unmutated tree does not build: see {base_log}", file=sys.stderr)
        return 1
    all_labels = sorted({l for m in mutants for l in m.labels})
    if not args.no_baseline:
        print(f"Running the unmutated tests ({' '.join(all_labels)})", flush=True)
        if ctest(build, all_labels, args, base_log) != 0:
            print(f"The unmutated tests fail: see {base_log}", file=sys.stderr)
            return 1
    targets = {}

    outcomes = []  # (mutant, "killed" | "survived" | "error", seconds)
    try:
        for n, m in enumerate(mutants, 1):
            t0 = time.monotonic()
            log = logs / f"{m.id}.log"
            print(f"[{n}/{len(mutants)}] {m.id} ({m.file}; {' '.join(m.labels)}) ", end="", flush=True)
            source, original = apply_mutant(m, tree, build)
            try:
                # Label by label in the list's order (the nearest tests
                # first), each built just before it runs: the first
                # failure decides, and a unit test's costs the least.
                outcome = "survived"
                for label in m.labels:
                    if label not in targets:
                        targets[label] = test_targets(build, [label])
                    if run(["ninja", "-C", str(build), "-j", str(args.jobs)] + targets[label], log) != 0:
                        outcome = "error"
                        break
                    if ctest(build, [label], args, log) != 0:
                        outcome = "killed"
                        break
            finally:
                restore(source, original, build)
            seconds = time.monotonic() - t0
            outcomes.append((m, outcome, seconds))
            print(f"{outcome} ({fmt_time(seconds)})", flush=True)
    except (KeyboardInterrupt, Stop) as e:
        print(f"\nStopped ({e or 'interrupt'}); the tree is restored.", file=sys.stderr)

    killed = [m for m, o, _ in outcomes if o == "killed"]
    survived = [m for m, o, _ in outcomes if o == "survived"]
    failed = [m for m, o, _ in outcomes if o == "error"]
    scored = len(killed) + len(survived)
    print(f"\n{len(outcomes)} of {len(mutants)} mutants run in {fmt_time(time.monotonic() - started)}")
    for f in FOLDERS:
        mine = [(m, o) for m, o, _ in outcomes if m.folder == f]
        if mine:
            k = sum(o == "killed" for _, o in mine)
            s = sum(o == "survived" for _, o in mine)
            print(f"  {f:7} {k} killed, {s} survived" + (f", {len(mine) - k - s} not built" if k + s < len(mine) else ""))
    if scored:
        print(f"Kill rate: {len(killed)}/{scored} = {100.0 * len(killed) / scored:.1f}%")
    for m in survived:
        print(f"Survived: {m.id} ({m.file}){': ' + m.why if m.why else ''}")
    for m in failed:
        print(f"Does not build (a fault of the list): {m.id}, see {logs / (m.id + '.log')}")
    if args.results:
        with open(args.results, "w") as f:
            f.write("id\tfile\tlabels\toutcome\tseconds\n")
            for m, o, s in outcomes:
                f.write(f"{m.id}\t{m.file}\t{' '.join(m.labels)}\t{o}\t{s:.0f}\n")
    return 1 if failed or len(outcomes) < len(mutants) else 0


if __name__ == "__main__":
    sys.exit(main())
