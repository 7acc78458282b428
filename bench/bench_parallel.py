"""Parallel benchmark: the vertex pass with two workers against one.

16 meshes of 200,000 rows each (position, normal and texture coordinates;
about half of the rows copies of others within the tolerance), each with a
material of its own so that no two meshes are merged into one node. The
global pool takes one worker per processor the process may run on, so the
worker count is set through the process's processor affinity before init.

The time is Model.save at format version 20, which stores no geometry: the
vertex pass dominates and the steps around it run on one thread either way.

Prints the ratio two-worker time / one-worker time of the whole save, for
information: the limit of 0.65 applies to the vertex pass alone, timed by
bench_vertexpass (built by `make bench`); skipped on a machine where the
process may use fewer than two processors. It also prints how much
two busy processes slow each other down on this machine (1.0 when two
processors are really free), since shared or throttled processors cap any
parallel gain.
"""

import os
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import numpy as np

import pytav

TOLERANCE = 1e-5
MESHES = 16
ROWS = 200_000
RUNS = 2


def mesh_rows(rng: np.random.Generator) -> np.ndarray:
    bases = ROWS // 2
    base = np.empty((bases, 8), dtype=np.float32)
    base[:, 0:3] = rng.uniform(-1.0, 1.0, (bases, 3))
    normals = rng.normal(size=(bases, 3))
    base[:, 3:6] = normals / np.linalg.norm(normals, axis=1, keepdims=True)
    base[:, 6:8] = rng.uniform(0.0, 1.0, (bases, 2))
    copies = base[rng.integers(0, bases, ROWS - bases)]
    copies = copies + rng.uniform(-0.9, 0.9, copies.shape).astype(np.float32) * np.float32(TOLERANCE)
    rows = np.concatenate([base, copies])
    rng.shuffle(rows)
    return rows


def build_model(meshes: list) -> pytav.Model:
    model = pytav.Model()
    for index, rows in enumerate(meshes):
        block = pytav.BaseBlock()
        block.setPositions(np.ascontiguousarray(rows[:, 0:3]).ravel())
        block.setNormals(np.ascontiguousarray(rows[:, 3:6]).ravel())
        block.setAlbedoMapUV(np.ascontiguousarray(rows[:, 6:8]).ravel())
        block.setAlbedoMap(f"albedo{index}.dds")
        node = pytav.PBRNode(f"mesh{index}", f"material{index}")
        node.setIndices(np.arange(ROWS, dtype=np.uint32))
        node.addBlock(block)
        node.setControlNode(model.getRootTransform())
        message = model.addRenderNode(node)
        assert message == "", message
    return model


def save_seconds(meshes: list, processors: set, folder: Path) -> float:
    allowed = os.sched_getaffinity(0)
    try:
        pytav.deinit()
        os.sched_setaffinity(0, processors)
        pytav.init()
        best = float("inf")
        for _ in range(RUNS):
            model = build_model(meshes)
            start = time.perf_counter()
            message = model.save(str(folder / "parallel.tav"), 20)
            best = min(best, time.perf_counter() - start)
            assert message == "", message
        return best
    finally:
        pytav.deinit()
        os.sched_setaffinity(0, allowed)


def _spin(_) -> int:
    total = 0
    for i in range(5_000_000):
        total += i
    return total


def machine_contention() -> float:
    """Time of two busy processes at once over the time of one."""
    with ProcessPoolExecutor(2) as pool:
        list(pool.map(_spin, [0, 0]))
        start = time.perf_counter()
        list(pool.map(_spin, [0]))
        one = time.perf_counter() - start
        start = time.perf_counter()
        list(pool.map(_spin, [0, 0]))
        two = time.perf_counter() - start
    return two / one


def main() -> int:
    processors = sorted(os.sched_getaffinity(0))
    if len(processors) < 2:
        print("parallel: skipped, the process may use only one processor")
        return 0
    rng = np.random.default_rng(7)
    meshes = [mesh_rows(rng) for _ in range(MESHES)]
    with tempfile.TemporaryDirectory() as folder:
        one = save_seconds(meshes, set(processors[:1]), Path(folder))
        two = save_seconds(meshes, set(processors[:2]), Path(folder))
    ratio = two / one
    print(f"parallel: {MESHES} meshes of {ROWS} rows, 1 worker {one:.3f} s, 2 workers {two:.3f} s, "
          f"ratio {ratio:.2f} (whole save, for information); "
          f"machine: two busy processes take {machine_contention():.2f}x the time of one")
    return 0


if __name__ == "__main__":
    sys.exit(main())
