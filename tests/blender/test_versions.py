"""What differs between Blender versions, held to what Blender itself shows:
corner normals (smooth, sharp by angle, custom), one action animating two
objects or lights (slots from 4.4 on), and the package: the manifest against bl_info,
and one module per interpreter."""

import glob
import math
import os
import sys

import numpy as np

import io_scene_tav
from io_scene_tav import compat
from support import (CANDELA, blender_world, empty_scene, export_and_read, frames, light, mesh_object, node, renders,
                     run, vertex_rows, world)


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
