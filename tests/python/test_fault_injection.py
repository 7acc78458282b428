# A save that fails at open, write, flush, close or rename, or on a full
# disk, returns a message, leaves the previous file byte for byte and leaves no
# temporary file behind; so does a save killed midway.
#
# faultshim.c, preloaded into a subprocess that builds and saves the models,
# injects the failures; a small file-size limit there makes the disk full.

import json
import os
import re
import shutil
import socket
import subprocess
import sys
from pathlib import Path

import pytest

from support import preload_with

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
    "fsize": ("Can't write {}", "Short write to {}: 512 of "),
    "none": ("", ""),
}

RUNNER = """
import json, os, resource, signal, sys
sys.path.insert(0, {here!r})
import pytav, support
pytav.init()
results = {{}}
for case, folder in json.loads(sys.argv[1]).items():
    op = case.split(":")[0]
    model, _ = support.build()
    if op == "fsize":
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (512, hard))
    else:
        os.environ["FAULTSHIM_OP"], os.environ["FAULTSHIM_PATH"] = op, folder
    try:
        results[case] = model.save(os.path.join(folder, "model.tav"), 10)
    finally:
        os.environ["FAULTSHIM_OP"] = "none"
        if op == "fsize":
            resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
print(json.dumps(results))
"""


CASES = [f"{op}:{previous}" for op in FAULTS for previous in ("previous", "fresh")]


def make_folders(base, cases):
    # One folder per case, holding PREVIOUS as model.tav for ":previous" cases.
    folders = {case: base / case.replace(":", "-") for case in cases}
    for case, folder in folders.items():
        folder.mkdir()
        if case.endswith(":previous"):
            (folder / "model.tav").write_bytes(PREVIOUS)
    return {case: str(folder) for case, folder in folders.items()}


def run_saves(shim, base, folders, **env_extra):
    # Saves into every folder in one subprocess under the shim.
    env = dict(os.environ, FAULTSHIM_OP="none", FAULTSHIM_PATH=str(base), LD_PRELOAD=preload_with(shim), **env_extra)
    return subprocess.run([sys.executable, "-c", RUNNER.format(here=str(HERE)), json.dumps(folders)],
                          env=env, capture_output=True, text=True)


def messages_of(process):
    assert process.returncode == 0, process.stderr[-4000:]
    return json.loads(process.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="module")
def outcomes(shim, tmp_path_factory):
    # Runs every case in one subprocess; returns {case: (message, folder, stderr)}.
    base = tmp_path_factory.mktemp("faults")
    folders = make_folders(base, CASES)
    process = run_saves(shim, base, folders)
    messages = messages_of(process)
    return {case: (messages[case], Path(folders[case]), process.stderr) for case in CASES}


@pytest.mark.parametrize("previous", ["previous", "fresh"])
@pytest.mark.parametrize("op", sorted(FAULTS))
def test_failed_save_returns_message_keeps_old_file_and_leaves_no_temporary(outcomes, op, previous):
    message, folder, stderr = outcomes[f"{op}:{previous}"]
    target = folder / "model.tav"
    expected, detail = FAULTS[op]
    assert message == expected.format(target)
    if op == "none":
        # The shim itself must not disturb a good save, or every case could pass for the wrong reason.
        assert target.read_bytes()[:4] == b"TAV\n" and os.listdir(folder) == ["model.tav"]
        return
    assert op == "fsize" or f"faultshim: {op}" in stderr, "the fault was never reached"
    assert detail.format(target) in stderr
    # Every line names the script's target, never a temporary, under a tag of the file layer.
    for line in (line for line in stderr.splitlines() if str(folder) in line and " ERROR " in line):
        assert re.search(r" ERROR +(VFS|QZCORESTATIC) \(", line) and str(target) in line, line
    assert os.listdir(folder) == (["model.tav"] if previous == "previous" else [])
    assert previous == "fresh" or target.read_bytes() == PREVIOUS


@pytest.mark.parametrize("unnamed_files", [True, False])
@pytest.mark.parametrize("previous", ["previous", "fresh"])
def test_save_killed_midway_leaves_nothing_that_the_next_save_keeps(shim, tmp_path, unnamed_files, previous):
    case = f"kill:{previous}"
    folders = make_folders(tmp_path, [case])
    process = run_saves(shim, tmp_path, folders, **({} if unnamed_files else {"FAULTSHIM_NO_TMPFILE": "1"}))
    assert process.returncode == -9 and "faultshim: kill" in process.stderr, process.stderr[-4000:]
    folder = Path(folders[case])
    before = ["model.tav"] if previous == "previous" else []
    left = os.listdir(folder)
    assert left == before if unnamed_files else len(left) == len(before) + 1, left
    if previous == "previous":
        assert (folder / "model.tav").read_bytes() == PREVIOUS
    # Where the file system forces a named temporary, the next save into the
    # folder removes the one whose process is gone.
    assert messages_of(run_saves(shim, tmp_path, {"none:after": str(folder)})) == {"none:after": ""}
    assert os.listdir(folder) == ["model.tav"]


SWEEPER = """
import os, sys
import pytav
folder, rounds = sys.argv[1], int(sys.argv[2])
failed = []
for index in range(rounds):
    child = os.fork()  # a fresh process for each save: each one sweeps the folder
    if child == 0:
        os._exit(pytav.Model().save(os.path.join(folder, "sweeper.tav"), 10) != "")
    failed += [index] if os.waitpid(child, 0)[1] else []
print(failed)
"""
WRITER = """
import os, sys
import pytav
folder, rounds = sys.argv[1], int(sys.argv[2])
messages = [pytav.Model().save(os.path.join(folder, "writer.tav"), 10) for _ in range(rounds)]
print(sorted(set(messages)), os.getpid())
"""


def free_pid() -> int:
    # A process id no process of this namespace has, nor its successor.
    for pid in range(30000, 2, -1):
        try:
            os.kill(pid, 0)
            os.kill(pid + 1, 0)
        except ProcessLookupError:
            return pid
    raise AssertionError("no free process id")


@pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("unshare"), reason="needs root and unshare")
@pytest.mark.parametrize("unnamed_files", [True, False])
def test_sweep_deletes_live_temporary_of_a_save_in_another_pid_namespace(shim, tmp_path, unnamed_files):
    # The writer runs in a PID namespace of its own under an id that is no
    # process here, as in a container; the saves of the other side sweep the
    # folder all the while. No save may lose its temporary.
    rounds = 300
    env = dict(os.environ, FAULTSHIM_OP="none", FAULTSHIM_PATH=str(tmp_path))
    if not unnamed_files:
        env.update(FAULTSHIM_NO_TMPFILE="1", LD_PRELOAD=preload_with(shim))
    pid = free_pid()
    writer = subprocess.Popen(
        ["unshare", "--pid", "--fork", "--mount-proc", "sh", "-c",
         f'echo {pid} > /proc/sys/kernel/ns_last_pid && "$0" "$@"; exit $?', sys.executable, "-c", WRITER,
         str(tmp_path), str(rounds)], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    sweeper = subprocess.run([sys.executable, "-c", SWEEPER, str(tmp_path), str(rounds)], capture_output=True,
                             text=True, timeout=120)
    out, err = writer.communicate(timeout=120)
    assert out.split("] ")[0] + "]" == "['']" and int(out.split()[-1]) == pid + 1, err[-3000:]
    assert sweeper.stdout.strip() == "[]", sweeper.stderr[-3000:]
    assert sorted(os.listdir(tmp_path)) == ["sweeper.tav", "writer.tav"]


def test_sweep_removes_users_file_named_like_a_temporary(shim, tmp_path):
    # Files of the temporaries' name patterns that no save made stay (one
    # naming this host and a process that is gone); the next process's save
    # still clears a real abandoned one (killed midway, above).
    host = 2166136261
    for byte in socket.gethostname().encode():
        host = (host ^ byte) * 16777619 % 2**32
    names = [".qzsave-0123456789abcdef-0123456789abcdef.tmp", ".qzsave-0123456789abcdef.tmp",
             f".qzsave-{host:08x}-{free_pid() + 1}-0123456789abcdef.tmp"]
    for name in names:
        (tmp_path / name).write_bytes(b"the user's")
    assert messages_of(run_saves(shim, tmp_path, {"none:user": str(tmp_path)})) == {"none:user": ""}
    assert sorted(os.listdir(tmp_path)) == sorted(names + ["model.tav"])
