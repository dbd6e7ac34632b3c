"""vesk: lossless context-mixing compression (libvesk).

In the shape of the standard lzma module:

    compress(data, *, method='auto', level=0, threads=1, memory_limit=0) -> bytes
    decompress(data, *, threads=1, memory_limit=0) -> bytes
    Compressor(...).compress(data) / .flush()    a framed archive, in pieces
    Decompressor(...).decompress(data) / .flush() and .eof
    open(filename, mode='rb', ...)               a file object

method is 'auto' (by the content), 'text', 'mixed' or 'stored'; level 0
(the default methods) or 9 (the strong ones, the program's -9). Archives
are the program's: `vesk -d` restores what this module writes, and this
module restores what `vesk` writes. Errors: VeskError, and below it
CorruptDataError, MemoryLimitError, CancelledError; Ctrl-C interrupts a
call with KeyboardInterrupt. The GIL is released while data is coded.
"""
import builtins
import io
import os

from ._vesk import (LIBRARY_VERSION, CancelledError, Compressor, CorruptDataError, Decompressor,
                    MemoryLimitError, VeskError, compress, decompress)

__all__ = ['compress', 'decompress', 'Compressor', 'Decompressor', 'open', 'VeskFile', 'VeskError',
           'CorruptDataError', 'MemoryLimitError', 'CancelledError', 'LIBRARY_VERSION']

_READ = 'r'
_WRITE = 'w'
_CHUNK = 1 << 16


class VeskFile(io.BufferedIOBase):
    """A file of a vesk archive: reading restores it as it is read (each
    frame once verified), writing compresses into a framed archive.
    filename is a path or a file object; mode 'r', 'w', 'x' or 'a' (with
    or without 'b')."""

    def __init__(self, filename, mode='r', *, method='auto', level=0, threads=1, memory_limit=0,
                 frame_size=0):
        self._fp = None
        self._own = False
        mode = mode.replace('b', '')
        if mode not in ('r', 'w', 'x', 'a'):
            raise ValueError(f'invalid mode: {mode!r}')
        self._mode = _READ if mode == 'r' else _WRITE
        if isinstance(filename, (str, bytes, os.PathLike)):
            self._fp = builtins.open(filename, mode + 'b')
            self._own = True
        elif hasattr(filename, 'read' if self._mode == _READ else 'write'):
            self._fp = filename
        else:
            raise TypeError('filename must be a path or a file object')
        if self._mode == _READ:
            self._coder = Decompressor(threads=threads, memory_limit=memory_limit)
            self._buffer = b''
            self._at = 0
            self._done = False
        else:
            self._coder = Compressor(method=method, level=level, threads=threads,
                                     memory_limit=memory_limit, frame_size=frame_size)
        self._pos = 0

    def _check(self, mode):
        if self._fp is None:
            raise ValueError('I/O operation on a closed file')
        if self._mode != mode:
            raise io.UnsupportedOperation('not open for ' + ('reading' if mode == _READ else 'writing'))

    def readable(self):
        return self._fp is not None and self._mode == _READ

    def writable(self):
        return self._fp is not None and self._mode == _WRITE

    def seekable(self):
        return False

    @property
    def closed(self):
        return self._fp is None

    def _fill(self):
        """More restored bytes into the buffer; False at the archive's end."""
        while self._at >= len(self._buffer) and not self._done:
            chunk = self._fp.read(_CHUNK)
            if chunk:
                self._buffer, self._at = self._coder.decompress(chunk), 0
            else:
                self._buffer, self._at = self._coder.flush(), 0
                self._done = True
        return self._at < len(self._buffer)

    def read(self, size=-1):
        self._check(_READ)
        parts = []
        while size is None or size < 0 or size > 0:
            if not self._fill():
                break
            end = len(self._buffer) if size is None or size < 0 else min(len(self._buffer), self._at + size)
            parts.append(self._buffer[self._at:end])
            if size is not None and size > 0:
                size -= end - self._at
            self._at = end
        data = b''.join(parts)
        self._pos += len(data)
        return data

    def read1(self, size=-1):
        self._check(_READ)
        if not self._fill():
            return b''
        end = len(self._buffer) if size is None or size < 0 else min(len(self._buffer), self._at + size)
        data = self._buffer[self._at:end]
        self._at = end
        self._pos += len(data)
        return data

    def readinto(self, b):
        data = self.read(len(b))
        b[:len(data)] = data
        return len(data)

    def write(self, data):
        self._check(_WRITE)
        data = memoryview(data).cast('B')
        self._fp.write(self._coder.compress(data))
        self._pos += len(data)
        return len(data)

    def tell(self):
        self._check(self._mode)
        return self._pos

    def close(self):
        if self._fp is None:
            return
        try:
            if self._mode == _WRITE:
                self._fp.write(self._coder.flush())
        finally:
            try:
                if self._own:
                    self._fp.close()
            finally:
                self._fp = None
                self._coder = None


def open(filename, mode='rb', *, method='auto', level=0, threads=1, memory_limit=0, frame_size=0,
         encoding=None, errors=None, newline=None):
    """Opens a vesk archive in binary mode ('r', 'w', 'x', 'a', with 'b'
    or alone) or text mode ('rt', 'wt', ...), as lzma.open does."""
    if 't' in mode:
        if 'b' in mode:
            raise ValueError(f'invalid mode: {mode!r}')
        f = VeskFile(filename, mode.replace('t', ''), method=method, level=level, threads=threads,
                     memory_limit=memory_limit, frame_size=frame_size)
        return io.TextIOWrapper(f, encoding, errors, newline)
    if encoding is not None or errors is not None or newline is not None:
        raise ValueError('encoding, errors and newline are for text mode')
    return VeskFile(filename, mode, method=method, level=level, threads=threads,
                    memory_limit=memory_limit, frame_size=frame_size)
