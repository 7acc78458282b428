import gc
import os
import subprocess
import sys

import pytest

import pytav
import tavtools
from support import EMPTY_BOX, keep, lights, save_and_read

BOX_KEYS = ("bounding_box", "user_box", "light_box")


def box(*values) -> dict:
    return {"min": [float(v) for v in values[:3]], "max": [float(v) for v in values[3:]]}


def lit_model(distance=5.0) -> pytav.Model:
    model = pytav.Model()
    light = pytav.OmniLight("lamp")
    light.setControlNode(model.getRootTransform())
    light.setDistance(pytav.PropertyFloat(distance))
    model.addOmniLight(light)
    return model


def test_new_model_saves_root_node_and_three_empty_boxes(tmp_path):
    data = save_and_read(pytav.Model(), tmp_path / "empty.tav")
    assert data["version"] == 10
    assert [(n["class"], n["name"]) for n in data["nodes"]] == [("model::Node", "root")]
    assert all(data["root"][key] == EMPTY_BOX for key in BOX_KEYS)
    assert data["root"]["handle_count"] == 0
    assert all(not records for records in data["sections"].values())


@pytest.mark.parametrize("version, shown", [(11, 11), (0, 0), (9, 9), (21, 21), (65535, 65535), (65536 + 11, 11)])
def test_unsupported_version_is_returned_as_text_and_writes_nothing(tmp_path, version, shown):
    path = tmp_path / "never.tav"
    assert pytav.Model().save(str(path), version) == f"Unsupported version {shown}"
    assert not path.exists()


def test_version_is_cut_to_16_bits_so_65546_saves_format_10(tmp_path):
    assert save_and_read(pytav.Model(), tmp_path / "wide.tav", 65546)["version"] == 10


@pytest.mark.parametrize("version", [-1, 2 ** 32, 10.0, "10"])
def test_version_outside_unsigned_32_bits_raises_type_error(tmp_path, version):
    with pytest.raises(TypeError):
        pytav.Model().save(str(tmp_path / "x.tav"), version)


def test_unopenable_target_returns_cant_open_with_the_path(tmp_path):
    path = tmp_path / "missing-folder" / "x.tav"
    assert pytav.Model().save(str(path), 10) == f"Can't open {path}"
    assert not path.parent.exists()


def test_none_path_is_an_absent_path():
    assert pytav.Model().save(None, 10) == "Can't open "


def test_user_box_copies_a_valid_bounding_box(tmp_path):
    model = pytav.Model()
    model.setBBox((-1, -2, -3, 4, 5, 6))
    data = save_and_read(model, tmp_path / "box.tav")
    assert data["root"]["bounding_box"] == box(-1, -2, -3, 4, 5, 6)
    assert data["root"]["user_box"] == box(-1, -2, -3, 4, 5, 6)


def test_valid_user_box_is_kept(tmp_path):
    model = pytav.Model()
    model.setBBox((0, 0, 0, 1, 1, 1))
    model.setUserBox((0, 0, 0, 2, 2, 2))
    assert save_and_read(model, tmp_path / "user.tav")["root"]["user_box"] == box(0, 0, 0, 2, 2, 2)


def test_invalid_bounding_box_is_replaced_by_the_computed_one(tmp_path):
    model = pytav.Model()
    model.setBBox((0, 0, 0, -1, -1, -1))
    data = save_and_read(model, tmp_path / "invalid.tav")
    # Nothing is drawn, so the computed box is the empty one.
    assert data["root"]["bounding_box"] == EMPTY_BOX
    assert data["root"]["user_box"] == EMPTY_BOX


def test_light_box_is_empty_without_lights_whatever_was_set(tmp_path):
    model = pytav.Model()
    model.setLightBox((0, 0, 0, 1, 1, 1))
    assert save_and_read(model, tmp_path / "dark.tav")["root"]["light_box"] == EMPTY_BOX


def test_light_box_grows_the_bounding_box_by_the_longest_light_reach(tmp_path):
    model = lit_model(5.0)
    far = pytav.SpotLight("far")
    far.setControlNode(model.getRootTransform())
    far.setDistance(pytav.PropertyFloat(1, [(0, 3), (1, 12)]))
    model.addSpotLight(far)
    model.setBBox((0, 0, 0, 1, 1, 1))
    assert save_and_read(model, tmp_path / "lit.tav")["root"]["light_box"] == box(-12, -12, -12, 13, 13, 13)


def test_valid_light_box_with_lights_is_kept(tmp_path):
    model = lit_model()
    model.setBBox((0, 0, 0, 1, 1, 1))
    model.setLightBox((-2, -2, -2, 3, 3, 3))
    assert save_and_read(model, tmp_path / "kept.tav")["root"]["light_box"] == box(-2, -2, -2, 3, 3, 3)


def test_second_save_of_the_same_model_writes_the_same_file(tmp_path):
    model = lit_model()
    model.getRootTransform().addChild(pytav.Transform("t"))
    first, second = tmp_path / "1.tav", tmp_path / "2.tav"
    assert model.save(str(first), 10) == ""
    assert model.save(str(second), 10) == ""
    assert first.read_bytes() == second.read_bytes()


def test_root_transform_is_the_same_object_and_outlives_the_model(tmp_path):
    model = pytav.Model()
    root = model.getRootTransform()
    assert model.getRootTransform() is root
    assert isinstance(root, pytav.Node) and root.getName() == "root"
    del model
    gc.collect()
    assert root.getName() == "root"
    assert root.addChild(pytav.Node("late")).getName() == "late"


def test_root_transform_stays_valid_while_only_the_model_holds_it(tmp_path):
    model = pytav.Model()
    keep(model, model.getRootTransform().addChild(pytav.Bone("a")))
    gc.collect()
    keep(model, model.getRootTransform().addChild(pytav.Bone("b")))
    data = save_and_read(model, tmp_path / "two.tav")
    assert [n["name"] for n in data["nodes"]] == ["root", "a", "b"]


def test_same_light_added_twice_is_listed_twice(tmp_path):
    model = lit_model()
    light = pytav.OmniLight("twice")
    light.setControlNode(model.getRootTransform())
    model.addOmniLight(light)
    model.addOmniLight(light)
    assert [l["name"] for l in lights(save_and_read(model, tmp_path / "l.tav"))] == ["lamp", "twice", "twice"]


def build_and_drop(tmp_path, count: int, depth: int) -> None:
    model = pytav.Model()
    parent = model.getRootTransform()
    chain = []
    for i in range(count):
        node = pytav.Transform(f"t{i}") if i % 2 else pytav.AnimationNode(f"a{i}")
        if i % 2 == 0:
            node.setPositionAnimation([(i % 7, [(0, (0, 0, 0)), (1, (1, 2, 3))])])
        parent.addChild(node)
        if i % depth == 0:
            parent = node
            chain.append(node)
    light = pytav.SpotLight("spot")
    light.setControlNode(parent)
    shared = pytav.PropertyFloat(2, [(0, 1), (1, 4)])
    light.setAngles(shared, pytav.PropertyFloat(0.5))
    light.setBrightness(shared)
    model.addSpotLight(light)
    path = tmp_path / "big.tav"
    assert model.save(str(path), 10) == ""
    # The save folds the identity transforms away and drops the animation
    # leaves that hold nothing; the chain of animation nodes down to the light
    # stays.
    animated_chain = [node for node in chain if isinstance(node, pytav.AnimationNode)]
    assert len(tavtools.read(path)["nodes"]) == 1 + len(animated_chain)


@pytest.mark.parametrize("count, depth", [(10_000, 100), (10_000, 1)])
def test_building_saving_and_dropping_a_large_model_frees_every_model_object(tmp_path, count, depth):
    gc.collect()
    before = pytav.get_num_alived_objects()
    build_and_drop(tmp_path, count, depth)
    gc.collect()
    assert pytav.get_num_alived_objects() == before


def test_save_without_init_makes_the_thread_pools_on_demand(tmp_path):
    path = tmp_path / "noinit.tav"
    code = (
        "import pytav, sys\n"
        "m = pytav.Model()\n"
        "m.getRootTransform().addChild(pytav.Lod('t', [1])).addChild(pytav.Node('n'))\n"
        f"sys.exit(m.save({str(path)!r}, 10) != '')\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert [n["name"] for n in tavtools.read(path)["nodes"]] == ["root", "t", "n"]


def test_light_outside_the_tree_fails_the_save_without_a_file(tmp_path):
    model = pytav.Model()
    stray = pytav.OmniLight("stray")
    stray.setControlNode(pytav.Node("detached"))
    model.addOmniLight(stray)
    path = tmp_path / "stray.tav"
    with pytest.raises(IndexError):
        model.save(str(path), 10)
    assert not path.exists()
    assert not os.listdir(tmp_path)
