# Types of the docoutline package (docstrings: help(docoutline)).
import mmap
import os
from collections.abc import Generator, Iterable
from typing import Protocol, Required, TypedDict

__version__: str
STATUSES: tuple[str, ...]

class Heading(TypedDict):
    heading: str
    count: int

class Record(TypedDict, total=False):
    path: Required[str | None]
    path_base64: str
    status: Required[str]
    detail: str
    container: Required[str | None]
    codepage: Required[int | None]
    size: int
    mtime: str
    headings: list[Heading]
    parts: list[str]

class BinaryFile(Protocol):
    """seek() and tell(), and readinto() or read() giving bytes."""

    def seek(self, offset: int, whence: int = ..., /) -> int: ...
    def tell(self) -> int: ...
    def read(self, size: int = ..., /) -> bytes: ...

StrPath = str | os.PathLike[str] | os.PathLike[bytes]
AnyPath = str | bytes | os.PathLike[str] | os.PathLike[bytes]
Buffer = bytes | bytearray | memoryview | mmap.mmap

def read(source: StrPath | Buffer | BinaryFile, *, path: AnyPath | None = None) -> Record: ...
def scan(paths: Iterable[AnyPath], *, jobs: int | None = None) -> Generator[Record, None, None]: ...
