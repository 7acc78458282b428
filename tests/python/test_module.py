import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import pytav
from support import LOG_LINE


@pytest.mark.parametrize("function, level, text", [
    ("log_info", "INFO", "50% done %s"), ("log_error", "ERROR", "bad %d"),
    ("log_warning", "WARNING", "careful"), ("log_debug", "DEBUG", ""),
])
def test_log_functions_write_text_unchanged_on_one_line(capfd, function, level, text):
    getattr(pytav, function)(text)
    (line,) = capfd.readouterr().err.splitlines()
    assert LOG_LINE.match(line).groups() == (level, text), line


def _other_python() -> str | None:
    root = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    found = sorted(root.glob("3.11*/bin/python3.11")) if root.exists() else []
    return str(found[0]) if found else shutil.which("python3.11")


def _blender_module(version: str) -> str | None:
    tag = version.replace(".", "")
    built = sorted((Path(__file__).resolve().parents[2] / "build" / f"py{tag}").glob(f"pytav.cpython-{tag}-*.so"))
    return str(built[0]) if built else None


@pytest.mark.parametrize("module, interpreter, built_for, running", [
    (lambda: pytav.__file__, _other_python, "3.10", "3.11"),
    (lambda: _blender_module("3.11"), lambda: sys.executable, "3.11", "3.10"),
    (lambda: _blender_module("3.13"), lambda: sys.executable, "3.13", "3.10"),
], ids=["venv module in 3.11", "Blender 3.4 to 5.0 module in 3.10", "Blender 5.1+ module in 3.10"])
def test_module_refuses_interpreter_of_other_minor_version(tmp_path, module, interpreter, built_for, running):
    source, python = module(), interpreter()
    if source is None or python is None:
        pytest.skip("this machine lacks the other interpreter or its module (make blender)")
    shutil.copy(source, tmp_path / "pytav.so")
    # -S keeps the venv's editable install of pytav off the path.
    result = subprocess.run([python, "-S", "-c", "import sys; sys.path.insert(0, '.'); import pytav"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert result.returncode != 0
    assert (f"ImportError: Python version mismatch: module was compiled for Python {built_for}, "
            f"but the interpreter version is incompatible: {running}") in result.stderr, result.stderr



# Saves the same model in the parent and, through a multiprocessing pool of
# the default start method (fork), in a child; a hung child is killed.
FORKED_SAVE = """
import multiprocessing, sys
sys.path.insert(0, {tests!r})
import pytav, support
def save(path):
    return support.build()[0].save(path, 10)
setup, parent_path, child_path = sys.argv[1:]
assert (pytav.init() if setup == "init" else save(parent_path)) in (None, "")
with multiprocessing.get_context("fork").Pool(1) as pool:
    message = pool.apply_async(save, (child_path,)).get(timeout=20)
assert message == "" and (setup != "init" or save(parent_path) == ""), message
"""


@pytest.mark.parametrize("setup", ["init", "save"])
def test_save_in_forked_child_returns_and_writes_the_parents_bytes(tmp_path, setup):
    parent, child = tmp_path / "parent.tav", tmp_path / "child.tav"
    code = FORKED_SAVE.format(tests=str(Path(__file__).parent))
    result = subprocess.run([sys.executable, "-c", code, setup, str(parent), str(child)],
                            capture_output=True, text=True, timeout=90)
    assert result.returncode == 0, result.stderr[-3000:]
    assert parent.stat().st_size > 0 and child.read_bytes() == parent.read_bytes()
