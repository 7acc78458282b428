# ShellNode, SegmentsNode, Connector and the Model calls that add them.

import pytest

import pytav
from support import pytav_warnings, save_and_read

TRIANGLE = [0, 0, 0, 1, 0, 0, 0, 1, 0]


def shell(name="shell", positions=TRIANGLE, indices=(0, 1, 2)) -> pytav.ShellNode:
    node = pytav.ShellNode(name)
    if positions is not None:
        node.setPositions(list(positions))
    if indices is not None:
        node.setIndices(list(indices))
    return node





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


# --- segments ------------------------------------------------------------




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


