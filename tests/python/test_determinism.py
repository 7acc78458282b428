# The same script always saves the same bytes: across repeated saves in one
# process, with the vertex pass spread over the thread pool, and across
# processes whose heaps start with different garbage (an uninitialised byte,
# padding included, would differ between them).

import hashlib
import json
import os
import subprocess
import sys
from pathlib import Path

import numpy as np

import pytav
import support

HERE = Path(__file__).parent


def grid_model():
    # Many vertices and render nodes, so the vertex pass splits its work into
    # several pool tasks; every vertex is distinct, so welding keeps it.
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    side = 40
    y, x = np.mgrid[0:side, 0:side].astype(np.float32)
    positions = np.stack([x.ravel(), y.ravel(), np.zeros(side * side, np.float32)], axis=1)
    corner = (np.arange(side - 1)[:, None] * side + np.arange(side - 1)).ravel().astype(np.uint32)
    quads = np.stack([corner, corner + 1, corner + side + 1, corner, corner + side + 1, corner + side], axis=1)
    for n in range(6):
        block = support._set(support.base_block(f"grid{n % 2}.dds"),
                             ("setPositions", (positions + np.float32(n * side)).ravel()),
                             ("setNormals", np.tile(np.array([0, 0, 1], np.float32), side * side)),
                             ("setAlbedoMapUV", (positions[:, :2] / side).ravel()))
        node = support.pbr_node(block, name=f"grid{n}", material=f"grid_mat{n % 2}", indices=quads.ravel())
        assert model.addRenderNode(support._set(node, ("setControlNode", holder))) == ""
    return model


BUILDERS = {"every_class": lambda version: support.build(lod=version == 10)[0], "grid": lambda version: grid_model()}


def digests(folder: Path) -> dict:
    # The digest of each builder's file in each format, saved into folder.
    folder.mkdir()
    out = {}
    for name in sorted(BUILDERS):
        for version in (10, 20):
            path = folder / f"{name}-{version}.tav"
            assert BUILDERS[name](version).save(str(path), version) == ""
            out[path.name] = hashlib.sha256(path.read_bytes()).hexdigest()
    return out


def test_twenty_saves_of_one_script_give_one_digest(tmp_path):
    pytav.init()
    # A failing build would make the digests trivially equal.
    assert support.build()[1] == support.EXPECTED_MESSAGES
    first = digests(tmp_path / "0")
    assert [digests(tmp_path / str(i)) for i in range(1, 20)] == [first] * 19


SUBPROCESS_SCRIPT = """
import json, sys
from pathlib import Path
sys.path.insert(0, {here!r})
import pytav, test_determinism
pytav.init()
print(json.dumps(test_determinism.digests(Path({folder!r}))))
"""


def digests_in_subprocess(folder, perturb):
    env = dict(os.environ, MALLOC_PERTURB_=str(perturb), PYTHONHASHSEED=str(perturb))
    script = SUBPROCESS_SCRIPT.format(here=str(HERE), folder=str(folder))
    process = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=False)
    assert process.returncode == 0, process.stderr[-4000:]
    return json.loads(process.stdout.strip().splitlines()[-1])


def test_heap_garbage_never_reaches_the_file(tmp_path):
    # Heap blocks filled with 165 in one process and 90 in the other: any
    # byte written from memory the save never set differs between the two.
    assert digests_in_subprocess(tmp_path / "a", 165) == digests_in_subprocess(tmp_path / "b", 90)
