"""Fake lights as saved: light values and the brightness curves of the animated sets."""

import numpy as np
import pytest

import pytav
from support import saved_single


def f32(value: float) -> float:
    return float(np.float32(value))


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
    (stored,) = saved_single(tmp_path, light_set)[0]["lights"]
    assert stored["position"] == [f32(0.1), -2.0, 3e5]
    assert stored["uv"] == [[0.25, 0.75], [0.75, 0.0]]
    assert (stored["size"], stored["parent"]) == (1.5, 0)
    if light_class is pytav.FakeSpotLight:
        assert (stored["back_uv"], stored["back_side"]) == ([[0.5, 1.0], [1.0, 0.5]], 1)


@pytest.mark.parametrize("keys, expected", [
    ([(0, 0), (1, 1)], [f32(i / 127) for i in range(128)]),
    ([(0.3, 0.6)], [f32(0.6)] * 128),
    ([], [0.0] * 128),
    # Keys out of order are sorted; outside the keys the ends hold.
    ([(0.75, 1), (0.25, 0)], [0.0] * 32 + [f32(min(max((i / 127 - 0.25) * 2, 0), 1)) for i in range(32, 96)]
     + [1.0] * 32),
    # The middle key lies on the line within 0.001 and is dropped; either way
    # the samples are those of the line.
    ([(0, 0), (0.5, 0.5004), (1, 1)], [f32(i / 127) for i in range(128)]),
])
@pytest.mark.parametrize("set_class, light_class", [(pytav.AnimatedFakeOmniLight, pytav.FakeOmniLight),
                                                    (pytav.AnimatedFakeSpotLight, pytav.FakeSpotLight)])
def test_curve_keys_are_sorted_reduced_clamped_and_sampled_at_i_over_127(tmp_path, set_class, light_class, keys,
                                                                          expected):
    light_set = set_class("lights")
    light_set.set([light_class()])
    light_set.setAnimationArg(2)
    light_set.setLightsAnimation([(0, keys)])
    assert saved_single(tmp_path, light_set)[0]["animation"] == pytest.approx(expected, abs=1e-6)
