"""A save does to its target what rewriting that path would do: FIFOs,
devices and sockets receive the file, other names of a file and links keep
seeing it, and what an open for rewriting refuses is refused as "Can't open"."""

import json
import os
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import pytest

import support
import pytav
import tavtools

HERE = Path(__file__).parent
NOBODY = 65534
AS_ROOT = os.geteuid() == 0


def fresh_model() -> pytav.Model:
    return support.build()[0]


@pytest.fixture(scope="module")
def image(tmp_path_factory) -> bytes:
    """The bytes a save of fresh_model() gives in an ordinary new file."""
    path = tmp_path_factory.mktemp("reference") / "model.tav"
    assert fresh_model().save(str(path), 10) == ""
    assert tavtools.read(path)["version"] == 10
    return path.read_bytes()


class Reader(threading.Thread):
    """Collects everything written into an open FIFO or accepted socket."""

    def __init__(self, receive):
        super().__init__(daemon=True)
        self.receive, self.data = receive, bytearray()

    def run(self):
        while True:
            chunk = self.receive()
            if chunk:
                self.data += chunk
            elif self.data:
                return  # the writer closed
            else:
                time.sleep(0.005)  # the writer has not opened yet


def fifo_reader(path):
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)  # a reader must exist first
    os.set_blocking(fd, True)
    reader = Reader(lambda: os.read(fd, 1 << 16))
    reader.start()
    return reader, lambda: os.close(fd)


def socket_reader(path):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(str(path))
    server.listen(1)
    accepted = []

    def receive():
        if not accepted:
            accepted.append(server.accept()[0])
        return accepted[0].recv(1 << 16)

    reader = Reader(receive)
    reader.start()
    return reader, lambda: [s.close() for s in accepted + [server]]


@pytest.mark.parametrize("kind, through_link", [("fifo", False), ("fifo", True), ("socket", False),
                                                ("socket", True)])
def test_fifo_or_socket_gets_the_model_written_into_it_and_nothing_beside_it(tmp_path, image, kind, through_link):
    node = tmp_path / kind
    if kind == "fifo":
        os.mkfifo(node)
        reader, finish = fifo_reader(node)
    else:
        reader, finish = socket_reader(node)
    target = node
    if through_link:
        target = tmp_path / "link.tav"
        target.symlink_to(node.name)
    try:
        assert fresh_model().save(str(target), 10) == ""
        reader.join(timeout=30)
    finally:
        finish()
    assert bytes(reader.data) == image
    mode = node.lstat().st_mode
    assert stat.S_ISFIFO(mode) if kind == "fifo" else stat.S_ISSOCK(mode)
    assert sorted(os.listdir(tmp_path)) == sorted({node.name, target.name})


def test_fifo_without_a_reader_is_refused_and_stays_a_fifo(tmp_path, capfd):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    assert fresh_model().save(str(fifo), 10) == f"Can't open {fifo}"
    assert stat.S_ISFIFO(fifo.lstat().st_mode)
    assert os.listdir(tmp_path) == ["fifo"]
    assert f"[{fifo}] CreateFile(REWRITE): " in capfd.readouterr().err


@pytest.mark.skipif(not AS_ROOT, reason="making a device node needs root")
@pytest.mark.parametrize("device, minor, message", [("null", 3, ""), ("full", 7, "Can't write {}")])
def test_character_device_is_written_into_and_stays_a_device(tmp_path, device, minor, message):
    node = tmp_path / device
    os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, minor))
    link = tmp_path / "link.tav"
    link.symlink_to(node)
    for target in (node, link):
        assert fresh_model().save(str(target), 10) == message.format(target)
        info = node.lstat()
        assert stat.S_ISCHR(info.st_mode) and info.st_rdev == os.makedev(1, minor)
        assert sorted(os.listdir(tmp_path)) == sorted(["link.tav", device])


def test_hard_linked_file_is_rewritten_so_every_name_sees_the_model(tmp_path, image):
    first, second = tmp_path / "a.tav", tmp_path / "b.tav"
    first.write_bytes(b"old contents that are longer than nothing" * 1000)
    os.link(first, second)
    inode = first.stat().st_ino
    assert fresh_model().save(str(first), 10) == ""
    assert first.read_bytes() == second.read_bytes() == image
    assert first.stat().st_ino == second.stat().st_ino == inode
    assert sorted(os.listdir(tmp_path)) == ["a.tav", "b.tav"]


def test_dangling_symbolic_link_makes_the_file_it_points_to(tmp_path, image):
    (tmp_path / "real").mkdir()
    link = tmp_path / "link.tav"
    link.symlink_to(Path("real") / "model.tav")
    assert fresh_model().save(str(link), 10) == ""
    assert link.is_symlink()
    assert (tmp_path / "real" / "model.tav").read_bytes() == image
    assert os.listdir(tmp_path / "real") == ["model.tav"]


@pytest.mark.skipif(not AS_ROOT, reason="giving a file to another owner needs root")
def test_replaced_file_keeps_its_owner_and_mode(tmp_path, image):
    target = tmp_path / "model.tav"
    target.write_bytes(b"old")
    os.chown(target, NOBODY, NOBODY)
    target.chmod(0o604)
    assert fresh_model().save(str(target), 10) == ""
    info = target.stat()
    assert (info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)) == (NOBODY, NOBODY, 0o604)
    assert target.read_bytes() == image


@pytest.mark.parametrize("make_path", [
    lambda folder: str(folder / "model.tav") + "\0.tav",
    lambda folder: str(folder / "model") + "\0",
])
def test_path_with_a_nul_is_refused_whole_and_nothing_is_saved(tmp_path, make_path):
    path = make_path(tmp_path)
    assert fresh_model().save(path, 10) == f"Can't open {path}"
    assert os.listdir(tmp_path) == []


def test_file_name_too_long_for_the_file_system_cannot_be_opened(tmp_path):
    path = tmp_path / ("m" * 300 + ".tav")
    assert fresh_model().save(str(path), 10) == f"Can't open {path}"
    assert os.listdir(tmp_path) == []


# Saves as an unprivileged user (root may write everything) into each
# prepared folder and reports the message and the target's inode. The
# interpreter starts as root (it lives where others may not read) and gives
# up its rights before the first save.
AS_NOBODY = """
import json, os, sys
sys.path.insert(0, {here!r})
import support
os.setgroups([])
os.setgid({nobody})
os.setuid({nobody})
results = {{}}
for name, target in json.loads(sys.argv[1]).items():
    message = support.build()[0].save(target, 10)
    results[name] = [message, os.stat(target).st_ino]
print(json.dumps(results))
"""


@pytest.mark.skipif(not AS_ROOT, reason="needs root to run a save as another user")
def test_unprivileged_save_rewrites_in_place_in_a_closed_folder_and_refuses_a_read_only_file(image):
    with tempfile.TemporaryDirectory() as base:
        base = Path(base)
        base.chmod(0o755)
        closed = base / "closed"  # nobody may write the file but create nothing beside it
        closed.mkdir(mode=0o755)
        (closed / "model.tav").write_bytes(b"old writable")
        (closed / "model.tav").chmod(0o666)
        open_folder = base / "open"  # nobody may create files here but not write the file
        open_folder.mkdir()
        open_folder.chmod(0o777)
        (open_folder / "model.tav").write_bytes(b"old read-only")
        (open_folder / "model.tav").chmod(0o644)
        targets = {"closed": str(closed / "model.tav"), "read_only": str(open_folder / "model.tav")}
        inodes = {name: os.stat(path).st_ino for name, path in targets.items()}
        code = AS_NOBODY.format(here=str(HERE), nobody=NOBODY)
        result = subprocess.run([sys.executable, "-c", code, json.dumps(targets)], capture_output=True, text=True,
                                timeout=120)
        assert result.returncode == 0, result.stderr[-4000:]
        outcome = json.loads(result.stdout.strip().splitlines()[-1])
        assert outcome["closed"] == ["", inodes["closed"]]
        assert (closed / "model.tav").read_bytes() == image
        assert outcome["read_only"] == [f"Can't open {targets['read_only']}", inodes["read_only"]]
        assert (open_folder / "model.tav").read_bytes() == b"old read-only"
        assert os.listdir(closed) == ["model.tav"] and os.listdir(open_folder) == ["model.tav"]
