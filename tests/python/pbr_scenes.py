"""Complete material blocks and PBR nodes for the block and PBR node tests.

Geometry: a quad of two triangles in the z = 0 plane with distinct corners, so
that the save's welding and degenerate-triangle passes keep every vertex.
"""

import struct

import numpy as np

import pytav
from pytav_files import save_and_read

POSITIONS = np.array([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0], dtype=np.float32)
NORMALS = np.array([0, 0, 1] * 4, dtype=np.float32)
INDICES = np.array([0, 1, 2, 0, 2, 3], dtype=np.uint32)
VERTEX_COUNT = 4


def uv(offset: float) -> np.ndarray:
    """Coordinates of the quad, distinct for each offset (the save merges equal lists)."""
    return np.array([0, 0, 1, 0, 1, 1, 0, 1], dtype=np.float32) * 0.5 + np.float32(offset)


def base_block(albedo="albedo.dds") -> pytav.BaseBlock:
    block = pytav.BaseBlock()
    block.setPositions(POSITIONS)
    block.setNormals(NORMALS)
    block.setAlbedoMapUV(uv(0.0))
    block.setAlbedoMap(albedo)
    return block


def color_base_block(color=(0.25, 0.5, 0.75)) -> pytav.ColorBaseBlock:
    block = pytav.ColorBaseBlock()
    block.setPositions(POSITIONS)
    block.setNormals(NORMALS)
    block.setColor(pytav.PropertyFloat3(color))
    return block


def textured(block_class, map_setter: str, uv_setter: str, offset: float, file: str):
    block = block_class()
    getattr(block, map_setter)(file)
    getattr(block, uv_setter)(uv(offset))
    return block


def normal_block(offset=0.1):
    return textured(pytav.NormalBlock, "setNormalMap", "setNormalMapUV", offset, "normal.dds")


def ao_block(offset=0.2):
    return textured(pytav.AoBlock, "setAoMap", "setAoMapUV", offset, "ao.dds")


def decal_block(offset=0.3):
    return textured(pytav.DecalBlock, "setDecalMap", "setDecalMapUV", offset, "decal.dds")


def aorms_block(offset=0.4):
    return textured(pytav.AormsBlock, "setAormsMap", "setAormsMapUV", offset, "aorms.dds")


def damage_block(argument=7):
    block = pytav.DamageBlock()
    block.setAlbedoMapUV(uv(0.5))
    block.setNormalMapUV(uv(0.6))
    block.setAlbedoMap("damage.dds")
    block.setNormalMap("damage_normal.dds")
    block.setMask("mask.dds")
    block.setMaskRGBA("mask_rgba.dds")
    block.setArgument(argument)
    return block


def pbr_node(*blocks, name="mesh", material="mat", indices=INDICES) -> pytav.PBRNode:
    node = pytav.PBRNode(name, material)
    if indices is not None:
        node.setIndices(indices)
    for block in blocks:
        node.addBlock(block)
    return node


def saved_render_nodes(tmp_path, *nodes, bbox=None, children=()) -> tuple:
    """Saves a model holding the nodes under one transform (children, such as
    bones, are added below it too); returns (render records, materials)."""
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    for child in children:
        holder.addChild(child)
    if bbox:
        model.setBBox(bbox)
    for node in nodes:
        node.setControlNode(holder)
        message = model.addRenderNode(node)
        assert message == "", message
    data = save_and_read(model, tmp_path / "pbr.tav")
    return data["sections"]["RENDER_NODES"], data["materials"]


def saved_single(tmp_path, *blocks, **kwargs) -> tuple:
    """(render record, its material) of one PBR node made of the blocks."""
    records, materials = saved_render_nodes(tmp_path, pbr_node(*blocks), **kwargs)
    (record,) = records
    return record, materials[record["material"]]


def rows(record: dict) -> list:
    """The record's vertex rows."""
    size = record["floats_per_vertex"]
    return [record["vertices"][i:i + size] for i in range(0, len(record["vertices"]), size)]


def float_bits(value: float) -> int:
    return struct.unpack("<I", struct.pack("<f", value))[0]


def uniform_names(material: dict) -> list:
    return [u["name"] for u in material["uniforms"] + material["animated_uniforms"]]


def textures(material: dict) -> dict:
    return {t["slot"]: t["file"] for t in material["textures"]}


def build_message(*blocks, indices=INDICES, material="mat", control=True) -> str:
    """What Model.addRenderNode returns for a node of the blocks."""
    model = pytav.Model()
    node = pbr_node(*blocks, material=material, indices=indices)
    if control:
        node.setControlNode(model.getRootTransform())
    return model.addRenderNode(node)
