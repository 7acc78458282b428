# Model.save: versions, the three boxes of the root and a light outside the tree.

import os

import pytest

import pytav
from support import _set, save_and_read


@pytest.mark.parametrize("version, shown", [(11, 11), (0, 0), (9, 9), (21, 21), (65535, 65535), (65536 + 11, 11)])
def test_unsupported_version_is_returned_as_text_and_writes_nothing(tmp_path, version, shown):
    path = tmp_path / "never.tav"
    assert pytav.Model().save(str(path), version) == f"Unsupported version {shown}"
    assert not path.exists()


def test_light_box_grows_the_bounding_box_by_the_longest_light_reach(tmp_path):
    model = pytav.Model()
    model.addOmniLight(_set(pytav.OmniLight("lamp"), ("setControlNode", model.getRootTransform()),
                            ("setDistance", pytav.PropertyFloat(5.0))))
    model.addSpotLight(_set(pytav.SpotLight("far"), ("setControlNode", model.getRootTransform()),
                            ("setDistance", pytav.PropertyFloat(1, [(0, 3), (1, 12)]))))
    # The longest reach is not the last light's.
    model.addOmniLight(_set(pytav.OmniLight("near"), ("setControlNode", model.getRootTransform()),
                            ("setDistance", pytav.PropertyFloat(2.0))))
    model.setBBox((0, 0, 0, 1, 1, 1))
    assert save_and_read(model, tmp_path / "lit.tav")["root"]["light_box"] == {"min": [-12.0] * 3, "max": [13.0] * 3}


def test_light_outside_the_tree_fails_the_save_without_a_file(tmp_path):
    model = pytav.Model()
    model.addOmniLight(_set(pytav.OmniLight("stray"), ("setControlNode", pytav.Node("detached"))))
    path = tmp_path / "stray.tav"
    with pytest.raises(IndexError):
        model.save(str(path), 10)
    assert not os.listdir(tmp_path)
