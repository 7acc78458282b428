"""Scene building, export and decoded-file helpers of the Blender tests;
``run(globals())`` runs a script's ``test_*`` functions in its Blender."""

import math
import os
import struct
import tempfile
import traceback

import bpy
import numpy as np

import io_scene_tav
from io_scene_tav import tavtools
from io_scene_tav.tavtools.preview import evaluate_tree

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = tempfile.mkdtemp(prefix="tav_blender_")
# Candela per watt of light power, the conversion Blender's glTF exporter uses.
CANDELA = 683 / (4 * math.pi)


def empty_scene(frames=(1, 21)):
    """Removes every object and data block the tests make (reloading the
    factory settings would disable the add-on)."""
    for collection in (bpy.data.objects, bpy.data.meshes, bpy.data.materials, bpy.data.lights,
                       bpy.data.cameras, bpy.data.armatures, bpy.data.images, bpy.data.actions,
                       bpy.data.collections):
        for item in list(collection):
            collection.remove(item)
    scene = bpy.context.scene
    scene.frame_start, scene.frame_end = frames
    return scene


def export_and_read(name, version=10, **options):
    """Exports the scene, checks that it finished; returns (decoded file, reports)."""
    path = os.path.join(OUT, name)
    result = bpy.ops.export_scene.tav(filepath=path, format_version=str(version), **options)
    reports = list(io_scene_tav.last_reports)
    assert result == {"FINISHED"}, (result, reports)
    return tavtools.read(path), reports


def warnings(reports):
    return [text for level, text in reports if level == "WARNING"]


def mesh_object(name, mesh=None, parent=None, location=(0, 0, 0), material=None):
    """A new mesh object (a copy of a unit cube's mesh unless given)."""
    if mesh is None:
        bpy.ops.mesh.primitive_cube_add()
        cube = bpy.context.object
        mesh = cube.data
        bpy.data.objects.remove(cube)
    obj = bpy.data.objects.new(name, mesh)
    bpy.context.scene.collection.objects.link(obj)
    obj.parent = parent
    obj.location = location
    if material is not None:
        obj.data.materials.append(material)
    return obj


def empty(name, parent=None, **props):
    obj = bpy.data.objects.new(name, None)
    bpy.context.scene.collection.objects.link(obj)
    obj.parent = parent
    for key, value in props.items():
        obj[key] = value
    return obj


def pushed_to_strip(owner, name, start=1):
    """Renames the active action of ``owner`` (an ID) to ``name`` and moves it
    onto an NLA track of its own, as Push Down does: only the strip plays it."""
    data = owner.animation_data
    data.action.name = name
    data.nla_tracks.new().strips.new(name, start, data.action)
    data.action = None
    return bpy.data.actions[name]


STEP = 0.1


def build_armature(name, count, matrix):
    data = bpy.data.armatures.new(name)
    arm = bpy.data.objects.new(name, data)
    bpy.context.scene.collection.objects.link(arm)
    arm.matrix_world = matrix
    bpy.context.view_layer.objects.active = arm
    bpy.ops.object.mode_set(mode="EDIT")
    previous = None
    for i in range(count):
        bone = data.edit_bones.new(f"bone_{i:02d}")
        bone.head, bone.tail = (i * STEP, 0, 0), ((i + 1) * STEP, 0, 0)
        bone.parent, bone.use_connect = previous, previous is not None
        previous = bone
    bpy.ops.object.mode_set(mode="OBJECT")
    return arm


def build_strip(arm, count):
    """A strip of quads along the bones; column i is weighed to bones i and
    i + 1, column 0 to five bones and a group that names no bone."""
    verts = [(i * STEP, y, 0) for i in range(count + 1) for y in (0.0, STEP)]
    faces = [(2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1) for i in range(count)]
    mesh = bpy.data.meshes.new("strip")
    mesh.from_pydata(verts, [], faces)
    obj = bpy.data.objects.new("Strip", mesh)
    bpy.context.scene.collection.objects.link(obj)
    obj.parent = arm
    obj.modifiers.new("Armature", "ARMATURE").object = arm
    groups = {b.name: obj.vertex_groups.new(name=b.name) for b in arm.data.bones}
    stray = obj.vertex_groups.new(name="not_a_bone")
    for i in range(count + 1):
        column = [2 * i, 2 * i + 1]
        if i == 0:
            for k, w in enumerate((0.5, 0.2, 0.15, 0.1, 0.05)):
                groups[f"bone_{k:02d}"].add(column, w, "REPLACE")
            stray.add(column, 0.9, "REPLACE")
        else:
            groups[f"bone_{min(i, count - 1):02d}"].add(column, 0.75, "REPLACE")
            groups[f"bone_{i - 1:02d}"].add(column, 0.25, "REPLACE")
    return obj


# -- decoded files ---------------------------------------------------------------
def node(data, name):
    """The node record named ``name`` of a format 10 file."""
    found = [n for n in data["nodes"] if n["name"] == name]
    assert len(found) == 1, (name, [n["name"] for n in data["nodes"]])
    return found[0]


def world(nodes, index, t=0.0):
    """World matrix (row-vector form) of node ``index`` with every argument
    at t, as the inspector evaluates the tree (both formats list parents
    before children)."""
    return evaluate_tree(nodes, dict.fromkeys(range(16), t))[0][index]


def texcoords(data, record):
    """TEXCOORD0 of a render record's vertices (V x 2)."""
    fmt = data["materials"][record["material"]]["vertex_format"]
    start = sum(fmt[:4])
    return vertex_rows(record)[:, start:start + 2]


def blender_world(obj):
    """The object's world matrix in the file's row-vector form."""
    return np.array(obj.matrix_world).T


def renders(data):
    return data["sections"]["RENDER_NODES"]


def totals(data):
    """(vertices, triangles) of all render nodes of a format 10 file."""
    return sum(r["vertex_count"] for r in renders(data)), sum(len(r["indices"]) // 3 for r in renders(data))


def vertex_rows(record):
    size = record["floats_per_vertex"]
    return np.array(record["vertices"], dtype=np.float64).reshape(-1, size)


def packed_indices(value):
    """The four bone indices packed into a position's fourth component."""
    return tuple(struct.pack("<f", value))


def run(namespace):
    """Runs the namespace's test_* functions; exits with 1 if any fails."""
    failed = []
    for name, test in sorted(namespace.items()):
        if name.startswith("test_") and callable(test):
            try:
                test()
                print(f"PASS {name}")
            except Exception:
                failed.append(name)
                print(f"FAIL {name}")
                traceback.print_exc()
    if failed:
        raise RuntimeError("failed: " + ", ".join(failed))
