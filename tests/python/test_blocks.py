# Material blocks: type names, validation and what each adds to a saved node.

import re

import numpy as np
import pytest

import pytav
from support import NORMALS, POSITIONS, _f32, _set, base_block, build_message, float_bits, rows, saved_single, uv


def _base(positions=POSITIONS, normals=NORMALS, coordinates=None, albedo=None):
    return _set(pytav.BaseBlock(), ("setPositions", _f32(positions)), ("setNormals", _f32(normals)),
                ("setAlbedoMapUV", _f32(coordinates)), ("setAlbedoMap", albedo))


def _partial(block_class, **calls):
    return _set(block_class(), *calls.items())


def _bones(weights=True, indices=(0, 1, 2, 3) * 4):
    return _set(pytav.BoneBlock(), ("setBoneWeights", np.full(16, 0.25, dtype=np.float32) if weights else None),
                ("setBoneIndices", None if indices is None else np.asarray(indices, dtype=np.uint32)))


NINE = np.arange(1, 10, dtype=np.float32)


@pytest.mark.parametrize("blocks, message", [
    ([_base(positions=None, coordinates=uv(0), albedo="a")], "Vetices positions aren't set."),
    ([_base(normals=None, coordinates=uv(0), albedo="a")], "Invalid normals."),
    ([_base(normals=NORMALS[:9], coordinates=uv(0), albedo="a")], "Invalid normals."),
    ([_base(NINE, NINE, np.zeros(6))], "Albedo isn't set."),
    ([_base(NINE, NINE, np.zeros(8), albedo="a")], "Invalid albedo texture coordinates."),
    ([_base(coordinates=None, albedo="a")], "Invalid albedo texture coordinates."),
    ([_partial(pytav.ColorBaseBlock, setPositions=NINE, setNormals=NINE)], "Color not set."),
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


@pytest.mark.parametrize("bone_indices, expected", [
    ([1, 2, 3, 4] * 4, [0x04030201] * 4),
    ([0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 7, 6, 5, 4], [0, 0xFF, 0xFF00, 0x04050607]),
    # High bytes that make the pattern of an infinity or a NaN are not taken for bad positions.
    ([0, 0, 128, 127] * 4, [0x7F800000] * 4),
    ([0, 0, 200, 255, 255, 255, 255, 255] * 2, [0xFFC80000, 0xFFFFFFFF] * 2),
])
def test_bone_indices_packed_into_fourth_position_of_every_vertex(tmp_path, bone_indices, expected):
    bone = pytav.Bone("b0")
    block = _set(_bones(indices=bone_indices), ("setBones", [bone]))
    record, material = saved_single(tmp_path, base_block(), block, bbox=(-1, -1, -1, 2, 2, 2), children=[bone])
    assert record["class"] == "model::SkinNode"
    assert material["vertex_format"][21] == 4
    got = [float_bits(row[3]) for row in rows(record)]
    assert sorted(got) == sorted(expected) and len(got) == 4
    # weights follow the albedo coordinates in each row
    assert all(row[9:13] == [0.25] * 4 for row in rows(record))


# --- what NumPy arguments may hold -------------------------------------------

INDEX_SETTERS = [
    pytest.param(lambda values: pytav.BoneBlock().setBoneIndices(values), id="BoneBlock.setBoneIndices"),
    pytest.param(lambda values: pytav.PBRNode("n", "m").setIndices(values), id="PBRNode.setIndices"),
    pytest.param(lambda values: pytav.ColorNode("n", "m").setIndices(values), id="ColorNode.setIndices"),
]


# Arrays of what are not plain numbers would lose something in a cast (an
# imaginary part, a date's meaning, an object's own float()): refused.
@pytest.mark.parametrize("values", [
    np.array([1 + 2j, 0, 0]), np.array([1.0, 2.0, 3.0], dtype=object),
    np.array(["2020-01-01"] * 3, dtype="datetime64[D]"), np.array(["1", "2", "3"]),
], ids=["complex", "object", "datetime", "text"])
@pytest.mark.parametrize("setter", INDEX_SETTERS + [
    pytest.param(lambda values: pytav.BaseBlock().setPositions(values), id="BaseBlock.setPositions")])
def test_array_of_other_than_numbers_is_refused_naming_its_dtype(setter, values):
    with pytest.raises(TypeError, match="^" + re.escape(f"Expected an array of numbers; got an array of dtype {values.dtype}.")):
        setter(values)


# A single number where a list is due is a mistake a list of one would hide.
@pytest.mark.parametrize("values", [np.array(1.0), np.array(3, dtype=np.uint32), 2.0],
                         ids=["float array", "index array", "number"])
@pytest.mark.parametrize("setter", INDEX_SETTERS + [
    pytest.param(lambda values: pytav.BaseBlock().setPositions(values), id="BaseBlock.setPositions")])
def test_single_number_where_a_list_is_due_is_refused(setter, values):
    with pytest.raises(ValueError, match="^A zero-dimensional array can't be used as a list of values.$"):
        setter(values)


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


