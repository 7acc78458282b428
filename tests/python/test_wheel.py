# The wheel, built from the suite's own build tree (nothing is compiled twice),
# goes into a fresh environment that borrows NumPy and mypy through a path file
# but gets pytav, its stubs and tavtools only from the wheel.

import os
import subprocess
import sys
import sysconfig
import venv
from pathlib import Path

import pytest

import tavtools

REPO = Path(__file__).resolve().parents[2]
# Normals as a plain list, an array-like too; the annotation makes mypy check save's return type.
EXPORTER = """import sys
import numpy as np
import pytav
pytav.init()
model = pytav.Model()
plate = pytav.ColorNode("plate", "paint")
plate.setPositions(np.array([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0], dtype=np.float32))
plate.setNormals([0.0, 0.0, 1.0] * 4)
plate.setIndices([0, 1, 2, 0, 2, 3])
plate.setControlNode(model.getRootTransform())
assert model.addRenderNode(plate) == ""
message: str = model.save(sys.argv[1], 10)
pytav.deinit()
sys.exit(message or 0)
"""
# The C and C++ runtime, which every machine that runs Python has.
RUNTIME = ("linux-vdso", "ld-linux", "libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "libpthread.so")


def run(*command, **options):
    done = subprocess.run([str(c) for c in command], capture_output=True, text=True, timeout=600, **options)
    assert done.returncode == 0, done.stdout + done.stderr
    return done


def test_wheel_installs_a_typed_module_needing_only_the_runtime_and_the_tavtools_command(tmp_path):
    pytest.importorskip("mypy")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the wheel holds the plain build; this run tests an instrumented one")
    run(sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps", "-w", tmp_path / "dist",
        REPO, cwd=REPO)
    (wheel,) = (tmp_path / "dist").glob("pytav-*.whl")
    venv.create(tmp_path / "env", with_pip=False)
    python = tmp_path / "env" / "bin" / "python"
    site = Path(run(python, "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])").stdout.strip())
    run(sys.executable, "-m", "pip", "--python", python, "install", "-q", "--no-deps", "--no-index", wheel)
    (site / "borrowed.pth").write_text(sysconfig.get_paths()["purelib"] + "\n")
    (tmp_path / "exporter.py").write_text(EXPORTER)
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    run(python, "-m", "mypy", "--strict", "--no-incremental", "exporter.py", cwd=tmp_path, env=env)
    assert run(python, "-c", "import pytav; print(pytav.__file__)", cwd=tmp_path, env=env).stdout.startswith(str(site))
    run(python, "exporter.py", tmp_path / "plate.tav", cwd=tmp_path, env=env)
    assert [(r["name"], r["vertex_count"]) for r in tavtools.read(tmp_path / "plate.tav")["sections"]["RENDER_NODES"]] \
        == [("plate", 4)]
    assert (site / "pytav-stubs" / "__init__.pyi").read_text() == (REPO / "python_bindings" / "pytav.pyi").read_text()
    assert (site / "tavtools" / "py.typed").exists()
    assert not (site / "py.typed").exists()
    assert run(python.parent / "tavtools", "--version", cwd=tmp_path).stdout.startswith("tavtools 1.0.0 (pytav module ")
    (module,) = site.glob("pytav*.so")
    needed = [line.split()[0] for line in run("ldd", module).stdout.splitlines() if line.strip()]
    assert [name for name in needed if not name.startswith(RUNTIME) and not name.startswith("/")] == []
