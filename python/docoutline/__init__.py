"""The outline that office documents record about themselves.

Compound files (.doc, .xls, .ppt, .vsd, .msg, .pub and many more) and Office Open XML
packages (.docx, .xlsx, .pptx, .xlsm, .vsdx ...) record an outline of their own content:
a list of headings ("Worksheets", "Slide Titles", "Named Ranges" ...) with the number
of parts under each, and the names of those parts. This package reads it with the same
readers as docoutline-batch, which it is a front end of:

    read(source, *, path=None) -> dict   one document: a path, bytes, or a file object
                                         (fsspec's files too: HTTP, S3 ...)
    scan(paths, *, jobs=None)            many: a generator of records, in input order,
                                         folders walked, documents read on threads
    docoutline.dask                      collections on Dask (imports dask; the rest
                                         of the package never does)

Records
-------
Each record is a dict with the keys, values and order of docoutline-batch's JSON
lines, so that ``json.dumps(read(p))`` is the batch's line for ``p`` as data:

    path         the path as given or walked (str), or None for a source without one;
                 bytes that are not UTF-8 show as U+FFFD
    path_base64  only when the path is not UTF-8: its exact bytes, in Base64
    status       one word of STATUSES (below)
    detail       where the status needs one: the structure or the call that failed
                 (damaged, io-error), what the first bytes are (unknown-format), the
                 encryption scheme (encrypted)
    container    "compound-file" or "zip", as the first bytes show, or None
    codepage     the code page stored (an unsigned int), or None (packages have none)
    size, mtime  the file's size in bytes and its last change (RFC 3339, UTC), only
                 when a file was opened: read from a path or an open file, and scan
    headings     a list of {"heading": str, "count": int}, whenever they were read
    parts        a list of str, the names of all the parts, whenever they were read

All text is str, converted from the document's code page; what does not convert is
U+FFFD.

Statuses
--------
    ok                 heading pairs and parts read
    no-outline         the properties read; heading pairs or parts absent, or of a
                       type that holds no outline
    no-summary         no Document Summary Information (or, in a package, no
                       extended-properties part)
    not-found          no such file
    not-regular-file   a folder, FIFO, device or socket: never opened
    permission-denied  the file, or a folder on its path, may not be read
    locked             another process holds a write lock on the file
    io-error           reading failed: a system call, or the file object raised
    unknown-format     neither a compound file nor a package
    damaged            a structure of the document is broken
    too-large          the summary stream or the part is over the readers' limit
    encrypted          the outline is inside the document's encryption

A document's fault is a status, never an exception: read() and scan() raise only for
arguments of the wrong kind (TypeError, ValueError), for a KeyboardInterrupt or
another BaseException, and scan() for an exception its iterable raises.
"""

from __future__ import annotations

import io
import itertools
import json
import os

from . import _docoutline

__all__ = ["read", "scan", "STATUSES", "__version__"]

__version__: str = _docoutline.version

#: Every status word, in the order of the manual page.
STATUSES: tuple[str, ...] = tuple(_docoutline.statuses)

# A lazy iterable of paths is taken this many at a time, each chunk one pipeline run:
# a generator of millions of paths is never held whole, and a chunk is long enough
# (a fraction of a second of work) that starting its threads costs nothing worth noting.
_CHUNK_PATHS = 4096


def _record_path(path):
    return None if path is None else os.fsencode(path)


def _open_file_stamp(file):
    """(size, (seconds, nanoseconds)) of an open file read through its own descriptor,
    else None. Only plain open files qualify (io.FileIO, or a buffered reader over
    one): a wrapper that hands out its inner file's descriptor (gzip, tarfile) would
    give the size and time of other bytes than it reads."""
    raw = file
    if isinstance(file, (io.BufferedReader, io.BufferedRandom)):
        raw = file.raw
    if not isinstance(raw, io.FileIO):
        return None
    st = os.fstat(raw.fileno())
    return st.st_size, divmod(st.st_mtime_ns, 1_000_000_000)


def _file_size(file):
    """The size of a file object: its `size` attribute where it has one (fsspec's files),
    else the end that seek(0, 2) finds, the position restored."""
    size = getattr(file, "size", None)
    if isinstance(size, int) and not isinstance(size, bool) and size >= 0:
        return size
    here = file.tell()
    end = file.seek(0, io.SEEK_END)
    if not isinstance(end, int):  # a seek() that returns nothing
        end = file.tell()
    file.seek(here)
    return end


class _Ranges:
    """An fsspec file read through its file system's ranged reads (cat_file): each read is
    one request for the bytes it asks for, whatever the file's own cache would fetch
    (fsspec's HTTP files read ahead in blocks of megabytes by default)."""

    def __init__(self, file, size):
        self.fs = file.fs
        self.path = file.path
        self.size = size
        self.loc = 0

    def seek(self, offset, whence=io.SEEK_SET):
        base = {io.SEEK_SET: 0, io.SEEK_CUR: self.loc, io.SEEK_END: self.size}[whence]
        self.loc = base + offset
        return self.loc

    def tell(self):
        return self.loc

    def readinto(self, buffer):
        data = self.fs.cat_file(self.path, start=self.loc, end=self.loc + len(buffer))
        buffer[:len(data)] = data
        self.loc += len(data)
        return len(data)


def _fsspec_ranges(file):
    """_Ranges over `file` when it is an fsspec file whose size is known, else None. A
    file fsspec opened as a stream (an empty one, over HTTP) has none, and its file
    system is asked. fsspec is not imported here: a program that has not imported it
    has none of its files."""
    buffered = any(cls.__name__ == "AbstractBufferedFile" and cls.__module__.partition(".")[0] == "fsspec"
                   for cls in type(file).__mro__)
    if not buffered or getattr(file, "mode", None) != "rb":
        return None
    size = file.size if isinstance(file.size, int) else file.fs.size(file.path)
    return _Ranges(file, size) if isinstance(size, int) else None


def _read_file(file, record_path):
    if isinstance(file, io.TextIOBase):
        raise TypeError("read() needs a binary file object, not a text one: open the file with 'rb'")
    try:
        file = _fsspec_ranges(file) or file
    except Exception as exc:  # the file system's failure: the record says so, as for a read
        return _docoutline.io_error(str(exc) or type(exc).__name__, record_path)
    seekable = getattr(file, "seekable", None)
    if callable(seekable) and not seekable():
        raise TypeError("read() needs a seekable file object; read a stream into bytes first")
    stamp = None
    try:
        here = file.tell()
        opened = _open_file_stamp(file)
        if opened is not None:
            size, stamp = opened
        else:
            size = _file_size(file)
    except Exception as exc:  # the object's own failure: the record says so, as for a read
        return _docoutline.io_error(str(exc) or type(exc).__name__, record_path)
    try:
        return _docoutline.read_file(file, size, record_path, stamp)
    finally:
        try:
            file.seek(here)
        except Exception:
            pass  # the record already tells what went wrong with the object


def read(source, *, path=None) -> dict:
    """The record of one document (see the package's help for its keys and statuses).

    `source` is one of:

    - a path: str or os.PathLike (``str`` paths go through os.fsencode, so every byte
      path is reachable: ``os.fsdecode(b)`` for a path held as bytes). The file is read
      as docoutline-batch reads it: only a regular file is opened (never a FIFO or a
      device), read-only under a shared read lock; the record has its size and mtime.
    - the document's bytes: bytes, bytearray, memoryview, mmap, or any object with the
      buffer protocol. Read in place, never copied.
    - a binary file object with seek() and readinto() or read(): an open file,
      io.BytesIO, an fsspec file, a zip member. Read at the offsets the document's
      structures lie at, never whole: what a path would cost, plus the first 64 KiB at
      once. Its size is its `size` attribute, or what seek(0, 2) finds; its position
      is restored afterwards. An fsspec file (HTTP, S3 ...) is read with its file
      system's ranged reads (cat_file), one request per read, whatever its cache. A
      plain open file (``open(p, "rb")``) also gives size and mtime. An Exception the
      object raises makes the record io-error, with the exception's message as its
      detail. Do not use the object from another thread meanwhile.

    `path` is the record's "path": by default the path read, or None (null) for bytes
    and file objects.

    The GIL is released while the document is read, so threads may read in parallel.
    """
    record_path = _record_path(path)
    if isinstance(source, (str, os.PathLike)):
        target = os.fsencode(source)
        line = _docoutline.read_path(target, record_path)
    elif _docoutline.is_buffer(source):
        line = _docoutline.read_buffer(source, record_path)
    elif callable(getattr(source, "seek", None)) and (
            callable(getattr(source, "readinto", None)) or callable(getattr(source, "read", None))):
        line = _read_file(source, record_path)
    else:
        raise TypeError(
            "read() takes a path (str or os.PathLike), the document's bytes (a bytes-like object) "
            f"or a binary file object, not {type(source).__name__}")
    return json.loads(line)


def _default_jobs() -> int:
    try:
        cores = len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        cores = os.cpu_count() or 1
    return max(1, min(cores, _docoutline.max_jobs))


def _scan(paths, jobs):
    while True:
        chunk = [os.fsencode(p) for p in itertools.islice(paths, _CHUNK_PATHS)]
        if not chunk:
            return
        run = _docoutline.Scan(chunk, jobs)
        try:
            while (records := run.take()) is not None:
                yield from json.loads(records)
        finally:
            run.close()


def scan(paths, *, jobs=None):
    """The records of many documents, as a generator, in the order of `paths`.

    `paths` is any iterable of paths (str, bytes or os.PathLike), taken as
    docoutline-batch takes its arguments: a folder is walked (entries in byte order of
    their names, symbolic links to folders not followed, no folder entered twice), and
    what is not a regular file gets its record without being opened. "-" is the file
    of that name. A lazy iterable is taken a few thousand paths at a time, never whole.

    `jobs` threads read the documents (default: one per core the process may use; at
    most 32 are used). They run while the caller handles the records, a bounded number
    of records ahead; the GIL is released meanwhile. Closing the generator (break, del,
    an exception in the loop) stops them, as does Ctrl-C, within a fraction of a second
    after the documents in hand. When memory runs out, the records before that point
    come out and then MemoryError is raised: a scan never ends early as if it were whole.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("scan() takes an iterable of paths; for one path, pass [path]")
    if jobs is None:
        jobs = _default_jobs()
    elif isinstance(jobs, bool) or not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    elif jobs < 1:
        raise ValueError("jobs must be at least 1")
    return _scan(iter(paths), min(jobs, _docoutline.max_jobs))
