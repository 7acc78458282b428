# ShellNode, SegmentsNode, Connector and the Model calls that add them.

import pytest

import pytav
from support import _set, pytav_warnings, save_and_read

TRIANGLE = [0, 0, 0, 1, 0, 0, 0, 1, 0]


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
    hull = _set(pytav.ShellNode("hull_col"), ("setPositions", positions), ("setIndices", indices),
                ("setControlNode", model.getRootTransform()))
    capfd.readouterr()
    assert model.addShellNode(hull) is None
    assert pytav_warnings(capfd) == [f"hull_col: {message}"]
    # The exporter must learn that its collision mesh is missing: no file
    # without it, and an earlier file stays as it was.
    path = tmp_path / "model.tav"
    path.write_bytes(b"earlier")
    assert model.save(str(path), 10) == f"Shell 'hull_col': {message}"
    assert path.read_bytes() == b"earlier"


# --- segments ------------------------------------------------------------


def test_segments_are_saved_in_order_each_start_then_end(tmp_path):
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    pairs = [((0, 0, 0), (1, 2, 3)), ((-1, 0.5, 2), (4, 4, -4)), ((7, 7, 7), (7, 7, 7))]
    model.addSegmentsNode(_set(pytav.SegmentsNode("rails"), ("set", pairs), ("setControlNode", holder)))
    (record,) = save_and_read(model, tmp_path / "s.tav")["sections"]["SHELL_NODES"]
    assert record["segments"] == [{"start": list(a), "end": list(b)} for a, b in pairs]
