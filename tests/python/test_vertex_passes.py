# The save's merging of materials and render nodes, and its removal of
# degenerate triangles, seen in saved files.

import numpy as np
from hypothesis import HealthCheck, example, given, settings, strategies as st

import pytav
from support import _set, base_block, pbr_node, rows as rows_of, save_and_read


def save_nodes(tmp_path, placed, name="passes.tav") -> dict:
    # Saves a model of (render node, control node or None for the root).
    model = pytav.Model()
    root = model.getRootTransform()
    for node, control in placed:
        if control is not None:
            root.addChild(control)
        node.setControlNode(control if control is not None else root)
        assert model.addRenderNode(node) == ""
    return save_and_read(model, tmp_path / name)


def test_nodes_that_shared_a_material_share_it_again(tmp_path):
    hidden = pytav.VisibilityNode("hidden")
    hidden.setArguments([(3, [(0.0, 0.5)])])
    # Equal materials; the visibility node keeps the nodes from merging.
    data = save_nodes(tmp_path, [(pbr_node(base_block(), name="a"), None),
                                 (pbr_node(base_block(), name="b"), hidden)])
    records = data["sections"]["RENDER_NODES"]
    assert [r["name"] for r in records] == ["a", "b"]
    assert records[0]["material"] == records[1]["material"]
    assert len(data["materials"]) == 1




def soup_of_grid(rng, side: int, shift: float):
    # A triangle soup over a side x side grid: three rows per triangle, every
    # point of the grid repeated in each of its triangles, a third of the
    # repeats moved by less than half the weld tolerance on every axis.
    y, x = np.mgrid[0:side, 0:side]
    points = np.stack([x * 0.01 + shift, y * 0.01, np.zeros_like(x)], axis=-1).reshape(-1, 3).astype(np.float32)
    corner = (np.arange(side - 1)[None, :] + side * np.arange(side - 1)[:, None]).ravel()
    triangles = np.stack([corner, corner + 1, corner + side + 1, corner, corner + side + 1, corner + side], -1)
    point_of_row = triangles.reshape(-1)
    rows = points[point_of_row].copy()
    moved = rng.random(len(rows)) < 1 / 3
    rows[moved] += rng.uniform(-0.4e-5, 0.4e-5, (int(moved.sum()), 3)).astype(np.float32)
    return rows, point_of_row


def test_large_soups_weld_into_first_rows_and_keep_every_index(tmp_path):
    # Two meshes big enough to be welded by every worker, with index lists
    # of 32-bit width.
    rng = np.random.default_rng(3)
    soups = [soup_of_grid(rng, 300, shift) for shift in (0.0, 5.0)]
    nodes = []
    for k, (rows, _) in enumerate(soups):
        block = _set(pytav.ColorBaseBlock(), ("setPositions", rows.ravel()),
                     ("setNormals", np.tile(np.float32([0, 0, 1]), len(rows))),
                     ("setColor", pytav.PropertyFloat3((0.25 * k, 0.5, 0.75))))
        nodes.append(pbr_node(block, name=f"soup{k}", material=f"mat{k}", indices=np.arange(len(rows), dtype="u4")))
    # A small node after them: the file goes on past the last long list.
    data = save_nodes(tmp_path, [(node, None) for node in nodes + [pbr_node(base_block(), name="small")]], "soups.tav")
    records = {r["name"]: r for r in data["sections"]["RENDER_NODES"]}
    assert sorted(records) == ["small", "soup0", "soup1"]
    for k, (rows, point_of_row) in enumerate(soups):
        record = records[f"soup{k}"]
        # Each point's vertex is its first row, numbered in order of first use.
        points, first = np.unique(point_of_row, return_index=True)
        order = np.argsort(first)
        number = np.empty(len(points), dtype=np.int64)
        number[points[order]] = np.arange(len(points))
        assert record["indices"] == number[point_of_row].tolist()
        saved = np.asarray(rows_of(record), dtype=np.float32)
        assert saved.shape[0] == len(points) and saved[:, :3].tobytes() == rows[np.sort(first)].tobytes()


# --- degenerate triangles -------------------------------------------------------

NEAR = np.float32(1e-4)
# Coordinates around the closeness bound: equal, inside, on and past it, far.
COORD = st.sampled_from([0.0, 5e-5, float(NEAR), -float(NEAR), float(np.nextafter(NEAR, np.float32(1))), 2e-4, 1.0])
CORNERS = st.tuples(*[st.tuples(COORD, COORD, COORD)] * 3)
# Index patterns of one triangle's own three vertices: every equal pair.
PATTERNS = st.sampled_from([(0, 1, 2), (0, 0, 2), (0, 1, 0), (0, 1, 1), (1, 1, 1), (2, 0, 2)])


def degenerate(p) -> bool:
    # Two indices equal, or two axes on which both other corners are within 1e-4 of the first.
    a, b, c = (np.float32(p["positions"][i]) for i in p["indices"])
    return len(set(p["indices"])) < 3 or np.sum((abs(a - b) <= NEAR) & (abs(a - c) <= NEAR)) >= 2


def kept_by_one_scan(triangles) -> list:
    # A removal moves the next triangle into the place just looked at; one
    # scan (one parent entry) passes over it.
    if not triangles:
        return []
    if degenerate(triangles[0]):
        return triangles[1:2] + kept_by_one_scan(triangles[2:])
    return triangles[:1] + kept_by_one_scan(triangles[1:])


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(triangles=st.lists(st.fixed_dictionaries({"positions": CORNERS, "indices": PATTERNS}), min_size=1, max_size=6))
@example(triangles=[{"positions": ((0, 0, 0), (NEAR, NEAR, 1), (-NEAR, 0, 2)), "indices": (0, 1, 2)}] + [
    {"positions": ((0, 0, 0), (1, 0, 0), (0, 1, 0)), "indices": p} for p in [(0, 1, 2), (0, 1, 0)]])
def test_saved_triangles_are_the_given_ones_less_those_with_equal_indices_or_two_close_axes(tmp_path, triangles):
    # Three vertices per triangle, told apart by their coordinates so that
    # welding merges none of them.
    positions = np.array([p["positions"] for p in triangles], dtype=np.float32).ravel()
    count = 3 * len(triangles)
    block = _set(pytav.BaseBlock(), ("setPositions", positions), ("setNormals", np.tile(np.float32([0, 0, 1]), count)),
                 ("setAlbedoMapUV", np.arange(2 * count, dtype=np.float32) / 8), ("setAlbedoMap", "a.dds"))
    indices = np.array([3 * k + i for k, p in enumerate(triangles) for i in p["indices"]], dtype=np.uint32)
    data = save_nodes(tmp_path, [(pbr_node(block, indices=indices), None)])
    saved = [tuple(tuple(rows_of(r)[i][:3]) for i in r["indices"][t:t + 3])
             for r in data["sections"]["RENDER_NODES"] for t in range(0, len(r["indices"]), 3)]
    assert saved == [tuple(tuple(np.float32(p["positions"][i]).tolist()) for i in p["indices"])
                     for p in kept_by_one_scan(triangles)]
