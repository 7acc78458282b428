# A save does to its target what rewriting that path would do: a FIFO
# receives the file, other names of a file keep seeing it, and what an open for
# rewriting refuses is refused as "Can't open".

import itertools
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

import pytav
from support import preload_with


@pytest.fixture(scope="module")
def image(tmp_path_factory) -> bytes:
    # The bytes a save of the model gives in an ordinary new file.
    return image_of(tmp_path_factory.mktemp("reference"), "c")


@pytest.mark.parametrize("through_link", [False, True])
def test_fifo_gets_the_model_written_into_it_and_nothing_beside_it(tmp_path, image, through_link):
    fifo = target = tmp_path / "fifo"
    os.mkfifo(fifo)
    if through_link:
        target = tmp_path / "link.tav"
        target.symlink_to(fifo.name)
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # a reader must exist first
    try:
        # The file fits the pipe's buffer, so the save need not wait for the reader.
        assert connector_model("c").save(str(target), 20) == ""
        data = os.read(fd, 1 << 20)
        # The save closed its end: the pipe is at its end, not waiting for more.
        assert os.read(fd, 1) == b""
    finally:
        os.close(fd)
    assert data == image
    assert stat.S_ISFIFO(fifo.lstat().st_mode)
    assert sorted(os.listdir(tmp_path)) == sorted({fifo.name, target.name})


# (other hard links of the file, whether the path is a symbolic link to it)
@pytest.mark.parametrize("links, symlink", [(0, False), (1, False), (2, False), (0, True), (1, True)])
def test_every_name_of_a_longer_old_file_reads_the_model_with_its_mode_kept(tmp_path, image, links, symlink):
    old, target = tmp_path / "old.tav", tmp_path / ("link.tav" if symlink else "old.tav")
    old.write_bytes(b"x" * (len(image) + 100))
    old.chmod(0o640)
    names = [old] + [tmp_path / f"other{i}.tav" for i in range(links)]
    [os.link(old, name) for name in names[1:]]
    if symlink:
        target.symlink_to(old.name)
    assert connector_model("c").save(str(target), 20) == ""
    assert [name.read_bytes() == image for name in names] == [True] * len(names)
    assert (old.stat().st_nlink, stat.S_IMODE(old.stat().st_mode)) == (1 + links, 0o640)
    assert target.is_symlink() == symlink
    assert sorted(os.listdir(tmp_path)) == sorted({name.name for name in names} | {target.name})


@pytest.mark.parametrize("make_path", [
    lambda folder: str(folder / "model.tav") + "\0.tav",
    lambda folder: str(folder / ("m" * 300 + ".tav")),
    lambda folder: None,
], ids=["nul", "too_long", "none"])
def test_path_that_cannot_be_opened_is_refused_whole_and_nothing_is_saved(tmp_path, make_path):
    path = make_path(tmp_path)
    assert connector_model("c").save(path, 20) == f"Can't open {path or ''}"
    assert os.listdir(tmp_path) == []


# --- races and paths ----------------------------------------------------------
# Each race runs the two sides in separate processes for hundreds of rounds.

ROUNDS = 300


def rounds(least: int = ROUNDS, seconds: float = 15.0):
    # At least `least` rounds, and more while time is left: on a busy machine
    # the two sides seldom run at the same moment.
    deadline = time.monotonic() + seconds
    return itertools.takewhile(lambda count: count < least or time.monotonic() < deadline, itertools.count())
SAVER = f"""
import sys
sys.path.insert(0, {str(Path(__file__).parent)!r})
model = __import__("test_save_targets").connector_model(sys.argv[1] * int(sys.argv[2]))
for line in sys.stdin:
    print(repr(model.save(line.rstrip("\\n"), 20)), flush=True)
"""


@pytest.fixture
def fast_folder():
    # A folder in memory where there is one: flushing costs nothing there, so
    # the rounds come fast enough for the two sides to meet often.
    folder = Path(tempfile.mkdtemp(dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None))
    yield folder
    shutil.rmtree(folder)


def connector_model(name: str) -> pytav.Model:
    model = pytav.Model()
    connector = pytav.Connector(name)
    connector.setControlNode(model.getRootTransform())
    model.addConnector(connector)
    return model


def saver(name: str, env: dict | None = None) -> subprocess.Popen:
    # A process that saves a model holding one connector `name` (a letter
    # repeated) to each path it is sent.
    return subprocess.Popen([sys.executable, "-c", SAVER, name[0], str(len(name))], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, bufsize=1, env=env)


def image_of(folder: Path, name: str) -> bytes:
    folder.mkdir(exist_ok=True)
    path = folder / f"reference-{len(name)}.tav"
    assert connector_model(name).save(str(path), 20) == ""
    return path.read_bytes()


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to play a second user")
def test_link_swapped_during_save_gives_foreign_file_our_owner_and_mode(fast_folder):
    # A user flips its x.tav between a file and a link to a root-only file
    # while root saves to x.tav: whatever happens, the root file keeps its
    # owner and mode and holds its old bytes or the model's.
    base = fast_folder
    base.chmod(0o711)
    secret, user = base / "secret", base / "user"
    secret.mkdir(mode=0o700)
    user.mkdir()
    os.chown(user, 65534, 65534)
    victim = secret / "root.tav"
    victim.write_bytes(b"root's own")
    victim.chmod(0o600)
    # The system's interpreter: the test's may lie where the second user can't reach.
    flipper = subprocess.Popen([shutil.which("python3", path="/usr/bin:/bin") or sys.executable, "-c", FLIPPER,
                                str(user), str(victim)], user=65534, group=65534, stdout=subprocess.PIPE)
    model, target, image = connector_model("saved"), user / "x.tav", image_of(base / "reference", "saved")
    try:
        assert flipper.stdout.readline() == b"flipping\n"
        # Unchecked: what the path shows after the save is the user's business.
        save = getattr(pytav.Model.save, "__wrapped__", pytav.Model.save)
        for _ in rounds():
            assert save(model, str(target), 20) in ("", f"Can't open {target}")
            info = victim.lstat()
            assert (info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (0, 0, 0o600)
        assert flipper.poll() is None, "the second user stopped flipping"
    finally:
        flipper.kill()
        flipper.wait()
    assert victim.read_bytes() in (b"root's own", image)


# The user's x.tav reaches, through a chain of links, a last name that the
# user keeps flipping between a file of its own and a link to the root file;
# the chain draws out the time a save spends finding where the name leads.
FLIPPER = """
import os, sys
folder, victim = sys.argv[1:]
hops = [os.path.join(folder, n) for n in ["x.tav"] + [f"hop{i}" for i in range(30)]]
for name, next_name in zip(hops, hops[1:]):
    os.symlink(os.path.basename(next_name), name)
plain, link = os.path.join(folder, "plain"), os.path.join(folder, "link")
print("flipping", flush=True)
while True:
    with open(plain, "wb") as handle:
        handle.write(b"user's")
    os.replace(plain, hops[-1])
    os.symlink(victim, link)
    os.replace(link, hops[-1])
"""


def test_two_saves_into_hard_linked_file_leave_a_mixture(tmp_path, fast_folder, shim):
    # Hard-linked files are rewritten in place; two processes doing so at
    # once must leave one whole model, never the head of one and the tail of
    # the other. The shim makes every write slow and small, so the two
    # writes overlap whenever nothing keeps them apart; each round starts the
    # other saver first.
    names = ["a" * 200_000, "b" * 1_000_000]
    images = {image_of(tmp_path / "reference", name) for name in names}
    target = fast_folder / "linked.tav"
    target.write_bytes(b"old")
    os.link(target, fast_folder / "second-name.tav")
    slow = dict(os.environ, LD_PRELOAD=preload_with(shim), FAULTSHIM_OP="slow", FAULTSHIM_PATH=str(target))
    savers = [saver(name, slow) for name in names]
    try:
        for count in rounds(least=20, seconds=0):
            for process in savers[count % 2:] + savers[:count % 2]:
                process.stdin.write(f"{target}\n")
            assert [process.stdout.readline().strip() for process in savers] == ["''", "''"]
            assert target.read_bytes() in images
    finally:
        for process in savers:
            process.stdin.close()
            process.wait()
    assert os.stat(target).st_nlink == 2


@pytest.mark.parametrize("make_path", [
    lambda folder: folder / "model.tav",
    lambda folder: os.fsdecode(bytes(folder / "esc") + b"\xff.tav"),
    lambda folder: os.fsencode(folder / "esc\udcff.tav"),
], ids=["pathlib", "escaped_str", "bytes"])
def test_path_object_or_escaped_str_refused_where_bytes_work(tmp_path, make_path):
    folder = tmp_path / "saved"
    folder.mkdir()
    path = make_path(folder)
    assert connector_model("c").save(path, 20) == ""
    assert os.listdir(os.fsencode(folder)) == [os.path.basename(os.fsencode(path))]
    assert open(path, "rb").read() == image_of(tmp_path / "reference", "c")
    missing = make_path(folder / "missing")
    assert connector_model("c").save(missing, 20) == f"Can't open {os.fsdecode(missing)}"


def test_save_into_fifo_read_by_a_thread_of_the_same_process_deadlocks(tmp_path):
    # More than a pipe holds, so the save must wait for the reader thread; a
    # save that kept the interpreter lock meanwhile would never return, hence
    # the separate process and its time limit.
    script = f"""
import os, sys, threading
sys.path.insert(0, {str(Path(__file__).parent)!r})
import test_save_targets as t
image = t.image_of(t.Path({str(tmp_path)!r}), "c" * 300000)
fifo = {str(tmp_path / "fifo")!r}
os.mkfifo(fifo)
reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
os.set_blocking(reader, True)
writer = os.open(fifo, os.O_WRONLY)  # keeps reads waiting, never at an end, until the save wrote
got = bytearray()
thread = threading.Thread(target=lambda: [got.extend(os.read(reader, 1 << 16)) for _ in iter(
    lambda: len(got) < len(image), False)])
thread.start()
message = t.connector_model("c" * 300000).save(fifo, 20)
thread.join()
print(repr(message), bytes(got) == image)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.stdout.split() == ["''", "True"], done.stderr[-2000:]
