import gc
import math
import struct

import pytest

import pytav
from support import keep, node_named, save_and_read

IDENTITY = [[1.0, 0.0, 0.0, 0.0], [0.0, 1.0, 0.0, 0.0], [0.0, 0.0, 1.0, 0.0], [0.0, 0.0, 0.0, 1.0]]
# A column-vector matrix with a translation (5, 6, 7) and a distinct element.
COLUMN_ROWS = [(1, 0, 0, 5), (0, 1, 0, 6), (0, 0, 1, 7), (0, 2, 0, 1)]
ROW_FORM = [[1.0, 0.0, 0.0, 0.0], [0.0, 1.0, 0.0, 2.0], [0.0, 0.0, 1.0, 0.0], [5.0, 6.0, 7.0, 1.0]]


def f32(value: float) -> float:
    return struct.unpack("<f", struct.pack("<f", value))[0]


def saved(tmp_path, *children) -> dict:
    """Saves the children under the root, each holding a light so that the
    save's graph passes keep it as it was built."""
    model = pytav.Model()
    root = model.getRootTransform()
    for child in children:
        keep(model, root.addChild(child))
    return save_and_read(model, tmp_path / "scene.tav")


# --- matrices ---------------------------------------------------------------

@pytest.mark.parametrize("make", [
    lambda: pytav.Transform("n", COLUMN_ROWS),
    lambda: pytav.Bone("n", COLUMN_ROWS),
])
def test_matrix_is_stored_transposed_with_translation_in_fourth_row(tmp_path, make):
    assert node_named(saved(tmp_path, make()), "n")["matrix"] == ROW_FORM


@pytest.mark.parametrize("cls", [pytav.Transform, pytav.Bone])
def test_set_matrix_replaces_the_matrix_even_after_attaching(tmp_path, cls):
    node = cls("n")
    model = pytav.Model()
    keep(model, model.getRootTransform().addChild(node))
    node.setMatrix(COLUMN_ROWS)
    assert node_named(save_and_read(model, tmp_path / "m.tav"), "n")["matrix"] == ROW_FORM


def test_animation_base_matrix_and_inverted_bone_matrix_are_transposed(tmp_path):
    animation = pytav.AnimationNode("anim")
    animation.setBaseMatrix(COLUMN_ROWS)
    # Without a key the save would turn it into a transform with this matrix.
    animation.setRotationAnimation([(1, [(0, (1, 0, 0, 0))])])
    bone = pytav.Bone("bone")
    bone.setInvertedBaseBoneMatrix(COLUMN_ROWS)
    data = saved(tmp_path, animation, bone)
    assert node_named(data, "anim")["matrix"] == ROW_FORM
    assert node_named(data, "bone")["bone_matrix"] == ROW_FORM
    assert node_named(data, "bone")["matrix"] == IDENTITY


def test_matrix_values_are_widened_from_32_bit_floats(tmp_path):
    rows = [(1, 0, 0, 0.1), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]
    matrix = node_named(saved(tmp_path, pytav.Transform("n", rows)), "n")["matrix"]
    assert matrix[3][0] == f32(0.1) != 0.1


@pytest.mark.parametrize("rows", [[], COLUMN_ROWS[:3], COLUMN_ROWS + [(0, 0, 0, 1)]])
@pytest.mark.parametrize("apply", [
    lambda node, rows: node.setMatrix(rows),
    lambda node, rows: node.setInvertedBaseBoneMatrix(rows),
])
def test_matrix_without_four_rows_is_refused_and_changes_nothing(tmp_path, rows, apply):
    bone = pytav.Bone("n", COLUMN_ROWS)
    with pytest.raises(ValueError, match="^matrix must have 4 rows of 4 values$"):
        apply(bone, rows)
    data = saved(tmp_path, bone)
    assert node_named(data, "n")["matrix"] == ROW_FORM
    assert node_named(data, "n")["bone_matrix"] == IDENTITY


@pytest.mark.parametrize("cls", [pytav.Transform, pytav.Bone])
def test_constructor_with_short_matrix_leaves_no_model_object(cls):
    gc.collect()
    before = pytav.get_num_alived_objects()
    with pytest.raises(ValueError, match="matrix must have 4 rows of 4 values"):
        cls("n", COLUMN_ROWS[:2])
    gc.collect()
    assert pytav.get_num_alived_objects() == before


# --- level of detail ------------------------------------------------------

@pytest.mark.parametrize("distances, ranges", [
    ([10, 20, 50], [[0.0, 100.0], [100.0, 400.0], [400.0, 2500.0]]),
    ([], []),
    # Neither sorted nor checked.
    ([50, 10], [[0.0, 2500.0], [2500.0, 100.0]]),
    ([0.1], [[0.0, f32(0.1) ** 2]]),
])
def test_lod_ranges_are_squared_distances_in_given_order(tmp_path, distances, ranges):
    assert node_named(saved(tmp_path, pytav.Lod("lod", distances)), "lod")["ranges"] == ranges


# --- visibility -----------------------------------------------------------

# A visibility node whose entries have no range at all is saved as a plain
# node, which the save then folds away; this entry keeps one range in it.
KEEPER_ENTRY = (8, [(0.0, 1.0)])
KEEPER_RANGES = {"argument": 8, "ranges": [[-1.0, 1.0]]}


@pytest.mark.parametrize("keys, ranges", [
    ([], []),
    ([(0.0, 1.0)], [[-1.0, 1.0]]),
    ([(0.0, 0.5)], [[-1.0, 1.0]]),
    ([(0.0, 0.0)], []),
    ([(-1, 0), (0, 1), (0.5, 0)], [[0.0, 0.5]]),
    ([(-1, 1), (1, 1)], [[-1.0, 1.0001]]),
    ([(-1, 1), (-0.5, 0), (0, 1), (0.5, 0), (0.75, 1)], [[-1.0, -0.5], [0.0, 0.5], [0.75, 1.0001]]),
    # A range that would open at or past its closing point is left out.
    ([(-1, 0), (2, 1)], []),
    # Keys are taken as given, not sorted.
    ([(0.5, 0), (-1, 1), (0, 0)], [[-1.0, 0.0]]),
])
def test_visible_ranges_from_keys(tmp_path, keys, ranges):
    node = pytav.VisibilityNode("vis")
    node.setArguments([(3, keys), KEEPER_ENTRY])
    assert node_named(saved(tmp_path, node), "vis")["arguments"] == [
        {"argument": 3, "ranges": ranges}, KEEPER_RANGES]


def test_visibility_entries_keep_input_order_and_replace_earlier_ones(tmp_path):
    node = pytav.VisibilityNode("vis")
    node.setArguments([(1, [(0.0, 1.0)])])
    node.setArguments([(9, [(0.0, 0.0)]), (2, [(0.0, 1.0)])])
    assert node_named(saved(tmp_path, node), "vis")["arguments"] == [
        {"argument": 9, "ranges": []},
        {"argument": 2, "ranges": [[-1.0, 1.0]]},
    ]


@pytest.mark.parametrize("argument", [-1, 2 ** 32, 1.5, "3"])
def test_argument_numbers_outside_unsigned_32_bits_raise_type_error(argument):
    with pytest.raises(TypeError):
        pytav.VisibilityNode("vis").setArguments([(argument, [])])
    with pytest.raises(TypeError):
        pytav.AnimationNode("anim").setPositionAnimation([(argument, [])])


# --- animation keys ---------------------------------------------------------

def animation(tmp_path, **channels) -> dict:
    node = pytav.AnimationNode("anim")
    for channel, entries in channels.items():
        getattr(node, f"set{channel.capitalize()}Animation")(entries)
    return node_named(saved(tmp_path, node), "anim")


LINEAR = [(0, (0, 0, 0)), (0.5, (1, 1, 1)), (1, (2, 2, 2))]


@pytest.mark.parametrize("middle, times", [
    ((1, 1, 1), [0.0, 1.0]),
    ((1, 1, 1.00005), [0.0, 1.0]),
    ((1, 1, 1.001), [0.0, 0.5, 1.0]),
])
def test_position_keys_are_dropped_only_within_tolerance_of_the_line(tmp_path, middle, times):
    node = animation(tmp_path, position=[(4, [(0, (0, 0, 0)), (0.5, middle), (1, (2, 2, 2))])])
    assert node["class"] == "model::ArgPositionNode"
    (entry,) = node["position"]
    assert entry["argument"] == 4
    assert [k[0] for k in entry["keys"]] == times
    assert entry["keys"][-1] == [1.0, 2.0, 2.0, 2.0]
    if len(times) == 3:
        assert entry["keys"][1][3] == f32(1.001)


def test_unsorted_keys_are_sorted_by_time(tmp_path):
    keys = [(1, (2, 0, 0)), (-1, (5, 0, 0)), (0, (0, 0, 0))]
    stored = animation(tmp_path, position=[(0, keys)])["position"][0]["keys"]
    assert stored == [[-1.0, 5.0, 0.0, 0.0], [0.0, 0.0, 0.0, 0.0], [1.0, 2.0, 0.0, 0.0]]


@pytest.mark.parametrize("keys", [[], [(0.25, (1, 2, 3))]])
def test_fewer_than_two_keys_are_kept_as_they_are(tmp_path, keys):
    # The second entry's key keeps the node an animation node when the entry
    # under test holds none (a node without any key is saved as a transform).
    stored = animation(tmp_path, position=[(0, keys), (1, [(0.5, (9, 9, 9))])])["position"]
    assert stored[0]["keys"] == [[t, *map(float, v)] for t, v in keys]
    assert stored[1]["keys"] == [[0.5, 9.0, 9.0, 9.0]]


def test_constant_keys_reduce_to_the_first(tmp_path):
    keys = [(t / 10, (1, 1, 1)) for t in range(11)]
    assert animation(tmp_path, position=[(0, keys)])["position"][0]["keys"] == [[0.0, 1.0, 1.0, 1.0]]


def test_nan_key_time_is_refused():
    node = pytav.AnimationNode("anim")
    with pytest.raises(ValueError, match="key time is not a number"):
        node.setPositionAnimation([(0, [(0, (0, 0, 0)), (math.nan, (1, 1, 1))])])


def test_scale_keys_reduce_and_leave_orientation_keys_empty(tmp_path):
    node = animation(tmp_path, scale=[(7, LINEAR)])
    assert node["class"] == "model::ArgScaleNode"
    assert node["scale"] == [
        {"argument": 7, "orientation_keys": [], "scale_keys": [[0.0, 0.0, 0.0, 0.0], [1.0, 2.0, 2.0, 2.0]]}
    ]


def test_rotation_key_is_stored_with_scalar_part_last(tmp_path):
    node = animation(tmp_path, rotation=[(2, [(0.5, (1, 0, 0, 0))])])
    assert node["class"] == "model::ArgRotationNode"
    assert node["rotation"] == [{"argument": 2, "keys": [[0.5, 0.0, 0.0, 0.0, 1.0]]}]


def quat_z(degrees: float, sign: float = 1.0) -> tuple:
    """(w, x, y, z) of a rotation about z."""
    half = math.radians(degrees) / 2
    return (sign * math.cos(half), 0.0, 0.0, sign * math.sin(half))


def test_rotation_keys_reduce_along_the_shorter_path(tmp_path):
    # The end key is the 90 degree rotation given with the opposite sign; the
    # middle key lies halfway on the short arc and is reproduced by it.
    keys = [(0, quat_z(0)), (0.5, quat_z(45)), (1, quat_z(90, -1.0))]
    stored = animation(tmp_path, rotation=[(0, keys)])["rotation"][0]["keys"]
    assert [k[0] for k in stored] == [0.0, 1.0]
    assert stored[1][4] == pytest.approx(-math.cos(math.radians(45)), abs=1e-7)


def test_rotation_key_on_the_long_path_is_kept(tmp_path):
    keys = [(0, quat_z(0)), (0.5, quat_z(-135)), (1, quat_z(90, -1.0))]
    assert len(animation(tmp_path, rotation=[(0, keys)])["rotation"][0]["keys"]) == 3


def test_negated_quaternion_keys_interpolate_to_the_same_rotation(tmp_path):
    keys = [(0, (1, 0, 0, 0)), (0.5, (1, 0, 0, 0)), (1, (-1, 0, 0, 0))]
    stored = animation(tmp_path, rotation=[(0, keys)])["rotation"][0]["keys"]
    assert stored == [[0.0, 0.0, 0.0, 0.0, 1.0], [1.0, 0.0, 0.0, 0.0, -1.0]]


def test_animation_entries_keep_input_order_and_channels_combine(tmp_path):
    node = animation(
        tmp_path,
        position=[(5, LINEAR), (1, [])],
        rotation=[(3, [(0, (1, 0, 0, 0))])],
    )
    assert node["class"] == "model::ArgAnimationNode"
    assert [entry["argument"] for entry in node["position"]] == [5, 1]
    assert node["base_rotation"] == [0.0, 0.0, 0.0, 1.0]


# --- tree ---------------------------------------------------------------

def test_add_child_returns_the_object_passed_in():
    parent = pytav.Node("p")
    for child in (pytav.Node("n"), pytav.Transform("t"), pytav.AnimationNode("a"), pytav.Bone("b"),
                  pytav.Lod("l", [1]), pytav.NumberRoot("r"), pytav.VisibilityNode("v")):
        assert parent.addChild(child) is child


def test_add_child_calls_chain_into_a_line(tmp_path):
    model = pytav.Model()
    # A level-of-detail node keeps its children as they are, plain ones too.
    model.getRootTransform().addChild(pytav.Lod("lod", [1])).addChild(pytav.Node("n"))
    data = save_and_read(model, tmp_path / "chain.tav")
    assert [(n["name"], n["parent"]) for n in data["nodes"]] == [("root", None), ("lod", 0), ("n", 1)]


def test_children_keep_order_and_moving_a_child_detaches_it(tmp_path):
    model = pytav.Model()
    root = model.getRootTransform()
    # Level-of-detail parents keep the plain c wherever it hangs; a, left
    # childless, stays for the light it holds.
    a, b, c = keep(model, pytav.Lod("a", [1])), pytav.Lod("b", [1]), pytav.Node("c")
    root.addChild(a)
    root.addChild(b)
    a.addChild(c)
    b.addChild(c)
    root.addChild(a)  # moves a behind b
    data = save_and_read(model, tmp_path / "tree.tav")
    assert [(n["name"], n["parent"]) for n in data["nodes"]] == [
        ("root", None), ("b", 0), ("c", 1), ("a", 0)]


def test_node_dropped_by_python_lives_on_in_the_tree(tmp_path):
    model = pytav.Model()
    # Only the tree holds "kept": the light hangs off its bone child, which a
    # transform neither folds into nor gives up.
    keep(model, model.getRootTransform().addChild(pytav.Transform("kept", COLUMN_ROWS)).addChild(pytav.Bone("b")))
    gc.collect()
    data = save_and_read(model, tmp_path / "kept.tav")
    assert node_named(data, "kept")["matrix"] == ROW_FORM
    assert node_named(data, "b")["parent"] == node_named(data, "kept")["index"]


def test_adding_a_node_below_itself_raises_runtime_error_with_message_only():
    top, middle = pytav.Node("top"), pytav.Node("middle")
    top.addChild(middle)
    for parent, child in ((top, top), (middle, top)):
        with pytest.raises(RuntimeError) as error:
            parent.addChild(child)
        assert ".cpp" not in str(error.value) and ".h" not in str(error.value)


@pytest.mark.parametrize("child", [None, "node", pytav.PropertyFloat()])
def test_add_child_refuses_non_nodes(child):
    with pytest.raises(TypeError):
        pytav.Node("n").addChild(child)


def test_number_root_is_saved_as_plain_node(tmp_path):
    number = pytav.NumberRoot("digits")
    number.setControls([(3, 1.5, -1, 0)])
    number.setControls([(2.9, 0, -0.5, 1)])
    node = node_named(saved(tmp_path, number), "digits")
    assert node["class"] == "model::Node"


@pytest.mark.parametrize("controls", [[(math.nan, 0, 0, 0)], [(0, 0, 2.0 ** 31, 0)], [(1e30, 0, 0, 0)]])
def test_number_controls_with_unrepresentable_arguments_are_refused(controls):
    with pytest.raises(ValueError, match="control argument"):
        pytav.NumberRoot("digits").setControls(controls)
