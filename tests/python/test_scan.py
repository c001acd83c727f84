# docoutline.scan(): the batch's records in input order on threads, and how a scan stops.
import itertools
import os
import shutil
import signal
import subprocess
import sys
import time

import pytest

import docoutline
from conftest import SAMPLE, batch_records


def threads():
    return set(os.listdir("/proc/self/task"))


def test_scan_on_threads_is_a_sequential_read_in_input_order(corpus):
    folder = os.path.dirname(corpus[0][0])
    args = [folder, SAMPLE, folder + "/missing.doc"]
    walked = batch_records(args)
    assert list(docoutline.scan(args, jobs=4)) == walked
    # Folders walked as the batch walks them; every record what read() gives.
    assert walked == [docoutline.read(r["path"]) for r in walked]
    # A lazy iterable, longer than one chunk of paths, in order.
    paths = [p for p, _ in corpus]
    repeated = (p for p in itertools.chain(paths, paths, paths))
    assert list(docoutline.scan(repeated, jobs=4)) == [r for _, r in corpus] * 3


def test_a_path_named_dash_is_a_file_not_the_standard_input(tmp_path, monkeypatch):
    os.mkdir(tmp_path / "-")
    shutil.copy(SAMPLE, tmp_path / "-" / "a.xls")
    shutil.copy(SAMPLE, tmp_path / "b.xls")
    monkeypatch.chdir(tmp_path)
    got = [(r["path"], r["status"]) for r in docoutline.scan(["b.xls", "-", b"./-"], jobs=2)]
    assert got == [("b.xls", "ok"), ("-/a.xls", "ok"), ("./-/a.xls", "ok")]


def test_closing_a_scan_early_stops_and_joins_its_threads():
    before = threads()  # others may end meanwhile (a Dask client's, from an earlier test)
    scan = docoutline.scan(itertools.repeat(SAMPLE), jobs=4)
    assert next(scan)["status"] == "ok"
    assert threads() - before  # the threads still reading (some may be done with their share)
    scan.close()
    assert not threads() - before


@pytest.mark.parametrize("args, jobs, error", [
    ("one.xls", None, TypeError), ([1], None, TypeError), ([SAMPLE], "2", TypeError), ([SAMPLE], 0, ValueError)])
def test_wrong_arguments_raise(args, jobs, error):
    with pytest.raises(error):
        list(docoutline.scan(args, jobs=jobs))


def test_ctrl_c_stops_a_long_scan_within_a_second():
    program = ("import docoutline, itertools, sys\n"
               "print('scanning', flush=True)\n"
               "for record in docoutline.scan(itertools.repeat(sys.argv[1]), jobs=2):\n"
               "    pass\n")
    with subprocess.Popen([sys.executable, "-c", program, SAMPLE], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as child:
        assert child.stdout.readline() == "scanning\n"
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        try:
            child.wait(timeout=5)
        finally:
            child.kill()
        stopped = time.monotonic() - sent
        assert "KeyboardInterrupt" in child.stderr.read()
    assert stopped < 1.0
