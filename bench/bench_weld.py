"""Weld benchmark: our vertex pass against meshoptimizer's vertex remap.

A soup of 1,000,000 triangles: 3,000,000 rows of position (4 floats),
normal (3) and texture coordinates (2), half of them copies of another row:
a third of the copies exact, the others moved by less than the tolerance on
every float but the fourth.

- Ours: Model.save at format version 20 of a model holding that mesh. That
  format stores no geometry, so the time is the save sequence (checks,
  channel compaction, merging, the vertex pass on the thread pool, boxes)
  without the writing of vertices: everything but the weld counts against
  us.
- meshoptimizer, on the same rows in the same process:
  generate_vertex_remap over the interleaved rows, then remap_vertex_buffer
  and remap_index_buffer. It merges bit-equal rows only, which is less work
  than a tolerance weld.

Prints the ratio ours / meshoptimizer, best of a few runs each; the goal is
at most 0.8. Exit status 1 when the goal is missed.
"""

import os
import sys
import tempfile
import time
from pathlib import Path

import meshoptimizer
import numpy as np

import pytav

TOLERANCE = 1e-5
TRIANGLES = 1_000_000
GOAL = 0.8
RUNS = 3


def soup_rows(rng: np.random.Generator) -> np.ndarray:
    count = 3 * TRIANGLES
    bases = count // 2
    base = np.empty((bases, 9), dtype=np.float32)
    base[:, 0:3] = rng.uniform(-1.0, 1.0, (bases, 3))
    base[:, 3] = 0.0
    normals = rng.normal(size=(bases, 3))
    base[:, 4:7] = normals / np.linalg.norm(normals, axis=1, keepdims=True)
    base[:, 7:9] = rng.uniform(0.0, 1.0, (bases, 2))
    copies = base[rng.integers(0, bases, count - bases)]
    noise = rng.uniform(-0.9, 0.9, copies.shape).astype(np.float32) * np.float32(TOLERANCE)
    noise[:, 3] = 0.0
    noise[: len(noise) // 3] = 0.0
    rows = np.concatenate([base, copies + noise])
    rng.shuffle(rows)
    return rows


def meshoptimizer_seconds(rows: np.ndarray, indices: np.ndarray) -> float:
    remap = np.empty(len(rows), dtype=np.uint32)
    start = time.perf_counter()
    unique = meshoptimizer.generate_vertex_remap(remap, indices, vertices=rows)
    welded = np.empty((unique, rows.shape[1]), dtype=rows.dtype)
    meshoptimizer.remap_vertex_buffer(welded, rows, remap=remap)
    renumbered = np.empty_like(indices)
    meshoptimizer.remap_index_buffer(renumbered, indices, remap=remap)
    elapsed = time.perf_counter() - start
    assert unique < len(rows) and renumbered.max() < unique
    return elapsed


def our_seconds(rows: np.ndarray, indices: np.ndarray, folder: Path) -> float:
    model = pytav.Model()
    block = pytav.BaseBlock()
    block.setPositions(np.ascontiguousarray(rows[:, 0:3]).ravel())
    block.setNormals(np.ascontiguousarray(rows[:, 4:7]).ravel())
    block.setAlbedoMapUV(np.ascontiguousarray(rows[:, 7:9]).ravel())
    block.setAlbedoMap("albedo.dds")
    node = pytav.PBRNode("soup", "soup")
    node.setIndices(indices)
    node.addBlock(block)
    node.setControlNode(model.getRootTransform())
    message = model.addRenderNode(node)
    assert message == "", message
    start = time.perf_counter()
    message = model.save(str(folder / "weld.tav"), 20)
    elapsed = time.perf_counter() - start
    assert message == "", message
    return elapsed


def main() -> int:
    pytav.init()
    rows = soup_rows(np.random.default_rng(2024))
    indices = np.arange(len(rows), dtype=np.uint32)
    ours = peer = float("inf")
    with tempfile.TemporaryDirectory() as folder:
        for _ in range(RUNS):
            ours = min(ours, our_seconds(rows, indices, Path(folder)))
            peer = min(peer, meshoptimizer_seconds(rows, indices))
    ratio = ours / peer
    verdict = "ok" if ratio <= GOAL else "MISSED"
    print(f"weld: {len(rows)} rows, {len(os.sched_getaffinity(0))} processors, ours {ours:.3f} s, "
          f"meshoptimizer {peer:.3f} s, ratio {ratio:.2f} (goal <= {GOAL}) {verdict}")
    pytav.deinit()
    return 0 if ratio <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
