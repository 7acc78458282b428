"""Save benchmark: a welded mesh of 1,000,000 vertices saved at version 10
against ndarray.tofile of the same number of bytes into the same folder.

The mesh is a 1000 x 1000 grid of distinct vertices (position, normal,
texture coordinates) with two triangles per cell, so the vertex pass finds
nothing to remove but still has to look. The time is the whole Model.save
(every step of the save sequence and the file).

Prints the ratio save / tofile for information: the weld of a million rows
alone takes several times a 60 MB write. The limit of 4 applies to the file
writing, timed by bench_save10 (built by `make bench`) against an equally
durable write; the weld has its own goal in bench_weld.py.
"""

import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import pytav

SIDE = 1000
RUNS = 3


def build_model() -> pytav.Model:
    y, x = np.mgrid[0:SIDE, 0:SIDE].astype(np.float32)
    positions = np.stack([x * 0.01, y * 0.01, np.zeros_like(x)], axis=-1).ravel()
    normals = np.tile(np.array([0, 0, 1], dtype=np.float32), SIDE * SIDE)
    coordinates = np.stack([x / SIDE, y / SIDE], axis=-1).ravel().astype(np.float32)
    corner = (np.arange(SIDE - 1)[None, :] + SIDE * np.arange(SIDE - 1)[:, None]).ravel()
    quads = np.stack([corner, corner + 1, corner + SIDE + 1, corner, corner + SIDE + 1, corner + SIDE], axis=-1)

    model = pytav.Model()
    block = pytav.BaseBlock()
    block.setPositions(positions.astype(np.float32))
    block.setNormals(normals)
    block.setAlbedoMapUV(coordinates)
    block.setAlbedoMap("albedo.dds")
    node = pytav.PBRNode("grid", "grid")
    node.setIndices(quads.ravel().astype(np.uint32))
    node.addBlock(block)
    node.setControlNode(model.getRootTransform())
    message = model.addRenderNode(node)
    assert message == "", message
    return model


def main() -> int:
    pytav.init()
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        target = folder / "grid.tav"
        save = float("inf")
        for _ in range(RUNS):
            model = build_model()
            start = time.perf_counter()
            message = model.save(str(target), 10)
            save = min(save, time.perf_counter() - start)
            assert message == "", message
        size = target.stat().st_size
        payload = np.ones(size, dtype=np.uint8)
        raw = float("inf")
        for _ in range(RUNS):
            start = time.perf_counter()
            payload.tofile(folder / "raw.bin")
            raw = min(raw, time.perf_counter() - start)
    ratio = save / raw
    print(f"save: {SIDE * SIDE} vertices, {size} bytes, save {save:.3f} s, tofile {raw:.3f} s, "
          f"ratio {ratio:.2f} (whole save, for information)")
    pytav.deinit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
