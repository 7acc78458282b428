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


def _blender_module() -> str | None:
    built = sorted((Path(__file__).resolve().parents[2] / "build" / "py311").glob("pytav.cpython-311-*.so"))
    return str(built[0]) if built else None


@pytest.mark.parametrize("module, interpreter, built_for, running", [
    (lambda: pytav.__file__, _other_python, "3.10", "3.11"), (_blender_module, lambda: sys.executable, "3.11", "3.10"),
], ids=["venv module in 3.11", "Blender module in 3.10"])
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
