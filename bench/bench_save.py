"""Save benchmark: whole format 10 saves against writing and flushing the
same number of bytes with NumPy into the same folder.

- Mesh: a 2000 x 1500 grid of 3,000,000 distinct vertices (position,
  normal, texture coordinates), two triangles per cell, so the vertex pass
  finds nothing to remove but still has to look.
- Scene: 2,000 objects of 1,000 vertices each, every one under a transform
  of its own, sharing 20 materials, like a busy exported scene.

The time is the whole Model.save (every step of the save sequence and the
file, which a save flushes to disk); the yardstick is ndarray.tofile of as
many bytes followed by fsync. Best of a few runs each. Goal: at most 2.5.

Memory: the peak resident memory of the mesh's save above what the process
held with the model built (measured in a fresh process), against the file's
size. Goal: at most the file's size.

Exit status 1 when a goal is missed.
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import pytav

COLUMNS, ROWS = 2000, 1500
OBJECTS, OBJECT_COLUMNS, OBJECT_ROWS, MATERIALS = 2000, 40, 25, 20
RUNS = 3
GOAL = 2.5


def grid_node(name: str, material: str, columns: int, rows: int) -> pytav.PBRNode:
    y, x = np.mgrid[0:rows, 0:columns].astype(np.float32)
    positions = np.stack([x * 0.01, y * 0.01, np.zeros_like(x)], axis=-1).ravel()
    normals = np.tile(np.array([0, 0, 1], dtype=np.float32), rows * columns)
    coordinates = np.stack([x / columns, y / rows], axis=-1).ravel().astype(np.float32)
    corner = (np.arange(columns - 1)[None, :] + columns * np.arange(rows - 1)[:, None]).ravel()
    quads = np.stack([corner, corner + 1, corner + columns + 1, corner, corner + columns + 1, corner + columns], axis=-1)
    block = pytav.BaseBlock()
    block.setPositions(positions.astype(np.float32))
    block.setNormals(normals)
    block.setAlbedoMapUV(coordinates)
    block.setAlbedoMap(f"{material}.dds")
    node = pytav.PBRNode(name, material)
    node.setIndices(quads.ravel().astype(np.uint32))
    node.addBlock(block)
    return node


def mesh_model() -> pytav.Model:
    model = pytav.Model()
    node = grid_node("grid", "grid", COLUMNS, ROWS)
    node.setControlNode(model.getRootTransform())
    message = model.addRenderNode(node)
    assert message == "", message
    return model


def scene_model() -> pytav.Model:
    model = pytav.Model()
    root = model.getRootTransform()
    for k in range(OBJECTS):
        place = [(1, 0, 0, k % 50 * 0.5), (0, 1, 0, k // 50 * 0.5), (0, 0, 1, 0), (0, 0, 0, 1)]
        parent = root.addChild(pytav.Transform(f"object{k}", place))
        node = grid_node(f"mesh{k}", f"paint{k % MATERIALS}", OBJECT_COLUMNS, OBJECT_ROWS)
        node.setControlNode(parent)
        message = model.addRenderNode(node)
        assert message == "", message
    return model


def save_seconds(build, target: Path) -> float:
    best = float("inf")
    for _ in range(RUNS):
        model = build()
        start = time.perf_counter()
        message = model.save(str(target), 10)
        best = min(best, time.perf_counter() - start)
        assert message == "", message
    return best


def numpy_seconds(size: int, target: Path) -> float:
    payload = np.ones(size, dtype=np.uint8)
    best = float("inf")
    for _ in range(RUNS):
        start = time.perf_counter()
        with open(target, "wb") as f:
            payload.tofile(f)
            f.flush()
            os.fsync(f.fileno())
        best = min(best, time.perf_counter() - start)
    return best


def resident(field: str) -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def save_peak(folder: str) -> None:
    """In a fresh process: the resident memory the mesh's save adds at its peak."""
    pytav.init()
    model = mesh_model()
    before = resident("VmRSS")
    Path("/proc/self/clear_refs").write_text("5")  # the peak restarts from here
    message = model.save(str(Path(folder) / "peak.tav"), 10)
    assert message == "", message
    print(resident("VmHWM") - before)
    pytav.deinit()


def main() -> int:
    pytav.init()
    missed = False
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        for label, build in (("mesh", mesh_model), ("scene", scene_model)):
            target = folder / f"{label}.tav"
            save = save_seconds(build, target)
            size = target.stat().st_size
            raw = numpy_seconds(size, folder / "raw.bin")
            ratio = save / raw
            verdict = "ok" if ratio <= GOAL else "MISSED"
            missed = missed or ratio > GOAL
            print(f"save {label}: {size} bytes, save {save:.3f} s, NumPy write + fsync {raw:.3f} s, "
                  f"ratio {ratio:.2f} (goal <= {GOAL}) {verdict}")
        peak = int(subprocess.run([sys.executable, __file__, "--peak", name], check=True,
                                  capture_output=True, text=True).stdout.split()[-1])
        size = (folder / "peak.tav").stat().st_size
        verdict = "ok" if peak <= size else "MISSED"
        missed = missed or peak > size
        print(f"save mesh memory: peak {peak / 2**20:.1f} MiB above the model's own, file {size / 2**20:.1f} MiB, "
              f"ratio {peak / size:.2f} (goal <= 1) {verdict}")
    pytav.deinit()
    return 1 if missed else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--peak":
        save_peak(sys.argv[2])
        sys.exit(0)
    sys.exit(main())
