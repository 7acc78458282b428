"""Blender export benchmark: this add-on against Blender's own glTF exporter,
in the same Blender process.

Run through the test runner, which installs the add-on from its zip
(`make bench-blender-VERSION` does, for each Blender version):
    blender -b --factory-startup --python-exit-code 1 --python tests/blender/runner.py -- \
        build/blender/io_scene_tav.zip bench/bench_blender.py
    build/bpy/5/bin/python tests/blender/runner.py build/blender/io_scene_tav.zip bench/bench_blender.py

Two scenes, each exported by both exporters into the same temporary folder,
alternately, three rounds each; the medians are compared:
- "objects": 200 mesh objects of 5,000 triangles each (1,000,000 in all),
  subdivided grids with normals and a UV layer, each with its own mesh data
  and one coloured, one-sided Principled BSDF material;
- "skinned": one mesh of 200,000 vertices deformed by an armature of 60
  bones in a chain, each vertex weighed to two neighbouring bones.
The glTF exporter writes a binary .glb, its fastest form.

Goal: the add-on takes at most a quarter of the glTF exporter's time in
both scenes. Exit status 1 when the goal is missed.
"""

import statistics
import sys
import tempfile
import time
from pathlib import Path

import bpy
import numpy

OBJECTS = 200
GRID = 50  # quads per side: 5,000 triangles per object
SKIN_COLUMNS, SKIN_ROWS = 500, 400  # 200,000 vertices
BONES = 60
ROUNDS = 3
GOAL = 0.25


def clear_scene():
    for collection in (bpy.data.objects, bpy.data.meshes, bpy.data.materials, bpy.data.armatures,
                       bpy.data.cameras, bpy.data.lights):
        for item in list(collection):
            collection.remove(item)


def paint():
    material = bpy.data.materials.new("paint")
    material.use_nodes = True
    material.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.8, 0.3, 0.1, 1.0)
    # One-sided, as game assets mostly are: a two-sided material doubles the
    # triangles the add-on writes, which the glTF exporter only flags.
    material.use_backface_culling = True
    return material


def objects_scene() -> str:
    clear_scene()
    material = paint()
    bpy.ops.mesh.primitive_grid_add(x_subdivisions=GRID, y_subdivisions=GRID, size=2.0)
    template = bpy.context.object
    template.data.materials.append(material)
    triangles = 0
    for i in range(OBJECTS):
        mesh = template.data.copy()
        mesh.name = f"grid{i}"
        obj = bpy.data.objects.new(f"grid{i}", mesh)
        obj.location = (i % 20 * 2.5, i // 20 * 2.5, 0.0)
        bpy.context.scene.collection.objects.link(obj)
        mesh.calc_loop_triangles()
        triangles += len(mesh.loop_triangles)
    bpy.data.objects.remove(template)
    return f"{OBJECTS} objects, {triangles} triangles"


def skinned_scene() -> str:
    clear_scene()
    length = 6.0
    data = bpy.data.armatures.new("rig")
    rig = bpy.data.objects.new("rig", data)
    bpy.context.scene.collection.objects.link(rig)
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="EDIT")
    previous = None
    for b in range(BONES):
        bone = data.edit_bones.new(f"bone{b:02d}")
        bone.head, bone.tail = (b * length / BONES, 0, 0), ((b + 1) * length / BONES, 0, 0)
        bone.parent, bone.use_connect = previous, previous is not None
        previous = bone
    bpy.ops.object.mode_set(mode="OBJECT")

    # A grid of SKIN_COLUMNS x SKIN_ROWS vertices along the bones.
    xs = numpy.linspace(0.0, length, SKIN_COLUMNS)
    ys = numpy.linspace(-0.5, 0.5, SKIN_ROWS)
    co = numpy.stack(numpy.meshgrid(xs, ys, indexing="ij"), axis=-1).reshape(-1, 2)
    co = numpy.c_[co, numpy.zeros(len(co))].astype(numpy.float32)
    index = numpy.arange(SKIN_COLUMNS * SKIN_ROWS).reshape(SKIN_COLUMNS, SKIN_ROWS)
    quads = numpy.stack([index[:-1, :-1], index[1:, :-1], index[1:, 1:], index[:-1, 1:]], axis=-1).reshape(-1)
    mesh = bpy.data.meshes.new("skin")
    # from_pydata fills loop starts and totals alike in every version.
    mesh.from_pydata(co.tolist(), [], quads.reshape(-1, 4).tolist())
    mesh.uv_layers.new(name="UVMap")
    mesh.materials.append(paint())
    skin = bpy.data.objects.new("skin", mesh)
    bpy.context.scene.collection.objects.link(skin)
    skin.parent = rig
    skin.modifiers.new("Armature", "ARMATURE").object = rig
    groups = [skin.vertex_groups.new(name=f"bone{b:02d}") for b in range(BONES)]
    # Column c lies along bone b = c * BONES / columns; it is weighed to that
    # bone and the next, by how far along the bone it lies.
    for c in range(SKIN_COLUMNS):
        along = c * BONES / SKIN_COLUMNS
        b = min(int(along), BONES - 1)
        f = along - b
        column = index[c].tolist()
        groups[b].add(column, 1.0 - f * 0.5, "REPLACE")
        groups[min(b + 1, BONES - 1)].add(column, max(f * 0.5, 0.01), "REPLACE")
    bpy.context.view_layer.update()
    return f"skinned mesh, {len(mesh.vertices)} vertices, {BONES} bones"


def timed(export) -> float:
    start = time.perf_counter()
    result = export()
    elapsed = time.perf_counter() - start
    if result != {"FINISHED"}:
        raise RuntimeError(f"export returned {result}")
    return elapsed


def compare(label: str) -> float:
    with tempfile.TemporaryDirectory() as folder:
        tav = Path(folder, "scene.tav")
        glb = Path(folder, "scene.glb")
        ours, peer = [], []
        for _ in range(ROUNDS):
            ours.append(timed(lambda: bpy.ops.export_scene.tav(filepath=str(tav), format_version="10")))
            peer.append(timed(lambda: bpy.ops.export_scene.gltf(filepath=str(glb), export_format="GLB")))
        sizes = tav.stat().st_size, glb.stat().st_size
    ours_median, peer_median = statistics.median(ours), statistics.median(peer)
    ratio = ours_median / peer_median
    print(f"Blender {bpy.app.version_string}: {label}: add-on {ours_median:.2f} s ({sizes[0]} bytes), "
          f"glTF exporter {peer_median:.2f} s ({sizes[1]} bytes), "
          f"ratio {ratio:.2f} (goal <= {GOAL}) {'ok' if ratio <= GOAL else 'MISSED'}", flush=True)
    return ratio


def main() -> int:
    # Blender 3.4's glTF add-on still names numpy.bool, which NumPy 1.20 to
    # 1.26 do not have (NumPy 2 has it again, as its own boolean type).
    if bpy.app.version < (3, 5, 0) and not hasattr(numpy, "bool"):
        numpy.bool = bool
    ratios = [compare(build()) for build in (objects_scene, skinned_scene)]
    return 0 if max(ratios) <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
