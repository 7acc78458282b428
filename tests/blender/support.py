"""Shared helpers of the Blender tests: scene building, export, decoding.

Each test script runs in its own Blender (``make test-blender``); it puts
this folder on sys.path, builds scenes with these helpers and calls
``run(globals())``, which runs its ``test_*`` functions and exits non-zero
when one fails.
"""

import os
import struct
import tempfile
import traceback

import bpy
import numpy as np
from mathutils import Quaternion

import io_scene_tav
from io_scene_tav import tavtools

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = tempfile.mkdtemp(prefix="tav_blender_")
NONE = 0xFFFFFFFF


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


def export(name, version=10, **options):
    """Exports the scene; returns (result set, reports, path)."""
    path = os.path.join(OUT, name)
    result = bpy.ops.export_scene.tav(filepath=path, format_version=str(version), **options)
    return result, list(io_scene_tav.last_reports), path


def export_and_read(name, version=10, **options):
    """Exports the scene, checks that it finished; returns (decoded file, reports)."""
    result, reports, path = export(name, version, **options)
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


def node_matrix(record, t=0.0):
    """A node record's local matrix (row-vector form) at argument value t:
    scale, rotation, then position keys, then its matrix (the base matrix of
    an animation node)."""
    matrix = np.array(record["matrix"]) if "matrix" in record else np.eye(4)
    if "position" not in record:
        return matrix
    position = np.array(record["base_position"], dtype=np.float64)
    for entry in record["position"]:
        position = position + key_value(entry["keys"], t)
    rotation = np.eye(3)
    for entry in record["rotation"]:
        x, y, z, w = key_value(entry["keys"], t)
        rotation = np.array(Quaternion((w, x, y, z)).normalized().to_matrix()).T @ rotation
    scale = np.array(record["base_scale"], dtype=np.float64)
    for entry in record["scale"]:
        scale = scale * key_value(entry["scale_keys"], t)
    local = np.eye(4)
    local[:3, :3] = np.diag(scale) @ rotation
    local[3, :3] = position
    return local @ matrix


def world(nodes, index, t=0.0):
    """World matrix (row-vector form, 4x4 array) of node ``index`` at
    argument value t, in a node list whose records hold "parent"."""
    by_index = {n["index"]: n for n in nodes}
    matrix = np.eye(4)
    while index is not None:
        record = by_index[index]
        matrix = matrix @ node_matrix(record, t)
        index = record["parent"]
    return matrix


def placed(data, record, t=0.0):
    """The world positions (V x 3) of a render record's vertices at
    argument value t; skinned vertices blended over their bones."""
    rows = vertex_rows(record)
    points = np.c_[rows[:, :3], np.ones(len(rows))]
    if "bones" not in record:
        return (points @ world(data["nodes"], record["parents"][0]["node"], t))[:, :3]
    nodes = {n["index"]: n for n in data["nodes"]}
    palette = [np.array(nodes[b].get("bone_matrix", np.eye(4))) @ world(data["nodes"], b, t) for b in record["bones"]]
    out = np.zeros((len(rows), 3))
    for k, row in enumerate(rows):
        for index, weight in zip(packed_indices(row[3]), row[-4:]):
            out[k] += weight * (points[k] @ palette[index])[:3]
    return out


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
    records = renders(data)
    return sum(r["vertex_count"] for r in records), sum(len(r["indices"]) // 3 for r in records)


def vertex_rows(record):
    size = record["floats_per_vertex"]
    return np.array(record["vertices"], dtype=np.float64).reshape(-1, size)


def packed_indices(value):
    """The four bone indices packed into a position's fourth component."""
    return tuple(struct.pack("<f", value))


def key_value(keys, t):
    """Linear interpolation of file keys [[t, v...], ...] at t (clamped)."""
    keys = np.array(keys)
    return np.array([np.interp(t, keys[:, 0], keys[:, c]) for c in range(1, keys.shape[1])])


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
