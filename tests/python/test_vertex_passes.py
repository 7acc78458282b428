# The save's merging of materials and render nodes, and its removal of
# degenerate triangles, seen in saved files.

import numpy as np
from hypothesis import HealthCheck, example, given, settings, strategies as st

import pytav
from support import _set, base_block, color_base_block, pbr_node, rows as rows_of, save_and_read


def save_nodes(tmp_path, placed) -> dict:
    # Saves a model of (render node, control node or None for the root).
    model = pytav.Model()
    root = model.getRootTransform()
    for node, control in placed:
        if control is not None:
            root.addChild(control)
        node.setControlNode(control if control is not None else root)
        assert model.addRenderNode(node) == ""
    return save_and_read(model, tmp_path / "passes.tav")


def test_nodes_that_shared_a_material_share_it_again(tmp_path):
    hidden = _set(pytav.VisibilityNode("hidden"), ("setArguments", [(3, [(0.0, 0.5)])]))
    # Equal materials; the visibility node keeps the nodes from merging.
    data = save_nodes(tmp_path, [(pbr_node(base_block(), name="a"), None),
                                 (pbr_node(base_block(), name="b"), hidden)])
    assert [(r["name"], r["material"]) for r in data["sections"]["RENDER_NODES"]] == [("a", 0), ("b", 0)]
    assert len(data["materials"]) == 1


def test_index_list_past_16_bits_decodes_whole_and_the_file_goes_on_after_it(tmp_path):
    # Distinct corners, so that no pass merges or drops any of them.
    count = 70002
    k = np.arange(count)
    xyz = np.stack([k * 0.01, k % 3, np.zeros(count)], -1).astype(np.float32)
    block = _set(color_base_block(), ("setPositions", xyz.ravel()), ("setNormals", np.float32([0, 0, 1] * count)))
    data = save_nodes(tmp_path, [(pbr_node(block, name="big", indices=k.astype("u4")), None),
                                 (pbr_node(base_block(), name="small"), None)])
    records = {r["name"]: r["indices"] for r in data["sections"]["RENDER_NODES"]}
    assert records == {"big": k.tolist(), "small": [0, 1, 2, 0, 2, 3]}


def test_zero_normals_name_their_nodes_in_list_order_wherever_they_stand(tmp_path):
    # Normals are checked in chunks of 65,536: "big" has its short normal
    # first in the second chunk, "last" as its very last normal. "edge"'s
    # short normal has a squared length just above 1e-4, theirs just below.
    def node(name, count, short_at=None, short=(0.0099, 0, 0)):
        k = np.arange(count)
        xyz = np.stack([k * 0.01, k % 3, np.zeros(count)], -1).astype(np.float32)
        normals = np.tile(np.float32([0, 0, 1]), (count, 1))
        if short_at is not None:
            normals[short_at] = short
        block = _set(color_base_block(), ("setPositions", xyz.ravel()), ("setNormals", normals.ravel()))
        return pbr_node(block, name=name, indices=k.astype("u4")[: count // 3 * 3])

    model = pytav.Model()
    root = model.getRootTransform()
    for n in (node("fine", 6), node("big", 70002, 65536), node("edge", 6, 2, (0.0101, 0, 0)),
              node("last", 6, 5, (0, 0, -0.0099)), node("clean", 70002)):
        n.setControlNode(root)
        assert model.addRenderNode(n) == ""
    assert model.save(str(tmp_path / "zero.tav"), 10) == "Nodes having zero normals: big, last"
    assert not (tmp_path / "zero.tav").exists()


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
