"""Weld benchmark: our vertex pass against the usual NumPy weld.

A soup of 1,000,000 triangles: 3,000,000 rows of position (4 floats),
normal (3) and texture coordinates (2), about half of them copies of another
row moved by less than the tolerance on every float but the fourth.

- Ours: Model.save at format version 20 of a model holding that mesh. That
  format stores no geometry, so the time is the save sequence (checks,
  channel compaction, merging, the vertex pass on the thread pool, boxes)
  without the writing of vertices: everything but the weld counts against
  us.
- Reference, on the same rows in the same process: scale by the tolerance,
  round to integers, np.unique(..., axis=0, return_inverse=True).

Prints the ratio reference / ours; the goal is at least 3. Exit status 1
when the goal is missed.
"""

import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import pytav

TOLERANCE = 1e-5
TRIANGLES = 1_000_000
GOAL = 3.0
RUNS = 2


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
    rows = np.concatenate([base, copies + noise])
    rng.shuffle(rows)
    return rows


def reference_seconds(rows: np.ndarray) -> float:
    start = time.perf_counter()
    keys = np.round(rows / TOLERANCE).astype(np.int64)
    unique, inverse = np.unique(keys, axis=0, return_inverse=True)
    elapsed = time.perf_counter() - start
    assert len(unique) < len(rows) and len(inverse) == len(rows)
    return elapsed


def our_seconds(rows: np.ndarray, folder: Path) -> float:
    model = pytav.Model()
    block = pytav.BaseBlock()
    block.setPositions(np.ascontiguousarray(rows[:, 0:3]).ravel())
    block.setNormals(np.ascontiguousarray(rows[:, 4:7]).ravel())
    block.setAlbedoMapUV(np.ascontiguousarray(rows[:, 7:9]).ravel())
    block.setAlbedoMap("albedo.dds")
    node = pytav.PBRNode("soup", "soup")
    node.setIndices(np.arange(len(rows), dtype=np.uint32))
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
    with tempfile.TemporaryDirectory() as folder:
        ours = min(our_seconds(rows, Path(folder)) for _ in range(RUNS))
    reference = min(reference_seconds(rows) for _ in range(RUNS))
    ratio = reference / ours
    verdict = "ok" if ratio >= GOAL else "MISSED"
    print(f"weld: {len(rows)} rows, ours {ours:.3f} s, NumPy {reference:.3f} s, "
          f"ratio {ratio:.2f} (goal >= {GOAL}) {verdict}")
    pytav.deinit()
    return 0 if ratio >= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
