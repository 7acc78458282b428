"""Scene-graph optimisation time against model size, through Model.save.

Builds models of 10,000 and 100,000 tree nodes: units of 100 nodes, each a
chain of ten transform, visibility and animation nodes with a wide level of
90 more below it, and one render node of 100 vertices on every tenth node.
Saves each (best of two runs, the model rebuilt for every run since a save
changes it, the previous one released first) in a process of its own, seven
rounds with the sizes taking turns, and prints the median time of each size
and their ratio; a linear optimisation keeps the ratio near 10. The same
render nodes hung directly under the root (a model with nothing for the tree
passes to do) are saved too and printed for comparison.

Run: PYTHONPATH=<build dir> .venv/bin/python bench/bench_optimize.py
Exits with 1 when the ratio is above 12.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import pytav

UNIT = 100
CHAIN = 10
GRID = 10  # 10 x 10 = 100 vertices per render node
RUNS = 2
ROUNDS = 7
SIZES = (10_000, 100_000)
LIMIT = 12.0


def shift(x, y, z):
    return [(1, 0, 0, x), (0, 1, 0, y), (0, 0, 1, z), (0, 0, 0, 1)]


TURN = [(0, -1, 0, 1), (1, 0, 0, 0), (0, 0, 1, 2), (0, 0, 0, 1)]
IDENTITY = shift(0, 0, 0)


def grid_indices() -> np.ndarray:
    out = []
    for r in range(GRID - 1):
        for c in range(GRID - 1):
            a = r * GRID + c
            out += [a, a + 1, a + GRID, a + 1, a + GRID + 1, a + GRID]
    return np.array(out, dtype=np.uint32)


INDICES = grid_indices()
NORMALS = np.tile(np.array([0, 0, 1], dtype=np.float32), GRID * GRID)
UV = np.array([[c / GRID, r / GRID] for r in range(GRID) for c in range(GRID)], dtype=np.float32).ravel()


def mesh(number: int, control) -> pytav.PBRNode:
    # Distinct positions per mesh so the vertex passes keep every vertex.
    xy = np.array([[c, r, number] for r in range(GRID) for c in range(GRID)], dtype=np.float32).ravel()
    block = pytav.BaseBlock()
    block.setPositions(xy)
    block.setNormals(NORMALS)
    block.setAlbedoMapUV(UV)
    block.setAlbedoMap("bench.dds")
    node = pytav.PBRNode(f"mesh{number}", "bench")
    node.setIndices(INDICES)
    node.addBlock(block)
    node.setControlNode(control)
    return node


def tree_node(number: int):
    """Transforms (some identity), visibility switches (some empty) and
    animation nodes (some without keys) in a fixed rotation."""
    kind = number % 7
    name = f"n{number}"
    if kind == 0:
        return pytav.Transform(name, shift(number % 5, 1, 0))
    if kind == 1:
        node = pytav.VisibilityNode(name)
        node.setArguments([(1, [(0.0, 1.0), (0.5, 0.0)])])
        return node
    if kind == 2:
        node = pytav.AnimationNode(name)
        node.setBaseMatrix(shift(0, 0, 1))
        node.setPositionAnimation([(2, [(0.0, (0, 0, 0)), (1.0, (1, 0, 0))])])
        return node
    if kind == 3:
        return pytav.Transform(name, TURN)
    if kind == 4:
        node = pytav.AnimationNode(name)
        node.setBaseMatrix(shift(2, 0, 0))
        return node
    if kind == 5:
        return pytav.Transform(name, IDENTITY)
    return pytav.VisibilityNode(name)


def build(node_count: int, flat: bool) -> pytav.Model:
    model = pytav.Model()
    root = model.getRootTransform()
    number = 1  # the root is node 0
    meshes = []
    for _ in range(node_count // UNIT):
        chain = []
        parent = root
        for _ in range(CHAIN):
            node = parent.addChild(tree_node(number))
            chain.append(node)
            if number % 10 == 0:
                meshes.append((number, node))
            parent = node
            number += 1
        for j in range(UNIT - CHAIN):
            node = chain[j % CHAIN].addChild(tree_node(number))
            if number % 10 == 0:
                meshes.append((number, node))
            number += 1
    for n, control in meshes:
        message = model.addRenderNode(mesh(n, root if flat else control))
        assert message == "", message
    return model


def best_save_time(node_count: int, flat: bool, path: str) -> float:
    best = float("inf")
    for _ in range(RUNS):
        # The previous run's model goes before the next one is built, as in
        # an exporter that saves one model after another. Replaced only by the
        # assignment below, it would be freed after the next build, just
        # before the timed save: that save would run on a heap holding a
        # whole dead model's blocks, a state the first run never sees, and
        # the two runs would no longer be two tries of the same thing.
        model = None
        model = build(node_count, flat)
        start = time.perf_counter()
        message = model.save(path, 10)
        elapsed = time.perf_counter() - start
        assert message == "", message
        best = min(best, elapsed)
    return best


def measure_here(node_count: int, flat: bool) -> float:
    pytav.init()
    try:
        # Memory-backed storage where there is some: the file's way to disk
        # (write-back, fsync) is not what this measures and scales with the
        # disk's moods rather than with the model.
        memory = "/dev/shm" if os.path.isdir("/dev/shm") else None
        with tempfile.TemporaryDirectory(dir=memory) as folder:
            return best_save_time(node_count, flat, os.path.join(folder, "bench.tav"))
    finally:
        pytav.deinit()


def measure_apart(node_count: int, flat: bool) -> float:
    """best_save_time in a process of its own, so that one size does not run
    on a heap the other has grown, fragmented or left in the caches."""
    done = subprocess.run(
        [sys.executable, __file__, "--measure", str(node_count), "flat" if flat else "tree"],
        check=True, capture_output=True, text=True)
    return float(done.stdout.split()[-1])


def main() -> int:
    if len(sys.argv) == 4 and sys.argv[1] == "--measure":
        print(measure_here(int(sys.argv[2]), sys.argv[3] == "flat"))
        return 0
    # The sizes take turns, so that a busy spell of the machine does not
    # fall on one of them only; each size keeps the median of its rounds.
    times = {(count, flat): [] for count in SIZES for flat in (False, True)}
    for _ in range(ROUNDS):
        for count in SIZES:
            for flat in (False, True):
                times[(count, flat)].append(measure_apart(count, flat))
    for count in SIZES:
        tree = statistics.median(times[(count, False)])
        flat = statistics.median(times[(count, True)])
        print(f"{count:>7} tree nodes: save {tree * 1000:9.1f} ms "
              f"(same render nodes without the tree: {flat * 1000:9.1f} ms)")
    ratio = statistics.median(times[(SIZES[1], False)]) / statistics.median(times[(SIZES[0], False)])
    print(f"ratio 100,000 / 10,000: {ratio:.2f} (limit {LIMIT:g})")
    return 0 if ratio <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
