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
    kinds = "objects meshes materials lights cameras armatures images actions collections"
    for collection in (getattr(bpy.data, kind) for kind in kinds.split()):
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
        mesh = bpy.context.object.data
        bpy.data.objects.remove(bpy.context.object)
    obj = bpy.data.objects.new(name, mesh)
    bpy.context.scene.collection.objects.link(obj)
    obj.parent = parent
    obj.location = location
    if material is not None:
        obj.data.materials.append(material)
    return obj


def textured(name, image, mapping=False):
    """A material whose Base Color is ``image`` through an Image Texture node
    (with ``mapping``, its coordinates pass through a Mapping node)."""
    material = bpy.data.materials.new(name)
    material.use_nodes = True
    tree = material.node_tree
    texture = tree.nodes.new("ShaderNodeTexImage")
    texture.image = image
    tree.links.new(texture.outputs["Color"], tree.nodes["Principled BSDF"].inputs["Base Color"])
    if mapping:
        tree.links.new(tree.nodes.new("ShaderNodeMapping").outputs["Vector"], texture.inputs["Vector"])
    return material


def image(name):
    """A new 4 x 4 image whose file would be textures/NAME.png beside the .blend."""
    made = bpy.data.images.new(name, 4, 4)
    made.filepath_raw = f"//textures/{name}.png"
    return made


def light(name, kind, location=(0, 0, 0), **settings):
    data = bpy.data.lights.new(name, kind)
    for key, value in settings.items():
        setattr(data, key, value)
    obj = bpy.data.objects.new(name, data)
    bpy.context.scene.collection.objects.link(obj)
    obj.location = location
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


def frames(chosen=None):
    """Sets Blender to each chosen frame (else every frame of the scene's
    range) and yields it with t, its place in that range mapped onto [0, 1]."""
    scene = bpy.context.scene
    for frame in chosen or range(scene.frame_start, scene.frame_end + 1):
        scene.frame_set(frame)
        yield frame, (frame - scene.frame_start) / (scene.frame_end - scene.frame_start)


STEP = 0.1


def armature(name, matrix, bones):
    """An armature object placed by ``matrix``; ``bones`` maps each bone's
    name to (head, tail, parent's name or None, connected), parents first."""
    data = bpy.data.armatures.new(name)
    arm = bpy.data.objects.new(name, data)
    bpy.context.scene.collection.objects.link(arm)
    arm.matrix_world = matrix
    bpy.context.view_layer.objects.active = arm
    bpy.ops.object.mode_set(mode="EDIT")
    for bone_name, (head, tail, parent, connected) in bones.items():
        bone = data.edit_bones.new(bone_name)
        bone.head, bone.tail, bone.parent = head, tail, data.edit_bones.get(parent or "")
        bone.use_connect = connected
    bpy.ops.object.mode_set(mode="OBJECT")
    return arm


def build_armature(name, count, matrix):
    """A chain of ``count`` connected bones bone_00, bone_01, ... along x."""
    return armature(name, matrix, {f"bone_{i:02d}": ((i * STEP, 0, 0), ((i + 1) * STEP, 0, 0),
                                                     f"bone_{i - 1:02d}" if i else None, i > 0) for i in range(count)})


def build_strip(arm, count):
    """A strip of quads along the bones; column i is weighed to bones i and
    i + 1, column 0 to five bones and a group that names no bone."""
    verts = [(i * STEP, y, 0) for i in range(count + 1) for y in (0.0, STEP)]
    faces = [(2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1) for i in range(count)]
    mesh = bpy.data.meshes.new("strip")
    mesh.from_pydata(verts, [], faces)
    obj = mesh_object("Strip", mesh=mesh, parent=arm)
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


def placed(data, record, t=0.0):
    """A render record's vertex positions in world space at argument value t."""
    w = world(data["nodes"], record["parents"][0]["node"], t)
    return vertex_rows(record)[:, :3] @ w[:3, :3] + w[3, :3]


def rounded(points):
    """Points as a set of tuples rounded to 1e-4, comparable whatever their
    order (as float64: Blender 5 hands vectors over as float32)."""
    return {tuple(p) for p in np.round(np.asarray(points, np.float64), 4)}


def corners(obj):
    """The object's mesh vertices in world space, as ``rounded`` gives them."""
    return rounded([obj.matrix_world @ v.co for v in obj.data.vertices])


def texcoords(data, record, channel=0):
    """TEXCOORD<channel> of a render record's vertices (V x 2)."""
    fmt = data["materials"][record["material"]]["vertex_format"]
    start = sum(fmt[:4 + channel])
    return vertex_rows(record)[:, start:start + 2]


def blender_world(obj):
    """The object's world matrix in the file's row-vector form."""
    return np.array(obj.matrix_world).T


def renders(data):
    return data["sections"]["RENDER_NODES"]


def totals(data):
    """(vertices, triangles) of all render nodes of a format 10 file."""
    return sum(r["vertex_count"] for r in renders(data)), sum(len(r["indices"]) // 3 for r in renders(data))


def value_at(prop, argument):
    """A decoded animated property's value with every argument at ``argument``."""
    keys = np.array(prop["keys"], dtype=np.float64)
    return np.array([np.interp(argument, keys[:, 0], keys[:, c]) for c in range(1, keys.shape[1])])


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
