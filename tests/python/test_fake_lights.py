"""Fake omni and spot lights: light values, light sets, their uniforms and the
brightness curves of the animated sets."""

import math

import numpy as np
import pytest

import pytav
from support import saved_render_nodes

OMNI_SETS = [pytav.FakeOmniLights, pytav.AnimatedFakeOmniLight]
SPOT_SETS = [pytav.FakeSpotLights, pytav.AnimatedFakeSpotLight]


def f32(value: float) -> float:
    return float(np.float32(value))


def saved_set(tmp_path, light_set) -> tuple:
    """(record, material) of one saved light set."""
    (record,), materials = saved_render_nodes(tmp_path, light_set)
    return record, materials[record["material"]]


def uniforms(material: dict) -> dict:
    return {u["name"]: u for u in material["uniforms"] + material["animated_uniforms"]}


def uniform_values(material: dict) -> list:
    return [(u["name"], u.get("value")) for u in material["uniforms"]]


def lit(set_class, name="glow", lights=1, curves=True):
    """A set holding that many default lights (the save drops sets without);
    an animated set also gets its argument and, with curves, a flat curve for
    every light (the save wants both)."""
    light_set = set_class(name)
    omni = set_class in OMNI_SETS
    light_set.set([(pytav.FakeOmniLight if omni else pytav.FakeSpotLight)() for _ in range(lights)])
    if "Animated" in set_class.__name__:
        light_set.setAnimationArg(2)
        if curves:
            light_set.setLightsAnimation([(i, [(0, 1)]) for i in range(lights)])
    return light_set


def animated(set_class, name="lights", argument=2.0, lights=1, curves=True):
    light_set = lit(set_class, name, lights, curves)
    light_set.setAnimationArg(argument)
    return light_set


def samples(tmp_path, set_class, entries, lights=1) -> list:
    light_set = animated(set_class, lights=lights, curves=False)
    light_set.setLightsAnimation(entries)
    record, _ = saved_set(tmp_path, light_set)
    return record["animation"]


# --- light values --------------------------------------------------------

@pytest.mark.parametrize("light_class, set_class", [(pytav.FakeOmniLight, pytav.FakeOmniLights),
                                                    (pytav.FakeSpotLight, pytav.FakeSpotLights)])
def test_light_values_are_stored_with_flipped_v_and_float32_position(tmp_path, light_class, set_class):
    light = light_class()
    light.setPos((0.1, -2, 3e5))
    light.setUV((0.25, 0.25), (0.75, 1.0))
    light.setSize(1.5)
    if light_class is pytav.FakeSpotLight:
        light.setBackUV((0.5, 0.0), (1.0, 0.5))
        light.setBackSide(True)
    light_set = set_class("lights")
    light_set.set([light])
    (stored,) = saved_set(tmp_path, light_set)[0]["lights"]
    assert stored["position"] == [f32(0.1), -2.0, 3e5]
    assert stored["uv"] == [[0.25, 0.75], [0.75, 0.0]]
    assert (stored["size"], stored["parent"]) == (1.5, 0)
    if light_class is pytav.FakeSpotLight:
        assert (stored["back_uv"], stored["back_side"]) == ([[0.5, 1.0], [1.0, 0.5]], 1)


@pytest.mark.parametrize("set_class", [pytav.FakeOmniLights, pytav.FakeSpotLights])
def test_set_replaces_the_list_by_copies_of_the_lights(tmp_path, set_class):
    light_set = lit(set_class, lights=3)
    light_class = pytav.FakeOmniLight if set_class is pytav.FakeOmniLights else pytav.FakeSpotLight
    first, second = light_class(), light_class()
    first.setSize(1)
    second.setSize(2)
    light_set.set([first, second, first])
    first.setSize(9)
    record, _ = saved_set(tmp_path, light_set)
    assert [light["size"] for light in record["lights"]] == [1, 2, 1]


# --- light sets ----------------------------------------------------------

@pytest.mark.parametrize("set_class, node_class, material_name, values", [
    (pytav.FakeOmniLights, "model::FakeOmniLightsNode", "fake_omni_lights2",
     [("shiftToCamera", 0.0), ("sizeFactors", [20.0, 1000.0, 0.0]), ("luminance", 1.0)]),
    (pytav.AnimatedFakeOmniLight, "model::AnimatedFakeOmniLightsNode", "animated_fake_omni_lights2",
     [("shiftToCamera", 0.0), ("sizeFactors", [20.0, 1000.0, 0.0]), ("luminance", 1.0), ("arg", 2.0)]),
    (pytav.FakeSpotLights, "model::FakeSpotLightsNode", "fake_spot_lights2",
     [("shiftToCamera", 0.0), ("minSizeInPixels", 20.0), ("maxDistance", 1000.0),
      ("coneSetup", [1.0, f32(0.8), f32(0.05)]), ("luminance", 1.0)]),
    (pytav.AnimatedFakeSpotLight, "model::AnimatedFakeSpotLightsNode", "animated_fake_spot_lights2",
     [("shiftToCamera", 0.0), ("minSizeInPixels", 20.0), ("maxDistance", 1000.0),
      ("coneSetup", [1.0, f32(0.8), f32(0.05)]), ("luminance", 1.0), ("arg", 2.0)]),
])
def test_new_sets_carry_their_class_material_and_uniforms(tmp_path, set_class, node_class, material_name, values):
    light_set = lit(set_class)
    record, material = saved_set(tmp_path, light_set)
    assert (record["class"], record["name"]) == (node_class, "glow")
    assert (material["material_name"], material["name"]) == (material_name, "")
    assert uniform_values(material) == values
    assert material["textures"] == []


def test_omni_setters_fill_their_uniforms_in_place(tmp_path):
    light_set = lit(pytav.FakeOmniLights)
    light_set.setMinSizeInPixels(8)
    light_set.setMaxDistance(500)
    light_set.setMinSizeInPixels(9)
    light_set.setLuminance(pytav.PropertyFloat(2.5))
    light_set.setShiftToCamera(0.25)
    _, material = saved_set(tmp_path, light_set)
    assert uniform_values(material) == [("shiftToCamera", 0.25), ("sizeFactors", [9.0, 500.0, 0.0]),
                                        ("luminance", 2.5)]


@pytest.mark.parametrize("set_class", SPOT_SETS)
def test_spot_setters_fill_their_uniforms_and_direction(tmp_path, set_class):
    light_set = lit(set_class)
    light_set.setMinSizeInPixels(8)
    light_set.setMaxDistance(500)
    light_set.setShiftToCamera(0.5)
    light_set.setConeSetup((0.5, 0.25, 0.125))
    light_set.setDirection((0, 0, -1))
    light_set.setTexture("flare.dds")
    record, material = saved_set(tmp_path, light_set)
    values = dict(uniform_values(material))
    assert (values["minSizeInPixels"], values["maxDistance"], values["shiftToCamera"]) == (8.0, 500.0, 0.5)
    assert values["coneSetup"] == [0.5, 0.25, 0.125]
    assert record["parents"][0]["direction"] == [0.0, 0.0, -1.0]
    assert [(t["slot"], t["file"]) for t in material["textures"]] == [(0, "flare.dds")]


@pytest.mark.parametrize("set_class", [pytav.AnimatedFakeOmniLight, pytav.FakeSpotLights])
def test_luminance_takes_the_scripts_property_in_its_place(tmp_path, set_class):
    luminance = pytav.PropertyFloat(4, [(0, 0), (1, 3)])
    light_set = lit(set_class)
    light_set.setLuminance(luminance)
    _, material = saved_set(tmp_path, light_set)
    assert "luminance" not in [u["name"] for u in material["uniforms"]]
    assert material["animated_uniforms"] == [
        {"class": "model::AnimatedProperty<float>", "name": "luminance", "argument": 4,
         "keys": [[0.0, 0.0], [1.0, 3.0]]}]


@pytest.mark.parametrize("set_class", OMNI_SETS + SPOT_SETS)
def test_set_without_control_node_is_refused_logged_and_left_out(tmp_path, capfd, set_class):
    model = pytav.Model()
    capfd.readouterr()
    assert model.addRenderNode(set_class("stray")) == "Control node isn't set."
    assert "WARNING PYTAV" in capfd.readouterr().err.replace("  ", " ")
    assert model.save(str(tmp_path / "a.tav"), 10) == ""


# --- animated sets -------------------------------------------------------

@pytest.mark.parametrize("set_class", [pytav.AnimatedFakeOmniLight, pytav.AnimatedFakeSpotLight])
@pytest.mark.parametrize("value, argument", [(3.7, 3), (0.99, 0)])
def test_animation_arg_sets_uniform_and_truncated_node_argument(tmp_path, set_class, value, argument):
    record, material = saved_set(tmp_path, animated(set_class, argument=value))
    assert record["argument"] == argument
    assert uniforms(material)["arg"]["value"] == f32(value)


# The file writer reports both families with one text.
@pytest.mark.parametrize("set_class", [pytav.AnimatedFakeOmniLight, pytav.AnimatedFakeSpotLight])
@pytest.mark.parametrize("value", [None, -7.5])
def test_set_without_valid_argument_fails_the_save(tmp_path, set_class, value):
    model = pytav.Model()
    light_set = set_class("glow")
    light_set.set([(pytav.FakeOmniLight if set_class in OMNI_SETS else pytav.FakeSpotLight)()])
    light_set.setLightsAnimation([(0, [(0, 1)])])
    if value is not None:
        light_set.setAnimationArg(value)
    light_set.setControlNode(model.getRootTransform())
    assert model.addRenderNode(light_set) == ""
    assert model.save(str(tmp_path / "a.tav"), 10).startswith("Argument of animated fake omni lights must be valid.")


@pytest.mark.parametrize("value", [math.nan, 4294967296.0, 1e30, math.inf])
def test_animation_arg_that_has_no_argument_number_is_refused(value):
    light_set = pytav.AnimatedFakeOmniLight("glow")
    with pytest.raises(ValueError):
        light_set.setAnimationArg(value)


@pytest.mark.parametrize("set_class", [pytav.AnimatedFakeOmniLight, pytav.AnimatedFakeSpotLight])
def test_linear_curve_samples_to_i_over_127(tmp_path, set_class):
    assert samples(tmp_path, set_class, [(0, [(0, 0), (1, 1)])]) == [f32(i / 127) for i in range(128)]


@pytest.mark.parametrize("keys, expected", [
    ([(0.3, 0.6)], [f32(0.6)] * 128),
    ([], [0.0] * 128),
    # Keys out of order are sorted; outside the keys the ends hold.
    ([(0.75, 1), (0.25, 0)], [0.0] * 32 + [f32(min(max((i / 127 - 0.25) * 2, 0), 1)) for i in range(32, 96)]
     + [1.0] * 32),
    # The middle key lies on the line within 0.001 and is dropped; either way
    # the samples are those of the line.
    ([(0, 0), (0.5, 0.5004), (1, 1)], [f32(i / 127) for i in range(128)]),
])
def test_curve_keys_are_sorted_reduced_and_clamped(tmp_path, keys, expected):
    got = samples(tmp_path, pytav.AnimatedFakeOmniLight, [(0, keys)])
    assert got == pytest.approx(expected, abs=1e-6)


def test_entries_stop_at_the_first_light_index_out_of_sequence(tmp_path):
    got = samples(tmp_path, pytav.AnimatedFakeOmniLight,
                  [(0, [(0, 1)]), (1, [(0, 2)]), (3, [(0, 3)]), (2, [(0, 4)])], lights=2)
    assert got == [1.0] * 128 + [2.0] * 128


@pytest.mark.parametrize("set_class", [pytav.AnimatedFakeOmniLight, pytav.AnimatedFakeSpotLight])
def test_second_animation_call_appends_instead_of_replacing_the_curves(tmp_path, set_class):
    one_call = animated(set_class, lights=2, curves=False)
    one_call.setLightsAnimation([(0, [(0, 5), (1, 0)]), (1, [(0, 6)])])
    one_per_call = animated(set_class, lights=2, curves=False)
    one_per_call.setLightsAnimation([(0, [(0, 5), (1, 0)])])
    one_per_call.setLightsAnimation([(0, [(0, 6)])])
    (tmp_path / "one").mkdir()
    (tmp_path / "per").mkdir()
    record, _ = saved_set(tmp_path / "one", one_call)
    assert record["animation"] == pytest.approx([5 - 5 * i / 127 for i in range(128)] + [6.0] * 128, abs=1e-6)
    assert saved_set(tmp_path / "per", one_per_call)[0] == record


def test_nan_key_time_is_refused_and_keeps_the_earlier_curves(tmp_path):
    light_set = animated(pytav.AnimatedFakeOmniLight, curves=False)
    light_set.setLightsAnimation([(0, [(0, 7)])])
    with pytest.raises(ValueError):
        light_set.setLightsAnimation([(0, [(math.nan, 1), (0, 2)])])
    record, _ = saved_set(tmp_path, light_set)
    assert record["animation"] == [7.0] * 128
