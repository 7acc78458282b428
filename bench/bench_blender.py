"""Blender export benchmark: this add-on against Blender's own glTF exporter.

Run inside Blender with the add-on enabled (`make bench` does):
    BLENDER_USER_SCRIPTS=build/blender/scripts blender -b --factory-startup \
        --addons io_scene_tav --python bench/bench_blender.py

The scene holds 200 mesh objects of 5,000 triangles each (1,000,000 in all):
subdivided grids with normals and a UV layer, each with its own mesh data and
one coloured, one-sided Principled BSDF material. Both exporters write the whole scene
into the same temporary folder, alternately, three rounds each; the medians
are compared. The glTF exporter writes a binary .glb, its fastest form.

Goal: the add-on takes at most half the glTF exporter's time. Exit status 1
when the goal is missed.
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
ROUNDS = 3
GOAL = 0.5


def build_scene() -> int:
    bpy.ops.wm.read_factory_settings(use_empty=True)
    material = bpy.data.materials.new("paint")
    material.use_nodes = True
    material.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.8, 0.3, 0.1, 1.0)
    # One-sided, as game assets mostly are: a two-sided material doubles the
    # triangles the add-on writes, which the glTF exporter only flags.
    material.use_backface_culling = True
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
    return triangles


def timed(export) -> float:
    start = time.perf_counter()
    result = export()
    elapsed = time.perf_counter() - start
    if result != {"FINISHED"}:
        raise RuntimeError(f"export returned {result}")
    return elapsed


def main() -> int:
    # Blender 3.4's glTF add-on still names numpy.bool, which NumPy 1.24 removed.
    numpy.bool = bool
    triangles = build_scene()
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
    verdict = "ok" if ratio <= GOAL else "MISSED"
    print(f"{OBJECTS} objects, {triangles} triangles: add-on {ours_median:.2f} s ({sizes[0]} bytes), "
          f"glTF exporter {peer_median:.2f} s ({sizes[1]} bytes), "
          f"ratio {ratio:.2f} (goal <= {GOAL}) {verdict}")
    return 0 if ratio <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
