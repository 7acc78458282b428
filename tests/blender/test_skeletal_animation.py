"""Keyed pose bones, actions on NLA tracks and argument ranges: the file at
an argument value shows what Blender shows at the frame it maps to."""

import math

import bpy
import numpy as np
from mathutils import Euler, Matrix

from support import (armature, empty, empty_scene, export_and_read, frames, mesh_object, node, pushed_to_strip, run,
                     warnings)
from io_scene_tav.tavtools.preview import evaluate_tree, scene_triangles

FRAMES, SCALE, TOL = (1, 21), 1.5, 1.5e-4   # TOL: 1e-4 of the rig's scale
# Bone: head, tail, parent, connected. Arm sits apart from Spine's tail.
BONES = {"Spine": ((0, 0, 0), (0, 0, 1), None, False), "Neck": ((0, 0, 1), (0, 0, 1.6), "Spine", True),
         "Arm": ((0.2, 0, 0.8), (0.9, 0, 0.8), "Spine", False), "Hand": ((0.9, 0, 0.8), (1.2, 0, 0.8), "Arm", True),
         "Tail": ((0, 0, 0), (0, -0.5, -0.2), "Spine", False)}


def keyed(owner, path, values, track=None, argument=None):
    """Keys values at frames 1, 11, 21; with ``track`` moves the action onto an NLA track of that name."""
    for frame, value in zip((1, 11, 21), values):
        setattr(owner, path, value)
        owner.keyframe_insert(path, frame=frame)
    action = owner.id_data.animation_data.action
    if argument is not None:
        action["tav_argument"] = argument
    return pushed_to_strip(owner.id_data, track, FRAMES[0]) if track else action


def build_scene():
    empty_scene(FRAMES)
    rig = armature("Rig", Matrix.LocRotScale((1, 2, 0.5), Euler((0.2, 0, math.radians(40))), (SCALE,) * 3), BONES)
    keyed(rig.pose.bones["Neck"], "rotation_quaternion", [(1, 0, 0, 0), (0.9, 0.3, 0, 0.3), (0.7, -0.5, 0.5, 0)])
    keyed(rig.pose.bones["Arm"], "location", [(0, 0, 0), (0.3, 0.2, 0), (0, 0.5, -0.4)])
    # A strip up the spine and neck (weighed to both) and out along the arm (to Arm and Spine).
    points = [(0.05, 0, z / 4) for z in range(7)] + [(x / 4, 0, 0.8) for x in range(1, 5)]
    skin = bpy.data.meshes.new("Skin")
    skin.from_pydata(points + [(x + 0.05, y, z) for x, y, z in points], [],
                     [(i, i + 1, i + 12, i + 11) for i in range(10)])
    body = mesh_object("Body", mesh=skin, parent=rig)
    body.modifiers.new("Armature", "ARMATURE").object = rig
    groups = {name: body.vertex_groups.new(name=name) for name in BONES}
    for k, (x, _, z) in enumerate(points):
        weights = {"Arm": 0.7, "Spine": 0.3} if x > 0.1 else {"Spine": 1 - z / 1.5, "Neck": z / 1.5}
        for name, weight in weights.items():
            groups[name].add([k, k + 11], weight, "REPLACE")
    lamp = empty("Lamp", parent=rig, tav="connector")
    lamp.parent_type, lamp.parent_bone, lamp.location = "BONE", "Arm", (0, 0.1, 0)
    gear = mesh_object("Gear", location=(3, 0, 0))
    keyed(gear, "location", [(3, 0, 0), (3, 0, -0.5), (3, 0, -1)], "GearDown", 0)
    keyed(gear, "rotation_euler", [(0, 0, 0), (0, 0, 0.4), (0, 0, math.radians(90))], "Steer", 2)
    keyed(gear, "scale", [(2, 2, 2), (1, 1, 1), (2, 2, 2)], "Flat", 3)
    gear.animation_data.nla_tracks[-1].mute, gear.scale = True, (1, 1, 1)   # plays nowhere
    flap = mesh_object("Flap", location=(0, 4, 0))
    keyed(flap, "rotation_euler", [(-0.35, 0, 0), (0, 0, 0), (0.35, 0, 0)], argument=5)["tav_argument_range"] = (-1, 1)
    wheel = mesh_object("Wheel", location=(0, -4, 0))
    keyed(wheel, "location", [(0, -4, 0), (0, -4, 1), (0, -4, 0)], "Bounce")["tav_argument_range"] = (2.0, 2.0)
    keyed(wheel, "rotation_euler", [(0, 0, 0), (0, 0, 1), (0, 0, 2)]).name = "Spin"


build_scene()
DATA, REPORTS = export_and_read("skeletal.tav")
OBJ = bpy.data.objects
SKIN_ONLY = dict(DATA, sections=dict(DATA["sections"], RENDER_NODES=[
    r for r in DATA["sections"]["RENDER_NODES"] if r["class"] == "model::SkinNode"]))
(LAMP,) = DATA["sections"]["CONNECTORS"]


def file_world(name, arguments):
    return evaluate_tree(DATA["nodes"], arguments)[0][node(DATA, name)["index"]]


def test_keyed_bones_their_skin_and_bone_children_miss_blenders_pose():
    rig, body = OBJ["Rig"], OBJ["Body"]
    classes = {n["name"]: n["class"] for n in DATA["nodes"]}
    assert {name: classes[name] for name in BONES} == dict.fromkeys(BONES, "model::Bone")
    assert {n[:-len("_animation")] for n in classes if n.endswith("_animation")} == {"Neck", "Arm"}
    for _, t in frames():
        world = evaluate_tree(DATA["nodes"], {0: t})[0]
        for bone in rig.pose.bones:
            pose = np.array(rig.matrix_world @ bone.matrix, dtype=np.float64).T
            assert np.allclose(world[node(DATA, bone.name)["index"]], pose, atol=TOL), (t, bone.name)
        assert np.allclose(world[LAMP["parent"]], np.array(OBJ["Lamp"].matrix_world).T, atol=TOL), t
        evaluated = body.evaluated_get(bpy.context.evaluated_depsgraph_get())
        want = np.array([body.matrix_world @ v.co for v in evaluated.to_mesh().vertices], dtype=np.float64)
        evaluated.to_mesh_clear()
        gaps = np.linalg.norm(scene_triangles(SKIN_ONLY, {0: t})[0].reshape(-1, 1, 3) - want[None], axis=2)
        assert gaps.min(axis=1).max() < TOL and gaps.min(axis=0).max() < TOL, t


def test_nla_actions_or_a_ranged_action_play_other_channels_arguments_or_frames():
    gear, flap = node(DATA, "Gear"), node(DATA, "Flap")
    assert [[e["argument"] for e in gear[c]] for c in ("position", "rotation", "scale")] == [[0], [2], []]
    rest = file_world("Gear", {})
    lowered, turned = file_world("Gear", {0: 0.5}), file_world("Gear", {2: 0.5})
    assert np.allclose(lowered[:3, :3], rest[:3, :3]) and lowered[3, 2] < rest[3, 2] - 0.1
    assert np.allclose(turned[3], rest[3]) and not np.allclose(turned[:3, :3], rest[:3, :3])
    for _, t in frames():
        world = evaluate_tree(DATA["nodes"], {0: t, 2: t, 5: 2 * t - 1})[0]
        assert np.allclose(world[gear["index"]], np.array(OBJ["Gear"].matrix_world).T, atol=1e-4), t
        assert np.allclose(world[flap["index"]], np.array(OBJ["Flap"].matrix_world).T, atol=1e-4), t
    assert np.allclose(file_world("Flap", {5: -5.0}), file_world("Flap", {5: -1.0}))   # held before the range


def test_two_actions_on_one_argument_or_a_bad_range_go_unreported():
    texts = warnings(REPORTS)
    assert texts == ["Bounce: tav_argument_range must be two different numbers, not (2.0, 2.0); played on "
                          "(0.0, 1.0)", "Wheel: actions Spin and Bounce both drive argument 0; Bounce is left out"]
    wheel = node(DATA, "Wheel")
    assert [len(e["keys"]) for e in wheel["position"]] == [1] and [e["argument"] for e in wheel["rotation"]] == [0]


run(globals())
