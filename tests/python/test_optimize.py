"""Model.save folds transforms into geometry and child nodes and drops empty,
dummy and dead-end nodes; checked on the saved files."""


import pytav
from support import base_block, node_named, pbr_node, rows, save_and_read


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


