# Documents over HTTP: a real nginx serves the corpora and the gigabyte documents, and
# read() takes fsspec's HTTP files; nginx's access log tells what each read cost.
import json
import os
import subprocess
import sys

import pytest

import docoutline
import nginx
from conftest import without_file
from test_readme import readme_block

fsspec = pytest.importorskip("fsspec", reason="fsspec is not installed (tools/install-deps installs python3-fsspec)")
for needed in ("aiohttp", "requests"):  # fsspec's HTTP file system imports both
    pytest.importorskip(needed, reason=f"{needed} is not installed (tools/install-deps installs python3-{needed})")
if not nginx.available():
    pytest.skip("nginx is not installed (tools/install-deps installs nginx-light)", allow_module_level=True)


@pytest.fixture(scope="module")
def server(tmp_path_factory, big_documents):
    root = tmp_path_factory.mktemp("www")
    os.symlink(big_documents, root / "big")
    for variable in ("DOCOUTLINE_CORPUS", "DOCOUTLINE_OOXML_CORPUS"):
        folder = os.environ.get(variable)
        if folder and os.path.isdir(folder):
            os.symlink(folder, root / os.path.basename(os.path.normpath(folder)))
    served = nginx.Nginx(root)
    yield served
    served.stop()


def test_the_readme_recipe_reads_a_corpus_over_http_as_local_files(server, corpus, tmp_path):
    folder = os.path.dirname(corpus[0][0])
    urls = [server.url_of(os.path.basename(folder) + "/" + os.path.basename(p)) for p, _ in corpus]
    (tmp_path / "urls.txt").write_text("".join(url + "\n" for url in urls))
    subprocess.run([sys.executable, "-c", readme_block('fsspec.filesystem("http")')], cwd=tmp_path, check=True)
    with open(tmp_path / "outlines.jsonl", encoding="utf-8") as f:
        got = [json.loads(line) for line in f]
    assert got == [without_file(record) | {"path": url} for url, (_, record) in zip(urls, corpus)]


@pytest.mark.parametrize("name", ["package-1g.xlsx", "compound-1g.xls"])
def test_a_gigabyte_over_http_costs_a_few_requests_and_at_most_256_kib(server, big_documents, name):
    url = server.url_of("big/" + name)
    with fsspec.filesystem("http").open(url) as document:  # as opened by default: megabyte blocks
        got = docoutline.read(document)
    assert got == without_file(docoutline.read(big_documents / name)) | {"path": None}
    requests = [entry for entry in server.log() if entry[1] == "/big/" + name]
    assert all(status in (200, 206) for _, _, status, _ in requests)
    assert len(requests) <= 8, requests
    assert sum(sent for _, _, _, sent in requests) <= 256 << 10, requests
