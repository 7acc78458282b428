"""Test-side encoder of format 10 files.

Takes a model in the shape that ``tavtools.read`` returns and assembles the
file byte by byte, independently of the inspector's decoder, so that decoding
can be checked against hand-built files.  Keys that the decoder derives
("strings", "version", "index") are ignored here; "index_width_code",
"vertex_count" and "floats_per_vertex" are written as given, so tests can
build deliberately inconsistent records.
"""

import struct

NONE = 0xFFFFFFFF
SECTION_NAMES = ("CONNECTORS", "SHELL_NODES", "LIGHT_NODES", "RENDER_NODES")
EMPTY_BOX = {"min": [3.4028234663852886e38] * 3, "max": [-3.4028234663852886e38] * 3}


class Writer:
    def __init__(self):
        self.body = bytearray()
        self.pool = []

    def pack(self, fmt, *values):
        self.body += struct.pack("<" + fmt, *values)

    def u8(self, v): self.pack("B", v)
    def u32(self, v): self.pack("I", v)
    def i32(self, v): self.pack("i", v)
    def f32(self, *v): self.pack(f"{len(v)}f", *v)
    def f64(self, *v): self.pack(f"{len(v)}d", *v)

    def str(self, text):
        if text not in self.pool:
            self.pool.append(text)
        self.u32(self.pool.index(text))

    def name(self, text):
        raw = text.encode("utf-8", "surrogateescape")
        self.u32(len(raw))
        self.body += raw

    def file(self):
        table = b"".join(s.encode("utf-8", "surrogateescape") + b"\0" for s in self.pool)
        return b"TAV" + struct.pack("<HI", 10, len(table)) + table + bytes(self.body)


# -- properties, textures, materials -----------------------------------------

_STATIC = {
    "model::Property<float>": lambda w, v: w.f32(v),
    "model::Property<unsigned int>": lambda w, v: w.u32(v),
    "model::Property<osg::Vec2f>": lambda w, v: w.f32(*v),
    "model::Property<osg::Vec3f>": lambda w, v: w.f32(*v),
    "model::Property<osg::Vec4f>": lambda w, v: w.f32(*v),
    "model::Property<const char*>": lambda w, v: w.str(v),
}


def prop(w, p):
    w.str(p["class"])
    w.str(p["name"])
    if p["class"] in _STATIC:
        _STATIC[p["class"]](w, p["value"])
    elif p["class"] == "model::ArgumentProperty":
        w.u32(p["argument"])
        w.u32(p.get("repeated", p["argument"]))
    else:
        w.u32(p["argument"])
        w.u32(len(p["keys"]))
        for key in p["keys"]:
            w.f64(key[0])
            w.f32(*key[1:])


def texture(w, t):
    w.u32(t["channel"])
    w.str(t["file"])
    for v in t["parameters"]:
        w.u32(v)
    w.f32(*[v for row in t["matrix"] for v in row])


def vertex_format(w, fmt):
    w.u32(26)
    w.body += bytes(fmt)


def material(w, m):
    w.u32(10 + (m["billboard"] is not None) + (m["decal"] is not None))
    w.str("BLENDING"); w.u8(m["blending"])
    w.str("DEPTH_BIAS"); w.u32(m["depth_bias"])
    w.str("VERTEX_FORMAT"); vertex_format(w, m["vertex_format"])
    w.str("TEXTURE_COORDINATES_CHANNELS"); w.u32(13)
    for v in m["texture_coordinates_channels"]:
        w.u32(v)
    w.str("MATERIAL_NAME"); w.str(m["material_name"])
    w.str("NAME"); w.str(m["name"])
    w.str("SHADOWS"); w.u8(m["shadows"])
    w.str("TEXTURES"); w.u32(len(m["textures"]))
    for t in m["textures"]:
        w.u32(t["slot"])
        texture(w, t)
    for key in ("uniforms", "animated_uniforms"):
        w.str(key.upper()); w.u32(len(m[key]))
        for p in m[key]:
            prop(w, p)
    if m["billboard"] is not None:
        w.str("BILLBOARD"); w.u8(m["billboard"][0]); w.u8(m["billboard"][1])
    if m["decal"] is not None:
        w.str("DECAL"); w.u8(m["decal"])


# -- geometry ------------------------------------------------------------------

def mesh(w, n):
    w.u32(n["vertex_count"]); w.u32(n["floats_per_vertex"])
    w.f32(*n["vertices"])
    code = n["index_width_code"]
    w.u8(code); w.u32(len(n["indices"])); w.u32(n["primitive_kind"])
    w.pack(f"{len(n['indices'])}{'BHI'[code]}", *n["indices"])


def bones_box_mesh(w, n, shell):
    w.u32(len(n["bones"]))
    for b in n["bones"]:
        w.u32(b)
    w.u32(n["skin_value"])
    if n["bounding_box"] is not None:
        w.f32(*n["bounding_box"]["min"], *n["bounding_box"]["max"])
    if shell:
        vertex_format(w, n["vertex_format"])
    mesh(w, n)


# -- node records ----------------------------------------------------------------

def header(w, n):
    w.str(n["class"])
    w.name(n["name"])
    w.u32(0)
    w.u32(len(n["properties"]))
    for p in n["properties"]:
        prop(w, p)


def matrix(w, m):
    w.f64(*[v for row in m for v in row])


def rows(w, keys):
    w.u32(len(keys))
    for key in keys:
        w.f64(*key)


def animation(w, n):
    matrix(w, n["matrix"])
    w.f64(*n["base_position"], *n["base_rotation"], *n["scale_orientation"], *n["base_scale"])
    for channel in ("position", "rotation"):
        w.u32(len(n[channel]))
        for c in n[channel]:
            w.u32(c["argument"]); rows(w, c["keys"])
    w.u32(len(n["scale"]))
    for c in n["scale"]:
        w.u32(c["argument"]); rows(w, c["orientation_keys"]); rows(w, c["scale_keys"])


def _visibility(w, n):
    w.u32(len(n["arguments"]))
    for a in n["arguments"]:
        w.u32(a["argument"]); rows(w, a["ranges"])


def _billboard(w, n):
    w.u8(n["settings"][0]); w.u8(n["settings"][1]); matrix(w, n["matrix"]); w.f64(*n["axis"])


TREE_BODIES = {
    "model::Node": lambda w, n: None,
    "model::TransformNode": lambda w, n: matrix(w, n["matrix"]),
    "model::BillboardNode": _billboard,
    "model::ArgAnimationNode": animation,
    "model::ArgPositionNode": animation,
    "model::ArgRotationNode": animation,
    "model::ArgScaleNode": animation,
    "model::ArgAnimatedBone": lambda w, n: (animation(w, n), matrix(w, n["bone_matrix"])),
    "model::Bone": lambda w, n: (matrix(w, n["matrix"]), matrix(w, n["bone_matrix"])),
    "model::ArgVisibilityNode": _visibility,
    "model::LodNode": lambda w, n: rows(w, n["ranges"]),
}


def _light(w, n):
    w.u32(n["parent"]); w.u8(n["kind"]); w.u32(7)
    for p in n["light_properties"]:
        prop(w, p)
    w.u8(n["appearance"] is not None)
    if n["appearance"] is not None:
        texture(w, n["appearance"])


def _render(w, n):
    w.u32(0); w.u32(n["material"]); w.u32(len(n["parents"]))
    for p in n["parents"]:
        w.u32(p["node"])
        if len(n["parents"]) != 1:
            w.u32(0)
        w.u32(p["damage_argument"])
    mesh(w, n)


def _number(w, n):
    _render(w, n)
    for records in n["controls"]:
        w.u32(len(records))
        for c in records:
            w.i32(c["argument"]); w.f32(c["value"]); w.i32(c["second_argument"]); w.f32(c["second_value"])


def _fake(w, n, spot):
    w.u32(0); w.u32(n["material"]); w.u32(len(n["parents"]))
    for p in n["parents"]:
        w.u32(p["node"]); w.u32(0)
        if spot:
            w.f32(*p["direction"])
    w.u32(len(n["lights"]))
    for light in n["lights"]:
        w.f64(*light["position"]); w.f32(*light["uv"][0], *light["uv"][1], light["size"]); w.u32(light["parent"])
        if spot:
            w.f32(*light["back_uv"][0], *light["back_uv"][1]); w.u8(light["back_side"])
    if "animation" in n:
        w.u32(n["argument"]); w.u32(128); w.u32(len(n["animation"])); w.f32(*n["animation"])


def _segments(w, n):
    w.u32(n["parent"]); w.u32(len(n["segments"]))
    for s in n["segments"]:
        w.f32(*s["start"], *s["end"])


SECTION_BODIES = {
    "model::Connector": lambda w, n: (w.u32(n["parent"]), w.u32(0)),
    "model::ShellNode": lambda w, n: (w.u32(n["parent"]), vertex_format(w, n["vertex_format"]), mesh(w, n)),
    "model::ShellSkinNode": lambda w, n: bones_box_mesh(w, n, shell=True),
    "model::SegmentsNode": _segments,
    "model::LightNode": _light,
    "model::RenderNode": _render,
    "model::NumberNode": _number,
    "model::SkinNode": lambda w, n: (w.u32(0), w.u32(n["material"]), bones_box_mesh(w, n, shell=False)),
    "model::FakeOmniLightsNode": lambda w, n: _fake(w, n, spot=False),
    "model::FakeSpotLightsNode": lambda w, n: _fake(w, n, spot=True),
    "model::AnimatedFakeOmniLightsNode": lambda w, n: _fake(w, n, spot=False),
    "model::AnimatedFakeSpotLightsNode": lambda w, n: _fake(w, n, spot=True),
}


def encode(model):
    w = Writer()
    w.pack("Q", 0)
    root = model["root"]
    header(w, root)
    for box in ("bounding_box", "user_box", "light_box"):
        w.f64(*root[box]["min"], *root[box]["max"])
    w.u32(len(model["materials"]))
    for m in model["materials"]:
        material(w, m)
    w.u32(0)
    w.u32(root["handle_count"])
    w.u32(len(model["nodes"]))
    for n in model["nodes"]:
        header(w, n)
        TREE_BODIES.get(n["class"], lambda w, n: None)(w, n)
    for n in model["nodes"]:
        w.u32(NONE if n["parent"] is None else n["parent"])
    present = [(name, model["sections"][name]) for name in SECTION_NAMES if model["sections"].get(name)]
    w.u32(len(present))
    for name, records in present:
        w.str(name)
        w.u32(len(records))
        for n in records:
            header(w, n)
            SECTION_BODIES.get(n["class"], lambda w, n: None)(w, n)
    return w.file()
