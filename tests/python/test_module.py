import os
import re
import shutil
import subprocess
import sys
import time
from datetime import datetime, timezone
from pathlib import Path

import pytest

import pytav

LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\S+) +PYTAV \([^)]+\): (.*)$")


def run_python(code: str, python: str = sys.executable) -> subprocess.CompletedProcess:
    return subprocess.run([python, "-c", code], capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("call, level, text", [
    ("log_info('50% done %s')", "INFO", "50% done %s"), ("log_error('bad %d')", "ERROR", "bad %d"),
    ("log_warning('careful')", "WARNING", "careful"), ("log_debug('')", "DEBUG", ""),
])
def test_log_functions_write_text_unchanged_on_one_line(call, level, text):
    result = run_python(f"import pytav; pytav.{call}")
    assert result.returncode == 0, result.stderr
    (line,) = result.stderr.splitlines()
    match = LOG_LINE.match(line)
    assert match and match.groups() == (level, text), line



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


# Loads the module late in a second (where its logger clock starts), so that
# a timestamp off by that second's fraction cannot pass by chance, and logs
# from a thread that has a Python name only.
LOG_LATE_IN_A_SECOND = """
import os, threading, time
while not 0.5 <= time.time() % 1.0 < 0.9:
    time.sleep(0.01)
import pytav
thread = threading.Thread(target=lambda: (print(threading.get_native_id()), pytav.log_info("from a thread")))
thread.start()
thread.join()
print(os.getpid())
pytav.log_info("from main")
"""


def test_log_lines_carry_wall_clock_time_and_the_numeric_id_of_a_thread_the_program_did_not_name():
    stamps = []
    for _ in range(2):
        before = time.time()
        result = run_python(LOG_LATE_IN_A_SECOND)
        after = time.time()
        assert result.returncode == 0, result.stderr
        lines = result.stderr.splitlines()
        threads = [re.search(r" PYTAV \(([^)]*)\): ", line).group(1) for line in lines]
        assert threads == result.stdout.split(), result.stderr
        stamp = datetime.strptime(lines[0][:23], "%Y-%m-%d %H:%M:%S.%f").replace(tzinfo=timezone.utc).timestamp()
        # Milliseconds are truncated: up to 1 ms before the call, never after.
        assert before - 0.0015 <= stamp <= after, (lines[0], before, after)
        stamps.append(stamp)
    assert stamps[0] <= stamps[1]


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
