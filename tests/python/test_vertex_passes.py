# The save's merging of materials and render nodes seen in saved files.

import pytav
from support import base_block, pbr_node, save_and_read


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


