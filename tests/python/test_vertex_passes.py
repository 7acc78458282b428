# The save's merging of materials and render nodes seen in saved files.

import pytav
from support import INDICES, base_block, pbr_node, rows, save_and_read


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


