"""What differs between Blender versions, held to what Blender itself shows:
corner normals (smooth, sharp by angle, custom), each corner's normal and UV
across seams (read as generic attributes from 3.5 on), one action animating
two objects or lights (slots from 4.4 on), and the package: the manifest
against bl_info, and one module per interpreter."""

import glob
import math
import os
import sys

import bpy
import numpy as np

import io_scene_tav
from io_scene_tav import compat
from support import (CANDELA, blender_world, empty_scene, export_and_read, frames, image, light, mesh_object, node,
                     renders, run, texcoords, textured, vertex_rows, world)


def smooth(mesh):
    mesh.polygons.foreach_set("use_smooth", [True] * len(mesh.polygons))


def pointing_up(mesh):
    smooth(mesh)
    compat.set_custom_normals(mesh, [(0.0, 0.0, 1.0)] * len(mesh.loops))


# shading -> (vertices in the file, expected normal of a vertex at position p)
SHADINGS = [
    (smooth, 8, lambda p: p / np.linalg.norm(p)),
    (lambda mesh: compat.set_sharp_by_angle(mesh, math.radians(30)), 24, None),
    (lambda mesh: compat.set_sharp_by_angle(mesh, math.radians(120)), 8, lambda p: p / np.linalg.norm(p)),
    (pointing_up, 8, lambda p: np.array([0.0, 0.0, 1.0])),
]


def test_corner_normals_are_the_ones_blender_shades():
    for k, (shade, count, expected) in enumerate(SHADINGS):
        empty_scene()
        cube = mesh_object("Cube")     # of size 2 at the origin, here without UV layer
        cube.data.uv_layers.remove(cube.data.uv_layers[0])
        shade(cube.data)
        data, _ = export_and_read(f"normals{k}.tav")
        (record,) = renders(data)
        rows = vertex_rows(record)
        assert record["vertex_count"] == count, (k, record["vertex_count"])
        for p, n in zip(rows[:, :3], rows[:, 4:7]):
            if expected is None:   # flat: a face's axis, pointing out of the cube
                assert np.isclose(np.abs(n).max(), 1, atol=1e-5) and np.isclose(n @ p, 1, atol=1e-5), (k, p, n)
            else:
                assert np.allclose(n, expected(p), atol=1e-3), (k, p, n)


# seam -> (lift of the far edge, smooth faces, UV offset of the second face, vertices in the file)
SEAMS = [
    ("none", 0.0, True, (0.0, 0.0), 6),
    ("u only", 0.0, True, (0.5, 0.0), 8),
    ("v only", 0.0, True, (0.0, 0.25), 8),
    ("normal only", 1.0, False, (0.0, 0.0), 8),
]


def corner(position, normal, uv):
    return tuple(np.round(np.r_[position, normal, uv].astype(np.float64), 4) + 0.0)


def test_each_corner_keeps_the_normal_and_uv_blender_gives_it():
    # Two quads sharing an edge: the corners on that edge are one vertex
    # only where they agree in normal and in every UV coordinate.
    for seam, lift, smoothed, (du, dv), count in SEAMS:
        empty_scene()
        mesh = bpy.data.meshes.new(seam)
        mesh.from_pydata([(x, y, lift * (x == 2)) for x in range(3) for y in range(2)], [],
                         [(0, 2, 3, 1), (2, 4, 5, 3)])
        mesh.polygons.foreach_set("use_smooth", [smoothed] * 2)
        layer = mesh.uv_layers.new(name="UVMap")
        for polygon in mesh.polygons:
            for i in polygon.loop_indices:
                x, y, _ = mesh.vertices[mesh.loops[i].vertex_index].co
                layer.data[i].uv = (x / 2 + du * polygon.index, y / 2 + dv * polygon.index)
        mesh.update()
        paint = textured("paint", image("paint"))  # a texture that reads the UVs keeps them in the file
        paint.use_backface_culling = True
        mesh_object("Strip", mesh=mesh, material=paint)
        data, _ = export_and_read(f"seam_{seam.replace(' ', '_')}.tav")
        (record,) = renders(data)
        rows = vertex_rows(record)
        uvs = texcoords(data, record)
        found = {corner(rows[i, :3], rows[i, 4:7], uvs[i]) for i in record["indices"]}
        normals, layer = compat.corner_normals(mesh), mesh.uv_layers["UVMap"]
        given = {corner(mesh.vertices[loop.vertex_index].co, normals[loop.index],
                        (layer.data[loop.index].uv[0], 1 - layer.data[loop.index].uv[1])) for loop in mesh.loops}
        assert found == given, (seam, found ^ given)
        assert record["vertex_count"] == count, (seam, record["vertex_count"])


def test_each_object_or_light_of_a_shared_action_follows_its_own_keys():
    # From 4.4 on one action holds a slot per user; before, the users share
    # its curves. Either way the file must move and light each as Blender does.
    empty_scene()
    first, second = mesh_object("First"), mesh_object("Second", location=(3, 0, 0))
    lamps = [light(name, "POINT") for name in ("LampA", "LampB")]
    # (owner, keyed setting, its component or None, values at frames 1 and 21, owner whose action it shares)
    for owner, path, index, values, shares in ((first, "location", 2, (0.0, 2.0), None),
                                               (second, "location", 0, (3.0, -1.0), first),
                                               (lamps[0].data, "energy", None, (10.0, 50.0), None),
                                               (lamps[1].data, "energy", None, (40.0, 0.0), lamps[0].data)):
        if shares:
            owner.animation_data_create().action = shares.animation_data.action
        for frame, value in zip((1, 21), values):
            if index is None:
                setattr(owner, path, value)
            else:
                getattr(owner, path)[index] = value
            owner.keyframe_insert(path, frame=frame)
    data, _ = export_and_read("shared_action.tav")
    intensity = {n["name"]: np.array(n["light_properties"][1]["keys"]) for n in data["sections"]["LIGHT_NODES"]}
    for frame, t in frames((1, 6, 21)):
        for obj in (first, second):
            assert np.allclose(world(data["nodes"], node(data, obj.name)["index"], t), blender_world(obj),
                               atol=1e-4), (obj.name, frame)
        for lamp in lamps:
            keys = intensity[lamp.name]
            assert np.isclose(np.interp(t, keys[:, 0], keys[:, 1]), lamp.data.energy * CANDELA,
                              rtol=1e-4), (lamp.name, frame)


FOLDER = os.path.dirname(io_scene_tav.__file__)


def test_manifest_tells_the_version_name_and_blender_of_bl_info():
    import tomllib
    with open(os.path.join(FOLDER, "blender_manifest.toml"), "rb") as f:
        manifest = tomllib.load(f)
    info = io_scene_tav.bl_info
    assert tuple(int(v) for v in manifest["version"].split(".")) == info["version"], (manifest["version"], info)
    assert (manifest["id"], manifest["name"], manifest["type"]) == ("io_scene_tav", info["name"], "add-on")
    assert manifest["schema_version"] == "1.0.0" and manifest["platforms"] == ["linux-x64"]
    assert tuple(int(v) for v in manifest["blender_version_min"].split(".")) >= (4, 2, 0)


def test_package_holds_one_module_per_python_and_loads_the_one_of_blenders():
    # That each refuses the other interpreters is tested on the same builds
    # by the Python suite.
    tags = [os.path.basename(m).split(".")[1] for m in sorted(glob.glob(os.path.join(FOLDER, "pytav.cpython-*.so")))]
    assert tags == ["cpython-311-x86_64-linux-gnu", "cpython-313-x86_64-linux-gnu"], tags
    assert io_scene_tav.pytav.__file__.endswith(f".{sys.implementation.cache_tag}-x86_64-linux-gnu.so")


run(globals())
