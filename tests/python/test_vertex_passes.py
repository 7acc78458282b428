# The save's vertex passes seen in saved files: texture-channel compaction,
# merging of render nodes and fake light sets, welding, degenerate triangles,
# and files that don't depend on the number of workers.


import numpy as np

import pytav
from support import INDICES, NORMALS, POSITIONS, base_block, pbr_node, rows, uv
from support import save_and_read


def animated(name: str, argument: int) -> pytav.AnimationNode:
    # A transform the save can't fold away.
    node = pytav.AnimationNode(name)
    node.setPositionAnimation([(argument, [(0, (0, 0, 0)), (1, (1, 2, 3))])])
    return node


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


def render_records(data: dict) -> list:
    return data["sections"]["RENDER_NODES"]


def test_nodes_that_shared_a_material_share_it_again(tmp_path):
    hidden = pytav.VisibilityNode("hidden")
    hidden.setArguments([(3, [(0.0, 0.5)])])
    # Equal materials; the visibility node keeps the nodes from merging.
    data = save_nodes(tmp_path, [(pbr_node(base_block(), name="a"), None),
                                 (pbr_node(base_block(), name="b"), hidden)])
    records = render_records(data)
    assert [r["name"] for r in records] == ["a", "b"]
    assert records[0]["material"] == records[1]["material"]
    assert len(data["materials"]) == 1


def test_two_nodes_under_two_parents_keep_their_vertices_apart(tmp_path):
    left, right = animated("left", 1), animated("right", 2)
    data = save_nodes(tmp_path, [(pbr_node(base_block(), name="a"), left),
                                 (pbr_node(base_block(), name="b"), right)])
    (record,) = render_records(data)
    names = [n["name"] for n in data["nodes"]]
    assert [names[p["node"]] for p in record["parents"]] == ["left", "right"]
    # Equal vertices but for the parent entry in the fourth component.
    assert record["vertex_count"] == 8
    assert [row[3] for row in rows(record)] == [0.0] * 4 + [1.0] * 4
    assert record["indices"] == list(INDICES) + [i + 4 for i in INDICES]


def test_degenerate_triangles_are_removed(tmp_path):
    sliver = np.array([5, 5, 0, 5.00005, 5.00009, 1, 4.99991, 5.00001, 2], dtype=np.float32)
    block = pytav.BaseBlock()
    block.setPositions(np.concatenate([POSITIONS, sliver]))
    block.setNormals(np.concatenate([NORMALS, NORMALS[:9]]))
    block.setAlbedoMapUV(np.concatenate([uv(0.0), np.array([0, 0, 1, 0, 0, 1], dtype=np.float32)]))
    block.setAlbedoMap("albedo.dds")
    indices = np.array([0, 1, 2, 0, 0, 1, 0, 2, 3, 4, 5, 6], dtype=np.uint32)
    data = save_nodes(tmp_path, [(pbr_node(block, indices=indices), None)])
    (record,) = render_records(data)
    assert record["indices"] == [0, 1, 2, 0, 2, 3]


