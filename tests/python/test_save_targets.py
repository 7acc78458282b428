# A save does to its target what rewriting that path would do: a FIFO
# receives the file, other names of a file keep seeing it, and what an open for
# rewriting refuses is refused as "Can't open".

import os
import stat
import threading

import pytest

import support


@pytest.fixture(scope="module")
def image(tmp_path_factory) -> bytes:
    # The bytes a save of the model gives in an ordinary new file.
    path = tmp_path_factory.mktemp("reference") / "model.tav"
    assert support.build()[0].save(str(path), 10) == ""
    return path.read_bytes()


@pytest.mark.parametrize("through_link", [False, True])
def test_fifo_gets_the_model_written_into_it_and_nothing_beside_it(tmp_path, image, through_link):
    fifo = target = tmp_path / "fifo"
    os.mkfifo(fifo)
    if through_link:
        target = tmp_path / "link.tav"
        target.symlink_to(fifo.name)
    data = bytearray()
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # a reader must exist first
    os.set_blocking(fd, True)
    reader = threading.Thread(target=lambda: [data.extend(c) for c in iter(lambda: os.read(fd, 1 << 16), b"")])
    try:
        # The file fits the pipe's buffer, so the save need not wait for the reader.
        assert support.build()[0].save(str(target), 10) == ""
        reader.start()
        reader.join(timeout=30)
    finally:
        os.close(fd)
    assert bytes(data) == image
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
    assert support.build()[0].save(str(target), 10) == ""
    assert [name.read_bytes() == image for name in names] == [True] * len(names)
    assert (old.stat().st_nlink, stat.S_IMODE(old.stat().st_mode)) == (1 + links, 0o640)
    assert target.is_symlink() == symlink
    assert sorted(os.listdir(tmp_path)) == sorted({name.name for name in names} | {target.name})


@pytest.mark.parametrize("make_path", [
    lambda folder: str(folder / "model.tav") + "\0.tav",
    lambda folder: str(folder / ("m" * 300 + ".tav")),
    lambda folder: str(folder / "missing-folder" / "x.tav"),
    lambda folder: None,
], ids=["nul", "too_long", "missing_folder", "none"])
def test_path_that_cannot_be_opened_is_refused_whole_and_nothing_is_saved(tmp_path, make_path):
    path = make_path(tmp_path)
    assert support.build()[0].save(path, 10) == f"Can't open {path or ''}"
    assert os.listdir(tmp_path) == []
