"""PBRNode: material rule, block handling, modes, build and Model.addRenderNode."""

import gc
import re

import numpy as np
import pytest

import pytav
import tavtools
from support import (
    ao_block, base_block, build_message, color_base_block, damage_block, float_bits, normal_block,
    pbr_node, rows, saved_render_nodes, uv)

LOG_LINE = re.compile(r"^\S+ \S+ (\S+) +PYTAV \([^)]+\): (.*)$")


def test_missing_base_block_names_material_and_required_block():
    assert build_message(normal_block(), material="hull") == "Material hull must have the following blocks BT_Base."


def test_glass_block_is_not_supported_by_def_material():
    assert build_message(base_block(), pytav.GlassBlock(), material="glass") == \
        "Material glass doesn't support block BT_Glass."


def test_material_rule_comes_before_indices_and_indices_before_block_checks():
    assert build_message(pytav.GlassBlock(), indices=None, material="m") == \
        "Material m must have the following blocks BT_Base."
    # The AO block is incomplete too, but missing indices are reported first.
    assert build_message(base_block(), pytav.AoBlock(), indices=None) == "Indices aren't set."
    assert build_message(base_block(), indices=np.array([], dtype=np.uint32)) == "Indices aren't set."


def test_first_incomplete_block_in_type_order_is_reported():
    # Added Ao (type 7) before Normal (type 1): Normal's message comes first.
    assert build_message(base_block(), pytav.AoBlock(), pytav.NormalBlock()) == \
        "Normal block: Invalid texture coordinates."


def test_node_without_control_node_is_refused():
    assert build_message(base_block(), control=False) == "Control node isn't set."


@pytest.mark.parametrize("indices, message", [
    ([0, 1, 4], "Index 4 is out of range for 4 vertices."),
    ([0, 1, 2, 0, 0xFFFFFFFF, 1], "Index 4294967295 is out of range for 4 vertices."),
    ([7, 9, 2], "Index 7 is out of range for 4 vertices."),
])
def test_index_past_vertex_count_is_refused_before_vertex_data_is_read(indices, message):
    assert build_message(base_block(), normal_block(), indices=np.array(indices, dtype=np.uint32)) == message


def test_refused_node_is_logged_with_its_name_and_not_added(tmp_path, capfd):
    model = pytav.Model()
    node = pbr_node(normal_block(), name="wing", material="wing_mat")
    node.setControlNode(model.getRootTransform())
    capfd.readouterr()
    message = model.addRenderNode(node)
    assert message == "Material wing_mat must have the following blocks BT_Base."
    lines = [LOG_LINE.match(line) for line in capfd.readouterr().err.splitlines()]
    assert [(m.group(1), m.group(2)) for m in lines if m] == [("WARNING", "wing: " + message)]
    assert node.getName() == "EMPTY PBRNode"
    assert model.save(str(tmp_path / "empty.tav"), 10) == ""
    assert tavtools.read(tmp_path / "empty.tav")["sections"]["RENDER_NODES"] == []


def test_get_name_before_and_after_build():
    model = pytav.Model()
    node = pbr_node(base_block(), name="body", material="paint")
    node.setControlNode(model.getRootTransform())
    assert node.getName() == "EMPTY PBRNode"
    assert model.addRenderNode(node) == ""
    assert node.getName() == "body"


def test_second_block_of_a_type_replaces_the_first(tmp_path):
    node = pbr_node(base_block(albedo="first.dds"))
    second = base_block(albedo="second.dds")
    node.addBlock(second)
    assert node.getBlock("BT_Base") is second
    (record,), materials = saved_render_nodes(tmp_path, node)
    assert [t["file"] for t in materials[record["material"]]["textures"]] == ["second.dds"]


def test_color_base_block_replaces_base_block_of_same_type(tmp_path):
    node = pbr_node(base_block())
    node.addBlock(color_base_block())
    (record,), materials = saved_render_nodes(tmp_path, node)
    assert materials[record["material"]]["material_name"] == "color_material"
    assert materials[record["material"]]["textures"] == []


def test_has_block_and_get_block_by_type_name():
    node = pbr_node(base_block())
    ao = ao_block()
    assert not node.hasBlock("BT_Ao")
    assert node.getBlock("BT_Ao") is None
    node.addBlock(ao)
    node.addBlock(None)
    assert node.hasBlock("BT_Ao")
    assert not node.hasBlock("Ao")
    assert not node.hasBlock("bt_ao")
    assert node.getBlock("BT_Ao") is ao
    assert node.getBlock("UNKNOWN") is None


def test_node_keeps_added_block_alive():
    node = pbr_node()
    node.addBlock(base_block(albedo="kept.dds"))
    gc.collect()
    block = node.getBlock("BT_Base")
    assert isinstance(block, pytav.BaseBlock) and block.getTypeName() == "BT_Base"


def _saved_material(tmp_path, *setup) -> dict:
    node = pbr_node(base_block())
    for name, *args in setup:
        getattr(node, name)(*args)
    (record,), materials = saved_render_nodes(tmp_path, node)
    return materials[record["material"]]


@pytest.mark.parametrize("setup, shadows", [
    ([], 1),
    ([("setShadowCaster", 2)], 5),
    ([("setShadowCaster", 2), ("setShadowCaster", 1)], 4),
    ([("setShadowCaster", 1), ("setShadowCaster", 0)], 1),
    ([("setShadowCaster", 3), ("setShadowCaster", -1)], 1),
])
def test_shadow_caster_modes(tmp_path, setup, shadows):
    assert _saved_material(tmp_path, *setup)["shadows"] == shadows


@pytest.mark.parametrize("setup, blending", [
    ([("setTransparentMode", 3)], 3),
    ([("setTransparentMode", 2), ("setTransparentMode", 7)], 2),
    ([("setTransparentMode", -1)], 0),
])
def test_transparent_mode_outside_zero_to_three_is_ignored(tmp_path, setup, blending):
    assert _saved_material(tmp_path, *setup)["blending"] == blending


@pytest.mark.parametrize("decal", [3, 255])
def test_decal_id_is_written(tmp_path, decal):
    assert _saved_material(tmp_path, ("setDecalId", decal))["decal"] == decal


@pytest.mark.parametrize("decal, error", [(256, ValueError), (300, ValueError), (-1, TypeError)])
def test_decal_id_outside_a_byte_is_refused_not_cut(decal, error):
    with pytest.raises(error):
        pytav.PBRNode("n", "m").setDecalId(decal)


def test_mode_setters_act_after_blocks_too(tmp_path):
    node = pbr_node()
    node.setTransparentMode(2)
    node.addBlock(base_block())
    (record,), materials = saved_render_nodes(tmp_path, node)
    assert materials[record["material"]]["blending"] == 2


def test_two_sided_node_gets_back_faces(tmp_path):
    node = pbr_node(base_block())
    node.setTwoSided(True)
    (record,), _ = saved_render_nodes(tmp_path, node)
    assert record["vertex_count"] == 8
    assert len(record["indices"]) == 12


def test_second_save_does_not_add_back_faces_again(tmp_path):
    # Two two-sided nodes under one transform: the save merges them, and the
    # merged node must remember that its back faces are already there.
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    for name in ("left", "right"):
        node = pbr_node(base_block(), name=name)
        node.setTwoSided(True)
        node.setControlNode(holder)
        assert model.addRenderNode(node) == ""
    first, second = tmp_path / "first.tav", tmp_path / "second.tav"
    assert model.save(str(first), 10) == ""
    assert model.save(str(second), 10) == ""
    (record,) = tavtools.read(first)["sections"]["RENDER_NODES"]
    assert len(record["indices"]) == 2 * 2 * 6  # two nodes of two triangles, each with its back
    assert second.read_bytes() == first.read_bytes()


def test_skin_node_has_control_node_then_bones_as_parents(tmp_path):
    bones = [pytav.Bone(f"bone{i}") for i in range(3)]
    block = pytav.BoneBlock()
    block.setBoneWeights(np.full(16, 0.25, dtype=np.float32))
    block.setBoneIndices(np.array([0, 1, 2, 0] * 4, dtype=np.uint32))
    block.setBones(bones)
    records, _ = saved_render_nodes(tmp_path, pbr_node(base_block(), block, name="skin"),
                                    bbox=(-1, -1, -1, 2, 2, 2), children=bones)
    (record,) = records
    assert record["class"] == "model::SkinNode" and record["name"] == "skin"
    assert len(record["bones"]) == 4
    assert len(set(record["bones"])) == 4


def test_skin_node_carries_damage_argument(tmp_path):
    bone = pytav.Bone("b")
    block = pytav.BoneBlock()
    block.setBoneWeights(np.full(16, 1.0, dtype=np.float32))
    block.setBoneIndices(np.zeros(16, dtype=np.uint32))
    block.setBones([bone])
    (record,), _ = saved_render_nodes(tmp_path, pbr_node(base_block(), block, damage_block(argument=9)),
                                      bbox=(-1, -1, -1, 2, 2, 2), children=[bone])
    assert record["skin_value"] == 9


# The fourth bone index of a vertex lands in the top byte of the packed
# indices, that is in the sign and exponent of the fourth position component.
TOP_BONE_INDICES = [0, 62, 63, 64, 127, 128, 255, 1]


def test_skin_under_a_transform_moves_every_vertex_whatever_its_bone_indices(tmp_path):
    count = len(TOP_BONE_INDICES)
    positions = np.array([(i, i % 3, 0.5 * i) for i in range(count)], dtype=np.float32)
    normals = np.tile(np.array([0, 0, 1], dtype=np.float32), (count, 1))
    base = pytav.BaseBlock()
    base.setPositions(positions.ravel())
    base.setNormals(normals.ravel())
    base.setAlbedoMapUV(np.zeros(2 * count, dtype=np.float32))
    base.setAlbedoMap("albedo.dds")
    bones = pytav.BoneBlock()
    bones.setBoneWeights(np.full(4 * count, 0.25, dtype=np.float32))
    bones.setBoneIndices(np.array([(1, 2, 3, top) for top in TOP_BONE_INDICES], dtype=np.uint32).ravel())
    bone = pytav.Bone("bone")
    bones.setBones([bone])
    # A quarter turn about z, then a shift, for column vectors.
    place = pytav.Transform("place", [(0, -1, 0, 10), (1, 0, 0, 20), (0, 0, 1, 30), (0, 0, 0, 1)])
    model = pytav.Model()
    model.setBBox((-100, -100, -100, 100, 100, 100))
    model.getRootTransform().addChild(place)
    model.getRootTransform().addChild(bone)
    node = pbr_node(base, bones, name="skin", indices=np.arange(count - 2, dtype=np.uint32).repeat(3) +
                    np.tile(np.arange(3, dtype=np.uint32), count - 2))
    node.setControlNode(place)
    assert model.addRenderNode(node) == ""
    assert model.save(str(tmp_path / "skin.tav"), 10) == ""
    (record,) = tavtools.read(tmp_path / "skin.tav")["sections"]["RENDER_NODES"]
    saved = sorted(rows(record), key=lambda row: row[0:3])
    moved = sorted(([10 - y, 20 + x, 30 + z], [0.0, 0.0, 1.0]) for x, y, z in positions.tolist())
    assert [row[0:3] for row in saved] == [p for p, _ in moved]
    assert [row[4:7] for row in saved] == [n for _, n in moved]
    packed = sorted(float_bits(row[3]) for row in saved)
    assert packed == sorted(0x030201 | top << 24 for top in TOP_BONE_INDICES)


def test_node_added_to_a_second_model_is_built_from_scratch(tmp_path):
    node = pbr_node(base_block(), normal_block())
    first = pytav.Model()
    node.setControlNode(first.getRootTransform())
    assert first.addRenderNode(node) == ""
    second = pytav.Model()
    holder = second.getRootTransform().addChild(pytav.Transform("holder"))
    node.setControlNode(holder)
    assert second.addRenderNode(node) == ""
    assert second.save(str(tmp_path / "second.tav"), 10) == ""
    (record,) = tavtools.read(tmp_path / "second.tav")["sections"]["RENDER_NODES"]
    assert record["vertex_count"] == 4
    assert [row[:3] for row in rows(record)] == [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]


def test_replaced_block_leaving_stale_format_is_reported_not_added():
    model = pytav.Model()
    glow = pytav.EmissiveBlock()
    glow.setEmissiveMap("glow.dds")
    glow.setEmissiveMapUV(uv(0.7))
    node = pbr_node(base_block(), glow)
    node.setControlNode(model.getRootTransform())
    assert model.addRenderNode(node) == ""
    node.addBlock(pytav.EmissiveBlock())
    assert model.addRenderNode(node) == "Vertex data doesn't match the material's vertex format."


def test_pbr_node_is_an_irender_node_and_base_cannot_be_added():
    assert isinstance(pytav.PBRNode("a", "b"), pytav.IRenderNode)
    with pytest.raises(RuntimeError, match="Calling pure virtual function."):
        pytav.Model().addRenderNode(pytav.IRenderNode())
