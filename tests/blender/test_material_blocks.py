"""A material of every block of the TAV Material panel, each map an image of
its own read on a UV map of its own; materials whose blocks lack their
maps; glowing materials keyed over the frames. Exported, read back and
held to the scene."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bpy  # noqa: E402
import numpy as np  # noqa: E402
from io_scene_tav import compat  # noqa: E402

from support import OUT, empty_scene, export_and_read, mesh_object, renders, run, vertex_rows, warnings  # noqa: E402

FRAMES = (1, 21)
# Panel map -> (UV map, texture slot, channel-table entry of its coordinates).
MAPS = {
    ("damage", "albedo"): ("dmg_albedo_uv", 5, 5),
    ("damage", "normal"): ("dmg_normal_uv", 10, 10),
    ("damage", "mask"): ("ao_uv", 15, None),          # reads the damage albedo's coordinates: reported
    ("damage", "mask_rgba"): ("", 18, None),
    ("decal", "map"): ("decal_uv", 3, 3),
    ("ao", "map"): ("ao_uv", 9, 9),
    ("flir", "map"): ("UVMap", 16, None),             # the render layer by name: the base map's coordinates
    ("glass", "color_map"): ("", 14, None),
}
# Glowing objects: (name, material, object argument, action argument or None).
GLOWING = (("Lamp", "Glow", 4, None), ("Lamp2", "Glow", 9, None), ("Beacon", "Pulse", 2, 6))


def image(name):
    made = bpy.data.images.new(name, 4, 4)
    made.generated_color = (np.random.default_rng(len(name)).random(3).tolist() + [1.0])
    return made


def material(name, blocks, maps):
    """A material of a base image whose panel turns ``blocks`` on and gives
    the ``maps`` an image each, on the UV maps of MAPS."""
    made = bpy.data.materials.new(name)
    made.use_nodes = True
    made.use_backface_culling = True
    tree = made.node_tree
    texture = tree.nodes.new("ShaderNodeTexImage")
    texture.image = image(name + "_base")
    tree.links.new(texture.outputs["Color"], tree.nodes["Principled BSDF"].inputs["Base Color"])
    own = made.tav_settings
    for block in blocks:
        getattr(own, block).enabled = True
    for block, slot in maps:
        setting = getattr(getattr(own, block), slot)
        setting.image = image(f"{name}_{block}_{slot}")
        setting.uv_map = MAPS[block, slot][0] if name == "Armor" else ""
    return made


def glowing(name, argument=None):
    made = bpy.data.materials.new(name)
    made.use_nodes = True
    made.tav_settings.emissive_type = "5"
    tree = made.node_tree
    shader = tree.nodes["Principled BSDF"]
    color, strength = compat.principled_input(shader, "Emission Color"), shader.inputs["Emission Strength"]
    keys = ((1, (1, 0, 0), 0.0), (6, (1, 1, 0), 4.0), (11, (0, 1, 0), 2.5), (21, (0.2, 0.2, 1), 1.5))
    for frame, rgb, amount in keys:
        color.default_value = (*rgb, 1.0)
        strength.default_value = amount
        color.keyframe_insert("default_value", frame=frame)
        strength.keyframe_insert("default_value", frame=frame)
    shader.inputs["Base Color"].keyframe_insert("default_value", frame=1)
    if argument is not None:
        tree.animation_data.action["tav_argument"] = argument
    return made


def build_scene():
    empty_scene(FRAMES)
    armor = mesh_object("Armor", material=material("Armor", {block for block, _ in MAPS}, MAPS))
    rng = np.random.default_rng(5)
    for uv_map in sorted({m[0] for m in MAPS.values()} - {"", "UVMap"}):
        layer = armor.data.uv_layers.new(name=uv_map)
        layer.data.foreach_set("uv", rng.random(2 * len(armor.data.loops)))
    armor.data.uv_layers["UVMap"].active_render = True
    compat.set_blend_mode(armor.data.materials[0], blended=True)  # the panel's transparent mode wins
    own = armor.data.materials[0].tav_settings
    own.damage.argument, own.decal.shift, own.ao.shift = 7, (0.25, -0.5), (0.125, 2.0)
    own.glass.instrumental, own.two_sided = True, "ON"
    own.shadow_caster, own.transparent_mode, own.decal_id = "2", "3", 255
    bare = material("Bare", ("damage", "decal", "ao", "flir"), [("damage", "albedo")])
    bare.use_backface_culling, bare.tav_settings.two_sided = False, "OFF"
    mesh_object("Bare", material=bare)
    for name, shared, argument, action_argument in GLOWING:
        found = bpy.data.materials.get(shared) or glowing(shared, action_argument)
        mesh_object(name, material=found)["tav_argument"] = argument
    bpy.context.view_layer.update()


build_scene()
DATA, REPORTS = export_and_read("blocks.tav")
RECORDS = {r["name"]: r for r in renders(DATA)}


def material_of(name):
    return DATA["materials"][RECORDS[name]["material"]]


def corner_uvs(obj):
    """{(position, normal) rounded: {UV map: (u, v) as the file stores it}} of
    a flat mesh, whose corners differ in position or normal; a back face's
    corner (normal turned) reads the same coordinates."""
    mesh = obj.data
    found = {}
    for polygon in mesh.polygons:
        for index in polygon.loop_indices:
            position = tuple(np.round(mesh.vertices[mesh.loops[index].vertex_index].co, 4))
            uvs = {layer.name: (layer.data[index].uv[0], 1.0 - layer.data[index].uv[1]) for layer in mesh.uv_layers}
            for side in (1, -1):
                found[position + tuple(np.round(np.array(polygon.normal) * side, 4) + 0.0)] = uvs
    return found


def test_every_map_reaches_its_slot_with_the_coordinates_of_its_own_uv_map():
    record, armor = RECORDS["Armor"], material_of("Armor")
    files = {t["slot"]: t["file"] for t in armor["textures"]}
    expected = {slot: f"Armor_{block}_{name}.png" for (block, name), (_, slot, _) in MAPS.items()}
    del expected[14]  # the glass block: no render node of the module takes it
    assert files == {0: "Armor_base.png", **expected}
    for name in files.values():
        assert os.path.isfile(os.path.join(OUT, name)), name
    fmt, channels = armor["vertex_format"], armor["texture_coordinates_channels"]
    corners = corner_uvs(bpy.data.objects["Armor"])
    rows = vertex_rows(record)
    assert len(rows) == 48  # 24 corners and the back faces of the two-sided material
    for uv_map, slot, entry in [("UVMap", 0, 0)] + [v for v in MAPS.values() if v[2] is not None]:
        start = sum(fmt[:4 + channels[entry]])
        for row in rows:
            key = tuple(np.round(row[:3], 4) + 0.0) + tuple(np.round(row[4:7], 4) + 0.0)
            assert np.allclose(row[start:start + 2], corners[key][uv_map], atol=1e-6), (slot, uv_map, row)


def test_node_settings_and_shifts_are_as_set_in_the_panel():
    record, armor = RECORDS["Armor"], material_of("Armor")
    assert (armor["shadows"], armor["blending"], armor["decal"]) == (5, 3, 255)
    # The panel's Two-Sided over Backface Culling, either way.
    assert (len(record["indices"]) // 3, len(RECORDS["Bare"]["indices"]) // 3) == (24, 12)
    assert [p["damage_argument"] for p in record["parents"]] == [7]
    uniforms = {u["name"]: u["value"] for u in armor["uniforms"]}
    assert uniforms["decalShift"] == [0.25, -0.5] and uniforms["ambientOcclusionShift"] == [0.125, 2.0]


def test_what_cannot_be_carried_is_reported_with_the_modules_message():
    lines = set(warnings(REPORTS))
    assert {
        "material Armor: the glass block is left out: Material Armor doesn't support block BT_Glass.",
        "material Armor damage mask: reads the coordinates of the damage albedo; its own UV map is not carried",
        "material Bare: the damage block is left out: Damage block: Normal map isn't set.",
        "material Bare: the decal block is left out: Decal block: decal texture isn't set.",
        "material Bare: the AO block is left out: AO block: AO texture isn't set.",
        "material Bare: the FLIR block is left out: Flir map isn't set.",
    } <= lines, lines
    # The FLIR map names the render layer: the base map's coordinates, no set of its own.
    assert not [line for line in lines if "FLIR" in line and "Armor" in line or "UV set" in line]
    assert {t["slot"] for t in material_of("Bare")["textures"]} == {0}
    assert any(line.startswith("material Pulse: animation of nodes[") for line in lines), lines


def test_keyed_emission_is_the_emissive_value_at_the_mapped_arguments():
    scene = bpy.context.scene
    for name, shared, argument, action_argument in GLOWING:
        glow = material_of(name)
        assert glow["material_name"] == "additive_self_illum_color_material"
        keyed = {u["name"]: u for u in glow["animated_uniforms"]}
        amount, color = keyed["selfIlluminationValue"], keyed["selfIlluminationColor"]
        assert amount["argument"] == color["argument"] == (action_argument or argument), name
        shader = bpy.data.materials[shared].node_tree.nodes["Principled BSDF"]
        for frame in (1, 3, 6, 10, 11, 17, 21):
            scene.frame_set(frame)
            at = (frame - FRAMES[0]) / (FRAMES[1] - FRAMES[0])
            value = [np.interp(at, *np.array(amount["keys"]).T)]
            value += [np.interp(at, np.array(color["keys"])[:, 0], np.array(color["keys"])[:, k]) for k in (1, 2, 3)]
            blender = [shader.inputs["Emission Strength"].default_value]
            blender += list(compat.principled_input(shader, "Emission Color").default_value)[:3]
            assert np.allclose(value, blender, atol=2e-3), (name, frame, value, blender)


run(globals())
