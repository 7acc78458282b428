"""A material of every block of the TAV Material panel, each map an image of
its own on a UV map of its own; a material whose blocks lack their maps;
glowing materials keyed over the frames. Exported, read back, held to the scene."""

import os

import bpy
import numpy as np
from io_scene_tav import compat

from support import (OUT, empty_scene, export_and_read, frames, mesh_object, pushed_to_strip, renders, run, textured,
                     vertex_rows, warnings)

# Panel map -> (UV map, texture slot, channel-table entry of its coordinates).
MAPS = {("damage", "albedo"): ("dmg_albedo_uv", 5, 5), ("damage", "normal"): ("dmg_normal_uv", 10, 10),
        ("damage", "mask"): ("ao_uv", 15, None),  # the masks read the damage albedo's coordinates: reported
        ("damage", "mask_rgba"): ("", 18, None), ("decal", "map"): ("decal_uv", 3, 3), ("ao", "map"): ("ao_uv", 9, 9),
        ("flir", "map"): ("UVMap", 16, None),  # the render layer by name: the base map's coordinates
        ("glass", "color_map"): ("", 14, None)}
# Glowing objects: (name, material, object argument, the action's argument or None).
GLOWING = (("Lamp", "Glow", 4, None), ("Lamp2", "Glow", 9, None), ("Beacon", "Pulse", 2, 6))
SPAN = [-1.0, 1.0]


def material(name, blocks, maps, culling=True, two_sided="AUTO"):
    made = textured(name, bpy.data.images.new(name + "_base", 4, 4))
    made.use_backface_culling, made.tav_settings.two_sided = culling, two_sided
    for block in blocks:
        getattr(made.tav_settings, block).enabled = True
    for block, slot in maps:
        setting = getattr(getattr(made.tav_settings, block), slot)
        setting.image, setting.uv_map = bpy.data.images.new(f"{name}_{block}_{slot}", 4, 4), maps[block, slot][0]
    return made


def glowing(name, argument):
    made = bpy.data.materials.new(name)
    made.use_nodes, made.tav_settings.emissive_type = True, "5"
    shader = made.node_tree.nodes["Principled BSDF"]
    color, strength = compat.principled_input(shader, "Emission Color"), shader.inputs["Emission Strength"]
    for frame, rgb, amount in ((1, (1, 0, 0), 0.0), (6, (1, 1, 0), 4.0), (11, (0, 1, 0), 2.5), (21, (0, 0, 1), 1.5)):
        color.default_value, strength.default_value = (*rgb, 1.0), amount
        color.keyframe_insert("default_value", frame=frame)
        strength.keyframe_insert("default_value", frame=frame)
    shader.inputs["Base Color"].keyframe_insert("default_value", frame=1)  # not exported: reported
    if argument is not None:  # with a range of its own, too
        action = made.node_tree.animation_data.action
        action["tav_argument"], action["tav_argument_range"] = argument, SPAN
    return made


def build_scene():
    empty_scene()
    armor = mesh_object("Armor", material=material("Armor", {block for block, _ in MAPS}, MAPS, two_sided="ON"))
    for uv_map in sorted({m[0] for m in MAPS.values()} - {"", "UVMap"}):
        armor.data.uv_layers.new(name=uv_map).data.foreach_set("uv", np.random.rand(2 * len(armor.data.loops)))
    armor.data.uv_layers["UVMap"].active_render = True
    compat.set_blend_mode(armor.data.materials[0], blended=True)  # the panel's transparent mode wins
    own = armor.data.materials[0].tav_settings
    own.damage.argument, own.decal.shift, own.ao.shift, own.glass.instrumental = 7, (0.25, -0.5), (0.125, 2.0), True
    own.shadow_caster, own.transparent_mode, own.decal_id = "2", "3", 255
    bare = {("damage", "albedo"): ("", 0, 0)}
    mesh_object("Bare", material=material("Bare", ("damage", "decal", "ao", "flir"), bare, False, "OFF"))
    for name, shared, argument, action_argument in GLOWING:
        found = bpy.data.materials.get(shared) or glowing(shared, action_argument)
        mesh_object(name, material=found)["tav_argument"] = argument
    faded = glowing("Faded", None)      # its keys play only from an NLA strip: reported
    pushed_to_strip(faded.node_tree, "FadedGlow")
    mesh_object("Faded", material=faded)


build_scene()
DATA, REPORTS = export_and_read("blocks.tav")
RECORDS = {r["name"]: r for r in renders(DATA)}
MATERIALS = {name: DATA["materials"][r["material"]] for name, r in RECORDS.items()}


def test_every_map_reaches_its_slot_on_its_own_uv_map_and_every_setting_its_field():
    armor, mesh = MATERIALS["Armor"], bpy.data.objects["Armor"].data
    files = {t["slot"]: t["file"] for t in armor["textures"]}
    expected = {slot: f"Armor_{block}_{name}.png" for (block, name), (_, slot, _) in MAPS.items() if slot != 14}
    assert files == {0: "Armor_base.png", **expected}  # no glass: no render node of the module takes it
    assert all(os.path.isfile(os.path.join(OUT, name)) for name in files.values())
    assert (armor["shadows"], armor["blending"], armor["decal"], RECORDS["Armor"]["parents"][0]["damage_argument"],
            *(u["value"] for u in armor["uniforms"] if u["name"] in ("decalShift", "ambientOcclusionShift"))) == (
        5, 3, 255, 7, [0.125, 2.0], [0.25, -0.5])
    # The panel's Two-Sided over Backface Culling, either way.
    assert (len(RECORDS["Armor"]["indices"]) // 3, len(RECORDS["Bare"]["indices"]) // 3) == (24, 12)
    # A flat cube's corners differ in position or normal; back faces turn the normal.
    corners = {tuple(np.round([*mesh.vertices[mesh.loops[i].vertex_index].co, *np.array(p.normal) * side], 4) + 0.0):
               {uv.name: (uv.data[i].uv[0], 1.0 - uv.data[i].uv[1]) for uv in mesh.uv_layers}
               for p in mesh.polygons for i in p.loop_indices for side in (1, -1)}
    for uv_map, _, entry in [("UVMap", 0, 0)] + [v for v in MAPS.values() if v[2] is not None]:
        start = sum(armor["vertex_format"][:4 + armor["texture_coordinates_channels"][entry]])
        for row in vertex_rows(RECORDS["Armor"]):
            key = tuple(np.round(np.r_[row[:3], row[4:7]], 4) + 0.0)
            assert np.allclose(row[start:start + 2], corners[key][uv_map], atol=1e-6), (uv_map, row)


def test_what_cannot_be_carried_is_reported_with_the_modules_message():
    lines = set(warnings(REPORTS))
    assert {"material Armor: the glass block is left out: Material Armor doesn't support block BT_Glass.",
            "material Armor damage mask: reads the coordinates of the damage albedo; its own UV map is not carried",
            "material Bare: the damage block is left out: Damage block: Normal map isn't set.",
            "material Bare: the decal block is left out: Decal block: decal texture isn't set.",
            "material Bare: the AO block is left out: AO block: AO texture isn't set.",
            "material Bare: the FLIR block is left out: Flir map isn't set."} <= lines, lines
    # The FLIR map names the render layer: the base map's coordinates, no set of its own.
    assert not [line for line in lines if "FLIR" in line and "Armor" in line or "UV set" in line]
    assert {t["slot"] for t in MATERIALS["Bare"]["textures"]} == {0}
    assert any(line.startswith("material Pulse: animation of nodes[") for line in lines), lines
    assert "material Faded: keys in NLA strips (FadedGlow) are not exported; only the active action plays" in lines


def test_keyed_emission_is_the_emissive_value_at_the_mapped_arguments():
    for name, shared, argument, action_argument in GLOWING:
        assert MATERIALS[name]["material_name"] == "additive_self_illum_color_material"
        keyed = {u["name"]: u for u in MATERIALS[name]["animated_uniforms"]}
        amount, color = keyed["selfIlluminationValue"], keyed["selfIlluminationColor"]
        assert amount["argument"] == color["argument"] == (action_argument or argument), name
        shader = bpy.data.materials[shared].node_tree.nodes["Principled BSDF"]
        low, high = SPAN if action_argument else (0.0, 1.0)
        for frame, t in frames((1, 3, 6, 10, 11, 17, 21)):
            at = low + (high - low) * t
            value = [np.interp(at, *np.array(keys["keys"])[:, [0, k]].T) for keys, k in
                     ((amount, 1), (color, 1), (color, 2), (color, 3))]
            blender = [shader.inputs["Emission Strength"].default_value,
                       *compat.principled_input(shader, "Emission Color").default_value[:3]]
            assert np.allclose(value, blender, atol=2e-3), (name, frame, value, blender)


run(globals())
