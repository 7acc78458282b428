"""ShellNode, SegmentsNode, Connector and the Model calls that add them."""

import re

import pytest

import pytav
from support import save_and_read

LOG_LINE = re.compile(r"^\S+ \S+ (\S+) +PYTAV \([^)]+\): (.*)$")
TRIANGLE = [0, 0, 0, 1, 0, 0, 0, 1, 0]


def pytav_warnings(capfd) -> list:
    lines = [LOG_LINE.match(line) for line in capfd.readouterr().err.splitlines()]
    return [m.group(2) for m in lines if m and m.group(1) == "WARNING"]


def saved_sections(tmp_path, *items) -> dict:
    """Saves a model holding the items under a transform "holder"."""
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    for item in items:
        item.setControlNode(holder)
        adder = {pytav.ShellNode: model.addShellNode, pytav.SegmentsNode: model.addSegmentsNode,
                 pytav.Connector: model.addConnector}[type(item)]
        adder(item)
    return save_and_read(model, tmp_path / "model.tav")["sections"]


def shell(name="shell", positions=TRIANGLE, indices=(0, 1, 2)) -> pytav.ShellNode:
    node = pytav.ShellNode(name)
    if positions is not None:
        node.setPositions(list(positions))
    if indices is not None:
        node.setIndices(list(indices))
    return node


# --- shells --------------------------------------------------------------

def test_complete_shell_is_saved_with_its_positions_and_indices(tmp_path):
    (record,) = saved_sections(tmp_path, shell(positions=[0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4],
                                               indices=[0, 1, 2, 0, 2, 3]))["SHELL_NODES"]
    assert record["class"] == "model::ShellNode"
    assert record["name"] == "shell"
    assert record["vertex_format"] == [3] + [0] * 25
    assert record["vertices"] == [0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4]
    assert (record["primitive_kind"], record["indices"]) == (5, [0, 1, 2, 0, 2, 3])


@pytest.mark.parametrize("positions, indices, message", [
    (TRIANGLE, None, "Indices aren't set."),
    (TRIANGLE, [], "Indices aren't set."),
    (None, [0, 1, 2], "Vetex attribute POSITION0 isn't set."),
    (None, None, "Vetex attribute POSITION0 isn't set."),
    (TRIANGLE, [0, 1, 3], "Index 3 is out of range for 3 vertices."),
    (TRIANGLE, [0, 0xFFFFFFFF, 1], "Index 4294967295 is out of range for 3 vertices."),
])
def test_shell_whose_build_fails_makes_the_save_fail_naming_it(tmp_path, capfd, positions, indices, message):
    model = pytav.Model()
    hull = shell("hull_col", positions, indices)
    hull.setControlNode(model.getRootTransform())
    capfd.readouterr()
    assert model.addShellNode(hull) is None
    assert pytav_warnings(capfd) == [f"hull_col: {message}"]
    # The exporter must learn that its collision mesh is missing: no file
    # without it, and an earlier file stays as it was.
    path = tmp_path / "model.tav"
    path.write_bytes(b"earlier")
    assert model.save(str(path), 10) == f"Shell 'hull_col': {message}"
    assert path.read_bytes() == b"earlier"


def test_every_failed_shell_is_named_in_the_order_added(tmp_path):
    model = pytav.Model()
    for node in (shell("a", indices=None), shell("good"), shell("b", indices=[0, 1, 5])):
        node.setControlNode(model.getRootTransform())
        model.addShellNode(node)
    path = tmp_path / "model.tav"
    assert model.save(str(path), 20) == ("Shell 'a': Indices aren't set. "
                                         "Shell 'b': Index 5 is out of range for 3 vertices.")
    assert not path.exists()


def test_failed_shell_mended_and_added_again_is_saved(tmp_path):
    model = pytav.Model()
    node = shell("hull", indices=[0, 1, 3])
    node.setControlNode(model.getRootTransform())
    model.addShellNode(node)
    assert model.save(str(tmp_path / "first.tav"), 10) != ""
    node.setIndices([0, 1, 2])
    model.addShellNode(node)
    records = save_and_read(model, tmp_path / "model.tav")["sections"]["SHELL_NODES"]
    assert {(r["name"], tuple(r["indices"])) for r in records} == {("hull", (0, 1, 2))}


def test_shell_positions_in_partial_vertices_are_refused_and_the_earlier_ones_kept(tmp_path):
    node = shell()
    with pytest.raises(ValueError, match="3 values per vertex"):
        node.setPositions([0, 0, 0, 1])
    (record,) = saved_sections(tmp_path, node)["SHELL_NODES"]
    assert record["vertices"] == TRIANGLE


def test_shell_data_set_after_adding_reaches_the_model_only_when_added_again(tmp_path):
    model = pytav.Model()
    node = shell()
    node.setControlNode(model.getRootTransform())
    model.addShellNode(node)
    node.setPositions([0, 0, 0, 7, 0, 0, 0, 7, 0])
    (record,) = save_and_read(model, tmp_path / "a.tav")["sections"]["SHELL_NODES"]
    assert record["vertices"] == TRIANGLE


# --- segments ------------------------------------------------------------

def test_one_segment_is_stored_as_its_two_points(tmp_path):
    segments = pytav.SegmentsNode("lines")
    segments.set([((0, 0, 0), (1, 2, 3))])
    (record,) = saved_sections(tmp_path, segments)["SHELL_NODES"]
    assert (record["class"], record["name"]) == ("model::SegmentsNode", "lines")
    assert record["segments"] == [{"start": [0, 0, 0], "end": [1, 2, 3]}]


def test_second_set_replaces_the_segments_and_an_empty_list_leaves_none(tmp_path):
    segments = pytav.SegmentsNode("lines")
    segments.set([((0, 0, 0), (1, 1, 1)), ((2, 2, 2), (3, 3, 3))])
    segments.set([((4, 5, 6), (7, 8, 9))])
    (record,) = saved_sections(tmp_path, segments)["SHELL_NODES"]
    assert record["segments"] == [{"start": [4, 5, 6], "end": [7, 8, 9]}]
    segments.set([])
    assert saved_sections(tmp_path, segments)["SHELL_NODES"] == []


def test_segments_set_after_adding_change_the_model(tmp_path):
    model = pytav.Model()
    segments = pytav.SegmentsNode("lines")
    segments.setControlNode(model.getRootTransform())
    model.addSegmentsNode(segments)
    segments.set([((1, 0, 0), (0, 1, 0))])
    (record,) = save_and_read(model, tmp_path / "a.tav")["sections"]["SHELL_NODES"]
    assert record["segments"] == [{"start": [1, 0, 0], "end": [0, 1, 0]}]


# --- connectors ----------------------------------------------------------

def test_connector_keeps_its_parent_and_properties_in_call_order(tmp_path):
    model = pytav.Model()
    # A connector can't take a transform into itself, so its moved parent
    # stays in the saved tree.
    hook_point = model.getRootTransform().addChild(
        pytav.Transform("hook_point", [(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 5), (0, 0, 0, 1)]))
    connector = pytav.Connector("hook")
    connector.setControlNode(hook_point)
    connector.setPropertyFloat("length", 2.5)
    connector.setPropertyString("kind", "tow")
    connector.setPropertyString("empty", "")
    model.addConnector(connector)
    data = save_and_read(model, tmp_path / "a.tav")
    (record,) = data["sections"]["CONNECTORS"]
    assert (record["class"], record["name"]) == ("model::Connector", "hook")
    assert data["nodes"][record["parent"]]["name"] == "hook_point"
    assert record["properties"] == [
        {"class": "model::Property<float>", "name": "length", "value": 2.5},
        {"class": "model::Property<const char*>", "name": "kind", "value": "tow"},
        {"class": "model::Property<const char*>", "name": "empty", "value": ""},
    ]


def test_repeated_connector_property_name_replaces_in_place(tmp_path):
    connector = pytav.Connector("hook")
    connector.setPropertyFloat("a", 1)
    connector.setPropertyFloat("b", 2)
    connector.setPropertyString("a", "one")
    (record,) = saved_sections(tmp_path, connector)["CONNECTORS"]
    assert [(p["name"], p["value"]) for p in record["properties"]] == [("a", "one"), ("b", 2.0)]
