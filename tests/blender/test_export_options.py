"""The operator's options and material slots: which objects, which mesh,
which render nodes."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bpy  # noqa: E402

from support import empty, empty_scene, export_and_read, mesh_object, renders, run  # noqa: E402


def one_sided(name):
    material = bpy.data.materials.new(name)
    material.use_backface_culling = True
    return material


def build_scene():
    empty_scene()
    plate = mesh_object("Plate", material=one_sided("red"))
    plate.data.materials.append(one_sided("blue"))
    for polygon in plate.data.polygons:
        polygon.material_index = 0 if polygon.index < 3 else 1
    plate.modifiers.new("Subdivision", "SUBSURF").levels = 1
    other = mesh_object("Other", location=(5, 0, 0), material=one_sided("red"))
    bpy.context.view_layer.update()
    plate.select_set(True)
    other.select_set(False)


# options -> triangles per render node: the subdivided cube has 24 quads,
# half in each slot; the plain cubes 12 triangles.
CASES = [
    ({}, {"Plate_red": 24, "Plate_blue": 24, "Other": 12}),
    ({"apply_modifiers": False}, {"Plate_red": 6, "Plate_blue": 6, "Other": 12}),
    ({"use_selection": True}, {"Plate_red": 24, "Plate_blue": 24}),
]


def test_options_choose_objects_and_modifiers_and_slots_split_render_nodes():
    build_scene()
    for k, (options, expected) in enumerate(CASES):
        data, _ = export_and_read(f"options{k}.tav", **options)
        got = {r["name"]: len(r["indices"]) // 3 for r in renders(data)}
        materials = {r["name"]: data["materials"][r["material"]]["name"] for r in renders(data)}
        assert got == expected, (options, got)
        assert all(materials[name] == name.rpartition("_")[2] or name == "Other" for name in got), materials


def test_parent_of_zero_scale_does_not_stop_the_export():
    empty_scene()
    flat = empty("Flat")
    flat.scale = (1, 0, 1)
    mesh_object("Inside", parent=flat)
    data, _ = export_and_read("zero_scale.tav")
    assert [r["name"] for r in renders(data)] == ["Inside"]


run(globals())
