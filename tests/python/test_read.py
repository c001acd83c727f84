# docoutline.read() against docoutline-batch's records, what it reads from a file object,
# and how it answers failures and wrong arguments.
import io
import mmap
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

import docoutline
from conftest import SAMPLE, batch_records, without_file


def read_bytes(path):
    with open(path, "rb") as f:
        return docoutline.read(f.read(), path=path)


def read_open_file(path):
    with open(path, "rb") as f:
        return docoutline.read(f, path=path)


def read_bytes_io(path):
    with open(path, "rb") as f:
        return docoutline.read(io.BytesIO(f.read()), path=path)


# How each kind of source is read, and whether its record has the file's size and mtime.
SOURCES = {
    "path": (docoutline.read, True),
    "bytes": (read_bytes, False),
    "open file": (read_open_file, True),
    "BytesIO": (read_bytes_io, False),
}


@pytest.mark.parametrize("kind", SOURCES)
def test_every_source_gives_the_batch_record(corpus, kind):
    read, opened = SOURCES[kind]
    for path, expected in corpus:
        got = read(path)
        assert got == (expected if opened else without_file(expected)), path


def test_threads_read_at_once_with_states_of_their_own(corpus):
    paths = [p for p, _ in corpus]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(docoutline.read, paths)) == [r for _, r in corpus]


@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview, "mmap"])
def test_buffers_are_read_in_place(wrap, tmp_path):
    with open(SAMPLE, "rb") as f:
        data = f.read()
        if wrap == "mmap":
            with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as view:
                got = docoutline.read(view)
        else:
            got = docoutline.read(wrap(data))
    assert got == without_file(batch_records([SAMPLE])[0]) | {"path": None}


class CountingFile(io.RawIOBase):
    """A file read through readinto (or read alone), counting the bytes it gives."""

    def __init__(self, path, read_only=False):
        self.file = open(path, "rb", buffering=0)
        self.given = 0
        self.calls = 0
        if read_only:
            self.readinto = None

    def readable(self):
        return True

    def seekable(self):
        return True

    def seek(self, offset, whence=0):
        return self.file.seek(offset, whence)

    def tell(self):
        return self.file.tell()

    def readinto(self, buffer):
        n = self.file.readinto(buffer)
        self.given += n
        self.calls += 1
        return n

    def read(self, size=-1):
        data = self.file.read(size)
        self.given += len(data)
        self.calls += 1
        return data

    def close(self):
        self.file.close()
        super().close()


@pytest.mark.parametrize("name", ["compound-1g.xls", "package-1g.xlsx"])
@pytest.mark.parametrize("read_only", [False, True])
def test_a_gigabyte_costs_at_most_256_kib_from_a_file_object(big_documents, name, read_only):
    path = big_documents / name
    assert path.stat().st_size > 1 << 30
    with CountingFile(path, read_only) as f:
        f.seek(1234)
        got = docoutline.read(f)
        assert f.tell() == 1234, "the position is restored"
    assert got["status"] == "ok"
    assert got == without_file(docoutline.read(path)) | {"path": None}
    assert f.given <= 256 << 10, f"{f.given} bytes in {f.calls} reads"


class ReadingFile(CountingFile):
    """Reads another document itself at each read, on the same thread."""

    def readinto(self, buffer):
        assert docoutline.read(SAMPLE)["parts"][0] == "Summary"
        return super().readinto(buffer)


@pytest.mark.parametrize("name", ["compound-1g.xls", "package-1g.xlsx"])
def test_a_file_object_may_call_read_while_it_is_read(big_documents, name):
    with ReadingFile(big_documents / name) as f:
        assert docoutline.read(f) == without_file(docoutline.read(big_documents / name)) | {"path": None}


class FailingFile(io.BytesIO):
    """Raises `error` from its second read on."""

    def __init__(self, data, error):
        super().__init__(data)
        self.error = error
        self.reads = 0

    def readinto(self, buffer):
        self.reads += 1
        if self.reads > 1:
            raise self.error
        return super().readinto(buffer)


@pytest.mark.parametrize("error, detail", [
    (OSError(5, "the share went away"), "[Errno 5] the share went away"),
    (RuntimeError(), "RuntimeError"),
])
def test_a_file_object_that_raises_gives_io_error_with_its_message(big_documents, error, detail):
    # A package reads past its first 64 KiB: a second read, which fails.
    with open(big_documents / "package-1g.xlsx", "rb") as f:
        got = docoutline.read(FailingFile(f.read(1 << 20), error), path="x.xlsx")
    assert got == {"path": "x.xlsx", "status": "io-error", "detail": detail, "container": "zip", "codepage": None}


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit])
def test_other_base_exceptions_propagate(big_documents, error):
    with open(big_documents / "package-1g.xlsx", "rb") as f:
        source = FailingFile(f.read(1 << 20), error())
    with pytest.raises(error):
        docoutline.read(source)


@pytest.mark.parametrize("data", [b"", b"abc", b"\xd0\xcf\x11"])
def test_a_few_bytes_are_an_unknown_format(data):
    assert docoutline.read(data)["status"] == "unknown-format"


@pytest.mark.parametrize("source", [42, None, 1.5, ["a.xls"], io.StringIO("text"), object()])
def test_a_wrong_argument_type_raises_type_error(source):
    with pytest.raises(TypeError):
        docoutline.read(source)


def test_paths_are_read_as_the_batch_reads_them(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)  # looked at, never opened: a read would hang
    odd = os.fsdecode(os.fsencode(str(tmp_path)) + b"/\xff.xls")  # not UTF-8
    with open(odd, "wb") as f, open(SAMPLE, "rb") as sample:
        f.write(sample.read())
    paths = [str(fifo), tmp_path, odd, str(tmp_path / "missing.doc")]
    # Paths from a list, which the batch looks at before opening, and never walks.
    listed = batch_records(["-0"], stdin=b"".join(os.fsencode(p) + b"\0" for p in paths))
    assert [docoutline.read(p) for p in paths] == listed
    with pytest.raises(ValueError):
        docoutline.read("a\0b")


def test_the_installed_package_imports_where_python3_looks(tmp_path):
    """cmake --install puts the package where Debian's python3 finds it, for /usr and /usr/local."""
    for prefix, site in [("/usr", "usr/lib/python3/dist-packages"),
                         ("/usr/local", f"usr/local/lib/python3.{sys.version_info.minor}/dist-packages")]:
        root = tmp_path / prefix.strip("/").replace("/", "-")
        install = [os.environ["DOCOUTLINE_CMAKE"], "--install", os.environ["DOCOUTLINE_BUILD_DIR"],
                   "--prefix", prefix, "--component", "python"]
        subprocess.run(install, env=os.environ | {"DESTDIR": str(root)}, check=True, stdout=subprocess.DEVNULL)
        probe = "import docoutline, sys; print(docoutline.__file__); print(docoutline.read(sys.argv[1])['status'])"
        out = subprocess.run([sys.executable, "-c", probe, SAMPLE], env={"PYTHONPATH": str(root / site)},
                             cwd=tmp_path, stdout=subprocess.PIPE, text=True, check=True).stdout.split()
        assert out == [str(root / site / "docoutline" / "__init__.py"), "ok"]
