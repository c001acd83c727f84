"""Collections on Dask: the records of many documents as a dask.bag, read where the
workers are.

    records = docoutline.dask.read_collection(paths, partition_size=1000)
    docoutline.dask.to_jsonl(records, "outlines/*.jsonl")

Each partition is read with docoutline.scan() inside one task: threads within a worker,
processes and machines across workers. The paths travel, not the documents, so every
worker must see the files under the same paths (a shared file system mounted alike).
A task returns its partition's records whole, so a worker lost mid-run loses no record:
Dask runs its partitions again elsewhere, and the result holds each record once.

Importing this module imports dask; ``import docoutline`` alone never does.
"""

from __future__ import annotations

import json
import os
from collections.abc import Iterable
from typing import Any

import dask.bag

import docoutline

__all__ = ["read_collection", "to_jsonl"]


def _read_partition(paths, jobs):
    return list(docoutline.scan(paths, jobs=jobs))


def read_collection(paths: Iterable[str | bytes | os.PathLike] | dask.bag.Bag, *, partition_size: int = 1000,
                    jobs: int | None = None) -> dask.bag.Bag:
    """A dask.bag of the records of `paths`, in their order.

    `paths` is an iterable of paths (str, bytes or os.PathLike; folders are walked, as
    scan() walks them), made into partitions of `partition_size` paths; or a dask.bag
    of paths, partitioned as it is. Each partition is one task, read with
    ``docoutline.scan(partition, jobs=jobs)``: `jobs` threads in the worker (default:
    one per core of the worker's machine; with several worker processes on a machine,
    give each its share). The bag's records come in the order of the paths, a folder's
    documents where the folder stands.
    """
    if isinstance(paths, dask.bag.Bag):
        bag = paths
    elif isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("read_collection() takes an iterable of paths or a dask.bag of them; for one, pass [path]")
    else:
        bag = dask.bag.from_sequence(list(paths), partition_size=partition_size)
    return bag.map_partitions(_read_partition, jobs)


def _line(record):
    # The batch's own bytes: compact, UTF-8, keys in the record's order.
    return json.dumps(record, ensure_ascii=False, separators=(",", ":"))


def _file_name(index):
    return f"{index:06d}"


def to_jsonl(records: dask.bag.Bag, path: str, **kwargs: Any) -> Any:
    """Writes `records` as JSON Lines, one file per partition, and returns the file names.

    `path` is a folder or a pattern with one "*", which becomes the partition's number
    in six digits ("outlines/*.jsonl": outlines/000000.jsonl ...), so that the files in
    name order hold the records in order. Each line is what docoutline-batch writes for
    the record. Other keyword arguments go to dask.bag.Bag.to_textfiles (storage
    options, compute=False ...).
    """
    kwargs.setdefault("name_function", _file_name)
    return records.map(_line).to_textfiles(path, last_endline=True, **kwargs)
