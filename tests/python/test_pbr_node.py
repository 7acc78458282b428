# PBRNode: material rule, block handling, modes, build and Model.addRenderNode.

import numpy as np
import pytest

import pytav
import tavtools
from support import _set, base_block, build_message, normal_block, pbr_node, saved_single, textures


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


# (setter calls, the material fields they give): the shadow flags are 1 for
# bit 0 plus 4 for bit 2; values outside each setter's range change nothing.
@pytest.mark.parametrize("calls, fields", [
    ([], {"shadows": 1, "blending": 0, "decal": None}),
    ([("setShadowCaster", 0)], {"shadows": 1}),
    ([("setShadowCaster", 1)], {"shadows": 0}),
    ([("setShadowCaster", 2)], {"shadows": 5}),
    ([("setShadowCaster", 2), ("setShadowCaster", 1)], {"shadows": 4}),
    ([("setShadowCaster", 1), ("setShadowCaster", 3)], {"shadows": 0}),
    ([("setTransparentMode", 3)], {"blending": 3}),
    ([("setTransparentMode", 2), ("setTransparentMode", 4)], {"blending": 2}),
    ([("setTransparentMode", 1), ("setTransparentMode", -1)], {"blending": 1}),
    ([("setDecalId", 5), ("setDecalId", 0)], {"decal": None}),  # 0 is no decal: no DECAL entry
    ([("setDecalId", 255)], {"decal": 255}),
])
def test_shadow_blending_and_decal_settings_reach_the_material(tmp_path, calls, fields):
    _, material = saved_single(tmp_path, _set(pbr_node(base_block()), *calls))
    assert {name: material[name] for name in fields} == fields


def test_a_block_added_again_replaces_the_one_of_its_type_and_none_is_ignored(tmp_path):
    first, second, normal = base_block("first.dds"), base_block("second.dds"), normal_block()
    node = _set(pbr_node(first, normal), ("addBlock", second))
    node.addBlock(None)
    assert [node.hasBlock(name) for name in ("BT_Base", "BT_Normal", "BT_Ao", "BT_Nothing")] == [True, True, False, False]
    assert (node.getBlock("BT_Base"), node.getBlock("BT_Normal"), node.getBlock("BT_Ao")) == (second, normal, None)
    files = set(textures(saved_single(tmp_path, node)[1]).values())
    assert "second.dds" in files and "first.dds" not in files


def test_decal_id_past_a_byte_is_refused():
    with pytest.raises(ValueError, match="^Decal id 256 is above 255.$"):
        pbr_node(base_block()).setDecalId(256)


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


