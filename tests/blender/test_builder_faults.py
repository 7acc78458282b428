"""Everyday scenes an artist makes, exported and held to what Blender shows:
mirrored parts, pop-ins, rigs with control bones, losses the file cannot
hold, textures held in the .blend and the include options."""

import os
import struct
import zlib

import bmesh
import bpy
import numpy as np
from mathutils import Matrix
from support import (OUT, build_armature, build_strip, corners, empty, empty_scene, export_and_read, mesh_object,
                     placed, renders, rounded, run, texcoords, textured, vertex_rows, warnings)


def world_triangles(data, t=0.0):
    """The triangles of every unskinned render node in world space (the
    winding of mirrored parts is the builder's, tested with its own scenes)."""
    return np.concatenate([placed(data, r, t)[np.reshape(r["indices"], (-1, 3))] for r in renders(data)])


def test_mirrored_cube_winds_inside_out():
    # Mirrored by its parent's negative scale; the cube is convex, so every
    # triangle of a sound file faces away from its centre.
    empty_scene()
    mesh_object("Mirrored").parent = empty("Mirror")
    bpy.data.objects["Mirror"].scale = (-1, 1, 1)
    tris = world_triangles(export_and_read("mirrored.tav")[0])
    facing = np.cross(tris[:, 1] - tris[:, 0], tris[:, 2] - tris[:, 0])
    assert int(np.sum(np.einsum("ij,ij->i", facing, tris.mean(axis=1) - tris.mean(axis=(0, 1))) > 0)) == 12


def test_pop_in_has_full_size_at_the_last_frame_when_exported_at_the_first():
    empty_scene((1, 250))
    cube = mesh_object("Pop", location=(2, 0, 0))
    for frame, size in ((1, 0.0), (250, 1.0)):
        cube.scale = (size,) * 3
        cube.keyframe_insert("scale", frame=frame)
    bpy.context.scene.frame_set(1)
    tris = world_triangles(export_and_read("pop.tav")[0], 1.0)
    shift = cube.matrix_basis.to_translation()
    assert rounded(tris.reshape(-1, 3)) == rounded([shift + v.co for v in cube.data.vertices])


def test_rig_counts_deform_bones_and_children_hang_from_their_bone():
    empty_scene()
    arm = build_armature("Rig", 300, Matrix.Translation((0, 0, 1)))
    strip = build_strip(arm, 10)
    for bone in arm.data.bones[10:]:
        bone.use_deform = False
    strip.vertex_groups["bone_20"].add([0, 1], 1.0, "REPLACE")     # a control bone's group: no influence
    held = mesh_object("Held", parent=arm)
    held.parent_type, held.parent_bone = "BONE", "bone_05"
    bpy.context.view_layer.update()
    data, reports = export_and_read("rig.tav")
    (skin,) = [r for r in renders(data) if r["name"] == "Strip"]
    assert skin["class"] == "model::SkinNode" and len(skin["bones"]) == 11, warnings(reports)
    assert "bone_20" not in [data["nodes"][b]["name"] for b in skin["bones"]]
    (box,) = [r for r in renders(data) if r["name"] == "Held"]
    ancestors, index = [], box["parents"][0]["node"]
    while index is not None:
        ancestors.append(data["nodes"][index]["name"])
        index = data["nodes"][index]["parent"]
    assert "bone_05" in ancestors, ancestors
    assert rounded(placed(data, box)) == corners(held)


def test_losses_are_warnings_naming_object_and_feature():
    empty_scene()
    shaded = textured("shaded", bpy.data.images.new("paint", 4, 4), mapping=True)
    principled = shaded.node_tree.nodes["Principled BSDF"]
    principled.inputs["Metallic"].default_value = 0.5
    principled.inputs["Roughness"].default_value = 1.0
    mesh_object("Box", material=shaded)
    mesh_object("Tiled", material=textured("tiled", bpy.data.images.new("tiles", 4, 4, tiled=True)))
    _, reports = export_and_read("losses.tav")
    texts = warnings(reports)
    for line in ("material shaded: the metallic factor 0.5 is not carried",
                 "material shaded Base Color: the texture transform is not carried; coordinates written untransformed",
                 "image tiles: UDIM tiles cannot be one texture file; the texture is left out"):
        assert line in texts, (line, texts)


def png_pixels(data):
    """(colour type, pixels as (height, width, channels) uint8) of a PNG whose
    rows are all unfiltered, as the exporter writes them."""
    chunks, at = {}, 8
    while at < len(data):
        size, tag = struct.unpack(">I4s", data[at:at + 8])
        chunks[tag] = chunks.get(tag, b"") + data[at + 8:at + 8 + size]
        at += 12 + size
    width, height, _, kind = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    rows = np.frombuffer(zlib.decompress(chunks[b"IDAT"]), np.uint8).reshape(height, -1)
    assert not rows[:, 0].any()
    return kind, rows[:, 1:].reshape(height, width, -1)


def test_generated_and_packed_images_are_written_beside_the_model():
    # That a file of another's is never replaced is the builder's, tested with its own scenes.
    empty_scene()
    folder = os.path.join(OUT, "images")
    os.makedirs(folder)
    # A generated image with see-through pixels, and a packed one whose file is gone.
    glass = bpy.data.images.new("glass", 2, 1, alpha=True)
    glass.pixels.foreach_set(np.array([1, 0, 0, 0.5, 0, 0, 1, 0], np.float32))
    packed = bpy.data.images.new("decal", 2, 2)
    packed.filepath_raw, packed.file_format = os.path.join(OUT, "decal.png"), "PNG"
    packed.save()
    with open(packed.filepath_raw, "rb") as handle:
        decal = handle.read()
    packed.pack()
    os.remove(packed.filepath_raw)
    for name, image in (("Box", bpy.data.images.new("paint", 4, 4)), ("Glass", glass), ("Decal", packed)):
        mesh_object(name, material=textured(name, image))
    path = os.path.join(folder, "box.tav")
    assert bpy.ops.export_scene.tav(filepath=path) == {"FINISHED"}
    assert sorted(os.listdir(folder)) == ["box.tav", "decal.png", "glass.png", "paint.png"]
    written = {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}
    assert written["decal.png"] == decal
    assert png_pixels(written["paint.png"])[0] == 2  # opaque: RGB
    kind, pixels = png_pixels(written["glass.png"])
    assert kind == 6 and pixels.tolist() == [[[255, 0, 0, 128], [0, 0, 255, 0]]], pixels.tolist()


def test_render_uv_layer_is_the_one_written():
    empty_scene()
    box = mesh_object("Box", material=textured("m", bpy.data.images.new("a", 4, 4)))
    first, second = box.data.uv_layers[0], box.data.uv_layers.new(name="render")
    for k, loop in enumerate(second.data):
        loop.uv = (0.01 * k, 0.5)
    box.data.uv_layers.active = first
    second.active_render = True
    data, _ = export_and_read("uv.tav")
    (record,) = renders(data)
    got = {tuple(np.round(uv, 4)) for uv in texcoords(data, record)}
    assert got == {(round(0.01 * k, 4), 0.5) for k in range(len(second.data))}


def test_include_filters_leave_out_hidden_and_render_disabled_objects():
    empty_scene()
    mesh_object("Shown")
    cutter = mesh_object("Cutter", location=(3, 0, 0))
    cutter.hide_render = True
    hidden = mesh_object("Hidden", location=(6, 0, 0))
    hidden.hide_set(True)
    # The save may merge the cubes' render nodes: each is told by where it is (x = 0, 3, 6).
    for options, places in (({}, {0, 1, 2}), ({"use_renderable": True}, {0, 2}), ({"use_visible": True}, {0, 1})):
        data, _ = export_and_read("filters.tav", **options)
        tris = world_triangles(data)
        assert set(np.rint(tris[:, :, 0].mean(axis=1) / 3).astype(int).tolist()) == places, options


def test_edit_mode_mesh_is_written_as_edited_without_modifiers():
    empty_scene()
    box = mesh_object("Edited")
    bpy.context.view_layer.objects.active = box
    bpy.ops.object.mode_set(mode="EDIT")
    edited = bmesh.from_edit_mesh(box.data)
    for vertex in edited.verts:
        vertex.co.z += 10.0
    bmesh.update_edit_mesh(box.data)
    data, _ = export_and_read("edited.tav", apply_modifiers=False)
    bpy.ops.object.mode_set(mode="OBJECT")
    assert vertex_rows(renders(data)[0])[:, 2].min() > 8.0


run(globals())
