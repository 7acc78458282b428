"""The Python surface of the model classes: order, bases and signatures."""

import re

import pytest

import pytav

MATRIX = "List[Tuple[float, float, float, float]]"
VEC_ANIM = "List[Tuple[int, List[Tuple[float, Tuple[float, float, float]]]]]"
ROT_ANIM = "List[Tuple[int, List[Tuple[float, Tuple[float, float, float, float]]]]]"
BOX = "Tuple[float, float, float, float, float, float]"

# The whole class table, in registration order; classes of later work are
# skipped while they are absent.
TABLE_ORDER = [
    "Model", "Node", "Transform", "Lod", "NumberRoot", "VisibilityNode", "AnimationNode",
    "IBlock", "BaseBlock", "ColorBaseBlock", "FlirBlock", "DamageBlock", "BoneBlock", "EmissiveBlock",
    "EmissiveColorBlock", "AoBlock", "DecalBlock", "NormalBlock", "AormsBlock", "GlassBlock",
    "IRenderNode", "FakeOmniLight", "FakeOmniLights", "AnimatedFakeOmniLight", "FakeSpotLight",
    "FakeSpotLights", "AnimatedFakeSpotLight", "SegmentsNode", "ShellNode", "Connector",
    "OmniLight", "SpotLight", "Bone", "PropertyFloat", "PropertyFloat2", "PropertyFloat3",
    "PBRNode", "MirrorNode", "ColorNode", "DeckNode",
]

BASES = {
    "Model": None, "Node": None, "Transform": "Node", "Lod": "Node", "NumberRoot": "Node",
    "VisibilityNode": "Node", "AnimationNode": "Node", "OmniLight": None, "SpotLight": None,
    "Bone": "Node", "PropertyFloat": None, "PropertyFloat2": None, "PropertyFloat3": None,
}

# class -> (constructors, [(method, [argument types], result)]) as the table
# writes them, for classes that cover every argument form.
TABLE = {
    "Model": ([[]], [
        ("getRootTransform", [], "Node"),
        ("setBBox", [BOX], "None"),
        ("setUserBox", [BOX], "None"),
        ("setLightBox", [BOX], "None"),
        ("save", ["str", "int"], "str"),
        ("addRenderNode", ["IRenderNode"], "str"),
        ("addSegmentsNode", ["SegmentsNode"], "None"),
        ("addShellNode", ["ShellNode"], "None"),
        ("addConnector", ["Connector"], "None"),
        ("addOmniLight", ["OmniLight"], "None"),
        ("addSpotLight", ["SpotLight"], "None"),
    ]),
    "Transform": ([["str"], ["str", MATRIX]], [("setMatrix", [MATRIX], "None")]),
    "Lod": ([["str", "List[float]"]], []),
    "VisibilityNode": ([["str"]], [("setArguments", ["List[Tuple[int, List[Tuple[float, float]]]]"], "None")]),
    "AnimationNode": ([["str"]], [
        ("setBaseMatrix", [MATRIX], "None"),
        ("setPositionAnimation", [VEC_ANIM], "None"),
        ("setRotationAnimation", [ROT_ANIM], "None"),
        ("setScaleAnimation", [VEC_ANIM], "None"),
    ]),
    "SpotLight": ([["str"]], [
        ("setColor", ["PropertyFloat3"], "None"),
        ("setBrightness", ["PropertyFloat"], "None"),
        ("setDistance", ["PropertyFloat"], "None"),
        ("setPhi", ["PropertyFloat"], "None"),
        ("setTheta", ["PropertyFloat"], "None"),
        ("setAngles", ["PropertyFloat", "PropertyFloat"], "None"),
        ("setSpecularAmount", ["PropertyFloat"], "None"),
        ("setSoftness", ["PropertyFloat"], "None"),
        ("setControlNode", ["Node"], "None"),
    ]),
    "PropertyFloat3": ([[], ["Tuple[float, float, float]"],
                        ["int", "List[Tuple[float, Tuple[float, float, float]]]"]], [
        ("set", ["Tuple[float, float, float]"], "None"),
        ("setAnim", ["int", "List[Tuple[float, Tuple[float, float, float]]]"], "None"),
    ]),
}

def normalise(text: str) -> str:
    """A rendered type as the class table writes it: classes without the
    module's prefix, every other character as pybind11 renders it."""
    return text.replace("pytav.", "").strip()


def split_top_level(text: str) -> list:
    parts, depth, current = [], 0, ""
    for ch in text:
        if ch == "," and depth == 0:
            parts.append(current)
            current = ""
            continue
        depth += ch == "["
        depth -= ch == "]"
        current += ch
    if current.strip():
        parts.append(current)
    return parts


def signatures(function) -> list:
    """[(argument names, argument types, result)] from pybind11's docstring."""
    name = function.__name__
    found = []
    for line in function.__doc__.splitlines():
        line = re.sub(r"^\d+\. ", "", line.strip())
        # Overloaded functions open with a generic line before the list.
        if not line.startswith(name + "(") or line.startswith(name + "(*args"):
            continue
        arguments, result = line[len(name) + 1:].rsplit(") -> ", 1)
        names, types = [], []
        for argument in split_top_level(arguments)[1:]:  # self first
            argument_name, argument_type = argument.split(":", 1)
            names.append(argument_name.strip())
            types.append(normalise(argument_type))
        found.append((names, types, normalise(result)))
    return found


def present(names):
    return [name for name in names if hasattr(pytav, name)]


def test_classes_are_registered_in_table_order():
    registered = [name for name, value in vars(pytav).items() if isinstance(value, type)]
    assert [name for name in registered if name in TABLE_ORDER] == present(TABLE_ORDER)
    assert set(TABLE) <= set(registered)


@pytest.mark.parametrize("name", sorted(BASES))
def test_python_bases_follow_the_table(name):
    (base,) = getattr(pytav, name).__bases__
    if BASES[name] is None:
        assert base.__module__ != "pytav"
    else:
        assert base is getattr(pytav, BASES[name])


@pytest.mark.parametrize("name", sorted(TABLE))
def test_constructors_and_methods_carry_the_table_signatures(name):
    cls = getattr(pytav, name)
    constructors, methods = TABLE[name]
    init = signatures(cls.__init__)
    assert [types for _, types, _ in init] == [[normalise(t) for t in c] for c in constructors]
    for method, arguments, result in methods:
        if method not in vars(cls):
            assert name == "Model" and method in ("addRenderNode", "addSegmentsNode", "addShellNode",
                                                   "addConnector"), method
            continue
        (signature,) = signatures(getattr(cls, method))
        assert signature[1:] == ([normalise(t) for t in arguments], normalise(result)), method


@pytest.mark.parametrize("name", sorted(TABLE))
def test_methods_are_defined_in_table_order_with_default_argument_names(name):
    cls = getattr(pytav, name)
    listed = [method for method, _, _ in TABLE[name][1]]
    defined = [attribute for attribute in vars(cls) if not attribute.startswith("_")]
    assert defined == [method for method in listed if method in defined]
    for method in defined + ["__init__"]:
        for names, types, _ in signatures(getattr(cls, method)):
            assert names == [f"arg{i}" for i in range(len(types))]


@pytest.mark.parametrize("call", [
    lambda: pytav.Node(arg0="n"),
    lambda: pytav.Node(name="n"),
    lambda: pytav.Transform("t").setMatrix(arg0=[(1, 0, 0, 0)] * 4),
    lambda: pytav.Model().save(path="x.tav", version=10),
    lambda: pytav.Model().save("x.tav", arg1=10),
    lambda: pytav.PropertyFloat(value=1.0),
    lambda: pytav.SpotLight("s").setAngles(pytav.PropertyFloat(), arg1=pytav.PropertyFloat()),
])
def test_keyword_arguments_are_refused(call):
    with pytest.raises(TypeError):
        call()


def test_type_error_lists_the_accepted_signatures():
    with pytest.raises(TypeError) as error:
        pytav.Lod("lod", "far")
    assert "incompatible" in str(error.value)
    assert "pytav.Lod(arg0: str, arg1: List[float])" in str(error.value)
