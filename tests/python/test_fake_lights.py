# Fake light sets as saved: every field of every light as the script gave
# it, the set's material and its uniforms, and brightness curves sampled at
# i/127 over the argument range.

import itertools
import math
import tempfile
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import pytav
from support import _set, saved_single

f32 = np.float32
SAMPLES = 128


def saved(light_set) -> tuple:
    # (record, material) of the set saved alone.
    with tempfile.TemporaryDirectory() as folder:
        return saved_single(Path(folder), light_set)


def stored_uv(u, v) -> list:
    # Rows run top-down in the game: v is stored as 1 - v, in 32 bits.
    return [float(f32(u)), float(f32(1) - f32(v))]


# --- the lights -----------------------------------------------------------------

NUMBER = st.floats(-4, 4, width=32)
PAIR = st.tuples(NUMBER, NUMBER)
SPOT = st.fixed_dictionaries({"pos": st.tuples(NUMBER, NUMBER, NUMBER), "uv": st.tuples(PAIR, PAIR),
                              "size": NUMBER, "back_uv": st.tuples(PAIR, PAIR), "back_side": st.booleans()})


def light_and_record(cls, f) -> tuple:
    # A light as the script sets it up, and the record a file must hold for it.
    light, record = cls(), {"position": [float(f32(c)) for c in f["pos"]], "uv": [stored_uv(*p) for p in f["uv"]],
                            "size": float(f32(f["size"])), "parent": 0}
    light.setPos(f["pos"]), light.setUV(*f["uv"]), light.setSize(f["size"])
    if cls is pytav.FakeSpotLight:
        light.setBackUV(*f["back_uv"]), light.setBackSide(f["back_side"])
        record.update(back_uv=[stored_uv(*p) for p in f["back_uv"]], back_side=int(f["back_side"]))
    return light, record


@settings(max_examples=30, deadline=None)
@given(lights=st.lists(SPOT, min_size=1, max_size=4), spot=st.booleans())
def test_every_light_field_front_and_back_is_saved_as_the_script_set_it(lights, spot):
    made, records = zip(*[light_and_record(pytav.FakeSpotLight if spot else pytav.FakeOmniLight, f) for f in lights])
    light_set = _set((pytav.FakeSpotLights if spot else pytav.FakeOmniLights)("lights"), ("set", list(made)))
    assert saved(light_set)[0]["lights"] == list(records)


# (set class, setters called, material name, its uniforms in file order)
MATERIALS = [
    (pytav.FakeOmniLights, {}, "fake_omni_lights2",
     [("shiftToCamera", 0.0), ("sizeFactors", [20.0, 1000.0, 0.0]), ("luminance", 1.0)]),
    (pytav.FakeOmniLights, {"setMinSizeInPixels": 8, "setMaxDistance": 500, "setShiftToCamera": 2},
     "fake_omni_lights2",
     [("shiftToCamera", 2.0), ("sizeFactors", [8.0, 500.0, 0.0]), ("luminance", 1.0)]),
    (pytav.AnimatedFakeOmniLight, {"setAnimationArg": 3, "setLightsAnimation": [(0, [(0.0, 1.0)])]},
     "animated_fake_omni_lights2",
     [("shiftToCamera", 0.0), ("sizeFactors", [20.0, 1000.0, 0.0]), ("luminance", 1.0), ("arg", 3.0)]),
    (pytav.FakeSpotLights, {}, "fake_spot_lights2",
     [("shiftToCamera", 0.0), ("minSizeInPixels", 20.0), ("maxDistance", 1000.0),
      ("coneSetup", [1.0, float(f32(0.8)), float(f32(0.05))]), ("luminance", 1.0)]),
    (pytav.AnimatedFakeSpotLight, {"setMinSizeInPixels": 4, "setMaxDistance": 50, "setConeSetup": (2, 0.5, 0.25),
                                   "setAnimationArg": 6, "setLightsAnimation": [(0, [(0.0, 1.0)])]},
     "animated_fake_spot_lights2",
     [("shiftToCamera", 0.0), ("minSizeInPixels", 4.0), ("maxDistance", 50.0), ("coneSetup", [2.0, 0.5, 0.25]),
      ("luminance", 1.0), ("arg", 6.0)]),
]


@pytest.mark.parametrize("cls, calls, name, uniforms", MATERIALS)
def test_light_set_material_loses_a_uniform_its_default_or_its_place(cls, calls, name, uniforms):
    light_set = cls("lights")
    light_set.set([(pytav.FakeSpotLight if issubclass(cls, pytav.FakeSpotLights) else pytav.FakeOmniLight)()])
    material = saved(_set(light_set, *calls.items()))[1]
    assert material["material_name"] == name
    assert [(u["name"], u["value"]) for u in material["uniforms"]] == uniforms


# --- the brightness curves --------------------------------------------------------

def reference_samples(keys) -> np.ndarray:
    # The keys' curve at t = i/127: the first value at or before the first
    # key, the last at or after the last, linear in between.
    if not keys:
        return np.zeros(SAMPLES)
    times, values = zip(*sorted(keys))
    return np.interp(np.arange(SAMPLES) / (SAMPLES - 1), times, f32(values))


def expected_curves(calls) -> list:
    # Entry k of a call is used while its light index is k; a call with a NaN
    # key time is refused and changes nothing.
    curves = []
    for call in calls:
        if not any(math.isnan(t) for _, keys in call for t, _ in keys):
            curves += [keys for _, (_, keys) in itertools.takewhile(lambda e: e[0] == e[1][0], enumerate(call))]
    return curves


def deviation(calls, cls=pytav.AnimatedFakeOmniLight) -> float:
    # Of the saved samples from those of the curves the calls should leave.
    curves = expected_curves(calls)
    light = pytav.FakeSpotLight if cls is pytav.AnimatedFakeSpotLight else pytav.FakeOmniLight
    light_set = _set(cls("curves"), ("set", [light() for _ in curves]), ("setAnimationArg", 3))
    for call in calls:
        try:
            light_set.setLightsAnimation(call)
        except ValueError:
            assert any(math.isnan(t) for _, keys in call for t, _ in keys)
    record = saved(light_set)[0]
    assert (record["argument"], len(record["animation"])) == (3, SAMPLES * len(curves))
    return np.max(np.abs(np.reshape(record["animation"], (-1, SAMPLES)) - [reference_samples(k) for k in curves]))


RAMP = [(0.0, 0.0), (1.0, 1.0)]
HALF = [(0.0, 0.0), (0.5, 0.5), (1.0, 1.0)]


@pytest.mark.parametrize("calls", [
    # Keys on both ends of the range: sample i is i/127.
    [[(0, RAMP)]], [[(0, RAMP[::-1])]], [[(0, [(0.3, 0.7)])]], [[(0, [])]],
    # Keys past both ends, and keys on sample points inside the range.
    [[(0, [(-1.0, 0.0), (2.0, 3.0)])]], [[(0, [(0.5, 1.0), (1.0, 0.0)])]],
    [[(0, [(0.0, 1.0), (1 / 127, 0.0), (126 / 127, 0.0), (1.0, 1.0)])]],
    # A key off the line by more than 0.001 shapes the curve.
    [[(0, [(0.0, 0.0), (0.5, 0.5015), (1.0, 1.0)])]],
    # Entries in light order only; calls append; a NaN time in any place refuses its call.
    [[(0, RAMP), (1, HALF), (3, RAMP)]], [[(0, RAMP), (2, RAMP), (1, HALF)]], [[(0, RAMP)], [(0, HALF)]],
    [[(0, RAMP)]] + [[(0, RAMP), (1, HALF[:i] + [(math.nan, 0.5)] + HALF[i + 1:])] for i in range(3)],
])
@pytest.mark.parametrize("cls", [pytav.AnimatedFakeOmniLight, pytav.AnimatedFakeSpotLight])
def test_curves_are_sampled_at_i_over_127_light_by_light(calls, cls):
    assert deviation(calls, cls) <= 1e-6


@settings(max_examples=40, deadline=None)
@given(keys=st.lists(st.tuples(st.integers(-20, 147).map(lambda i: i / 127), st.sampled_from([0.0, 0.25, 1.0, 4.0])),
                     min_size=1, max_size=8, unique_by=lambda k: k[0]))
def test_curve_samples_follow_the_keys_within_the_reduction_tolerance(keys):
    assert deviation([[(0, keys)]]) <= 0.001 + 1e-6
