# PBRNode: material rule, block handling, modes, build and Model.addRenderNode.

import numpy as np
import pytest

import pytav
import tavtools
from support import base_block, build_message, float_bits, normal_block, pbr_node, rows


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


