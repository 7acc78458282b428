"""Model.save folds transforms into geometry and child nodes and drops empty,
dummy and dead-end nodes; checked on the saved files."""

import numpy as np
import pytest

import pytav
from support import base_block, pbr_node, rows
from support import node_named, save_and_read

IDENTITY = [(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]


def shift(x, y, z):
    """Rows of a translation for column vectors (the scripts' layout)."""
    return [(1, 0, 0, x), (0, 1, 0, y), (0, 0, 1, z), (0, 0, 0, 1)]


# A quarter turn about x (y goes to z) followed by a shift of (10, 20, 30).
TURN_AND_SHIFT = [(1, 0, 0, 10), (0, 0, -1, 20), (0, 1, 0, 30), (0, 0, 0, 1)]


def saved_matrix(rows_of_script):
    """The same matrix as a file stores it (rows for row vectors)."""
    return [list(map(float, column)) for column in zip(*rows_of_script)]


def add_mesh(model, control, name="mesh"):
    # A texture of its own keeps the save from merging the mesh with others.
    node = pbr_node(base_block(albedo=f"{name}.dds"), name=name)
    node.setControlNode(control)
    assert model.addRenderNode(node) == ""
    return node


def add_light(model, control, name="lamp"):
    light = pytav.OmniLight(name)
    light.setControlNode(control)
    model.addOmniLight(light)
    return light


def names(data):
    return [node["name"] for node in data["nodes"]]


def positions_and_normals(record):
    """(x, y, z, nx, ny, nz) of each saved vertex, sorted (the save may reorder)."""
    return sorted(tuple(round(v, 5) for v in row[0:3] + row[4:7]) for row in rows(record))


QUAD = sorted([(0, 0, 0, 0, 0, 1), (1, 0, 0, 0, 0, 1), (1, 1, 0, 0, 0, 1), (0, 1, 0, 0, 0, 1)])


def test_identity_transform_with_render_node_disappears(tmp_path):
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder", IDENTITY))
    add_mesh(model, holder)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root"]
    (record,) = data["sections"]["RENDER_NODES"]
    assert [p["node"] for p in record["parents"]] == [0]
    assert positions_and_normals(record) == QUAD
    # The script's wrapper still names the removed node.
    assert holder.getName() == "_DELETED_"


def test_animation_node_without_keys_becomes_transform_with_its_translation(tmp_path):
    model = pytav.Model()
    anim = model.getRootTransform().addChild(pytav.AnimationNode("anim"))
    anim.setBaseMatrix(shift(1, 2, 3))
    # A light can't take the transform into its own data, so the node stays.
    add_light(model, anim)
    data = save_and_read(model, tmp_path / "m.tav")
    node = node_named(data, "anim")
    assert node["class"] == "model::TransformNode"
    assert node["matrix"] == saved_matrix(shift(1, 2, 3))
    assert data["sections"]["LIGHT_NODES"][0]["parent"] == node["index"]


def test_transform_is_baked_into_positions_and_normals(tmp_path):
    model = pytav.Model()
    moved = model.getRootTransform().addChild(pytav.Transform("moved", TURN_AND_SHIFT))
    add_mesh(model, moved)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root"]
    (record,) = data["sections"]["RENDER_NODES"]
    assert positions_and_normals(record) == sorted([
        (10, 20, 30, 0, -1, 0), (11, 20, 30, 0, -1, 0), (11, 20, 31, 0, -1, 0), (10, 20, 31, 0, -1, 0)])


def test_transform_is_merged_into_child_transforms_and_animation_base_matrices(tmp_path):
    model = pytav.Model()
    outer = model.getRootTransform().addChild(pytav.Transform("outer", shift(5, 0, 0)))
    inner = outer.addChild(pytav.Transform("inner", shift(0, 1, 0)))
    add_light(model, inner)
    anim = outer.addChild(pytav.AnimationNode("anim"))
    anim.setBaseMatrix(shift(0, 0, 2))
    anim.setPositionAnimation([(4, [(0.0, (0, 0, 0)), (1.0, (1, 0, 0))])])
    add_mesh(model, anim)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root", "inner", "anim"]
    assert node_named(data, "inner")["matrix"] == saved_matrix(shift(5, 1, 0))
    assert node_named(data, "anim")["matrix"] == saved_matrix(shift(5, 0, 2))
    assert outer.getName() == "_DELETED_"


def test_children_of_lod_node_are_never_removed_or_moved(tmp_path):
    model = pytav.Model()
    lod = model.getRootTransform().addChild(pytav.Lod("lod", [10.0, 20.0]))
    lod.addChild(pytav.Node("near"))
    far = lod.addChild(pytav.Transform("far", shift(1, 0, 0)))
    add_mesh(model, far)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root", "lod", "near", "far"]
    assert [node_named(data, n)["parent"] for n in ("near", "far")] == [1, 1]
    assert node_named(data, "far")["matrix"] == saved_matrix(shift(1, 0, 0))
    (record,) = data["sections"]["RENDER_NODES"]
    assert record["parents"][0]["node"] == 3
    assert positions_and_normals(record) == QUAD


def test_transform_under_lod_node_stops_the_pass_for_later_transforms(tmp_path):
    model = pytav.Model()
    root = model.getRootTransform()
    lod = root.addChild(pytav.Lod("lod", [10.0]))
    add_mesh(model, lod.addChild(pytav.Transform("level", shift(0, 0, 1))), name="in_lod")
    after = root.addChild(pytav.Transform("after", shift(3, 0, 0)))
    add_mesh(model, after, name="after_lod")
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root", "lod", "level", "after"]
    assert node_named(data, "after")["matrix"] == saved_matrix(shift(3, 0, 0))
    by_name = {r["name"]: r for r in data["sections"]["RENDER_NODES"]}
    assert by_name["after_lod"]["parents"][0]["node"] == 3
    assert positions_and_normals(by_name["after_lod"]) == QUAD


def test_bone_child_keeps_its_transform(tmp_path):
    model = pytav.Model()
    arm = model.getRootTransform().addChild(pytav.Transform("arm", shift(0, 2, 0)))
    bone = arm.addChild(pytav.Bone("bone", shift(1, 0, 0)))
    add_light(model, bone)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root", "arm", "bone"]
    assert node_named(data, "arm")["matrix"] == saved_matrix(shift(0, 2, 0))
    assert node_named(data, "bone")["matrix"] == saved_matrix(shift(1, 0, 0))
    assert node_named(data, "bone")["parent"] == 1


def test_model_with_nothing_to_simplify_keeps_every_node_name(tmp_path):
    model = pytav.Model()
    root = model.getRootTransform()
    lod = root.addChild(pytav.Lod("lod", [5.0, 50.0]))
    kept = [lod, lod.addChild(pytav.Node("near")), lod.addChild(pytav.Node("far"))]
    spin = root.addChild(pytav.AnimationNode("spin"))
    spin.setRotationAnimation([(2, [(0.0, (1, 0, 0, 0)), (1.0, (0, 0, 0, 1))])])
    vis = spin.addChild(pytav.VisibilityNode("vis"))
    vis.setArguments([(3, [(0.0, 1.0), (0.5, 0.0)])])
    kept += [spin, vis]
    add_mesh(model, vis)
    data = save_and_read(model, tmp_path / "m.tav")
    assert names(data) == ["root", "lod", "near", "far", "spin", "vis"]
    assert [node.getName() for node in kept] == ["lod", "near", "far", "spin", "vis"]


def test_second_save_of_an_optimised_model_writes_the_same_file(tmp_path):
    model = pytav.Model()
    moved = model.getRootTransform().addChild(pytav.Transform("moved", TURN_AND_SHIFT))
    add_mesh(model, moved.addChild(pytav.Transform("inner", shift(0, 0, 1))))
    first = save_and_read(model, tmp_path / "a.tav")
    second = save_and_read(model, tmp_path / "b.tav")
    assert first == second
    assert (tmp_path / "a.tav").read_bytes() == (tmp_path / "b.tav").read_bytes()
