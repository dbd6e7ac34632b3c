"""The Python module: round trips, streams, the frozen archives, errors as
exceptions with the interpreter alive, the memory limit, Ctrl-C, two
threads at once. Run by CTest with Debian's /usr/bin/python3:

    VESK=build/release/vesk PYTHONPATH=build/release/python python3 -m unittest test_vesk
"""
import io
import os
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import vesk

HERE = os.path.dirname(os.path.abspath(__file__))
FROZEN = os.path.join(HERE, '..', 'cli', 'frozen')
VESK = os.environ.get('VESK', 'vesk')


def prose(n, seed):
    r = random.Random(seed)
    words = [''.join(r.choice('etaoinshrdlu') for _ in range(r.randint(1, 9))) for _ in range(300)]
    out, size = [], 0
    while size < n:
        out.append(r.choice(words) + ('.\n' if r.random() < 0.05 else ''))
        size += len(out[-1]) + 1
    return ' '.join(out).encode()[:n]


def binary(n, seed):
    r = random.Random(seed)
    return bytes((i * 7 + r.randrange(4)) & 255 for i in range(n))


class RoundTrips(unittest.TestCase):
    def test_methods_and_levels(self):
        for data in (b'', b'x', prose(50000, 1), binary(40000, 2), os.urandom(20000)):
            for method in ('auto', 'text', 'mixed', 'stored'):
                for level in (0, 9):
                    a = vesk.compress(data, method=method, level=level)
                    self.assertEqual(vesk.decompress(a), data, (method, level, len(data)))

    def test_the_programs_archives(self):
        data = prose(80000, 3)
        with tempfile.TemporaryDirectory() as d:
            src = os.path.join(d, 'notes')
            with open(src, 'wb') as f:
                f.write(data)
            subprocess.run([VESK, '-q', '-9', '-c', src, src + '.vsk'], check=True)
            with open(src + '.vsk', 'rb') as f:
                program = f.read()
        self.assertEqual(vesk.compress(data, level=9), program)
        self.assertEqual(vesk.decompress(program), data)

    def test_streams_in_pieces(self):
        data = prose(200000, 4) + binary(100000, 5)
        whole = vesk.Compressor(frame_size=65536)
        archive = whole.compress(data) + whole.flush()
        self.assertTrue(whole.eof)
        pieces = vesk.Compressor(frame_size=65536)
        parts = [pieces.compress(data[i:i + 9999]) for i in range(0, len(data), 9999)]
        self.assertEqual(b''.join(parts) + pieces.flush(), archive)
        # The program's own frames from a pipe.
        program = subprocess.run([VESK, '-T1', '--frame-size=64K'], input=data, stdout=subprocess.PIPE,
                                 check=True).stdout
        self.assertEqual(archive, program)
        # Restored in pieces, as one shot.
        for archive_of in (archive, vesk.compress(data)):
            d = vesk.Decompressor()
            out = b''.join(d.decompress(archive_of[i:i + 777]) for i in range(0, len(archive_of), 777))
            out += d.flush()
            self.assertTrue(d.eof)
            self.assertEqual(out, vesk.decompress(archive_of))
            self.assertEqual(out, data)

    def test_open(self):
        data = prose(100000, 6)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, 'f.vsk')
            with vesk.open(path, 'wb', level=9) as f:
                for i in range(0, len(data), 4096):
                    f.write(data[i:i + 4096])
            with vesk.open(path) as f:
                self.assertEqual(f.read(10), data[:10])
                self.assertEqual(f.read(), data[10:])
            with vesk.open(path, 'rt', encoding='ascii') as f:
                self.assertEqual(f.readline(), data.decode().splitlines(True)[0])
            with open(path, 'rb') as raw, vesk.open(raw) as f:
                self.assertEqual(f.read(), data)
            restored = subprocess.run([VESK, '-d', '--stdout', path], stdout=subprocess.PIPE,
                                      check=True).stdout
            self.assertEqual(restored, data)


class FrozenArchives(unittest.TestCase):
    def test_they_decode(self):
        names = [n for n in os.listdir(FROZEN) if n.endswith('.arc')]
        names += ['strong/' + n for n in os.listdir(os.path.join(FROZEN, 'strong'))]
        self.assertGreater(len(names), 10)
        for name in names:
            with open(os.path.join(FROZEN, name), 'rb') as f:
                archive = f.read()
            restored = vesk.decompress(archive)
            # Compressed again with the method its name chose, it is itself.
            method = {'.txt': 'text', '.dat': 'mixed'}.get(name[-8:-4])
            if method is not None:
                level = 9 if name.startswith('strong/') else 0
                self.assertEqual(vesk.compress(restored, method=method, level=level), archive, name)


class Errors(unittest.TestCase):
    def test_damage_raises_and_the_interpreter_lives(self):
        archive = bytearray(vesk.compress(prose(30000, 7), method='mixed'))
        for at in range(10, len(archive), len(archive) // 20):
            b = bytearray(archive)
            b[at] ^= 0x55
            with self.assertRaises(vesk.CorruptDataError):
                vesk.decompress(bytes(b))
        with self.assertRaises(vesk.CorruptDataError):
            vesk.decompress(b'not an archive at all')
        d = vesk.Decompressor()
        with self.assertRaises(vesk.CorruptDataError):
            d.decompress(bytes(archive[:40])) + d.flush()
        self.assertEqual(vesk.decompress(bytes(archive)), prose(30000, 7))
        self.assertTrue(issubclass(vesk.CorruptDataError, vesk.VeskError))

    def test_memory_limit(self):
        data = prose(300000, 8)
        with self.assertRaises(vesk.MemoryLimitError):
            vesk.compress(data, method='text', memory_limit=5_000_000)
        self.assertEqual(vesk.decompress(vesk.compress(data, memory_limit=4_000_000_000)), data)
        with self.assertRaises(ValueError):
            vesk.compress(data, method='zip')

    def test_ctrl_c_cancels_a_call(self):
        # A child that compresses for long; SIGINT ends the call with
        # KeyboardInterrupt, and the interpreter goes on.
        code = ('import os, sys, vesk\n'
                'sys.stdout.write("ready\\n"); sys.stdout.flush()\n'
                'try:\n'
                '    vesk.compress(os.urandom(60_000_000), method="mixed")\n'
                '    print("finished")\n'
                'except KeyboardInterrupt:\n'
                '    print("interrupted")\n'
                'print(vesk.decompress(vesk.compress(b"alive")).decode())\n')
        p = subprocess.Popen([sys.executable, '-c', code], stdout=subprocess.PIPE, text=True)
        self.assertEqual(p.stdout.readline(), 'ready\n')
        time.sleep(1.0)
        t0 = time.monotonic()
        p.send_signal(signal.SIGINT)
        out, _ = p.communicate(timeout=60)
        self.assertEqual(out, 'interrupted\nalive\n')
        self.assertLess(time.monotonic() - t0, 20)


class Example(unittest.TestCase):
    def test_the_readmes_example_runs(self):
        example = os.path.join(HERE, '..', '..', 'doc', 'examples', 'example.py')
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, 'notes')
            data = prose(60000, 11)
            with open(path, 'wb') as f:
                f.write(data)
            r = subprocess.run([sys.executable, example, path], stdout=subprocess.PIPE, text=True,
                               check=True)
            self.assertIn('a cut archive: ', r.stdout)
            self.assertTrue(r.stdout.endswith(' bytes with -9, restored\n'), r.stdout)
            restored = subprocess.run([VESK, '-d', '--stdout', path + '.vsk'], stdout=subprocess.PIPE,
                                      check=True).stdout
            self.assertEqual(restored, data)


class Threads(unittest.TestCase):
    def test_two_threads_at_once(self):
        inputs = [prose(400000, 9), binary(400000, 10)]
        alone = [vesk.compress(x, level=9) for x in inputs]
        together = [None, None]

        def work(i):
            together[i] = vesk.compress(inputs[i], level=9)

        threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
        t0 = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(together, alone)
        self.assertEqual([vesk.decompress(a) for a in together], inputs)


if __name__ == '__main__':
    unittest.main()
