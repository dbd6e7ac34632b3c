"""Compresses a file with the vesk module, as one shot and as a stream,
and restores it:  python3 example.py FILE"""
import sys

import vesk

path = sys.argv[1]
with open(path, 'rb') as f:
    data = f.read()

archive = vesk.compress(data, level=9)
assert vesk.decompress(archive) == data

# The same as a .vsk file, written a piece at a time; vesk -d restores it.
with vesk.open(path + '.vsk', 'wb') as out:
    for i in range(0, len(data), 1 << 20):
        out.write(data[i:i + (1 << 20)])
with vesk.open(path + '.vsk') as back:
    assert back.read() == data

try:
    vesk.decompress(archive[:len(archive) // 2])
except vesk.CorruptDataError as e:
    print('a cut archive:', e)
print(f'{len(data)} -> {len(archive)} bytes with -9, restored')
