"""Omni and spot lights as saved: each property in its slot, the angles
setAngles derives, and static and animated properties."""

import pytest

import pytav
from support import light_parameter, lights, save_and_read

NAME = "_DUMMY_NAME_"
# A transform that lights hang from keeps its place in the saved tree.
SHIFT = [(1, 0, 0, 1), (0, 1, 0, 2), (0, 0, 1, 3), (0, 0, 0, 1)]


def saved_lights(tmp_path, *items) -> list:
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder", SHIFT))
    for light in items:
        light.setControlNode(holder)
        (model.addSpotLight if isinstance(light, pytav.SpotLight) else model.addOmniLight)(light)
    return lights(save_and_read(model, tmp_path / "lights.tav"))


def test_each_setter_fills_its_own_slot_and_a_new_light_keeps_the_defaults(tmp_path):
    spot = pytav.SpotLight("spot")
    spot.setColor(pytav.PropertyFloat3((1, 2, 3)))
    for value, setter in enumerate(["setBrightness", "setPhi", "setTheta", "setDistance", "setSpecularAmount",
                                             "setSoftness"], 10):
        getattr(spot, setter)(pytav.PropertyFloat(value))
    omni, record = saved_lights(tmp_path, pytav.OmniLight("omni"), spot)
    assert [(r["name"], r["kind"], r["parent"]) for r in (omni, record)] == [("omni", 0, 1), ("spot", 1, 1)]
    assert [p["value"] for p in omni["light_properties"]] == [[0.0, 0.0, 0.0], 0.0, 0.0, 0.0, 0.0, 1.0, 0.0]
    assert [p["value"] for p in record["light_properties"]] == [[1.0, 2.0, 3.0], 10.0, 11.0, 12.0, 13.0, 14.0, 15.0]
    assert all(p["name"] == NAME for p in record["light_properties"])


@pytest.mark.parametrize("phi, fraction, stored_phi, theta", [
    (pytav.PropertyFloat(40), pytav.PropertyFloat(0.25), {"value": 40.0}, {"value": 30.0}),
    (pytav.PropertyFloat(40), pytav.PropertyFloat(6, [(-1, 0), (1, 0.5)]), {"value": 40.0},
     {"argument": 6, "keys": [[-1.0, 40.0], [1.0, 20.0]]}),
    # An animated phi gives theta from its rest position.
    (pytav.PropertyFloat(3, [(-1, 0), (1, 40)]), pytav.PropertyFloat(0.5), {"argument": 3,
     "keys": [[-1.0, 0.0], [1.0, 40.0]]}, {"value": 10.0}),
])
def test_set_angles_gives_theta_as_phi_less_its_fraction(tmp_path, phi, fraction, stored_phi, theta):
    spot = pytav.SpotLight("spot")
    spot.setAngles(phi, fraction)
    (record,) = saved_lights(tmp_path, spot)
    for parameter, expected in (("phi", stored_phi), ("theta", theta)):
        assert {k: v for k, v in light_parameter(record, parameter).items() if k in expected} == expected


def test_one_property_serves_two_lights_and_a_later_set_changes_neither(tmp_path):
    shared = pytav.PropertyFloat(3)
    first, second = pytav.OmniLight("a"), pytav.SpotLight("b")
    first.setBrightness(shared)
    second.setBrightness(shared)
    shared.set(5)
    assert [light_parameter(r, "brightness")["value"] for r in saved_lights(tmp_path, first, second)] == [3.0, 3.0]


@pytest.mark.parametrize("keys, expected", [
    ([(0, 1), (0.5, 1.5), (1, 2)], [[0.0, 1.0], [1.0, 2.0]]),
    ([(0, 1), (0.5, 1.6), (1, 2)], [[0.0, 1.0], [0.5, pytest.approx(1.6)], [1.0, 2.0]]),
    ([(1, 2), (0, 5), (0.5, 0)], [[0.0, 5.0], [0.5, 0.0], [1.0, 2.0]]),
    ([], []),
    ([(0.25, 7)], [[0.25, 7.0]]),
])
def test_animated_property_keys_are_sorted_and_reduced(tmp_path, keys, expected):
    light = pytav.OmniLight("lamp")
    light.setBrightness(pytav.PropertyFloat(9, keys))
    assert light_parameter(saved_lights(tmp_path, light)[0], "brightness") == {
        "class": "model::AnimatedProperty<float>", "name": NAME, "argument": 9, "keys": expected}
