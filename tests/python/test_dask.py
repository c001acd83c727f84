# Collections on Dask: a LocalCluster of two worker processes reads the corpora through
# docoutline.dask, also when a worker is killed mid-run.
import glob
import os
import signal
import subprocess
import sys
import time

import pytest

import docoutline
from test_readme import readme_block

distributed = pytest.importorskip(
    "distributed", reason="Dask is not installed (tools/install-deps installs python3-dask and python3-distributed)")
import cloudpickle  # noqa: E402  (after the skip)
import dask.bag  # noqa: E402
import docoutline.dask  # noqa: E402

# The workers cannot import this file: its functions travel whole.
cloudpickle.register_pickle_by_value(sys.modules[__name__])


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as connected:
            yield connected


def test_a_cluster_reads_a_corpus_as_the_batch_does(client, corpus):
    records = docoutline.dask.read_collection([p for p, _ in corpus], partition_size=300, jobs=1)
    assert records.compute() == [r for _, r in corpus]


def slowly(paths):
    time.sleep(0.1)
    return paths


def test_a_worker_killed_midway_loses_no_record(client, corpus):
    paths = [p for p, _ in corpus]
    slow = dask.bag.from_sequence(paths, partition_size=max(1, len(paths) // 40)).map_partitions(slowly)
    futures = client.compute(docoutline.dask.read_collection(slow, jobs=1).to_delayed())
    distributed.wait(futures, return_when="FIRST_COMPLETED")
    assert not all(f.done() for f in futures)
    os.kill(next(iter(client.run(os.getpid).values())), signal.SIGKILL)
    records = [record for part in client.gather(futures) for record in part]
    assert records == [r for _, r in corpus]


def test_the_readme_recipe_writes_the_batch_lines(corpus, tmp_path):
    paths = [p for p, _ in corpus]
    (tmp_path / "paths.txt").write_text("".join(p + "\n" for p in paths))
    recipe = tmp_path / "recipe.py"
    recipe.write_text(readme_block("docoutline.dask"))
    subprocess.run([sys.executable, recipe], cwd=tmp_path, check=True)
    written = b"".join(open(name, "rb").read() for name in sorted(glob.glob(str(tmp_path / "outlines" / "*.jsonl"))))
    expected = subprocess.run([os.environ["DOCOUTLINE_BATCH"], "--no-progress", "-0"], check=True,
                              stdout=subprocess.PIPE, input=b"".join(os.fsencode(p) + b"\0" for p in paths)).stdout
    assert written == expected
