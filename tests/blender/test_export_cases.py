"""Failures (cancelled with one readable error, no file), losses (reported
naming the object, the rest written) and the operator's options."""

import os

import bpy
import numpy as np

import io_scene_tav
from io_scene_tav.scene_export import SceneExporter
from support import OUT, empty, empty_scene, export_and_read, mesh_object, placed, renders, run, totals


def missing_folder():
    mesh_object("Box")
    return os.path.join(OUT, "no_such_folder", "box.tav"), ("no_such_folder", "does not exist")


def negative_argument():
    box = mesh_object("Box")
    box["tav_argument"] = -1
    box.keyframe_insert("location", frame=1)
    return os.path.join(OUT, "argument.tav"), ("Box:", "tav_argument")


def nonfinite_vertex():
    mesh_object("Broken").data.vertices[0].co = (float("nan"), 0, 0)
    return os.path.join(OUT, "broken.tav"), ("Broken", "not finite")


def test_failed_export_is_cancelled_with_a_readable_error_and_no_file():
    for case in (missing_folder, negative_argument, nonfinite_vertex):
        empty_scene()
        path, words = case()
        reports = []
        result = SceneExporter(bpy.context, lambda *report, into=reports: into.append(report)).export(path, 10)
        assert result == {"CANCELLED"}, case.__name__
        (error,) = [text for level, text in reports if level == "ERROR"]
        assert all(w in error for w in words) and "Traceback" not in error, (case.__name__, error)
        assert not os.path.exists(path)
        # Through the operator: Blender turns the error report into the exception text.
        try:
            bpy.ops.export_scene.tav(filepath=path)
        except RuntimeError as raised:
            assert error in str(raised)
        else:
            raise AssertionError(f"{case.__name__}: the operator did not fail")
        assert io_scene_tav.last_reports[-1] == ("ERROR", error)


def collection_instance():
    parts = bpy.data.collections.new("parts")
    parts.objects.link(bpy.data.objects.new("Part", bpy.data.meshes.new("part")))
    empty("Rack").instance_type = "COLLECTION"
    bpy.data.objects["Rack"].instance_collection = parts
    return "Rack:", "collection instances", \
        lambda data, reports: renders(data) == [] and not any("instances it makes" in t for _, t in reports)


def instancing_and_particles():
    spreader = mesh_object("Spreader")
    spreader.instance_type = "VERTS"
    mesh_object("Pebble", parent=spreader)
    mesh_object("Lawn").modifiers.new("grass", "PARTICLE_SYSTEM")
    bpy.context.view_layer.update()
    # The instancer's own mesh and the instanced child are written once each.
    particles = ("WARNING", "Lawn: particle systems are not exported")
    return "Spreader:", "the instances it makes are not exported", \
        lambda data, reports: totals(data)[1] == 36 and particles in reports


def see_through():
    glass = bpy.data.materials.new("Glass")
    glass.use_nodes = True
    glass.node_tree.nodes["Principled BSDF"].inputs["Alpha"].default_value = 0.5
    words = "Alpha under render method Dithered"       # 4.2 on: the default render method
    if not hasattr(glass, "surface_render_method"):
        glass.blend_method, words = "HASHED", "blend mode HASHED"
    mesh_object("Pane", material=glass)
    return "material Glass:", words, lambda data, reports: len(renders(data)) == 1


def zero_scale_parent():
    flat = empty("Flat")
    flat.scale = (1, 0, 1)
    mesh_object("Inside", parent=flat)
    return None, None, lambda data, reports: [r["name"] for r in renders(data)] == ["Inside"]


def driven():
    mesh_object("Driven").driver_add("location", 0).driver.expression = "frame / 10"
    return "Driven:", "drivers are not exported", lambda data, reports: [r["name"] for r in renders(data)] == ["Driven"]


def shifted_and_keyed():
    box = mesh_object("Shifted")
    box.delta_location = (0, 0, 2)
    box.keyframe_insert("location", frame=1)
    return "Shifted:", "delta transforms of an animated object", lambda data, reports: len(renders(data)) == 1


def constrained():
    leader = empty("Leader")
    leader.location = (1, 2, 3)
    mesh_object("Follower").constraints.new("COPY_LOCATION").target = leader
    muted = mesh_object("Muted").constraints.new("COPY_LOCATION")
    muted.target, muted.mute = leader, True
    bpy.context.view_layer.update()
    # Both written (into one render node: same material, same parent); the muted constraint is not reported.
    return "Follower:", "constraints are not exported", \
        lambda data, reports: totals(data)[1] == 24 and not any("Muted" in text for _, text in reports)


def test_what_cannot_be_written_as_it_is_is_reported_and_the_rest_written():
    for case in (collection_instance, instancing_and_particles, see_through, zero_scale_parent, driven,
                 shifted_and_keyed, constrained):
        empty_scene()
        name, words, check = case()
        data, reports = export_and_read(case.__name__ + ".tav")
        assert name is None or any(level == "WARNING" and text.startswith(name) and words in text
                                   for level, text in reports), (case.__name__, reports)
        assert check(data, reports), case.__name__


def one_sided(name):
    material = bpy.data.materials.new(name)
    material.use_backface_culling = True
    return material


# options -> triangles per render node: the subdivided cube has 24 quads,
# half in each slot; the plain cubes 12 triangles.
OPTIONS = [
    ({}, {"Plate_red": 24, "Plate_blue": 24, "Other": 12, "PopIn": 12, "Hidden": 12}),
    ({"apply_modifiers": False}, {"Plate_red": 6, "Plate_blue": 6, "Other": 12, "PopIn": 12, "Hidden": 12}),
    ({"use_selection": True}, {"Plate_red": 24, "Plate_blue": 24}),
    # A pop-in hidden at the current frame renders later: it is renderable.
    ({"use_renderable": True}, {"Plate_red": 24, "Plate_blue": 24, "Other": 12, "PopIn": 12}),
]


def test_options_choose_objects_and_modifiers_and_slots_split_render_nodes():
    empty_scene()
    plate = mesh_object("Plate", material=one_sided("red"))
    plate.data.materials.append(one_sided("blue"))
    for polygon in plate.data.polygons:
        polygon.material_index = 0 if polygon.index < 3 else 1
    plate.modifiers.new("Subdivision", "SUBSURF").levels = 1
    other = mesh_object("Other", location=(5, 0, 0), material=one_sided("red"))
    mesh_object("Hidden", location=(0, 5, 0), material=one_sided("Hidden")).hide_render = True
    pop_in = mesh_object("PopIn", location=(5, 5, 0), material=one_sided("PopIn"))
    for frame, hidden in ((1, True), (11, False)):
        pop_in.hide_render = hidden
        pop_in.keyframe_insert("hide_render", frame=frame)
    bpy.context.scene.frame_set(1)
    bpy.context.view_layer.update()
    plate.select_set(True)
    other.select_set(False)
    for k, (options, expected) in enumerate(OPTIONS):
        data, _ = export_and_read(f"options{k}.tav", **options)
        got = {r["name"]: len(r["indices"]) // 3 for r in renders(data)}
        materials = {r["name"]: data["materials"][r["material"]]["name"] for r in renders(data)}
        assert got == expected, (options, got)
        assert all(materials[name] == name.rpartition("_")[2] or name == "Other" for name in got), materials



def test_each_triangle_goes_to_the_node_of_its_faces_slot():
    # Triangles, a quad and a hexagon in two slots: each face gives as many
    # triangles as it has corners less two, and each triangle must land in
    # the render node of its own face's material.
    empty_scene()
    points = [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, -0.3), (3, 1.3), (4, 0), (4, 1), (5, 0)]
    faces = [((0, 2, 1), 1), ((2, 3, 1), 0), ((2, 4, 5, 3), 1), ((4, 6, 8, 9, 7, 5), 0), ((8, 10, 9), 1)]
    mesh = bpy.data.meshes.new("fan")
    mesh.from_pydata([(x, y, 0.0) for x, y in points], [], [f for f, _ in faces])
    for polygon, (_, slot) in zip(mesh.polygons, faces):
        polygon.material_index = slot
    # Indices outside the slots, as geometry nodes can write them, are drawn with the nearest slot.
    mesh.attributes["material_index"].data[2].value = -1
    mesh.attributes["material_index"].data[4].value = 7
    mesh.calc_loop_triangles()
    strip = mesh_object("Strip", mesh=mesh, material=one_sided("red"))
    strip.data.materials.append(one_sided("blue"))
    data, _ = export_and_read("slots.tav")

    def triangle(corners):
        return frozenset(tuple(np.round(np.asarray(c, np.float64), 4) + 0.0) for c in corners)

    given = {"red": set(), "blue": set()}
    for t in mesh.loop_triangles:
        slot = ("red", "blue")[min(max(mesh.polygons[t.polygon_index].material_index, 0), 1)]
        given[slot].add(triangle([mesh.vertices[v].co for v in t.vertices]))
    found = {}
    for record in renders(data):
        corners = placed(data, record)
        found[data["materials"][record["material"]]["name"]] = {
            triangle(corners[record["indices"][i:i + 3]]) for i in range(0, len(record["indices"]), 3)}
    assert found == given, (found, given)



run(globals())
