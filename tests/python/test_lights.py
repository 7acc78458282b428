import gc

import pytest

import pytav
from support import light_parameter, lights, save_and_read

NAME = "_DUMMY_NAME_"
# A transform that lights hang from keeps its place in the saved tree: a
# light cannot take the matrix into its own data.
SHIFT = [(1, 0, 0, 1), (0, 1, 0, 2), (0, 0, 1, 3), (0, 0, 0, 1)]


def saved_lights(tmp_path, *items) -> list:
    """Saves a model with the given lights under a transform "holder"."""
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder", SHIFT))
    for light in items:
        light.setControlNode(holder)
        if isinstance(light, pytav.SpotLight):
            model.addSpotLight(light)
        else:
            model.addOmniLight(light)
    return lights(save_and_read(model, tmp_path / "lights.tav"))


def test_new_lights_carry_kind_parent_and_default_parameters(tmp_path):
    omni, spot = saved_lights(tmp_path, pytav.OmniLight("omni"), pytav.SpotLight("spot"))
    assert (omni["name"], omni["kind"], omni["parent"]) == ("omni", 0, 1)
    assert (spot["name"], spot["kind"], spot["parent"]) == ("spot", 1, 1)
    assert [(p["name"], p["value"]) for p in omni["light_properties"]] == [
        ("color", [0.0, 0.0, 0.0]), ("brightness", 0.0), ("phi", 0.0), ("theta", 0.0),
        ("distance", 0.0), ("specularAmount", 1.0), ("softness", 0.0)]


def test_each_setter_fills_its_own_slot(tmp_path):
    spot = pytav.SpotLight("spot")
    spot.setColor(pytav.PropertyFloat3((1, 2, 3)))
    for value, setter in enumerate(
            ["setBrightness", "setPhi", "setTheta", "setDistance", "setSpecularAmount", "setSoftness"], 10):
        getattr(spot, setter)(pytav.PropertyFloat(value))
    (record,) = saved_lights(tmp_path, spot)
    assert [p["value"] for p in record["light_properties"]] == [[1.0, 2.0, 3.0], 10.0, 11.0, 12.0, 13.0, 14.0, 15.0]
    assert all(p["name"] == NAME for p in record["light_properties"])


def test_set_angles_with_static_fraction_gives_static_theta(tmp_path):
    spot = pytav.SpotLight("spot")
    spot.setAngles(pytav.PropertyFloat(40), pytav.PropertyFloat(0.25))
    (record,) = saved_lights(tmp_path, spot)
    assert light_parameter(record, "phi")["value"] == 40.0
    assert light_parameter(record, "theta") == {"class": "model::Property<float>", "name": NAME, "value": 30.0}


def test_set_angles_with_animated_fraction_gives_animated_theta(tmp_path):
    spot = pytav.SpotLight("spot")
    spot.setAngles(pytav.PropertyFloat(40), pytav.PropertyFloat(6, [(-1, 0), (1, 0.5)]))
    (record,) = saved_lights(tmp_path, spot)
    assert light_parameter(record, "theta") == {
        "class": "model::AnimatedProperty<float>", "name": NAME, "argument": 6,
        "keys": [[-1.0, 40.0], [1.0, 20.0]]}


def test_set_angles_reduces_theta_keys_within_its_tolerance(tmp_path):
    # The fraction keeps its bent middle key (off by 0.002); theta = p - p*f
    # with p = 0.25 is off by only 0.0005 there and loses it.
    spot = pytav.SpotLight("spot")
    spot.setAngles(pytav.PropertyFloat(0.25), pytav.PropertyFloat(2, [(0, 0), (0.5, 0.502), (1, 1)]))
    (record,) = saved_lights(tmp_path, spot)
    assert light_parameter(record, "theta")["keys"] == [[0.0, 0.25], [1.0, 0.0]]


def test_set_angles_uses_animated_phi_at_rest_position(tmp_path):
    spot = pytav.SpotLight("spot")
    phi = pytav.PropertyFloat(3, [(-1, 0), (1, 40)])
    spot.setAngles(phi, pytav.PropertyFloat(0.5))
    (record,) = saved_lights(tmp_path, spot)
    assert light_parameter(record, "phi")["keys"] == [[-1.0, 0.0], [1.0, 40.0]]
    assert light_parameter(record, "theta")["value"] == 10.0


def test_one_property_serves_two_lights_and_later_set_changes_neither(tmp_path):
    gc.collect()
    before = pytav.get_num_alived_objects()
    shared = pytav.PropertyFloat(3)
    first, second = pytav.OmniLight("a"), pytav.SpotLight("b")
    after_lights = pytav.get_num_alived_objects()
    first.setBrightness(shared)
    second.setBrightness(shared)
    # Shared, not copied: the setters made nothing and released the two
    # default brightness objects of the lights.
    assert pytav.get_num_alived_objects() == after_lights - 2
    shared.set(5)
    records = saved_lights(tmp_path, first, second)
    assert [light_parameter(r, "brightness")["value"] for r in records] == [3.0, 3.0]


def test_light_lives_on_in_the_model_after_its_wrapper_is_dropped(tmp_path):
    model = pytav.Model()
    light = pytav.OmniLight("kept")
    light.setControlNode(model.getRootTransform())
    light.setBrightness(pytav.PropertyFloat(2))
    model.addOmniLight(light)
    del light
    gc.collect()
    (record,) = lights(save_and_read(model, tmp_path / "kept.tav"))
    assert record["name"] == "kept" and light_parameter(record, "brightness")["value"] == 2.0


def test_control_node_can_be_replaced(tmp_path):
    model = pytav.Model()
    a = model.getRootTransform().addChild(pytav.Transform("a", SHIFT))
    b = model.getRootTransform().addChild(pytav.Transform("b", SHIFT))
    light = pytav.OmniLight("lamp")
    light.setControlNode(a)
    light.setControlNode(b)
    model.addOmniLight(light)
    data = save_and_read(model, tmp_path / "moved.tav")
    # Nothing hangs from a any more, so the save drops it as a dead end.
    assert [node["name"] for node in data["nodes"]] == ["root", "b"]
    assert lights(data)[0]["parent"] == 1


@pytest.mark.parametrize("call", [
    lambda m: m.addOmniLight(pytav.SpotLight("s")),
    lambda m: m.addSpotLight(pytav.OmniLight("o")),
    lambda m: pytav.OmniLight("o").setControlNode(None),
    lambda m: pytav.OmniLight("o").setColor(pytav.PropertyFloat(1)),
    lambda m: pytav.SpotLight("s").setAngles(pytav.PropertyFloat(1), None),
])
def test_wrong_argument_classes_raise_type_error(call):
    with pytest.raises(TypeError):
        call(pytav.Model())
