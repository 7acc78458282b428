"""A save does to its target what rewriting that path would do: FIFOs,
devices and sockets receive the file, other names of a file and links keep
seeing it, and what an open for rewriting refuses is refused as "Can't open"."""

import os
import socket
import stat
import threading
import time
from pathlib import Path

import pytest

import support
import pytav
import tavtools



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


def test_hard_linked_file_is_rewritten_so_every_name_sees_the_model(tmp_path, image):
    first, second = tmp_path / "a.tav", tmp_path / "b.tav"
    first.write_bytes(b"old contents that are longer than nothing" * 1000)
    os.link(first, second)
    inode = first.stat().st_ino
    assert fresh_model().save(str(first), 10) == ""
    assert first.read_bytes() == second.read_bytes() == image
    assert first.stat().st_ino == second.stat().st_ino == inode
    assert sorted(os.listdir(tmp_path)) == ["a.tav", "b.tav"]


# Saves as an unprivileged user (root may write everything) into each
# prepared folder and reports the message and the target's inode. The
# interpreter starts as root (it lives where others may not read) and gives
# up its rights before the first save.




@pytest.mark.parametrize("make_path", [
    lambda folder: str(folder / "model.tav") + "\0.tav",
    lambda folder: str(folder / ("m" * 300 + ".tav")),
    lambda folder: str(folder / "missing-folder" / "x.tav"),
    lambda folder: None,
], ids=["nul", "too_long", "missing_folder", "none"])
def test_path_that_cannot_be_opened_is_refused_whole_and_nothing_is_saved(tmp_path, make_path):
    path = make_path(tmp_path)
    assert fresh_model().save(path, 10) == f"Can't open {path or ''}"
    assert os.listdir(tmp_path) == []
