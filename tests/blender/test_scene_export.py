"""A scene of every exported kind, exported in both formats, read back and
held to the scene that was built."""

import math

import bpy
import numpy as np
from io_scene_tav import compat
from mathutils import Euler, Matrix

from support import (CANDELA, blender_world, corners, empty, empty_scene, export_and_read, frames, image, light,
                     mesh_object, node, placed, renders, rounded, run, textured, totals, warnings, world)


def image_node(tree, name):
    texture = tree.nodes.new("ShaderNodeTexImage")
    texture.image = image(name)
    return texture


def textured_material():
    material = textured("hull", image("hull_albedo"))
    material.use_backface_culling = True
    tree = material.node_tree
    shader = tree.nodes["Principled BSDF"]
    link = tree.links.new
    normal = tree.nodes.new("ShaderNodeNormalMap")
    link(image_node(tree, "hull_normal").outputs["Color"], normal.inputs["Color"])
    link(normal.outputs["Normal"], shader.inputs["Normal"])
    separate = tree.nodes.new("ShaderNodeSeparateColor")
    link(image_node(tree, "hull_orm").outputs["Color"], separate.inputs["Color"])
    link(separate.outputs["Green"], shader.inputs["Roughness"])
    link(separate.outputs["Blue"], shader.inputs["Metallic"])
    link(image_node(tree, "hull_glow").outputs["Color"], compat.principled_input(shader, "Emission Color"))
    return material


def glass_material():
    material = bpy.data.materials.new("glass")
    material.use_nodes = True
    compat.set_blend_mode(material, blended=True)
    material.use_backface_culling = False
    shader = material.node_tree.nodes["Principled BSDF"]
    shader.inputs["Base Color"].default_value = (0.2, 0.4, 0.6, 1.0)
    compat.principled_input(shader, "Emission Color").default_value = (1.0, 0.5, 0.0, 1.0)
    shader.inputs["Emission Strength"].default_value = 2.0
    return material


def build_scene():
    empty_scene()
    base = empty("Base")
    base.matrix_world = Matrix.LocRotScale((1, 2, 3), Euler((0, 0, math.radians(30))), (2, 2, 2))
    bpy.context.view_layer.update()
    body = mesh_object("Body", location=(0, 0, 1), material=textured_material(), parent=base)
    body.matrix_parent_inverse = Matrix.Translation((0.5, 0, 0))
    empty("Mount", parent=body, tav="connector", speed=3.5, label="front", sizes=[1, 2])
    mesh_object("Canopy", location=(4, 0, 0), material=glass_material())
    turret = mesh_object("Turret", location=(0, 0, 0), parent=base)
    turret.matrix_parent_inverse = Matrix.Translation((0, 1, 0))
    turret["tav_argument"] = 3
    for frame, z, angle, hidden in ((1, 0.0, 0.0, False), (11, 1.0, 45.0, True), (21, 4.0, 90.0, True)):
        turret.location.z, turret.rotation_euler.z, turret.hide_render = z, math.radians(angle), hidden
        for path in ("location", "rotation_euler", "hide_render"):
            turret.keyframe_insert(path, frame=frame)
    light("Beacon", "POINT", (0, 0, 5), energy=100.0, color=(1.0, 0.2, 0.1), use_custom_distance=True,
          cutoff_distance=12.0)
    light("Search", "SPOT", (0, 3, 5), energy=1000.0, spot_size=math.radians(60), spot_blend=0.25,
          use_custom_distance=False)
    light("Sun", "SUN", (0, 0, 9))
    mesh_object("Hull_shell", location=(0, -3, 0))["tav"] = "shell"
    rails = bpy.data.meshes.new("rails")
    rails.from_pydata([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 1)], [(0, 1), (1, 2), (2, 3)], [])
    mesh_object("Rails", mesh=rails)["tav"] = "segments"
    tree = empty("Tree", tav="lod", tav_lod_distances=[10.0, 50.0])
    mesh_object("Tree_high", parent=tree)
    mesh_object("Tree_low", parent=tree)
    bpy.context.scene.collection.objects.link(bpy.data.objects.new("Cam", bpy.data.cameras.new("Cam")))
    bpy.context.view_layer.update()


build_scene()
DATA, REPORTS = export_and_read("scene.tav", 10)
DATA20, REPORTS20 = export_and_read("scene20.tav", 20)
OBJ = bpy.data.objects


def test_hierarchy_places_connector_and_geometry_where_blender_has_them():
    (mount,) = DATA["sections"]["CONNECTORS"]
    assert {p["name"]: p["value"] for p in mount["properties"]} == {"label": "front", "speed": 3.5}
    assert np.allclose(world(DATA["nodes"], mount["parent"]), blender_world(OBJ["Mount"]), atol=1e-5)
    (connector,) = DATA20["connectors"]
    assert np.allclose(world(DATA20["transform_tree"], connector["transform_node"]), blender_world(OBJ["Mount"]),
                       atol=1e-5)
    # Body's corners in the file, through whatever the save folded, are its world corners.
    (record,) = [r for r in renders(DATA) if r["name"] == "Body"]
    assert rounded(placed(DATA, record)) == corners(OBJ["Body"])


def test_totals_count_a_vertex_per_corner_normal_and_uv_and_double_two_sided_faces():
    # Five cubes of 24 vertices (4 per face: flat normals) and 12 triangles;
    # the two-sided Canopy has its back faces added.
    assert totals(DATA) == (5 * 24 + 24, 5 * 12 + 12)
    shells = DATA["sections"]["SHELL_NODES"]
    (shell,) = [s for s in shells if s["name"] == "Hull_shell"]
    assert (shell["vertex_count"], len(shell["indices"]) // 3) == (8, 12)
    (segments,) = [s for s in shells if s["name"] == "Rails"]
    assert [s["start"] + s["end"] for s in segments["segments"]] == [
        [0, 0, 0, 1, 0, 0], [1, 0, 0, 1, 1, 0], [1, 1, 0, 0, 1, 1]]


def test_materials_carry_their_images_colours_and_modes():
    materials = {m["name"]: m for m in DATA["materials"]}
    hull = materials["hull"]
    assert {t["slot"]: t["file"] for t in hull["textures"]} == {
        0: "hull_albedo.png", 1: "hull_normal.png", 13: "hull_orm.png", 8: "hull_glow.png"}
    assert hull["blending"] == 0
    glass = materials["glass"]
    assert (glass["blending"], glass["material_name"], glass["textures"]) == (1, "transparent_self_illum_material", [])
    uniforms = {u["name"]: u["value"] for u in glass["uniforms"]}
    assert np.allclose(np.hstack([uniforms[k] for k in ("color", "selfIlluminationColor", "selfIlluminationValue")]),
                       (0.2, 0.4, 0.6, 1, 0.5, 0, 2))
    assert materials["default_material"]["material_name"] == "color_material"


def test_keys_place_the_animated_object_where_blender_has_it_at_every_frame():
    turret = node(DATA, "Turret")
    assert [e["argument"] for e in turret["position"] + turret["rotation"]] == [3, 3]
    for frame, t in frames():
        assert np.allclose(world(DATA["nodes"], turret["index"], t), blender_world(OBJ["Turret"]), atol=2e-3), frame
    visibility = node(DATA, "Turret_visibility")
    assert turret["parent"] == visibility["index"]
    (entry,) = visibility["arguments"]
    assert entry["argument"] == 3 and np.allclose(entry["ranges"], [(0.0, 0.5)])


def test_lights_take_colour_power_distance_and_cone():
    lights = {light["name"]: light for light in DATA["sections"]["LIGHT_NODES"]}
    assert {name: light["kind"] for name, light in lights.items()} == {"Beacon": 0, "Search": 1}
    values = {name: [p["value"] for p in light["light_properties"]] for name, light in lights.items()}
    color, brightness, _, _, distance, _, _ = values["Beacon"]
    assert np.allclose(color, (1, 0.2, 0.1)) and math.isclose(brightness, 100 * CANDELA, rel_tol=1e-6)
    assert distance == 12.0
    _, brightness, phi, theta, distance, _, _ = values["Search"]
    assert math.isclose(phi, 30, rel_tol=1e-5) and math.isclose(theta, 22.5, rel_tol=1e-5)
    assert math.isclose(distance, math.sqrt(256 * brightness), rel_tol=1e-5)


def test_lod_children_are_its_levels_in_name_order():
    lod = node(DATA, "Tree_lod")
    assert np.allclose(lod["ranges"], [(0, 100), (100, 2500)])
    assert [n["name"] for n in DATA["nodes"] if n["parent"] == lod["index"]] == ["Tree_high", "Tree_low"]


def test_what_is_not_exported_is_reported_naming_the_object():
    texts = warnings(REPORTS)
    for name, what in (("Cam", "camera"), ("Sun", "sun light"), ("Mount", "sizes")):
        assert any(t.startswith(name + ":") and what in t for t in texts), (name, texts)
    assert any("format 2.0" in t for t in warnings(REPORTS20))
    # Format 2.0 cannot hold a LOD node (its save would fail): the levels
    # stay plain children there; the animated node and the connector's
    # chain are kept.
    assert {"Turret", "Body"} <= {n["name"] for n in DATA20["transform_tree"]}
    assert any(t.startswith("Tree:") and "LOD" in t for t in warnings(REPORTS20))


run(globals())
