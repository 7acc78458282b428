"""A moved, turned and posed armature of 70 bones skinning a mesh: the file
holds the bones and the mesh at rest, and per vertex the four heaviest bones
its vertex groups name, with their weights normalised."""

import math

import bpy
import numpy as np
from mathutils import Euler, Matrix

from support import (build_armature, build_strip, empty_scene, export_and_read, node, packed_indices, renders, run,
                     vertex_rows, world)

BONES = 70


empty_scene()
ARM = build_armature("Rig", BONES, Matrix.LocRotScale((1, 2, 0), Euler((0, 0, math.radians(40))), (1, 1, 1)))
STRIP = build_strip(ARM, BONES)
ARM.pose.bones["bone_10"].rotation_quaternion = (0.9, 0.0, 0.0, 0.43)   # a pose the file must not hold
bpy.context.view_layer.update()
DATA, REPORTS = export_and_read("skin.tav", 10)
DATA20, _ = export_and_read("skin20.tav", 20)


def expected_weights(vertex):
    names = {g.index: g.name for g in STRIP.vertex_groups}
    pairs = sorted(((g.weight, names[g.group]) for g in vertex.groups if names[g.group] != "not_a_bone"),
                   reverse=True)[:4]
    total = sum(w for w, _ in pairs)
    return {name: w / total for w, name in pairs}


def test_bones_are_nodes_at_rest_with_inverted_model_space_rest_matrices_in_both_formats():
    assert ARM.data.pose_position == "POSE"   # put back after the export
    bones20 = {n["name"]: n for n in DATA20["transform_tree"] if n["class"] == "model::Bone"}
    assert len(bones20) == BONES
    for bone in ARM.data.bones:
        rest = np.array(ARM.matrix_world @ bone.matrix_local).T
        for nodes, record in ((DATA["nodes"], node(DATA, bone.name)), (DATA20["transform_tree"], bones20[bone.name])):
            assert record["class"] == "model::Bone"
            assert np.allclose(world(nodes, record["index"]), rest, atol=1e-5), bone.name
            assert np.allclose(rest @ np.array(record["bone_matrix"]), np.eye(4), atol=1e-5), bone.name


def test_every_vertex_names_its_heaviest_bones_by_packed_index():
    (record,) = renders(DATA)
    assert record["class"] == "model::SkinNode"
    by_index = {n["index"]: n["name"] for n in DATA["nodes"]}
    parents = [by_index[b] for b in record["bones"]]
    assert parents == ["root"] + [b.name for b in ARM.data.bones]
    rest = {tuple(np.round(np.array(STRIP.matrix_world @ v.co, dtype=np.float64), 4)): v for v in STRIP.data.vertices}
    seen = set()
    for row in vertex_rows(record):
        vertex = rest[tuple(np.round(row[:3], 4))]
        seen.add(vertex.index)
        got = {}
        for index, weight in zip(packed_indices(row[3]), row[-4:]):
            if weight > 0:
                got[parents[index]] = got.get(parents[index], 0) + weight
        want = expected_weights(vertex)
        assert got.keys() == want.keys() and all(math.isclose(got[k], want[k], abs_tol=1e-6) for k in want), \
            (vertex.index, got, want)
    assert seen == set(range(len(STRIP.data.vertices)))


def test_skinned_model_has_the_rest_box_the_save_asks_for():
    box = DATA["root"]["bounding_box"]
    points = np.array([STRIP.matrix_world @ v.co for v in STRIP.data.vertices])
    assert np.allclose([box["min"], box["max"]], [points.min(axis=0), points.max(axis=0)], atol=1e-5), box


def test_rig_of_more_bones_than_a_node_takes_skins_a_mesh_with_those_that_weigh_it():
    for obj in bpy.context.scene.objects:
        obj.select_set(False)
    big = build_armature("Big", 300, Matrix.Identity(4))
    strip = build_strip(big, 20)
    strip.modifiers.new("Second", "ARMATURE").object = ARM    # not carried: reported
    big.select_set(True)
    strip.select_set(True)
    data, reports = export_and_read("big.tav", 10, use_selection=True)
    assert ("WARNING", f"{strip.name}: only its first Armature modifier (Big) is exported as its skin; Rig is not") \
        in reports, reports
    (record,) = renders(data)
    by_index = {n["index"]: n["name"] for n in data["nodes"]}
    assert record["class"] == "model::SkinNode"
    assert [by_index[b] for b in record["bones"]] == ["root"] + [f"bone_{k:02d}" for k in range(20)]
    assert not [text for _, text in reports if "unskinned" in text], reports


run(globals())
