# The README's Python examples, run as pasted, from the repository's root.
import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR


def readme_blocks():
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        return re.findall(r"^```python\n(.*?)^```", f.read(), re.M | re.S)


def test_the_python_example_runs_as_pasted():
    example = readme_blocks()[0]
    out = subprocess.run([sys.executable, "-c", example], cwd=SOURCE_DIR, check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    assert out == ""  # /srv/archive is not there: its one record is not-found
