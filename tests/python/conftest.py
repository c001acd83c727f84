# What the Python module's tests share: the built docoutline-batch as the reference, the
# two corpora, and the sample. ctest (tests/python/CMakeLists.txt) sets the environment.
import json
import os
import subprocess

import pytest

SOURCE_DIR = os.environ.get("DOCOUTLINE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE = os.path.abspath(os.path.join(SOURCE_DIR, "samples", "quarterly-report.xls"))


def batch_records(args, *, stdin=None, cwd=None):
    """docoutline-batch's records for `args` (and a NUL-separated list on `stdin`)."""
    out = subprocess.run([os.environ["DOCOUTLINE_BATCH"], "--no-progress", *args], input=stdin,
                         stdout=subprocess.PIPE, check=True, cwd=cwd).stdout
    return [json.loads(line) for line in out.splitlines()]


def files_under(folder):
    return sorted(os.path.join(root, name) for root, _, names in os.walk(folder) for name in names)


@pytest.fixture(scope="session", params=["DOCOUTLINE_CORPUS", "DOCOUTLINE_OOXML_CORPUS"])
def corpus(request):
    """(path, docoutline-batch's record) for every file of a corpus."""
    folder = os.environ.get(request.param)
    if not folder or not os.path.isdir(folder):
        pytest.skip(f"no corpus at {folder!r}: set {request.param} to its folder")
    paths = files_under(folder)
    records = batch_records(["-0"], stdin=b"".join(os.fsencode(p) + b"\0" for p in paths))
    assert len(records) == len(paths)
    return list(zip(paths, records))


@pytest.fixture(scope="session")
def big_documents(tmp_path_factory):
    """A folder with compound-1g.xls and package-1g.xlsx, each a gigabyte (of holes) with
    its outline at the far end."""
    folder = tmp_path_factory.mktemp("big")
    subprocess.run([os.environ["DOCOUTLINE_MAKE_BIG_DOCUMENTS"], str(folder)], check=True)
    return folder


def without_file(record):
    """A record less what only an opened file gives."""
    return {k: v for k, v in record.items() if k not in ("size", "mtime")}
