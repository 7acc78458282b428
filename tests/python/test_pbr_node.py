# PBRNode: material rule, block handling, modes, build and Model.addRenderNode.

import numpy as np
import pytest

import pytav
import tavtools
from support import _set, base_block, build_message, normal_block, pbr_node


@pytest.mark.parametrize("blocks, options, message", [
    ([normal_block()], {"material": "hull"}, "Material hull must have the following blocks BT_Base."),
    ([base_block(), pytav.GlassBlock()], {"material": "glass"}, "Material glass doesn't support block BT_Glass."),
    # The material rule comes before the indices, the indices before the blocks.
    ([pytav.GlassBlock()], {"indices": None, "material": "m"}, "Material m must have the following blocks BT_Base."),
    ([base_block(), pytav.AoBlock()], {"indices": None}, "Indices aren't set."),
    ([base_block()], {"indices": np.array([], dtype=np.uint32)}, "Indices aren't set."),
    # Ao (type 7) added before Normal (type 1): Normal's message comes first.
    ([base_block(), pytav.AoBlock(), pytav.NormalBlock()], {}, "Normal block: Invalid texture coordinates."),
    ([base_block()], {"control": False}, "Control node isn't set."),
    ([base_block(), normal_block()], {"indices": np.array([0, 1, 2, 0, 0xFFFFFFFF, 1], dtype=np.uint32)},
     "Index 4294967295 is out of range for 4 vertices."),
])
def test_incomplete_node_reports_the_first_problem_in_check_order(blocks, options, message):
    assert build_message(*blocks, **options) == message


def test_second_save_does_not_add_back_faces_again(tmp_path):
    # Two two-sided nodes under one transform: the save merges them, and the
    # merged node must remember that its back faces are already there.
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    for name in ("left", "right"):
        node = _set(pbr_node(base_block(), name=name), ("setTwoSided", True), ("setControlNode", holder))
        assert model.addRenderNode(node) == ""
    first, second = tmp_path / "first.tav", tmp_path / "second.tav"
    assert model.save(str(first), 10) == ""
    assert model.save(str(second), 10) == ""
    (record,) = tavtools.read(first)["sections"]["RENDER_NODES"]
    assert len(record["indices"]) == 2 * 2 * 6  # two nodes of two triangles, each with its back
    assert second.read_bytes() == first.read_bytes()


# The fourth bone index of a vertex lands in the top byte of the packed
# indices, that is in the sign and exponent of the fourth position component.


