import math

import pytest

import pytav
from support import light_parameter, lights, save_and_read

NAME = "_DUMMY_NAME_"


def stored(tmp_path, brightness=None, color=None) -> dict:
    """The brightness and color records of a light given the properties."""
    model = pytav.Model()
    light = pytav.OmniLight("lamp")
    light.setControlNode(model.getRootTransform())
    if brightness is not None:
        light.setBrightness(brightness)
    if color is not None:
        light.setColor(color)
    model.addOmniLight(light)
    record = lights(save_and_read(model, tmp_path / "p.tav"))[0]
    return {"brightness": light_parameter(record, "brightness"), "color": light_parameter(record, "color")}


@pytest.mark.parametrize("make, value", [
    (lambda: pytav.PropertyFloat(), 0.0),
    (lambda: pytav.PropertyFloat(2.5), 2.5),
    # An int picks the value constructor, not the animated one.
    (lambda: pytav.PropertyFloat(3), 3.0),
])
def test_static_float_property(tmp_path, make, value):
    assert stored(tmp_path, brightness=make())["brightness"] == {
        "class": "model::Property<float>", "name": NAME, "value": value}


@pytest.mark.parametrize("make, value", [
    (lambda: pytav.PropertyFloat3(), [0.0, 0.0, 0.0]),
    (lambda: pytav.PropertyFloat3((1, 2.5, -3)), [1.0, 2.5, -3.0]),
])
def test_static_float3_property(tmp_path, make, value):
    assert stored(tmp_path, color=make())["color"] == {
        "class": "model::Property<osg::Vec3f>", "name": NAME, "value": value}


@pytest.mark.parametrize("keys, expected", [
    ([(0, 1), (0.5, 1.5), (1, 2)], [[0.0, 1.0], [1.0, 2.0]]),
    ([(0, 1), (0.5, 1.6), (1, 2)], [[0.0, 1.0], [0.5, pytest.approx(1.6)], [1.0, 2.0]]),
    ([(0, 1), (0.5, 1.5005), (1, 2)], [[0.0, 1.0], [1.0, 2.0]]),
    ([(1, 2), (0, 1)], [[0.0, 1.0], [1.0, 2.0]]),
    ([(1, 2), (0, 5), (0.5, 0)], [[0.0, 5.0], [0.5, 0.0], [1.0, 2.0]]),
    ([], []),
    ([(0.25, 7)], [[0.25, 7.0]]),
])
def test_animated_float_keys_are_sorted_and_reduced(tmp_path, keys, expected):
    prop = pytav.PropertyFloat()
    prop.setAnim(9, keys)
    assert stored(tmp_path, brightness=prop)["brightness"] == {
        "class": "model::AnimatedProperty<float>", "name": NAME, "argument": 9, "keys": expected}


def test_animated_constructor_equals_default_then_set_anim(tmp_path):
    record = stored(tmp_path, brightness=pytav.PropertyFloat(4, [(1, 2), (0, 1)]))["brightness"]
    assert record["argument"] == 4 and record["keys"] == [[0.0, 1.0], [1.0, 2.0]]


def test_animated_float3_keys_are_sorted_and_reduced_per_component(tmp_path):
    # 0.5 lies on the line from 0 to 1 and 0.25 leaves it in y alone, but
    # once 0.25 is kept the curve from it to 1 misses 0.5 in y, which stays.
    keys = [(1, (2, 0, 4)), (0, (0, 0, 0)), (0.5, (1, 0, 2)), (0.25, (0.5, 0.5, 1))]
    record = stored(tmp_path, color=pytav.PropertyFloat3(6, keys))["color"]
    assert record["class"] == "model::AnimatedProperty<osg::Vec3f>"
    assert record["keys"] == [[0.0, 0.0, 0.0, 0.0], [0.25, 0.5, 0.5, 1.0], [0.5, 1.0, 0.0, 2.0], [1.0, 2.0, 0.0, 4.0]]


@pytest.mark.parametrize("cls, keys", [
    (pytav.PropertyFloat, [(0, 1), (math.nan, 2)]),
    (pytav.PropertyFloat3, [(math.nan, (0, 0, 0)), (1, (1, 1, 1))]),
])
def test_nan_key_time_is_refused_and_the_property_keeps_its_object(tmp_path, cls, keys):
    prop = cls()
    with pytest.raises(ValueError, match="key time is not a number"):
        prop.setAnim(1, keys)
    record = stored(tmp_path, **{"brightness" if cls is pytav.PropertyFloat else "color": prop})
    assert all(not r["class"].startswith("model::Animated") for r in record.values())


def test_set_swaps_in_a_new_object_leaving_the_light_with_the_old(tmp_path):
    prop = pytav.PropertyFloat(3)
    model = pytav.Model()
    light = pytav.OmniLight("lamp")
    light.setControlNode(model.getRootTransform())
    light.setBrightness(prop)
    model.addOmniLight(light)
    prop.set(5)
    prop.setAnim(1, [(0, 9)])
    record = lights(save_and_read(model, tmp_path / "old.tav"))[0]
    assert light_parameter(record, "brightness")["value"] == 3.0


@pytest.mark.parametrize("call", [
    lambda: pytav.PropertyFloat((1, 2)),
    lambda: pytav.PropertyFloat2((1, 2, 3)),
    lambda: pytav.PropertyFloat3((1, 2)),
    lambda: pytav.PropertyFloat3(-1, [(0, (1, 2, 3))]),
    lambda: pytav.PropertyFloat(2 ** 32, [(0, 1)]),
    lambda: pytav.PropertyFloat().setAnim(0, [(0, (1, 2))]),
])
def test_values_of_the_wrong_shape_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
