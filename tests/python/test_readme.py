# The README's Python examples, run as pasted.
import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR


def readme_block(word):
    """The one ```python block of the README that holds `word`."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        blocks = re.findall(r"^```python\n(.*?)^```", f.read(), re.M | re.S)
    found = [block for block in blocks if word in block]
    assert len(found) == 1, f"{len(found)} blocks hold {word!r}"
    return found[0]


def test_the_python_example_runs_as_pasted():
    out = subprocess.run([sys.executable, "-c", readme_block("io.BytesIO")], cwd=SOURCE_DIR, check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    assert out == ""  # /srv/archive is not there: its one record is not-found
