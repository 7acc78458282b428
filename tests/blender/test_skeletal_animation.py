"""Keyed pose bones, actions on NLA tracks and argument ranges: the file,
evaluated at argument values, shows what Blender shows at the frames they
map to."""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bpy  # noqa: E402
import numpy as np  # noqa: E402
from mathutils import Euler, Matrix  # noqa: E402

from support import empty, empty_scene, export_and_read, mesh_object, node, run, warnings  # noqa: E402
from io_scene_tav.tavtools.preview import evaluate_tree, scene_triangles  # noqa: E402

FRAMES = (1, 21)
SCALE = 1.5
# Bone: (head, tail, parent, connected); Arm sits apart from Spine's tail.
BONES = {"Spine": ((0, 0, 0), (0, 0, 1), None, False), "Neck": ((0, 0, 1), (0, 0, 1.6), "Spine", True),
         "Arm": ((0.2, 0, 0.8), (0.9, 0, 0.8), "Spine", False), "Hand": ((0.9, 0, 0.8), (1.2, 0, 0.8), "Arm", True),
         "Tail": ((0, 0, 0), (0, -0.5, -0.2), "Spine", False)}


def keyed(owner, path, values, frames=(1, 11, 21)):
    for frame, value in zip(frames, values):
        setattr(owner, path, value)
        owner.keyframe_insert(path, frame=frame)


def pushed_to_track(obj, name, argument):
    """Moves the object's active action onto a new NLA track."""
    action = obj.animation_data.action
    action.name, action["tav_argument"] = name, argument
    obj.animation_data.nla_tracks.new().strips.new(name, FRAMES[0], action)
    obj.animation_data.action = None
    return action


def build_scene():
    empty_scene(FRAMES)
    data = bpy.data.armatures.new("Rig")
    rig = bpy.data.objects.new("Rig", data)
    bpy.context.scene.collection.objects.link(rig)
    rig.matrix_world = Matrix.LocRotScale((1, 2, 0.5), Euler((0.2, 0, math.radians(40))), (SCALE,) * 3)
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="EDIT")
    for name, (head, tail, parent, connected) in BONES.items():
        bone = data.edit_bones.new(name)
        bone.head, bone.tail = head, tail
        bone.parent, bone.use_connect = data.edit_bones.get(parent or ""), connected
    bpy.ops.object.mode_set(mode="OBJECT")
    keyed(rig.pose.bones["Neck"], "rotation_quaternion", [(1, 0, 0, 0), (0.9, 0.3, 0, 0.3), (0.7, -0.5, 0.5, 0)])
    keyed(rig.pose.bones["Arm"], "location", [(0, 0, 0), (0.3, 0.2, 0), (0, 0.5, -0.4)])
    # A column of vertices up the spine and neck and out along the arm.
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
    keyed(gear, "location", [(3, 0, 0), (3, 0, -0.5), (3, 0, -1)])
    pushed_to_track(gear, "GearDown", 0)
    keyed(gear, "rotation_euler", [(0, 0, 0), (0, 0, 0.4), (0, 0, math.radians(90))])
    pushed_to_track(gear, "Steer", 2)
    keyed(gear, "scale", [(2, 2, 2), (1, 1, 1), (2, 2, 2)])
    pushed_to_track(gear, "Flat", 3)
    gear.animation_data.nla_tracks[-1].mute = True   # plays neither in Blender nor in the file
    gear.scale = (1, 1, 1)

    flap = mesh_object("Flap", location=(0, 4, 0))
    keyed(flap, "rotation_euler", [(math.radians(-20), 0, 0), (0, 0, 0), (math.radians(20), 0, 0)])
    flap.animation_data.action["tav_argument"] = 5
    flap.animation_data.action["tav_argument_range"] = (-1.0, 1.0)

    wheel = mesh_object("Wheel", location=(0, -4, 0))
    keyed(wheel, "location", [(0, -4, 0), (0, -4, 1), (0, -4, 0)])
    pushed_to_track(wheel, "Bounce", 0)["tav_argument_range"] = (2.0, 2.0)
    keyed(wheel, "rotation_euler", [(0, 0, 0), (0, 0, 1), (0, 0, 2)])
    wheel.animation_data.action.name = "Spin"
    bpy.context.view_layer.update()


build_scene()
DATA, REPORTS = export_and_read("skeletal.tav")
OBJ = bpy.data.objects
(LAMP,) = DATA["sections"]["CONNECTORS"]
SKIN_ONLY = dict(DATA, sections=dict(DATA["sections"], RENDER_NODES=[
    r for r in DATA["sections"]["RENDER_NODES"] if r["class"] == "model::SkinNode"]))


def file_world(name, arguments):
    return evaluate_tree(DATA["nodes"], arguments)[0][node(DATA, name)["index"]]


def at_frames(arguments_of_frame):
    """Yields (frame, file's world matrices) at every frame of the scene, Blender set to that frame."""
    for frame in range(FRAMES[0], FRAMES[1] + 1):
        bpy.context.scene.frame_set(frame)
        yield frame, evaluate_tree(DATA["nodes"], arguments_of_frame((frame - FRAMES[0]) / (FRAMES[1] - FRAMES[0])))[0]


def test_keyed_bones_and_what_hangs_from_them_miss_blenders_pose():
    rig = OBJ["Rig"]
    for frame, world in at_frames(lambda t: {0: t}):
        for bone in rig.pose.bones:
            pose = np.array(rig.matrix_world @ bone.matrix, dtype=np.float64).T
            assert np.allclose(world[node(DATA, bone.name)["index"]], pose, atol=1e-4 * SCALE), (frame, bone.name)
        lamp = np.array(OBJ["Lamp"].matrix_world, dtype=np.float64).T
        assert np.allclose(world[LAMP["parent"]], lamp, atol=1e-4 * SCALE), frame


def test_keyed_bones_are_not_animation_nodes_above_bones_or_unkeyed_ones_are_not_plain():
    classes = {n["name"]: n["class"] for n in DATA["nodes"]}
    assert {name: classes[name] for name in BONES} == dict.fromkeys(BONES, "model::Bone")
    for name in BONES:
        animated = name + "_animation" in classes
        assert animated == (name in ("Neck", "Arm")), name
        if animated:
            assert node(DATA, name)["parent"] == node(DATA, name + "_animation")["index"]


def test_skinned_mesh_does_not_follow_the_keyed_bones():
    body = OBJ["Body"]
    for frame in (1, 8, 15, 21):
        bpy.context.scene.frame_set(frame)
        evaluated = body.evaluated_get(bpy.context.evaluated_depsgraph_get())
        mesh = evaluated.to_mesh()
        want = np.array([body.matrix_world @ v.co for v in mesh.vertices], dtype=np.float64)
        evaluated.to_mesh_clear()
        tris, _ = scene_triangles(SKIN_ONLY, {0: (frame - FRAMES[0]) / (FRAMES[1] - FRAMES[0])})
        got = tris.reshape(-1, 3)
        gaps = np.linalg.norm(got[:, None] - want[None], axis=2)
        assert gaps.min(axis=1).max() < 1e-4 * SCALE and gaps.min(axis=0).max() < 1e-4 * SCALE, frame


def test_nla_actions_do_not_each_move_their_own_channel_on_their_own_argument():
    gear = node(DATA, "Gear")
    assert [e["argument"] for e in gear["position"]] == [0] and [e["argument"] for e in gear["rotation"]] == [2]
    assert gear["scale"] == []
    rest = file_world("Gear", {})
    for t in (0.25, 1.0):
        lowered, turned = file_world("Gear", {0: t}), file_world("Gear", {2: t})
        assert np.allclose(lowered[:3, :3], rest[:3, :3]) and lowered[3, 2] < rest[3, 2] - 0.1
        assert np.allclose(turned[3], rest[3]) and not np.allclose(turned[:3, :3], rest[:3, :3])
    for frame, world in at_frames(lambda t: {0: t, 2: t}):
        assert np.allclose(world[gear["index"]], np.array(OBJ["Gear"].matrix_world).T, atol=1e-4), frame


def test_ranged_action_misses_its_end_frames_at_minus_one_and_one():
    flap = node(DATA, "Flap")
    assert [e["argument"] for e in flap["rotation"]] == [5]
    for frame, world in at_frames(lambda t: {5: 2 * t - 1}):
        assert np.allclose(world[flap["index"]], np.array(OBJ["Flap"].matrix_world).T, atol=1e-4), frame
    bpy.context.scene.frame_set(FRAMES[0])
    start = np.array(OBJ["Flap"].matrix_world).T
    assert np.allclose(file_world("Flap", {5: -1.0}), start, atol=1e-4)
    assert np.allclose(file_world("Flap", {5: -5.0}), start, atol=1e-4)   # held before the range


def test_two_actions_on_one_argument_or_a_bad_range_go_unreported():
    texts = warnings(REPORTS)
    assert "Wheel: actions Spin and Bounce both drive argument 0; Bounce is left out" in texts, texts
    assert any(t.startswith("Bounce: tav_argument_range") and t.endswith("played on (0.0, 1.0)") for t in texts)
    wheel = node(DATA, "Wheel")
    assert [len(e["keys"]) for e in wheel["position"]] == [1] and [e["argument"] for e in wheel["rotation"]] == [0]
    assert not any("pose" in t or "NLA" in t for t in texts), texts


run(globals())
