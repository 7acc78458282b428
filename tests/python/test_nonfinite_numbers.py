# No NaN or infinity reaches a model file: every setter whose floats go into
# the file and that no render node's vertex check covers refuses them.

import functools
import math

import pytest
from hypothesis import given, settings, strategies as st

import pytav

BAD_VALUES = [math.nan, math.inf, -math.inf]
NOT_FINITE = " holds a value that is not finite."


def rows_of(values):
    return [tuple(values[i:i + 4]) for i in range(0, 16, 4)]


def vector_keys(values, width):
    # Two keys (time, (width values)) from 2 * (1 + width) floats.
    step = 1 + width
    return [(values[i], tuple(values[i + 1:i + step])) for i in range(0, 2 * step, step)]


def static_set(cls, values):
    prop = cls()
    prop.set(values[0] if cls is pytav.PropertyFloat else tuple(values))
    return prop


lamp = functools.partial(pytav.SpotLight, "lamp")
anim = functools.partial(pytav.AnimationNode, "a")

# (case, number of floats, make() -> target (None: the call makes one), apply(target, floats), what the message
# names). Every setter of the module whose floats reach the file and that no render node's vertex check covers.
SETTERS = [
    ("Transform.setMatrix", 16, lambda: pytav.Transform("t"), lambda t, v: t.setMatrix(rows_of(v)), "Matrix"),
    ("Transform()", 16, None, lambda _, v: pytav.Transform("t", rows_of(v)), "Matrix"),
    ("Bone.setMatrix", 16, lambda: pytav.Bone("b"), lambda b, v: b.setMatrix(rows_of(v)), "Matrix"),
    ("Bone()", 16, None, lambda _, v: pytav.Bone("b", rows_of(v)), "Matrix"),
    ("Bone.setInvertedBaseBoneMatrix", 16, lambda: pytav.Bone("b"),
     lambda b, v: b.setInvertedBaseBoneMatrix(rows_of(v)), "Matrix"),
    ("AnimationNode.setBaseMatrix", 16, anim, lambda a, v: a.setBaseMatrix(rows_of(v)), "Matrix"),
    ("VisibilityNode.setArguments", 4, lambda: pytav.VisibilityNode("v"),
     lambda n, v: n.setArguments([(2, [(v[0], v[1]), (v[2], v[3])])]), "Visibility key"),
    ("Lod()", 2, None, lambda _, v: pytav.Lod("l", list(v)), "Lod distance list"),
    ("NumberRoot.setControls", 2, lambda: pytav.NumberRoot("n"), lambda n, v: n.setControls([(1, v[0], 2, v[1])]),
     "Number control"),
    ("Model.setBBox", 6, pytav.Model, lambda m, v: m.setBBox(tuple(v)), "Bounding box"),
    ("Model.setUserBox", 6, pytav.Model, lambda m, v: m.setUserBox(tuple(v)), "User box"),
    ("Model.setLightBox", 6, pytav.Model, lambda m, v: m.setLightBox(tuple(v)), "Light box"),
    ("SegmentsNode.set", 6, lambda: pytav.SegmentsNode("s"), lambda n, v: n.set([(tuple(v[:3]), tuple(v[3:]))]),
     "Segment"),
    ("Connector.setPropertyFloat", 1, lambda: pytav.Connector("dock"), lambda c, v: c.setPropertyFloat("range", v[0]),
     "Connector property range"),
    ("ColorNode.setColor", 3, lambda: pytav.ColorNode("paint", "mat"), lambda n, v: n.setColor(*v), "Color"),
    ("PropertyFloat()", 1, lamp, lambda s, v: s.setBrightness(pytav.PropertyFloat(v[0])), "Property value"),
    ("PropertyFloat.set", 1, lamp, lambda s, v: s.setDistance(static_set(pytav.PropertyFloat, v)), "Property value"),
    ("PropertyFloat.setAnim", 4, lamp,
     lambda s, v: s.setSoftness(pytav.PropertyFloat(3, [(v[0], v[1]), (v[2], v[3])])), "Property key"),
    ("PropertyFloat3()", 3, lamp, lambda s, v: s.setColor(pytav.PropertyFloat3(tuple(v))), "Property value"),
    ("PropertyFloat3.set", 3, lamp, lambda s, v: s.setColor(static_set(pytav.PropertyFloat3, v)), "Property value"),
    ("PropertyFloat3.setAnim", 8, lamp, lambda s, v: s.setColor(pytav.PropertyFloat3(4, vector_keys(v, 3))),
     "Property key"),
] + [
    (f"AnimationNode.set{channel}Animation", 2 * (1 + width), anim,
     lambda a, v, c=channel, w=width: getattr(a, f"set{c}Animation")([(1, vector_keys(v, w))]), "Animation key")
    for channel, width in (("Position", 3), ("Rotation", 4), ("Scale", 3))
]


def message_pattern(what, index, count, bad, case):
    # A NaN key time of a sorted key list is refused by the sort, in its words.
    sorted_time = case.endswith(("Animation", "PropertyFloat.setAnim", "PropertyFloat3.setAnim"))
    key_width = {8: 4, 10: 5, 4: 2}.get(count)
    if sorted_time and math.isnan(bad) and key_width and index % key_width == 0:
        return "^key time is not a number$"
    return "^" + what + NOT_FINITE.replace(".", r"\.") + "$"


finite_floats = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, width=32)


@settings(max_examples=300, deadline=None)
@given(data=st.data(), case=st.sampled_from(SETTERS), bad=st.sampled_from(BAD_VALUES))
def test_every_setter_whose_floats_reach_the_file_refuses_nan_and_infinities(data, case, bad):
    name, count, setup, apply, what = case
    values = data.draw(st.lists(finite_floats, min_size=count, max_size=count))
    index = data.draw(st.integers(0, count - 1))
    target = setup() if setup else None
    apply(target, values)
    values[index] = bad
    with pytest.raises(ValueError, match=message_pattern(what, index, count, bad, name)):
        apply(target, values)


