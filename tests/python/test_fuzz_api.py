"""Random call sequences over every pytav class: each call must end in a
result, a returned message or an ordinary Python exception, never a crash,
a SystemError or a leaked model object.

The machine runs in a subprocess so that a crash is reported with the calls
of the sequence that caused it: every call is written, as a line of Python,
to a journal file before it runs, and the journal is cut at the start of each
sequence. `make test` runs 200 sequences of up to 50 steps;
PYTAV_FUZZ_EXAMPLES (set by `make fuzz`) asks for more.

Run directly (python tests/python/test_fuzz_api.py) to drive the machine in
this process.
"""

import functools
import gc
import math
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule, run_state_machine_as_test

import pytav

EXAMPLES = int(os.environ.get("PYTAV_FUZZ_EXAMPLES", "200"))
STEPS = 50
# Outcomes a script can handle; anything else (SystemError, a crash) fails.
ALLOWED_ERRORS = (TypeError, ValueError, IndexError, RuntimeError, MemoryError)

# --- Values -----------------------------------------------------------------

SPECIAL_FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, math.nan, math.inf, -math.inf, 3.4028235e38, -3.4028235e38,
                  1e-45, 1e300, 2.0 ** 32]
SPECIAL_INTS = [0, 1, 2, 3, 4, 5, 7, 10, 20, 25, 26, 255, 256, 65535, 65546, 2 ** 31 - 1, 2 ** 31,
                2 ** 32 - 1, 2 ** 32, 2 ** 64, -1, -(2 ** 31), -(2 ** 63)]
JUNK = [None, "text", b"bytes", [], [1, 2], (1.0,), {}, object(), 1.5, -3, True]

# Doubles: values past the 32-bit range reach the module as infinities.
floats = st.one_of(st.sampled_from(SPECIAL_FLOATS), st.floats(), st.floats(-10, 10))
small_ints = st.integers(-2, 30)
ints = st.one_of(st.sampled_from(SPECIAL_INTS), small_ints)
texts = st.one_of(st.sampled_from(["", "root", "a\0b", "x" * 300, "név", "%s%d{}", "\ud800"]),
                  st.text(max_size=12))
junk = st.sampled_from(JUNK)


def tuples(n, element=floats):
    return st.tuples(*[element] * n)


def lists(element, max_size=8):
    return st.lists(element, max_size=max_size)


matrix = st.one_of(lists(tuples(4), max_size=6), st.just([(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]))
float_keys = lists(st.tuples(floats, floats))
ARRAY_DTYPES = [np.float32, np.float64, np.float16, np.int32, np.uint32, np.int64, np.uint8, np.bool_]


@st.composite
def arrays(draw, count_hint=None):
    """NumPy arrays of any dtype and up to three dimensions, sometimes
    non-contiguous (a strided or transposed view)."""
    dtype = draw(st.sampled_from(ARRAY_DTYPES))
    shape = draw(st.one_of(hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=24),
                           st.sampled_from([(12,), (8,), (6,), (16,), (0,), (3000,)])))
    if dtype in (np.float32, np.float64, np.float16):
        elements = st.one_of(st.sampled_from([0.0, 1.0, -1.0, 0.5, math.nan, math.inf, -math.inf]),
                             st.floats(-4, 4))
    elif dtype == np.bool_:
        elements = st.booleans()
    else:
        info = np.iinfo(dtype)
        elements = st.one_of(st.integers(0, 5), st.integers(int(info.min), int(info.max)))
    array = draw(hnp.arrays(dtype, shape, elements=elements, fill=elements))
    view = draw(st.sampled_from(["plain", "stride", "transpose", "negative"]))
    if view == "stride" and array.ndim >= 1:
        array = array[::2]
    elif view == "transpose":
        array = array.T
    elif view == "negative" and array.ndim >= 1:
        array = array[::-1]
    return array


def anything(valid):
    """Mostly the valid strategy, sometimes a value of the wrong type."""
    return st.one_of(valid, valid, valid, junk)


# Argument kinds: a strategy, or the name of a pool whose objects are drawn.
A = {
    "float": anything(floats),
    "int": anything(ints),
    "str": anything(texts),
    "bool": anything(st.booleans()),
    "farray": anything(arrays()),
    "uarray": anything(arrays()),
    "floats": anything(lists(floats, max_size=40)),
    "uints": anything(lists(ints, max_size=40)),
    "matrix": anything(matrix),
    "box": anything(tuples(6)),
    "pos": anything(tuples(3)),
    "uv": anything(tuples(2)),
    "controls": anything(lists(tuples(4))),
    "vis": anything(lists(st.tuples(ints, float_keys))),
    "pos_anim": anything(lists(st.tuples(ints, lists(st.tuples(floats, tuples(3)))))),
    "rot_anim": anything(lists(st.tuples(ints, lists(st.tuples(floats, tuples(4)))))),
    "keys1": anything(float_keys),
    "keys2": anything(lists(st.tuples(floats, tuples(2)))),
    "keys3": anything(lists(st.tuples(floats, tuples(3)))),
    "lights_anim": anything(lists(st.tuples(st.integers(-1, 4), float_keys))),
    "version": st.sampled_from([10, 20, 65546, 11, 0, 2 ** 32 - 1, -1, 2 ** 40, None, "10"]),
}

NODE_CLASSES = ["Node", "Transform", "Lod", "NumberRoot", "VisibilityNode", "AnimationNode", "Bone"]
BLOCK_CLASSES = ["IBlock", "BaseBlock", "ColorBaseBlock", "FlirBlock", "DamageBlock", "BoneBlock", "EmissiveBlock",
                 "EmissiveColorBlock", "AoBlock", "DecalBlock", "NormalBlock", "AormsBlock", "GlassBlock"]
RENDER_CLASSES = ["IRenderNode", "PBRNode", "MirrorNode", "ColorNode", "DeckNode", "FakeOmniLights",
                  "AnimatedFakeOmniLight", "FakeSpotLights", "AnimatedFakeSpotLight"]

# Class name -> (pool, constructor argument lists).
CONSTRUCTORS = {
    "Model": ("model", [[]]),
    "Node": ("node", [["str"]]),
    "Transform": ("node", [["str"], ["str", "matrix"]]),
    "Lod": ("node", [["str", "floats"]]),
    "NumberRoot": ("node", [["str"]]),
    "VisibilityNode": ("node", [["str"]]),
    "AnimationNode": ("node", [["str"]]),
    "Bone": ("node", [["str"], ["str", "matrix"]]),
    **{name: ("block", [[]]) for name in BLOCK_CLASSES},
    "IRenderNode": ("render", [[]]),
    "PBRNode": ("render", [["str", "str"]]),
    "MirrorNode": ("render", [["str", "str"]]),
    "ColorNode": ("render", [["str", "str"]]),
    "DeckNode": ("render", [["str", "str"]]),
    "FakeOmniLights": ("render", [["str"]]),
    "AnimatedFakeOmniLight": ("render", [["str"]]),
    "FakeSpotLights": ("render", [["str"]]),
    "AnimatedFakeSpotLight": ("render", [["str"]]),
    "FakeOmniLight": ("fake", [[]]),
    "FakeSpotLight": ("fake", [[]]),
    "SegmentsNode": ("shell", [["str"]]),
    "ShellNode": ("shell", [["str"]]),
    "Connector": ("connector", [["str"]]),
    "OmniLight": ("light", [["str"]]),
    "SpotLight": ("light", [["str"]]),
    "PropertyFloat": ("prop", [[], ["float"], ["int", "keys1"]]),
    "PropertyFloat2": ("prop", [[], ["uv"], ["int", "keys2"]]),
    "PropertyFloat3": ("prop", [[], ["pos"], ["int", "keys3"]]),
}

FAKE_SET = {"set": [["@fakes"]], "setTexture": [["str"]], "setMinSizeInPixels": [["float"]],
            "setMaxDistance": [["float"]], "setLuminance": [["@prop"]], "setShiftToCamera": [["float"]],
            "setControlNode": [["@node"]]}
ANIMATED = {"setAnimationArg": [["float"]], "setLightsAnimation": [["lights_anim"]]}
SPOT_SET = {"setConeSetup": [["pos"]], "setDirection": [["pos"]]}
LIGHT = {"setColor": [["@prop"]], "setBrightness": [["@prop"]], "setDistance": [["@prop"]],
         "setSpecularAmount": [["@prop"]], "setSoftness": [["@prop"]], "setControlNode": [["@node"]]}

# Class name -> {method: [argument lists]}; "@pool" draws an object of that pool
# (or, now and then, one of another pool), "@fakes" a list of light values.
METHODS = {
    "Model": {"getRootTransform": [[]], "setBBox": [["box"]], "setUserBox": [["box"]], "setLightBox": [["box"]]},
    "Node": {"getName": [[]], "addChild": [["@node"]]},
    "Transform": {"setMatrix": [["matrix"]]},
    "Lod": {},
    "NumberRoot": {"setControls": [["controls"]]},
    "VisibilityNode": {"setArguments": [["vis"]]},
    "AnimationNode": {"setBaseMatrix": [["matrix"]], "setPositionAnimation": [["pos_anim"]],
                      "setRotationAnimation": [["rot_anim"]], "setScaleAnimation": [["pos_anim"]]},
    "Bone": {"setMatrix": [["matrix"]], "getName": [[]], "setInvertedBaseBoneMatrix": [["matrix"]]},
    "IBlock": {"getTypeName": [[]]},
    "BaseBlock": {"setPositions": [["farray"]], "setNormals": [["farray"]], "setAlbedoMapUV": [["farray"]],
                  "setAlbedoMap": [["str"]], "setAlbedoMapUVShift": [["@prop"]]},
    "ColorBaseBlock": {"setPositions": [["farray"]], "setNormals": [["farray"]], "setColor": [["@prop"]]},
    "FlirBlock": {"setFlirMap": [["str"]]},
    "DamageBlock": {"setAlbedoMapUV": [["farray"]], "setNormalMapUV": [["farray"]], "setAlbedoMap": [["str"]],
                    "setNormalMap": [["str"]], "setMask": [["str"]], "setMaskRGBA": [["str"]],
                    "setArgument": [["int"]]},
    "BoneBlock": {"setBoneWeights": [["farray"]], "setBoneIndices": [["uarray"]], "setBones": [["@nodes"]],
                  "getBoneNames": [[]], "setBoneNames": [["@names"]]},
    "EmissiveBlock": {"setEmissiveMap": [["str"]], "setEmissiveMapUV": [["farray"]], "setAmount": [["@prop"]],
                      "setColor": [["@prop"]], "setEmissiveType": [["int"]]},
    "EmissiveColorBlock": {"setColor": [["@prop"]], "setAmount": [["@prop"]]},
    "AoBlock": {"setAoMap": [["str"]], "setAoMapUV": [["farray"]], "setAoShift": [["@prop"]]},
    "DecalBlock": {"setDecalMap": [["str"]], "setDecalMapUV": [["farray"]], "setDecalShift": [["@prop"]]},
    "NormalBlock": {"setNormalMap": [["str"]], "setNormalMapUV": [["farray"]]},
    "AormsBlock": {"setAormsMap": [["str"]], "setAormsMapUV": [["farray"]]},
    "GlassBlock": {"setColorMap": [["str"]], "setInstrumental": [["bool"]]},
    "IRenderNode": {},
    "PBRNode": {"getName": [[]], "setIndices": [["uarray"]], "setShadowCaster": [["int"]],
                "setTransparentMode": [["int"]], "setDecalId": [["int"]], "addBlock": [["@block"]],
                "setTwoSided": [["bool"]], "setControlNode": [["@node"]], "hasBlock": [["str"]],
                "getBlock": [["str"]]},
    "MirrorNode": {"setPositions": [["farray"]], "setNormals": [["farray"]], "setIndices": [["uints"]],
                   "setTexture": [["str"]], "setTextureCoordinates": [["farray"]], "setControlNode": [["@node"]]},
    "ColorNode": {"setPositions": [["farray"]], "setNormals": [["farray"]], "setIndices": [["uarray"]],
                  "setColor": [["float", "float", "float"]], "setControlNode": [["@node"]]},
    "DeckNode": {**{name: [["str"]] for name in (
        "setBaseTiledMap", "setNormalTiledMap", "setAormsTiledMap", "setBaseMap", "setAormsMap", "setDamageMap",
        "setDamageMask", "setDamageMaskRGBA", "setRainMask")},
        "setPositions": [["floats"]], "setNormals": [["floats"]], "setTiledUV": [["floats"]],
        "setRegularUV": [["floats"]], "setIndices": [["uints"]], "setTransparentMode": [["int"]],
        "setDecalId": [["int"]], "setArgument": [["int"]], "setControlNode": [["@node"]]},
    "FakeOmniLights": FAKE_SET,
    "AnimatedFakeOmniLight": {**FAKE_SET, **ANIMATED},
    "FakeSpotLights": {**FAKE_SET, **SPOT_SET},
    "AnimatedFakeSpotLight": {**FAKE_SET, **SPOT_SET, **ANIMATED},
    "FakeOmniLight": {"setPos": [["pos"]], "setUV": [["uv", "uv"]], "setSize": [["float"]]},
    "FakeSpotLight": {"setPos": [["pos"]], "setUV": [["uv", "uv"]], "setSize": [["float"]],
                      "setBackUV": [["uv", "uv"]], "setBackSide": [["bool"]]},
    "SegmentsNode": {"set": [[anything(lists(st.tuples(tuples(3), tuples(3))))]], "setControlNode": [["@node"]]},
    "ShellNode": {"setIndices": [["uints"]], "setPositions": [["floats"]], "setControlNode": [["@node"]]},
    "Connector": {"setControlNode": [["@node"]], "setPropertyFloat": [["str", "float"]],
                  "setPropertyString": [["str", "str"]]},
    "OmniLight": LIGHT,
    "SpotLight": {**LIGHT, "setPhi": [["@prop"]], "setTheta": [["@prop"]], "setAngles": [["@prop", "@prop"]]},
    "PropertyFloat": {"set": [["float"]], "setAnim": [["int", "keys1"]]},
    "PropertyFloat2": {"set": [["uv"]], "setAnim": [["int", "keys2"]]},
    "PropertyFloat3": {"set": [["pos"]], "setAnim": [["int", "keys3"]]},
}

MODEL_ADDS = {"addRenderNode": "render", "addShellNode": "shell", "addSegmentsNode": "shell",
              "addConnector": "connector", "addOmniLight": "light", "addSpotLight": "light"}
POOLS = ["model", "node", "block", "render", "fake", "shell", "connector", "light", "prop"]


def methods_of(obj):
    """Every method signature of obj's class and its pytav bases."""
    found = {}
    for cls in reversed(type(obj).__mro__):
        found.update(METHODS.get(cls.__name__, {}))
    return found


# --- Journal ------------------------------------------------------------------


class Journal:
    """The calls of the running sequence as Python lines, written before each
    call runs, so a crash leaves the reproducer on disk."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644) if path else None
        self.names = {}
        self.count = 0

    def restart(self):
        self.names = {}
        self.count = 0
        if self.fd is not None:
            os.ftruncate(self.fd, 0)
            os.lseek(self.fd, 0, os.SEEK_SET)
            self.write("import math, numpy as np, pytav\nnan, inf = math.nan, math.inf")

    def write(self, line):
        if self.fd is not None:
            os.write(self.fd, (line + "\n").encode("utf-8", "backslashreplace"))

    def fresh(self):
        self.count += 1
        return f"v{self.count}"

    def name(self, obj):
        if id(obj) not in self.names:
            self.names[id(obj)] = self.fresh()
        return self.names[id(obj)]

    def show(self, value):
        if id(value) in self.names:
            return self.names[id(value)]
        if isinstance(value, np.ndarray):
            return f"np.array({value.tolist()!r}, dtype=np.{value.dtype.name})"
        if isinstance(value, float) and not math.isfinite(value):
            return repr(value)
        if isinstance(value, (list, tuple)):
            inner = ", ".join(self.show(v) for v in value)
            return f"[{inner}]" if isinstance(value, list) else f"({inner}{',' if len(value) == 1 else ''})"
        if type(value) is object:
            return "object()"
        return repr(value)


JOURNAL = Journal(os.environ.get("PYTAV_FUZZ_JOURNAL"))
# How the saves ended, printed after a run: a run whose saves all fail tries
# little of the save sequence.
OUTCOMES = {"saved": 0, "save message": 0}


# --- Machine ------------------------------------------------------------------


def step(rule_function):
    """Counts the rule as open until it returns: Hypothesis abandons a step
    whose data it rejects, and keeps that step's frame (with the objects it
    held) for a while, so such a sequence can't judge leaks."""

    @functools.wraps(rule_function)
    def run(self, **kwargs):
        self.open_steps += 1
        rule_function(self, **kwargs)
        self.open_steps -= 1

    return run



class ApiMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.alive_at_start = pytav.get_num_alived_objects()
        self.open_steps = 0
        self.pools = {name: [] for name in POOLS}
        self.folder = Path(tempfile.mkdtemp(prefix="pytav-fuzz-"))
        self.saves = 0
        JOURNAL.restart()

    @initialize(mesh=st.booleans())
    @step
    def start_with_a_model(self, mesh):
        """Every sequence has a model to add to and save (most rules need one)."""
        model = self.invoke("pytav.", "Model", pytav.Model, [], keep_as="model")
        root = model.getRootTransform()
        JOURNAL.names[id(root)] = JOURNAL.name(model) + ".getRootTransform()"
        self.pools["node"].append(root)
        if mesh:
            node = pytav.ColorNode("start", "start")
            node.setPositions(np.array([0, 0, 0, 1, 0, 0, 0, 1, 0], np.float32))
            node.setNormals(np.array([0, 0, 1] * 3, np.float32))
            node.setIndices(np.array([0, 1, 2], np.uint32))
            node.setControlNode(root)
            JOURNAL.write("# start: a coloured triangle under the root")
            assert model.addRenderNode(node) == ""

    # Every call goes through here: journalled first, then checked.
    def invoke(self, target, label, function, args, keep_as=None):
        shown = ", ".join(JOURNAL.show(a) for a in args)
        result_name = JOURNAL.fresh() if keep_as else None
        JOURNAL.write(f"{result_name + ' = ' if result_name else ''}{target}{label}({shown})")
        try:
            result = function(*args)
        except ALLOWED_ERRORS:
            JOURNAL.write("# raised")
            return None
        if keep_as is not None and result is not None:
            JOURNAL.names[id(result)] = result_name
            self.pools[keep_as].append(result)
        return result

    def draw_arg(self, data, kind):
        if not isinstance(kind, str):
            return data.draw(kind)
        if kind.startswith("@"):
            pool = kind[1:]
            if pool == "nodes":
                return [self.draw_object(data, "node") for _ in range(data.draw(st.integers(0, 3)))]
            if pool == "fakes":
                return [self.draw_object(data, "fake") for _ in range(data.draw(st.integers(0, 4)))]
            if pool == "names":
                return data.draw(anything(lists(texts, max_size=4)))
            return self.draw_object(data, pool)
        return data.draw(A[kind])

    @staticmethod
    def pick(data, objects):
        """One of objects, drawn by index: Hypothesis keeps every drawn value
        for its report, and a kept wrapper would outlive the sequence."""
        return objects[data.draw(st.integers(0, len(objects) - 1))]

    def draw_object(self, data, pool):
        """An object of the pool; now and then one of another pool or junk."""
        choice = data.draw(st.integers(0, 9))
        if choice == 9:
            return data.draw(junk)
        if choice == 8:
            pool = data.draw(st.sampled_from(POOLS))
        if pool == "node" and self.pools["model"] and data.draw(st.booleans()):
            return self.pick(data, self.pools["model"]).getRootTransform()
        if not self.pools[pool]:
            return data.draw(junk)
        return self.pick(data, self.pools[pool])

    @rule(data=st.data(), class_name=st.sampled_from(sorted(CONSTRUCTORS)))
    @step
    def create(self, data, class_name):
        pool, signatures = CONSTRUCTORS[class_name]
        args = [self.draw_arg(data, kind) for kind in data.draw(st.sampled_from(signatures))]
        self.invoke("pytav.", class_name, getattr(pytav, class_name), args, keep_as=pool)

    @rule(data=st.data())
    @step
    def call_method(self, data):
        pools = [name for name in POOLS if self.pools[name]]
        if not pools:
            return
        obj = self.pick(data, self.pools[data.draw(st.sampled_from(pools))])
        methods = methods_of(obj)
        if not methods:
            return
        name = data.draw(st.sampled_from(sorted(methods)))
        args = [self.draw_arg(data, kind) for kind in data.draw(st.sampled_from(methods[name]))]
        result = self.invoke(JOURNAL.name(obj) + ".", name, getattr(obj, name), args)
        if name == "getName" and result is not None:
            assert isinstance(result, str)

    @rule(data=st.data(), method=st.sampled_from(sorted(MODEL_ADDS)))
    @step
    def add_to_model(self, data, method):
        if not self.pools["model"]:
            return
        model = self.pick(data, self.pools["model"])
        item = self.draw_object(data, MODEL_ADDS[method])
        result = self.invoke(JOURNAL.name(model) + ".", method, getattr(model, method), [item])
        if method == "addRenderNode" and result is not None:
            assert isinstance(result, str)

    @rule(data=st.data())
    @step
    def save(self, data):
        if not self.pools["model"]:
            return
        model = self.pick(data, self.pools["model"])
        self.saves += 1
        path = data.draw(st.sampled_from([
            str(self.folder / f"m{self.saves}.tav"), str(self.folder / "same.tav"), str(self.folder),
            str(self.folder / "missing" / "m.tav"), "", None, str(self.folder / "a\0b.tav"), 42]))
        version = data.draw(A["version"])
        result = self.invoke(JOURNAL.name(model) + ".", "save", model.save, [path, version])
        if result is not None:
            assert isinstance(result, str)
            OUTCOMES["saved" if result == "" else "save message"] += 1
        leftovers = [p.name for p in self.folder.iterdir() if p.name.endswith(".tmp")]
        assert leftovers == [], leftovers

    @rule(data=st.data(), kind=st.sampled_from(["pbr", "color", "mirror", "deck", "shell"]),
          vertices=st.integers(0, 12), skew=st.sampled_from([0, 0, 0, 1, -1]),
          blocks=st.sets(st.sampled_from(["normal", "ao", "decal", "aorms", "damage", "emissive", "bone", "flir"])))
    @step
    def add_mesh(self, data, kind, vertices, skew, blocks):
        """A mostly coherent mesh (random data would rarely pass the checks,
        leaving the save's passes untried): counts off by `skew`, indices
        up to two past the last vertex, values from the hostile float set."""
        if not self.pools["model"]:
            return
        model = self.pick(data, self.pools["model"])
        value = st.one_of(st.floats(-8, 8), st.sampled_from([0.0, 1.0]), st.sampled_from(SPECIAL_FLOATS))
        def vec(n):
            with np.errstate(over="ignore"):  # 1e300 becomes an infinity on purpose
                return np.array(data.draw(st.lists(value, min_size=max(n, 0), max_size=max(n, 0))), np.float32)

        unit = lambda n: np.array(data.draw(st.lists(st.sampled_from([0.0, 1.0, -1.0]), min_size=max(n, 0),
                                                     max_size=max(n, 0))), np.float32)
        n = vertices
        indices = np.array(data.draw(st.lists(st.integers(0, n + 1), min_size=0, max_size=30)), np.uint32)
        parent = self.draw_object(data, "node")
        name = f"mesh{self.saves}_{len(self.pools['render'])}"
        JOURNAL.write(f"# add_mesh {kind} n={n} skew={skew} blocks={sorted(blocks)} indices={indices.tolist()}")
        try:
            if kind == "shell":
                node = pytav.ShellNode(name)
                node.setPositions(vec(3 * n).tolist())
                node.setIndices(indices.tolist())
                node.setControlNode(parent)
                JOURNAL.write(f"{JOURNAL.name(node)} = _  # the shell built above")
                self.invoke(JOURNAL.name(model) + ".", "addShellNode", model.addShellNode, [node])
                self.pools["shell"].append(node)
                return
            if kind == "pbr":
                node = pytav.PBRNode(name, data.draw(st.sampled_from(["m0", "m1"])))
                base = pytav.BaseBlock()
                base.setPositions(vec(3 * n))
                base.setNormals(unit(3 * (n + skew)))
                base.setAlbedoMapUV(vec(2 * n))
                base.setAlbedoMap("a.dds")
                node.addBlock(base)
                for block_name in sorted(blocks):
                    node.addBlock(self.make_block(block_name, n, vec, unit))
                node.setIndices(indices)
            elif kind == "deck":
                node = pytav.DeckNode(name, "deck")
                node.setPositions(vec(3 * n).tolist())
                node.setNormals(unit(3 * n).tolist())
                node.setTiledUV(vec(2 * (n + skew)).tolist())
                node.setRegularUV(vec(2 * n).tolist())
                for setter in ("setBaseTiledMap", "setNormalTiledMap", "setAormsTiledMap", "setBaseMap", "setAormsMap"):
                    getattr(node, setter)("d.dds")
                node.setIndices(indices.tolist())
            else:
                node = pytav.ColorNode(name, "c") if kind == "color" else pytav.MirrorNode(name, "m")
                node.setPositions(vec(3 * n))
                node.setNormals(unit(3 * (n + skew)))
                if kind == "mirror":
                    node.setTextureCoordinates(vec(2 * n))
                    node.setTexture("mirror.dds")
                    node.setIndices(indices.tolist())
                else:
                    node.setIndices(indices)
            node.setControlNode(parent)
        except ALLOWED_ERRORS:
            JOURNAL.write("# raised while building")
            return
        self.pools["render"].append(node)
        JOURNAL.write(f"{JOURNAL.name(node)} = _  # the {kind} node built above")
        result = self.invoke(JOURNAL.name(model) + ".", "addRenderNode", model.addRenderNode, [node])
        if result is not None:
            assert isinstance(result, str)

    def make_block(self, name, n, vec, unit):
        if name == "bone":
            block = pytav.BoneBlock()
            block.setBoneWeights(vec(4 * n))
            block.setBoneIndices(np.arange(4 * n, dtype=np.uint32) % 3)
            block.setBones([b for b in self.pools["node"] if isinstance(b, pytav.Bone)][:2])
            return block
        if name == "damage":
            block = pytav.DamageBlock()
            block.setAlbedoMapUV(vec(2 * n))
            block.setNormalMapUV(vec(2 * n))
            block.setAlbedoMap("d.dds")
            block.setNormalMap("dn.dds")
            block.setArgument(n)
            return block
        if name == "flir":
            block = pytav.FlirBlock()
            block.setFlirMap("f.dds")
            return block
        if name == "emissive":
            block = pytav.EmissiveBlock()
            block.setEmissiveMap("e.dds")
            block.setEmissiveMapUV(vec(2 * n))
            block.setEmissiveType(n % 7)
            return block
        cls, map_setter, uv_setter = {"normal": (pytav.NormalBlock, "setNormalMap", "setNormalMapUV"),
                                      "ao": (pytav.AoBlock, "setAoMap", "setAoMapUV"),
                                      "decal": (pytav.DecalBlock, "setDecalMap", "setDecalMapUV"),
                                      "aorms": (pytav.AormsBlock, "setAormsMap", "setAormsMapUV")}[name]
        block = cls()
        getattr(block, map_setter)(name + ".dds")
        getattr(block, uv_setter)(vec(2 * n))
        return block

    @rule(data=st.data(), depth=st.integers(1, 400), wide=st.booleans())
    @step
    def grow_tree(self, data, depth, wide):
        """A deep chain or a wide fan of transforms under a node."""
        parent = self.draw_object(data, "node")
        if not isinstance(parent, pytav.Node):
            return
        JOURNAL.write(f"for _ in range({depth}): ...  # {'fan' if wide else 'chain'} under {JOURNAL.show(parent)}")
        node = parent
        for i in range(depth):
            child = pytav.Transform(f"t{i}", [(1, 0, 0, 0.1), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)])
            (parent if wide else node).addChild(child)
            node = child
        self.pools["node"].append(node)

    @rule(data=st.data(), pool=st.sampled_from(POOLS), collect=st.booleans())
    @step
    def drop(self, data, pool, collect):
        if not self.pools[pool]:
            return
        index = data.draw(st.integers(0, len(self.pools[pool]) - 1))
        JOURNAL.write(f"del {JOURNAL.name(self.pools[pool][index])}")
        del self.pools[pool][index]
        if collect:
            gc.collect(0)

    @rule(function=st.sampled_from(["init", "deinit", "get_num_alived_objects", "get_version"]))
    @step
    def module_function(self, function):
        self.invoke("pytav.", function, getattr(pytav, function), [])

    @invariant()
    def alive_count_is_a_count(self):
        assert pytav.get_num_alived_objects() >= 0

    def teardown(self):
        JOURNAL.write("# teardown")
        for objects in self.pools.values():
            objects.clear()
        shutil.rmtree(self.folder, ignore_errors=True)
        pytav.init()
        if self.open_steps or self.alive_at_start != 0:
            return  # an abandoned step (here or in the sequence before) still holds objects
        # Every model object of the sequence was reachable only from the
        # dropped wrappers. A full collection is slow with Hypothesis' heap;
        # it is only needed when a reference cycle kept something.
        if pytav.get_num_alived_objects() != 0:
            gc.collect()
        assert pytav.get_num_alived_objects() == 0, "model objects outlived every wrapper"


def run_machine(examples=EXAMPLES):
    run_state_machine_as_test(ApiMachine, settings=settings(
        max_examples=examples, stateful_step_count=STEPS, deadline=None, derandomize=True, database=None,
        suppress_health_check=list(HealthCheck), print_blob=False))


def test_random_call_sequences_never_crash_or_leak(tmp_path):
    """Runs the machine in a subprocess; a crash there is reported with the
    journal of the sequence that caused it."""
    journal = tmp_path / "journal.py"
    env = dict(os.environ, PYTAV_FUZZ_JOURNAL=str(journal), PYTHONFAULTHANDLER="1")
    process = subprocess.run([sys.executable, __file__], env=env, capture_output=True, text=True,
                             cwd=Path(__file__).parent)
    if process.returncode < 0 or process.returncode in (134, 139):
        steps = journal.read_text(errors="replace") if journal.exists() else "(no journal)"
        pytest.fail(f"pytav crashed (status {process.returncode}); the sequence that crashed it:\n{steps}\n"
                    f"--- stderr ---\n{process.stderr[-6000:]}")
    assert process.returncode == 0, process.stdout[-6000:] + process.stderr[-6000:]


if __name__ == "__main__":
    import faulthandler

    faulthandler.enable()
    pytav.init()
    run_machine()
    print("fuzz: ok", EXAMPLES, "sequences", OUTCOMES)
