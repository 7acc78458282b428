# Every file a test saves through ``pytav.Model.save`` is validated with
# ``tavtools.validate`` right after a successful save; a test that saved a file
# with problems fails, listing them (a writer fault or a false report of the
# validator, either way a fault).

import functools
import os
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

import pytav
from tavtools.validate import validate

_found = []
_save = pytav.Model.save


@functools.wraps(_save)
def _validated_save(self, *args):
    message = _save(self, *args)
    data = None
    try:
        # A FIFO, socket or device the test saved into holds nothing to read
        # back (and opening a FIFO would wait for a writer); a test may also
        # have removed the file at once.
        if message == "" and args and stat.S_ISREG(os.stat(args[0]).st_mode):
            with open(args[0], "rb") as handle:
                data = handle.read()
    except (OSError, TypeError, ValueError):
        pass
    if data is not None:
        _found.extend(f"{args[0]}: {issue}" for issue in validate(data).issues)
    return message


pytav.Model.save = _validated_save


@pytest.fixture(autouse=True)
def saved_files_validate_clean():
    del _found[:]
    yield
    problems, _found[:] = list(_found), []
    if problems:
        pytest.fail("saved file with problems:\n" + "\n".join(problems), pytrace=False)


@pytest.fixture(scope="session")
def shim(tmp_path_factory):
    # faultshim.c built for LD_PRELOAD (see preload_with in support.py).
    compiler = shutil.which("cc") or shutil.which("gcc")
    if not compiler:
        pytest.skip("no C compiler for the fault shim")
    library = tmp_path_factory.mktemp("shim") / "faultshim.so"
    # The compiler runs without the sanitizer runtime a `make sanitize` run preloads.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    source = Path(__file__).parent / "faultshim.c"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", str(library), str(source), "-ldl"], check=True, env=env)
    return library
