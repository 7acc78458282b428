"""No NaN or infinity reaches a model file: the setters whose floats go into
the file refuse them, and a save whose own arithmetic leaves the number range
returns a message naming the node instead of writing the file."""

import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import pytav
from support import FLT_MAX, save_and_read
from support import INDICES, NORMALS, POSITIONS

BAD_VALUES = [math.nan, math.inf, -math.inf]
NOT_FINITE = " holds a value that is not finite."


def rows_of(values):
    return [tuple(values[i:i + 4]) for i in range(0, 16, 4)]


def vector_keys(values, width):
    """Two keys (time, (width values)) from 2 * (1 + width) floats."""
    step = 1 + width
    return [(values[i], tuple(values[i + 1:i + step])) for i in range(0, 2 * step, step)]


class Scene:
    """A model with a kept transform "holder", a light on it and a color node."""

    def __init__(self):
        self.model = pytav.Model()
        shifted = [(1, 0, 0, 2), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]
        self.holder = self.model.getRootTransform().addChild(pytav.Transform("holder", shifted))
        self.light = pytav.SpotLight("lamp")
        self.light.setControlNode(self.holder)
        self.model.addSpotLight(self.light)

    def child(self, node):
        """Attaches node under the holder with a light of its own, so the save keeps it."""
        self.holder.addChild(node)
        light = pytav.OmniLight("on_" + node.getName())
        light.setControlNode(node)
        self.model.addOmniLight(light)
        return node

    def color_node(self):
        node = pytav.ColorNode("paint", "mat")
        node.setPositions(POSITIONS)
        node.setNormals(NORMALS)
        node.setIndices(INDICES)
        node.setControlNode(self.holder)
        assert self.model.addRenderNode(node) == ""
        return node

    def connector(self):
        connector = pytav.Connector("dock")
        connector.setControlNode(self.holder)
        self.model.addConnector(connector)
        return connector

    def segments(self):
        segments = pytav.SegmentsNode("lines")
        segments.setControlNode(self.holder)
        self.model.addSegmentsNode(segments)
        return segments


def static_set(cls, values):
    prop = cls()
    prop.set(values[0] if cls is pytav.PropertyFloat else tuple(values))
    return prop


# (case, number of floats, setup(scene) -> target, apply(target, floats), what the message names).
# Every setter of the module whose floats reach the file and that no render
# node's vertex check covers.
SETTERS = [
    ("Transform.setMatrix", 16, lambda s: s.child(pytav.Transform("t")), lambda t, v: t.setMatrix(rows_of(v)),
     "Matrix"),
    ("Transform()", 16, lambda s: s, lambda s, v: s.child(pytav.Transform("t", rows_of(v))), "Matrix"),
    ("Bone.setMatrix", 16, lambda s: s.child(pytav.Bone("b")), lambda b, v: b.setMatrix(rows_of(v)), "Matrix"),
    ("Bone()", 16, lambda s: s, lambda s, v: s.child(pytav.Bone("b", rows_of(v))), "Matrix"),
    ("Bone.setInvertedBaseBoneMatrix", 16, lambda s: s.child(pytav.Bone("b")),
     lambda b, v: b.setInvertedBaseBoneMatrix(rows_of(v)), "Matrix"),
    ("AnimationNode.setBaseMatrix", 16, lambda s: s.child(pytav.AnimationNode("a")),
     lambda a, v: a.setBaseMatrix(rows_of(v)), "Matrix"),
    ("AnimationNode.setPositionAnimation", 8, lambda s: s.child(pytav.AnimationNode("a")),
     lambda a, v: a.setPositionAnimation([(1, vector_keys(v, 3))]), "Animation key"),
    ("AnimationNode.setRotationAnimation", 10, lambda s: s.child(pytav.AnimationNode("a")),
     lambda a, v: a.setRotationAnimation([(1, vector_keys(v, 4))]), "Animation key"),
    ("AnimationNode.setScaleAnimation", 8, lambda s: s.child(pytav.AnimationNode("a")),
     lambda a, v: a.setScaleAnimation([(1, vector_keys(v, 3))]), "Animation key"),
    ("VisibilityNode.setArguments", 4, lambda s: s.child(pytav.VisibilityNode("v")),
     lambda n, v: n.setArguments([(2, [(v[0], v[1]), (v[2], v[3])])]), "Visibility key"),
    ("Lod()", 2, lambda s: s, lambda s, v: s.child(pytav.Lod("l", list(v))), "Lod distance list"),
    ("NumberRoot.setControls", 2, lambda s: s.child(pytav.NumberRoot("n")),
     lambda n, v: n.setControls([(1, v[0], 2, v[1])]), "Number control"),
    ("Model.setBBox", 6, lambda s: s.model, lambda m, v: m.setBBox(tuple(v)), "Bounding box"),
    ("Model.setUserBox", 6, lambda s: s.model, lambda m, v: m.setUserBox(tuple(v)), "User box"),
    ("Model.setLightBox", 6, lambda s: s.model, lambda m, v: m.setLightBox(tuple(v)), "Light box"),
    ("SegmentsNode.set", 6, lambda s: s.segments(), lambda n, v: n.set([(tuple(v[:3]), tuple(v[3:]))]), "Segment"),
    ("Connector.setPropertyFloat", 1, lambda s: s.connector(), lambda c, v: c.setPropertyFloat("range", v[0]),
     "Connector property range"),
    ("ColorNode.setColor", 3, lambda s: s.color_node(), lambda n, v: n.setColor(*v), "Color"),
    ("PropertyFloat()", 1, lambda s: s.light, lambda l, v: l.setBrightness(pytav.PropertyFloat(v[0])),
     "Property value"),
    ("PropertyFloat.set", 1, lambda s: s.light, lambda l, v: l.setDistance(static_set(pytav.PropertyFloat, v)),
     "Property value"),
    ("PropertyFloat.setAnim", 4, lambda s: s.light,
     lambda l, v: l.setSoftness(pytav.PropertyFloat(3, [(v[0], v[1]), (v[2], v[3])])), "Property key"),
    ("PropertyFloat3()", 3, lambda s: s.light, lambda l, v: l.setColor(pytav.PropertyFloat3(tuple(v))),
     "Property value"),
    ("PropertyFloat3.set", 3, lambda s: s.light, lambda l, v: l.setColor(static_set(pytav.PropertyFloat3, v)),
     "Property value"),
    ("PropertyFloat3.setAnim", 8, lambda s: s.light,
     lambda l, v: l.setColor(pytav.PropertyFloat3(4, vector_keys(v, 3))), "Property key"),
    # A PropertyFloat2 reaches the file through a block; the property itself refuses.
    ("PropertyFloat2()", 2, lambda s: None, lambda _, v: pytav.PropertyFloat2(tuple(v)), "Property value"),
    ("PropertyFloat2.set", 2, lambda s: None, lambda _, v: static_set(pytav.PropertyFloat2, v), "Property value"),
    ("PropertyFloat2.setAnim", 6, lambda s: None, lambda _, v: pytav.PropertyFloat2(5, vector_keys(v, 2)),
     "Property key"),
]
IDS = [case[0] for case in SETTERS]


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
    target = setup(Scene())
    apply(target, values)
    values[index] = bad
    with pytest.raises(ValueError, match=message_pattern(what, index, count, bad, name)):
        apply(target, values)


GOOD = {1: [2.5], 2: [1.0, 4.0], 3: [0.25, 0.5, 0.75], 4: [-1.0, 0.0, 0.5, 1.0], 6: [-1, -2, -3, 1, 2, 3],
        8: [0, 1, 2, 3, 1, 4, 5, 6], 10: [0, 1, 0, 0, 0, 1, 0.6, 0.8, 0, 0],
        16: [1, 0, 0, 3, 0, 2, 0, 4, 0, 0, 1, 5, 0, 0, 0, 1]}


@pytest.mark.parametrize("bad", BAD_VALUES, ids=["nan", "inf", "-inf"])
@pytest.mark.parametrize("case", SETTERS, ids=IDS)
def test_refused_call_leaves_the_saved_file_as_it_was(tmp_path, case, bad):
    name, count, setup, apply, what = case
    files = []
    for refused in (False, True):
        scene = Scene()
        target = setup(scene)
        apply(target, GOOD[count])
        if refused:
            values = list(GOOD[count])
            values[-1] = bad
            with pytest.raises(ValueError):
                apply(target, values)
        path = tmp_path / f"{refused}.tav"
        save_and_read(scene.model, path)
        files.append(path.read_bytes())
    assert files[0] == files[1]


def test_empty_box_bounds_are_finite_and_stay_allowed(tmp_path):
    model = pytav.Model()
    model.setBBox((FLT_MAX, FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX, -FLT_MAX))
    model.setUserBox((-FLT_MAX, -FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX))
    model.setLightBox((0, 0, 0, 1, 1, 1))
    root = save_and_read(model, tmp_path / "m.tav")["root"]
    assert root["user_box"] == {"min": [-FLT_MAX] * 3, "max": [FLT_MAX] * 3}


def test_set_angles_whose_cone_angle_overflows_is_refused():
    light = pytav.SpotLight("lamp")
    with pytest.raises(ValueError, match="^Cone angle from setAngles" + NOT_FINITE.replace(".", r"\.") + "$"):
        light.setAngles(pytav.PropertyFloat(3e38), pytav.PropertyFloat(-3e38))
    with pytest.raises(ValueError, match="^Cone angle from setAngles"):
        light.setAngles(pytav.PropertyFloat(3e38), pytav.PropertyFloat(1, [(0, 0), (1, -3e38)]))


# --- numbers that turn non-finite during the save -----------------------------

def scale_rows(factor):
    return [(factor, 0, 0, 0), (0, factor, 0, 0), (0, 0, factor, 0), (0, 0, 0, 1)]


def color_node_under(model, parent, name="paint"):
    node = pytav.ColorNode(name, "mat")
    node.setPositions(POSITIONS + np.float32(1))
    node.setNormals(NORMALS)
    node.setIndices(INDICES)
    node.setControlNode(parent)
    assert model.addRenderNode(node) == ""
    return node


def chain(model, depth, factor, leaf):
    parent = model.getRootTransform()
    for i in range(depth):
        parent = parent.addChild(pytav.Transform(f"t{i}", scale_rows(factor)))
    return parent.addChild(leaf)


def test_transforms_baked_past_the_float_range_fail_the_save_naming_the_node(tmp_path):
    model = pytav.Model()
    color_node_under(model, chain(model, 2, 1e38, pytav.Node("leaf")))
    path = tmp_path / "m.tav"
    assert model.save(str(path), 10) == "Vertex data of paint" + NOT_FINITE
    assert not path.exists()


def test_transforms_folded_past_the_double_range_fail_the_save_naming_the_node(tmp_path):
    model = pytav.Model()
    animated = chain(model, 9, 1e38, pytav.AnimationNode("anim"))
    animated.setPositionAnimation([(1, [(0, (0, 0, 0)), (1, (1, 0, 0))])])
    light = pytav.OmniLight("lamp")
    light.setControlNode(animated)
    model.addOmniLight(light)
    path = tmp_path / "m.tav"
    path.write_bytes(b"old")
    assert model.save(str(path), 10) == "Matrix of anim" + NOT_FINITE
    assert path.read_bytes() == b"old"


def test_light_box_grown_past_the_float_range_fails_the_save(tmp_path):
    model = pytav.Model()
    model.setBBox((-3e38, 0, 0, 3e38, 1, 1))
    light = pytav.OmniLight("lamp")
    light.setDistance(pytav.PropertyFloat(3e38))
    light.setControlNode(model.getRootTransform())
    model.addOmniLight(light)
    path = tmp_path / "m.tav"
    assert model.save(str(path), 10) == "Light box" + NOT_FINITE
    assert not path.exists()


@pytest.mark.parametrize("cls", [pytav.FakeOmniLights, pytav.FakeSpotLights])
@pytest.mark.parametrize("setter", ["setMinSizeInPixels", "setMaxDistance", "setShiftToCamera"])
def test_fake_light_uniform_that_is_not_finite_fails_the_save(tmp_path, cls, setter):
    model = pytav.Model()
    node = cls("sprites")
    light = pytav.FakeSpotLight() if cls is pytav.FakeSpotLights else pytav.FakeOmniLight()
    light.setPos((1, 2, 3))
    light.setUV((0, 0), (1, 1))
    light.setSize(0.5)
    node.set([light])
    node.setTexture("glow.dds")
    node.setControlNode(model.getRootTransform())
    getattr(node, setter)(math.inf)
    assert model.addRenderNode(node) == ""
    path = tmp_path / "m.tav"
    assert model.save(str(path), 10) == "Material of sprites" + NOT_FINITE
    assert not path.exists()
