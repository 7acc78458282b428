# Scene nodes as saved: matrices, level-of-detail ranges, visibility ranges and the tree.

import numpy as np
import pytest

import pytav
from support import _set, keep, node_named, save_and_read

# A column-vector matrix with a translation (5, 6, 7) and a distinct element.
COLUMN_ROWS = [(1, 0, 0, 5), (0, 1, 0, 6), (0, 0, 1, 7), (0, 2, 0, 1)]
ROW_FORM = [[1.0, 0.0, 0.0, 0.0], [0.0, 1.0, 0.0, 2.0], [0.0, 0.0, 1.0, 0.0], [5.0, 6.0, 7.0, 1.0]]


def saved(tmp_path, *children) -> dict:
    # Saves the children under the root, each holding a light so that the
    # save's graph passes keep it as it was built.
    model = pytav.Model()
    for child in children:
        keep(model, model.getRootTransform().addChild(child))
    return save_and_read(model, tmp_path / "scene.tav")


# --- matrices ---------------------------------------------------------------

# Stored transposed, the translation in the fourth row; rows past the fourth are ignored.
@pytest.mark.parametrize("extra", [[], [(9, 9, 9, 9)], [(float("nan"),) * 4] * 3])
@pytest.mark.parametrize("make", [
    lambda rows: pytav.Transform("n", rows),
    lambda rows: pytav.Bone("n", rows),
    lambda rows: pytav.AnimationNode("n").setBaseMatrix(rows),
])
def test_five_row_matrix_refused_instead_of_its_extra_rows_being_ignored(tmp_path, make, extra):
    node = make(COLUMN_ROWS + extra)
    if node is not None:
        assert node_named(saved(tmp_path, node), "n")["matrix"] == ROW_FORM
    with pytest.raises(ValueError, match="matrix must have 4 rows of 4 values"):
        make(COLUMN_ROWS[:3])


# --- level of detail ------------------------------------------------------

@pytest.mark.parametrize("distances, ranges", [
    ([10, 20, 50], [[0.0, 100.0], [100.0, 400.0], [400.0, 2500.0]]),
    ([], []),
    # Neither sorted nor checked.
    ([50, 10], [[0.0, 2500.0], [2500.0, 100.0]]),
    ([0.1], [[0.0, float(np.float32(0.1)) ** 2]]),
])
def test_lod_ranges_are_squared_distances_in_given_order(tmp_path, distances, ranges):
    assert node_named(saved(tmp_path, pytav.Lod("lod", distances)), "lod")["ranges"] == ranges


# --- visibility -----------------------------------------------------------

# A visibility node whose entries have no range at all is saved as a plain
# node, which the save then folds away; this entry keeps one range in it.
KEEPER_ENTRY = (8, [(0.0, 1.0)])
KEEPER_RANGES = {"argument": 8, "ranges": [[-1.0, 1.0]]}
BELOW_HALF = float(np.nextafter(np.float32(0.5), np.float32(0)))
BELOW_END = float(np.nextafter(np.float32(1.0001), np.float32(0)))


@pytest.mark.parametrize("keys, ranges", [
    ([], []),
    ([(0.0, 0.5)], [[-1.0, 1.0]]),
    ([(-1, 1), (-0.5, 0), (0, 1), (0.5, 0), (0.75, 1)], [[-1.0, -0.5], [0.0, 0.5], [0.75, 1.0001]]),
    # Keys are taken as given, not sorted.
    ([(0.5, 0), (-1, 1), (0, 0)], [[-1.0, 0.0]]),
    # 0.5 shows, the float just below it hides, whether opening or closing.
    ([(-1, 0), (0, 0.5), (0.5, 0)], [[0.0, 0.5]]),
    ([(-1, 1), (0, 0.5), (0.5, BELOW_HALF)], [[-1.0, 0.5]]),
    ([(-1, 0), (0, BELOW_HALF), (0.5, 1)], [[0.5, 1.0001]]),
    ([(0.0, BELOW_HALF)], []),
    ([(0.25, 1), (0.25, 0)], [[0.25, 0.25]]),
    # A range left open ends at 1.0001 when it starts below that, else is left out.
    ([(-1, 0), (BELOW_END, 1)], [[BELOW_END, 1.0001]]),
    ([(-1, 0), (float(np.float32(1.0001)), 1)], []),
])
def test_visible_ranges_from_keys(tmp_path, keys, ranges):
    node = _set(pytav.VisibilityNode("vis"), ("setArguments", [(3, keys), KEEPER_ENTRY]))
    assert node_named(saved(tmp_path, node), "vis")["arguments"] == [
        {"argument": 3, "ranges": ranges}, KEEPER_RANGES]


# --- tree ---------------------------------------------------------------


