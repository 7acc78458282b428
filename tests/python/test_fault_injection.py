"""A save that fails at open, write, flush, close or rename returns a message,
leaves the previous file byte for byte and leaves no temporary file behind.

The failures are injected by faultshim.c, preloaded into a subprocess that
builds and saves the models; a full disk is simulated there with a small
file-size limit."""

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).parent
PREVIOUS = b"TAV previous file contents\x00\x01\x02" * 3

# Injected fault -> (message Model.save returns, detail the log gives).
FAULTS = {
    "open": ("Can't open {}", "CreateFile(REWRITE)"),
    "write": ("Can't write {}", "Short write to {}: 0 of"),
    "short_write": ("Can't write {}", "Short write to {}: "),
    "zero_write": ("Can't write {}", "Short write to {}: 0 of"),
    "fsync": ("Can't write {}", "Can't flush {}: "),
    "close": ("Can't write {}", "Can't close {}: "),
    "rename": ("Can't write {}", "Can't replace {}: "),
}


RUNNER = """
import json, os, resource, signal, sys
sys.path.insert(0, {here!r})
import pytav, every_class_model
pytav.init()
results = {{}}
for case, folder in json.loads(sys.argv[1]).items():
    op = case.split(":")[0]
    model, _ = every_class_model.build()
    target = os.path.join(folder, "model.tav")
    if op == "fsize":
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (512, hard))
    else:
        os.environ["FAULTSHIM_OP"] = op
        os.environ["FAULTSHIM_PATH"] = folder
    try:
        results[case] = model.save(target, 10)
    finally:
        os.environ["FAULTSHIM_OP"] = "none"
        if op == "fsize":
            resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
print(json.dumps(results))
"""


@pytest.fixture(scope="module")
def shim(tmp_path_factory):
    compiler = shutil.which("cc") or shutil.which("gcc")
    if not compiler:
        pytest.skip("no C compiler for the fault shim")
    library = tmp_path_factory.mktemp("shim") / "faultshim.so"
    # The compiler runs without the sanitizer runtime a `make sanitize` run preloads.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", str(library), str(HERE / "faultshim.c"), "-ldl"],
                   check=True, env=env)
    return library


CASES = [f"{op}:{previous}" for op in [*FAULTS, "none", "fsize"] for previous in ("previous", "fresh")]


@pytest.fixture(scope="module")
def outcomes(shim, tmp_path_factory):
    """Runs every case in one subprocess; returns {case: (message, folder, stderr)}."""
    base = tmp_path_factory.mktemp("faults")
    folders = {}
    for case in CASES:
        folder = base / case.replace(":", "-")
        folder.mkdir()
        if case.endswith(":previous"):
            (folder / "model.tav").write_bytes(PREVIOUS)
        folders[case] = str(folder)
    env = dict(os.environ, FAULTSHIM_OP="none", FAULTSHIM_PATH=str(base))
    env["LD_PRELOAD"] = " ".join(p for p in (os.environ.get("LD_PRELOAD", ""), str(shim)) if p)
    process = subprocess.run([sys.executable, "-c", RUNNER.format(here=str(HERE)), json.dumps(folders)],
                             env=env, capture_output=True, text=True)
    assert process.returncode == 0, process.stderr[-4000:]
    messages = json.loads(process.stdout.strip().splitlines()[-1])
    return {case: (messages[case], Path(folders[case]), process.stderr) for case in CASES}


@pytest.mark.parametrize("previous", ["previous", "fresh"])
@pytest.mark.parametrize("op", sorted(FAULTS))
def test_failed_save_returns_message_keeps_old_file_and_leaves_no_temporary(outcomes, op, previous):
    message, folder, stderr = outcomes[f"{op}:{previous}"]
    target = folder / "model.tav"
    expected, detail = FAULTS[op]
    assert message == expected.format(target)
    assert f"faultshim: {op}" in stderr, "the fault was never reached"
    assert detail.format(target) in stderr
    if previous == "previous":
        assert target.read_bytes() == PREVIOUS
        assert sorted(os.listdir(folder)) == ["model.tav"]
    else:
        assert os.listdir(folder) == []


@pytest.mark.parametrize("previous", ["previous", "fresh"])
def test_full_disk_returns_message_keeps_old_file_and_leaves_no_temporary(outcomes, previous):
    message, folder, stderr = outcomes[f"fsize:{previous}"]
    target = folder / "model.tav"
    assert message == f"Can't write {target}"
    assert f"Short write to {target}: 512 of " in stderr
    assert sorted(os.listdir(folder)) == (["model.tav"] if previous == "previous" else [])
    if previous == "previous":
        assert target.read_bytes() == PREVIOUS


@pytest.mark.parametrize("previous", ["previous", "fresh"])
def test_watched_save_without_fault_replaces_the_file(outcomes, previous):
    """The shim itself must not disturb a good save (else every case above
    could pass for the wrong reason)."""
    message, folder, _ = outcomes[f"none:{previous}"]
    assert message == ""
    data = (folder / "model.tav").read_bytes()
    assert data[:3] == b"TAV" and data != PREVIOUS
    assert os.listdir(folder) == ["model.tav"]
