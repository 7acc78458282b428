"""examples/sample.gltf through Blender's glTF importer and this add-on, against
``tavtools convert`` run by an interpreter of Blender's Python version with
the add-on's own module (one build of the module for both files)."""

import os
import subprocess
import sys
import tempfile

import bpy
import numpy as np

# Blender 3.4's glTF importer still calls numpy.bool, which NumPy 1.20 to 1.26
# do not have (NumPy 2 has it again, as its own boolean type).
if bpy.app.version < (3, 5, 0) and not hasattr(np, "bool"):
    np.bool = bool

import io_scene_tav  # noqa: E402
from io_scene_tav.tavtools.preview import scene_triangles  # noqa: E402
from support import REPO, empty_scene, export_and_read, renders, run, tavtools, texcoords, totals, world  # noqa: E402

SAMPLE = os.path.join(REPO, "examples", "sample.gltf")
# Blender names the armature object after the glTF node "body" and so
# renames the body mesh's object; everything else keeps its glTF name.
RENAMED = {"body.001": "body"}


def converted():
    folder = tempfile.mkdtemp(prefix="tav_convert_")
    os.symlink(io_scene_tav.pytav.__file__, os.path.join(folder, os.path.basename(io_scene_tav.pytav.__file__)))
    target = os.path.join(folder, "sample.tav")
    # The bpy module runs in an ordinary interpreter; Debian's Blender embeds
    # Debian's Python 3.11 (with its NumPy), which runs the converter too.
    python = sys.executable if not bpy.app.binary_path else "/usr/bin/python3.11"
    done = subprocess.run([python, "-m", "tavtools", "convert", SAMPLE, target, "--format", "10"],
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join([folder, REPO])),
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return tavtools.read(target)


empty_scene()
# From 4.3 on the importer also makes an icosphere as the bones' display shape
# (an object of the collection "glTF_not_exported"); the sample has none.
options = bpy.ops.import_scene.gltf.get_rna_type().properties
bpy.ops.import_scene.gltf(filepath=SAMPLE, **({"disable_bone_shape": True} if "disable_bone_shape" in options else {}))
# The converter maps the animation's time range onto [0, 1]; the add-on
# maps the scene's frame range, so the scene is given the animation's range.
start, end = bpy.data.objects["turret"].animation_data.action.frame_range
bpy.context.scene.frame_start, bpy.context.scene.frame_end = int(start), int(end)
MINE, REPORTS = export_and_read("sample_blender.tav")
THEIRS = converted()


def by_name(data):
    return {RENAMED.get(r["name"], r["name"]): r for r in renders(data)}


def triangles(data, t):
    """The triangles at argument value t, each as its sorted corners rounded,
    in sorted order: comparable whatever the vertex order."""
    tris, _ = scene_triangles(data, {0: t})
    return np.array(sorted(sorted(tuple(c) for c in np.round(tri, 3)) for tri in tris))


def test_same_totals_render_nodes_materials_and_texture_coordinates():
    assert totals(MINE) == totals(THEIRS)
    mine, theirs = by_name(MINE), by_name(THEIRS)
    assert sorted(mine) == sorted(theirs)
    for name in mine:
        a = MINE["materials"][mine[name]["material"]]
        b = THEIRS["materials"][theirs[name]["material"]]
        for key in ("name", "material_name", "blending", "vertex_format", "texture_coordinates_channels", "uniforms"):
            assert a[key] == b[key], (name, key, a[key], b[key])
        # The converter names an external image by its path from the
        # output's folder; the add-on writes the file's base name.
        assert sorted(t["file"] for t in a["textures"]) == sorted(os.path.basename(t["file"]) for t in b["textures"])
        assert np.allclose(sorted(map(tuple, texcoords(MINE, mine[name]))),
                           sorted(map(tuple, texcoords(THEIRS, theirs[name]))), atol=1e-4), name


def test_world_space_triangles_part_from_the_converters_at_the_key_times():
    rest = triangles(MINE, 0.0)
    assert len(rest) == totals(MINE)[1] and np.array_equal(rest, triangles(THEIRS, 0.0))
    # At the glTF key times (every eighth of the range), the turret's keys
    # and the elbow bone's pose (the skinned body follows it). Between keys
    # Blender plays quaternion keys component by component (normalised
    # linear) where the converter's keys are joined spherically; the add-on
    # writes what Blender plays, so the two part between keys by design.
    assert any(n["name"] == "elbow_animation" for n in MINE["nodes"])
    for t in (0.0, 0.25, 0.5, 0.625, 1.0):
        assert np.allclose(triangles(MINE, t), triangles(THEIRS, t), atol=2e-3), t


def test_lights_match_but_for_the_range_blender_does_not_import():
    def values(data):
        return {light["name"]: [p["value"] for p in light["light_properties"]]
                for light in data["sections"]["LIGHT_NODES"]}
    mine, theirs = values(MINE), values(THEIRS)
    assert sorted(mine) == sorted(theirs) == ["beacon", "searchlight"]
    for name in mine:
        # color, brightness, phi, theta agree; the glTF range (distance) is
        # not kept by Blender's importer, so the add-on writes its
        # fall-off distance sqrt(256 x brightness) instead.
        assert np.allclose(np.hstack(mine[name][:4]), np.hstack(theirs[name][:4]), rtol=1e-4), name
        assert np.isclose(mine[name][4], np.sqrt(256 * mine[name][1]), rtol=1e-5)
    # Placed and turned alike: both formats point a light along its node's -Z.
    placement = [{light["name"]: world(data["nodes"], light["parent"]) for light in data["sections"]["LIGHT_NODES"]}
                 for data in (MINE, THEIRS)]
    assert all(np.allclose(placement[0][name], placement[1][name], atol=1e-5) for name in mine)


run(globals())
