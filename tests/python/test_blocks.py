"""Material blocks: type names, validation and what each adds to a saved node."""

import re

import numpy as np
import pytest

import pytav
from pbr_scenes import (
    INDICES, NORMALS, POSITIONS, VERTEX_COUNT, ao_block, aorms_block, base_block, build_message,
    color_base_block, damage_block, decal_block, float_bits, normal_block, rows, saved_render_nodes,
    saved_single, textures, uniform_names, uv)

NONE = 0xFFFFFFFF


@pytest.mark.parametrize("block_class, name", [
    (pytav.BaseBlock, "BT_Base"), (pytav.ColorBaseBlock, "BT_Base"), (pytav.NormalBlock, "BT_Normal"),
    (pytav.FlirBlock, "BT_Flir"), (pytav.DamageBlock, "BT_Damage"), (pytav.AormsBlock, "BT_Aorms"),
    (pytav.BoneBlock, "BT_Bone"), (pytav.EmissiveBlock, "BT_Emissive"),
    (pytav.EmissiveColorBlock, "BT_Emissive"), (pytav.AoBlock, "BT_Ao"), (pytav.DecalBlock, "BT_Decal"),
    (pytav.GlassBlock, "BT_Glass"),
])
def test_shared_type_names_of_sibling_blocks(block_class, name):
    block = block_class()
    assert isinstance(block, pytav.IBlock)
    assert block.getTypeName() == name


def test_bare_iblock_raises_instead_of_crashing():
    with pytest.raises(RuntimeError, match=r"^Calling pure virtual function\.$"):
        pytav.IBlock().getTypeName()
    node = pytav.PBRNode("n", "m")
    with pytest.raises(RuntimeError, match="Calling pure virtual function."):
        node.addBlock(pytav.IBlock())


def _base(positions=POSITIONS, normals=NORMALS, coordinates=None, albedo=""):
    block = pytav.BaseBlock()
    for setter, value in (("setPositions", positions), ("setNormals", normals), ("setAlbedoMapUV", coordinates)):
        if value is not None:
            getattr(block, setter)(np.asarray(value, dtype=np.float32))
    if albedo:
        block.setAlbedoMap(albedo)
    return block


def _color_base(positions, normals, color=True):
    block = pytav.ColorBaseBlock()
    block.setPositions(np.asarray(positions, dtype=np.float32))
    block.setNormals(np.asarray(normals, dtype=np.float32))
    if color:
        block.setColor(pytav.PropertyFloat3((1, 0, 0)))
    return block


def _partial(block_class, **calls):
    block = block_class()
    for setter, value in calls.items():
        getattr(block, setter)(value)
    return block


def _bones(weights=True, indices=(0, 1, 2, 3) * 4):
    block = pytav.BoneBlock()
    if weights:
        block.setBoneWeights(np.full(16, 0.25, dtype=np.float32))
    if indices is not None:
        block.setBoneIndices(np.asarray(indices, dtype=np.uint32))
    return block


NINE = np.arange(1, 10, dtype=np.float32)


@pytest.mark.parametrize("blocks, message", [
    ([_base(positions=None, coordinates=uv(0), albedo="a")], "Vetices positions aren't set."),
    ([_base(normals=None, coordinates=uv(0), albedo="a")], "Invalid normals."),
    ([_base(normals=NORMALS[:9], coordinates=uv(0), albedo="a")], "Invalid normals."),
    ([_base(NINE, NINE, np.zeros(6))], "Albedo isn't set."),
    ([_base(NINE, NINE, np.zeros(8), albedo="a")], "Invalid albedo texture coordinates."),
    ([_base(coordinates=None, albedo="a")], "Invalid albedo texture coordinates."),
    ([_color_base(np.zeros(6), NINE)], "Invalid normals."),
    ([_color_base([], NINE)], "Vetices positions aren't set."),
    ([_color_base(NINE, NINE, color=False)], "Color not set."),
    ([base_block(), pytav.FlirBlock()], "Flir map isn't set."),
    ([base_block(), _partial(pytav.DamageBlock, setAlbedoMapUV=uv(0.5), setNormalMapUV=uv(0.6), setAlbedoMap="d",
                             setNormalMap="dn")], "Damage block: invalid argument."),
    ([base_block(), _partial(pytav.DamageBlock, setArgument=1)], "Damage block: Invalid albedo texture coordinates."),
    ([base_block(), _partial(pytav.DamageBlock, setArgument=1, setAlbedoMapUV=uv(0.5))],
     "Damage block: Invalid normal map texture coordinates."),
    ([base_block(), _partial(pytav.DamageBlock, setArgument=1, setAlbedoMapUV=uv(0.5), setNormalMapUV=uv(0.6))],
     "Damage block: Albedo isn't set."),
    ([base_block(), _partial(pytav.DamageBlock, setArgument=1, setAlbedoMapUV=uv(0.5), setNormalMapUV=uv(0.6),
                             setAlbedoMap="d")], "Damage block: Normal map isn't set."),
    ([base_block(), _bones(weights=False)], "Bone weights aren't set."),
    ([base_block(), _bones(indices=None)], "Bone indices aren't set."),
    ([base_block(), _bones(indices=[0, 1, 2, 256] + [0] * 12)], "Bone indices must be below 256."),
    ([base_block(), pytav.EmissiveColorBlock()], "Color not set."),
    ([base_block(), _partial(pytav.EmissiveBlock, setEmissiveMap="e.dds")],
     "Emissive block: Invalid texture coordinates."),
    ([base_block(), pytav.AoBlock()], "AO block: Invalid texture coordinates."),
    ([base_block(), _partial(pytav.AoBlock, setAoMapUV=uv(0.2))], "AO block: AO texture isn't set."),
    ([base_block(), pytav.DecalBlock()], "Decal block: Invalid texture coordinates."),
    ([base_block(), _partial(pytav.DecalBlock, setDecalMapUV=uv(0.3))], "Decal block: decal texture isn't set."),
    ([base_block(), pytav.NormalBlock()], "Normal block: Invalid texture coordinates."),
    ([base_block(), _partial(pytav.NormalBlock, setNormalMapUV=uv(0.1))], "Normal block: normal texture isn't set."),
    ([base_block(), pytav.AormsBlock()], "Aorms block: Invalid texture coordinates."),
    ([base_block(), _partial(pytav.AormsBlock, setAormsMapUV=uv(0.4))], "Aorms block: aorms texture isn't set."),
])
def test_incomplete_block_reports_its_first_missing_field(blocks, message):
    assert build_message(*blocks) == message


def test_coordinates_take_channels_in_block_type_order(tmp_path):
    # Added out of order: the node applies blocks by type, Base, Normal, Ao.
    record, material = saved_single(tmp_path, ao_block(), normal_block(), base_block())
    channels = material["texture_coordinates_channels"]
    assert (channels[0], channels[1], channels[9]) == (0, 1, 2)
    assert [i for i, c in enumerate(channels) if c != NONE] == [0, 1, 9]
    fmt = material["vertex_format"]
    assert fmt[:7] == [4, 3, 3, 3, 2, 2, 2] and sum(fmt) == 19
    assert textures(material) == {0: "albedo.dds", 1: "normal.dds", 9: "ao.dds"}
    first = rows(record)[0]
    # position, normal, zero tangent frame, then TEXCOORD0..2 of vertex 0
    assert first == [0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,
                     0, 0, pytest.approx(0.1), pytest.approx(0.1), pytest.approx(0.2), pytest.approx(0.2)]


def test_flir_points_use_zero_at_first_channel_whatever_base_uses(tmp_path):
    flir = pytav.FlirBlock()
    flir.setFlirMap("flir.dds")
    _, material = saved_single(tmp_path, base_block(), flir, decal_block())
    assert material["texture_coordinates_channels"][0] == 0
    assert material["texture_coordinates_channels"][3] == 1
    assert textures(material)[16] == "flir.dds"


def test_damage_block_fills_two_channels_four_slots_zero_frame_and_argument(tmp_path):
    record, material = saved_single(tmp_path, base_block(), damage_block(argument=12))
    channels = material["texture_coordinates_channels"]
    assert (channels[5], channels[10]) == (1, 2)
    assert textures(material) == {0: "albedo.dds", 5: "damage.dds", 10: "damage_normal.dds", 15: "mask.dds",
                                  18: "mask_rgba.dds"}
    fmt = material["vertex_format"]
    assert (fmt[24], fmt[25], fmt[2], fmt[3]) == (3, 3, 0, 0)
    assert all(row[-6:] == [0] * 6 for row in rows(record))
    assert record["parents"][0]["damage_argument"] == 12


def test_damage_block_with_empty_mask_names_leaves_those_slots_unused(tmp_path):
    block = _partial(pytav.DamageBlock, setArgument=3, setAlbedoMapUV=uv(0.5), setNormalMapUV=uv(0.6),
                     setAlbedoMap="d.dds", setNormalMap="dn.dds")
    _, material = saved_single(tmp_path, base_block(), block)
    assert sorted(textures(material)) == [0, 5, 10]


def test_aorms_and_decal_slots_channels_and_renamed_shift(tmp_path):
    decal = decal_block()
    decal.setDecalShift(pytav.PropertyFloat2((0.5, 0.25)))
    record, material = saved_single(tmp_path, base_block(), aorms_block(), decal)
    channels = material["texture_coordinates_channels"]
    # The save renumbers channels by table position, so the decal (entry 3)
    # comes before the AORMS map (entry 12); each must still read its own list.
    assert (channels[3], channels[12]) == (1, 2)
    assert rows(record)[0][7:] == [0, 0, pytest.approx(0.3), pytest.approx(0.3), pytest.approx(0.4),
                                   pytest.approx(0.4)]
    assert textures(material) == {0: "albedo.dds", 13: "aorms.dds", 3: "decal.dds"}
    assert material["uniforms"] == [{"class": "model::Property<osg::Vec2f>", "name": "decalShift",
                                     "value": [0.5, 0.25]}]


def test_uniforms_are_renamed_for_the_material(tmp_path):
    base = base_block()
    base.setAlbedoMapUVShift(pytav.PropertyFloat2(4, [(0.0, (0.0, 0.0)), (1.0, (1.0, 0.5))]))
    ao = ao_block()
    ao.setAoShift(pytav.PropertyFloat2((0.125, 0.0)))
    _, material = saved_single(tmp_path, base, ao)
    assert [u["name"] for u in material["animated_uniforms"]] == ["diffuseShift"]
    assert material["animated_uniforms"][0]["argument"] == 4
    assert [u["name"] for u in material["uniforms"]] == ["ambientOcclusionShift"]


@pytest.mark.parametrize("emissive_type, material_name", [
    (0, "def_material"), (1, "def_material"), (2, "self_illum_material"),
    (3, "transparent_self_illum_material"), (4, "additive_self_illum_material"),
    (5, "additive_self_illum_color_material"), (6, "additive_self_illum_tex_material"), (7, "def_material"),
])
def test_emissive_type_selects_material(tmp_path, emissive_type, material_name):
    block = pytav.EmissiveBlock()
    block.setEmissiveType(emissive_type)
    _, material = saved_single(tmp_path, base_block(), block)
    assert material["material_name"] == material_name


def test_emissive_without_file_adds_uniforms_but_no_channel_or_texture(tmp_path):
    block = pytav.EmissiveBlock()
    block.setAmount(pytav.PropertyFloat(2.5))
    block.setColor(pytav.PropertyFloat3((1, 0.5, 0)))
    _, material = saved_single(tmp_path, base_block(), block)
    assert material["texture_coordinates_channels"][8] == NONE
    assert sorted(textures(material)) == [0]
    assert sum(material["vertex_format"]) == 4 + 3 + 2
    assert uniform_names(material) == ["selfIlluminationValue", "selfIlluminationColor"]


def test_emissive_with_file_takes_next_channel_and_slot_eight(tmp_path):
    block = pytav.EmissiveBlock()
    block.setEmissiveMap("glow.dds")
    block.setEmissiveMapUV(uv(0.7))
    block.setEmissiveType(2)
    _, material = saved_single(tmp_path, base_block(), normal_block(), block)
    assert material["texture_coordinates_channels"][8] == 2
    assert textures(material)[8] == "glow.dds"


def test_emissive_name_wins_over_color_material(tmp_path):
    glow = pytav.EmissiveColorBlock()
    glow.setColor(pytav.PropertyFloat3((0, 1, 0)))
    _, material = saved_single(tmp_path, glow, color_base_block())
    assert material["material_name"] == "self_illum_material"
    assert uniform_names(material) == ["color", "selfIlluminationColor"]


def test_color_base_block_gives_color_material_and_one_color_uniform(tmp_path):
    record, material = saved_single(tmp_path, color_base_block((0.25, 0.5, 0.75)))
    assert material["material_name"] == "color_material"
    assert material["uniforms"] == [{"class": "model::Property<osg::Vec3f>", "name": "color",
                                     "value": [0.25, 0.5, 0.75]}]
    assert record["floats_per_vertex"] == 7


BBOX = (-1, -1, -1, 2, 2, 2)


@pytest.mark.parametrize("bone_indices, expected", [
    ([1, 2, 3, 4] * 4, [0x04030201] * 4),
    ([0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 7, 6, 5, 4], [0, 0xFF, 0xFF00, 0x04050607]),
])
def test_bone_indices_packed_into_fourth_position_of_every_vertex(tmp_path, bone_indices, expected):
    block = _bones(indices=bone_indices)
    bone = pytav.Bone("b0")
    block.setBones([bone])
    record, material = saved_single(tmp_path, base_block(), block, bbox=BBOX, children=[bone])
    assert record["class"] == "model::SkinNode"
    assert material["vertex_format"][21] == 4
    got = [float_bits(row[3]) for row in rows(record)]
    assert sorted(got) == sorted(expected) and len(got) == VERTEX_COUNT
    # weights follow the albedo coordinates in each row
    assert all(row[9:13] == [0.25] * 4 for row in rows(record))


def test_too_few_bone_indices_raise_index_error_not_read_past_list():
    block = _bones(indices=[0, 1, 2, 3] * 3)
    with pytest.raises(IndexError, match="invalid vector subscript"):
        build_message(base_block(), block)


def test_set_bones_refuses_non_bone_and_keeps_names():
    block = pytav.BoneBlock()
    with pytest.raises((TypeError, RuntimeError)):
        block.setBones([pytav.Bone("a"), pytav.Transform("t")])
    block.setBoneNames(["a", "b"])
    assert block.getBoneNames() == ["a", "b"]


def test_two_dimensional_arrays_are_flattened_completely(tmp_path):
    block = pytav.BaseBlock()
    block.setPositions(POSITIONS.reshape(4, 3))
    block.setNormals(NORMALS.reshape(4, 3))
    block.setAlbedoMapUV(uv(0.0).reshape(4, 2))
    block.setAlbedoMap("albedo.dds")
    node = pytav.PBRNode("mesh", "mat")
    node.setIndices(INDICES.reshape(2, 3))
    node.addBlock(block)
    (record,), _ = saved_render_nodes(tmp_path, node)
    assert [row[:3] for row in rows(record)] == POSITIONS.reshape(4, 3).tolist()
    assert record["indices"] == INDICES.tolist()


def test_fortran_ordered_and_float64_arrays_are_read_in_c_order(tmp_path):
    block = pytav.BaseBlock()
    block.setPositions(np.asfortranarray(POSITIONS.reshape(4, 3).astype(np.float64)))
    block.setNormals(NORMALS)
    block.setAlbedoMapUV(uv(0.0))
    block.setAlbedoMap("albedo.dds")
    record, _ = saved_single(tmp_path, block)
    assert [row[:3] for row in rows(record)] == POSITIONS.reshape(4, 3).tolist()


@pytest.mark.parametrize("setter", ["setPositions", "setNormals", "setAlbedoMapUV"])
def test_zero_dimensional_array_is_a_value_error(setter):
    with pytest.raises(ValueError):
        getattr(pytav.BaseBlock(), setter)(np.float32(1.0).reshape(()))
    with pytest.raises(ValueError):
        pytav.BoneBlock().setBoneIndices(np.array(3, dtype=np.uint32))


@pytest.mark.parametrize("function, expected", [
    (pytav.BaseBlock.setPositions, "numpy.ndarray[numpy.float32]"),
    (pytav.BoneBlock.setBoneIndices, "numpy.ndarray[numpy.uint32]"),
    (pytav.PBRNode.setIndices, "numpy.ndarray[numpy.uint32]"),
    (pytav.PBRNode.addBlock, "pytav.IBlock"),
])
def test_array_and_block_arguments_are_named_as_scripts_pass_them(function, expected):
    assert f"arg0: {expected})" in function.__doc__


# --- what NumPy arguments may hold -------------------------------------------

INDEX_SETTERS = [
    pytest.param(lambda values: pytav.BoneBlock().setBoneIndices(values), id="BoneBlock.setBoneIndices"),
    pytest.param(lambda values: pytav.PBRNode("n", "m").setIndices(values), id="PBRNode.setIndices"),
    pytest.param(lambda values: pytav.ColorNode("n", "m").setIndices(values), id="ColorNode.setIndices"),
]
FLOAT_SETTERS = [
    pytest.param(lambda values: pytav.BaseBlock().setPositions(values), id="BaseBlock.setPositions"),
    pytest.param(lambda values: pytav.BoneBlock().setBoneWeights(values), id="BoneBlock.setBoneWeights"),
    pytest.param(lambda values: pytav.MirrorNode("n", "m").setTextureCoordinates(values),
                 id="MirrorNode.setTextureCoordinates"),
]


@pytest.mark.parametrize("values, shown", [
    (np.array([0, -1], dtype=np.int64), "-1"),
    (np.array([0, 2 ** 40], dtype=np.int64), str(2 ** 40)),
    (np.array([2 ** 32], dtype=np.uint64), str(2 ** 32)),
    (np.array([-3], dtype=np.int8), "-3"),
    (np.array([1.5]), "1.5"),
    (np.array([np.nan], dtype=np.float32), "nan"),
    ([0, 1, -2], "-2"),
])
@pytest.mark.parametrize("setter", INDEX_SETTERS)
def test_index_that_does_not_fit_uint32_is_refused_instead_of_wrapping(setter, values, shown):
    with pytest.raises(ValueError, match=rf"^Index {shown} does not fit an unsigned 32-bit integer\.$"):
        setter(values)


def test_indices_of_wider_kinds_are_kept_when_they_fit(tmp_path):
    node = pytav.PBRNode("mesh", "mat")
    node.setIndices(INDICES.astype(np.int64))
    node.addBlock(base_block())
    (record,), _ = saved_render_nodes(tmp_path, node)
    assert record["indices"] == INDICES.tolist()
    # The bounds themselves fit, whatever kind carries them.
    pytav.BoneBlock().setBoneIndices(np.array([0, 0xFFFFFFFF], dtype=np.uint64))
    pytav.BoneBlock().setBoneIndices(np.array([0.0, 4294967295.0]))


@pytest.mark.parametrize("values, kind", [
    (np.array([1 + 2j, 0]), "complex128"),
    (np.array([1.0, None], dtype=object), "object"),
    (np.array(["2024-01-01"], dtype="datetime64[D]"), "datetime64[D]"),
    (np.array([1, 2], dtype="timedelta64[s]"), "timedelta64[s]"),
    (np.array(["1", "2"]), "<U1"),
])
@pytest.mark.parametrize("setter", INDEX_SETTERS + FLOAT_SETTERS)
def test_array_of_values_that_are_not_numbers_is_a_type_error_not_a_cast(setter, values, kind):
    expected = f"Expected an array of numbers; got an array of dtype {kind}."
    with pytest.raises(TypeError, match="^" + re.escape(expected) + "$"):
        setter(values)
