import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import pytav

LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\S+) +PYTAV \([^)]+\): (.*)$")


def run_python(code: str, python: str = sys.executable) -> subprocess.CompletedProcess:
    return subprocess.run([python, "-c", code], capture_output=True, text=True, timeout=60)


def test_version_is_four_numbers_and_zero():
    assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+\.0", pytav.get_version())


@pytest.mark.parametrize(
    "call, level, text",
    [
        ("log_info('50% done %s')", "INFO", "50% done %s"),
        ("log_error('bad %d')", "ERROR", "bad %d"),
        ("log_warning('careful')", "WARNING", "careful"),
        ("log_debug('')", "DEBUG", ""),
    ],
)
def test_log_functions_write_text_unchanged_on_one_line(call, level, text):
    result = run_python(f"import pytav; pytav.{call}")
    assert result.returncode == 0, result.stderr
    lines = result.stderr.splitlines()
    assert len(lines) == 1, result.stderr
    match = LOG_LINE.match(lines[0])
    assert match, lines[0]
    assert match.group(1) == level
    assert match.group(2) == text



def test_functions_have_docstrings_and_positional_arguments_only():
    assert "Initialization of plugin." in pytav.init.__doc__
    assert "Returns number of alived objects." in pytav.get_num_alived_objects.__doc__
    with pytest.raises(TypeError):
        pytav.log_info(text="x")


def _other_python() -> str | None:
    root = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    for candidate in sorted(root.glob("3.11*/bin/python3.11")) if root.exists() else []:
        return str(candidate)
    return shutil.which("python3.11")


def test_other_interpreter_refuses_module_with_version_mismatch(tmp_path):
    other = _other_python()
    if other is None:
        pytest.skip("no Python 3.11 on this machine")
    shutil.copy(pytav.__file__, tmp_path / "pytav.so")
    result = subprocess.run(
        [other, "-c", "import pytav"], cwd=tmp_path, capture_output=True, text=True, timeout=60
    )
    assert result.returncode != 0
    assert (
        "ImportError: Python version mismatch: module was compiled for Python 3.10, "
        "but the interpreter version is incompatible: 3.11" in result.stderr
    ), result.stderr
