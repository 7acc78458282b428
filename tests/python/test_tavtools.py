import json
import struct
import subprocess
import sys
from pathlib import Path

import pytest

import tavtools
from tavtools import FormatError
from tav10_builder import EMPTY_BOX, NONE, encode

REPO = Path(__file__).resolve().parents[2]
IDENTITY = [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]
NO_CHANNELS = [NONE] * 13


# -- model pieces in the shape read() returns ------------------------------------

def prop(cls, name, **value):
    return {"class": f"model::{cls}", "name": name, **value}


def version_prop(v):
    return prop("Property<unsigned int>", "__VERSION__", value=v)


def node(cls, name, props=(), **body):
    props = list(props)
    version = next((p["value"] for p in props if p["name"] == "__VERSION__"), 0)
    return {"class": f"model::{cls}", "name": name, "properties": props, "version": version, **body}


def tree(cls, name, index, parent, props=(), **body):
    return node(cls, name, props, index=index, parent=parent, **body)


def geometry(size, vertices, indices, kind=5):
    largest = max(indices, default=0)
    code = 0 if largest <= 255 else 1 if largest <= 65535 else 2
    return {"vertex_count": len(vertices) // size if size else 0, "floats_per_vertex": size if vertices else 0,
            "vertices": vertices, "index_width_code": code, "primitive_kind": kind, "indices": indices}


def fmt(**counts):
    semantics = {"position": 0, "normal": 1, "texcoord0": 4, "color0": 20}
    out = [0] * 26
    for key, count in counts.items():
        out[semantics[key]] = count
    return out


def texture_entry(file, slot=None):
    t = {"channel": NONE, "file": file, "parameters": [2, 2, 10, 6], "matrix": IDENTITY}
    return t if slot is None else {"slot": slot, **t}


def material(name, material_name, vertex_format, **extra):
    m = {"blending": 0, "depth_bias": 0, "vertex_format": vertex_format,
         "texture_coordinates_channels": NO_CHANNELS, "material_name": material_name, "name": name,
         "shadows": 1, "textures": [], "uniforms": [], "animated_uniforms": [], "billboard": None, "decal": None}
    m.update(extra)
    return m


def root(**extra):
    r = node("RootNode", "", [version_prop(3)], bounding_box=EMPTY_BOX, user_box=EMPTY_BOX,
             light_box=EMPTY_BOX, handle_count=0)
    r.update(extra)
    return r


def model(nodes=None, materials=(), root_record=None, **sections):
    out = {"magic": "TAV", "version": 10, "root": root_record or root(), "materials": list(materials),
           "nodes": nodes or [tree("Node", "top", 0, None)],
           "sections": {name: [] for name in ("CONNECTORS", "SHELL_NODES", "LIGHT_NODES", "RENDER_NODES")}}
    out["sections"].update(sections)
    return out


def decoded(m):
    out = tavtools.read(encode(m))
    del out["strings"]
    return out


def animation_body(position=(), rotation=(), scale=(), **extra):
    return dict(matrix=IDENTITY, base_position=[0.0] * 3, base_rotation=[0.0, 0.0, 0.0, 1.0],
                scale_orientation=[0.0, 0.0, 0.0, 1.0], base_scale=[1.0] * 3,
                position=list(position), rotation=list(rotation), scale=list(scale), **extra)


def light_properties():
    return [prop("Property<osg::Vec3f>", "color", value=[1.0, 0.5, 0.25])] + [
        prop("Property<float>", name, value=1.0)
        for name in ("brightness", "phi", "theta", "distance", "specularAmount", "softness")]


def omni(parent=0):
    return {"position": [1.0, 2.0, 3.0], "uv": [[0.25, 0.75], [0.75, 0.0]], "size": 0.5, "parent": parent}


def spot():
    return {**omni(), "back_uv": [[0.0, 1.0], [0.5, 0.5]], "back_side": 1}


def full_model():
    """One record of every kind, including both forms of the optional boxes."""
    box = {"min": [-1.0, -2.0, -3.0], "max": [1.0, 2.0, 3.0]}
    pbr = material(
        "body", "def_material", fmt(position=3, normal=3, texcoord0=2), blending=2, depth_bias=1, shadows=5,
        texture_coordinates_channels=[0] + [NONE] * 12,
        textures=[texture_entry("albedo.dds", 0), texture_entry("ao.dds", 13)],
        uniforms=[prop("Property<float>", "f", value=0.5), prop("Property<unsigned int>", "u", value=7),
                  prop("Property<osg::Vec2f>", "v2", value=[1.0, 2.0]),
                  prop("Property<osg::Vec3f>", "v3", value=[1.0, 2.0, 3.0]),
                  prop("Property<osg::Vec4f>", "v4", value=[1.0, 2.0, 3.0, 4.0]),
                  prop("Property<const char*>", "s", value="text")],
        animated_uniforms=[prop("ArgumentProperty", "a", argument=3),
                           prop("AnimatedProperty<float>", "af", argument=4, keys=[[0.0, 1.0], [1.0, 2.0]]),
                           prop("AnimatedProperty<osg::Vec2f>", "a2", argument=4, keys=[[0.5, 1.0, 2.0]]),
                           prop("AnimatedProperty<osg::Vec3f>", "a3", argument=5, keys=[]),
                           prop("AnimatedProperty<osg::Vec4f>", "a4", argument=6, keys=[[1.0, 1.0, 2.0, 3.0, 4.0]])])
    glass = material("", "glass_material", fmt(position=4), blending=1, billboard=[0, 6], decal=3)
    lights = material("", "fake_omni_lights2", fmt())
    tri = geometry(8, [float(i) for i in range(24)], [0, 1, 2])
    nodes = [
        tree("Node", "top", 0, None),
        tree("TransformNode", "t", 1, 0, matrix=[[float(4 * i + j) for j in range(4)] for i in range(4)]),
        tree("BillboardNode", "bb", 2, 1, [version_prop(1)], settings=[1, 2], matrix=IDENTITY, axis=[0.0, 0.0, 1.0]),
        tree("ArgAnimationNode", "anim", 3, 1, **animation_body(
            position=[{"argument": 1, "keys": [[0.0, 1.0, 2.0, 3.0]]}],
            rotation=[{"argument": 2, "keys": [[0.0, 0.0, 0.0, 0.0, 1.0], [1.0, 0.0, 1.0, 0.0, 0.0]]}],
            scale=[{"argument": 3, "orientation_keys": [[0.0, 0.0, 0.0, 0.0, 1.0]],
                    "scale_keys": [[0.0, 1.0, 1.0, 1.0], [1.0, 2.0, 2.0, 2.0]]}])),
        tree("ArgAnimatedBone", "abone", 4, 3, **animation_body(bone_matrix=IDENTITY)),
        tree("Bone", "bone", 5, 0, matrix=IDENTITY, bone_matrix=IDENTITY),
        tree("ArgVisibilityNode", "vis", 6, 0, arguments=[{"argument": 5, "ranges": [[0.0, 0.5], [0.7, 1.0]]},
                                                         {"argument": 6, "ranges": []}]),
        tree("LodNode", "lod", 7, 6, ranges=[[0.0, 100.0], [100.0, 1000.0]]),
    ]
    shell_mesh = dict(vertex_format=fmt(position=3), **geometry(3, [0.0] * 9, [0, 1, 2]))
    return model(
        nodes, [pbr, glass, lights], root(bounding_box=box, handle_count=4),
        CONNECTORS=[node("Connector", "c", [prop("Property<const char*>", "type", value="seat")], parent=5)],
        SHELL_NODES=[
            node("ShellNode", "shell", parent=1, **shell_mesh),
            node("ShellSkinNode", "sskin", bones=[5, 4], skin_value=NONE, bounding_box=box, **shell_mesh),
            node("ShellSkinNode", "sskin0", bones=[5], skin_value=1, bounding_box=None, **shell_mesh),
            node("SegmentsNode", "seg", parent=0, segments=[{"start": [0.0, 0.0, 0.0], "end": [1.0, 1.0, 1.0]}]),
        ],
        LIGHT_NODES=[
            node("LightNode", "omni", [version_prop(2)], parent=0, kind=1, light_properties=light_properties(),
                 appearance=texture_entry("flare.dds")),
            node("LightNode", "spot", [version_prop(2)], parent=1, kind=2, light_properties=light_properties(),
                 appearance=None),
        ],
        RENDER_NODES=[
            node("RenderNode", "one", material=0, parents=[{"node": 1, "damage_argument": NONE}], **tri),
            node("RenderNode", "two", material=0, parents=[{"node": 1, "damage_argument": 7},
                                                           {"node": 2, "damage_argument": NONE}], **tri),
            node("NumberNode", "num", material=0, parents=[{"node": 0, "damage_argument": NONE}],
                 controls=[[{"argument": 3, "value": 0.5, "second_argument": -1, "second_value": 0.0}]], **tri),
            node("SkinNode", "skin", material=1, bones=[5], skin_value=NONE, bounding_box=box,
                 **geometry(4, [0.0, 0.0, 0.0, 0.0] * 3, [0, 1, 2])),
            node("SkinNode", "skin0", material=1, bones=[5, 4], skin_value=2, bounding_box=None,
                 **geometry(4, [], [])),
            node("FakeOmniLightsNode", "fo", material=2, parents=[{"node": 0}], lights=[omni(), omni()]),
            node("FakeSpotLightsNode", "fs", [version_prop(1)], material=2,
                 parents=[{"node": 0, "direction": [0.0, 0.0, 1.0]}], lights=[spot()]),
            node("AnimatedFakeOmniLightsNode", "afo", material=2, parents=[{"node": 0}], lights=[omni()],
                 argument=9, animation=[i / 128 for i in range(128)]),
            node("AnimatedFakeSpotLightsNode", "afs", [version_prop(1)], material=2,
                 parents=[{"node": 0, "direction": [0.0, 1.0, 0.0]}], lights=[spot(), spot()],
                 argument=9, animation=[0.5] * 256),
        ],
    )


# -- the minimal file, byte for byte -------------------------------------------------

def u32(*values):
    return struct.pack(f"<{len(values)}I", *values)


F32_MAX = 3.4028234663852886e38
MINIMAL_TABLE = b"model::RootNode\0model::Property<unsigned int>\0__VERSION__\0model::Node\0"
MINIMAL = (b"TAV" + struct.pack("<HI", 10, len(MINIMAL_TABLE)) + MINIMAL_TABLE + bytes(8)
           + u32(0, 0, 0, 1, 1, 2, 3) + struct.pack("<18d", *([F32_MAX] * 3 + [-F32_MAX] * 3) * 3)
           + u32(0, 0, 0) + u32(1) + u32(3, 3) + b"top" + u32(0, 0) + u32(NONE) + u32(0))
TABLE_END = 9 + len(MINIMAL_TABLE)
ROOT_CLASS = TABLE_END + 8
ROOT_PROPS = ROOT_CLASS + 12
NODE = ROOT_PROPS + 16 + 144 + 12 + 4
PARENT = NODE + 19
SECTIONS = PARENT + 4


def test_minimal_file_decodes_to_root_top_node_and_no_sections():
    expected = model()
    assert encode(expected) == MINIMAL
    result = tavtools.read(MINIMAL)
    assert result.pop("strings") == ["model::RootNode", "model::Property<unsigned int>", "__VERSION__", "model::Node"]
    assert result == expected


@pytest.mark.parametrize("offset, patch, message", [
    (3, struct.pack("<H", 11), "unsupported format version 11, expected 10 at offset 3"),
    (TABLE_END - 1, b"x", f"string table does not end with a NUL at offset {TABLE_END - 1}"),
    (TABLE_END, u32(1), f"reserved word is 1, expected 0 at offset {TABLE_END}"),
    (ROOT_CLASS, u32(3), f"root record has class 'model::Node', expected 'model::RootNode' at offset {ROOT_CLASS}"),
    (ROOT_CLASS + 8, u32(1), f"node reserved word is 1, expected 0 at offset {ROOT_CLASS + 8}"),
    (ROOT_PROPS, u32(0x7FFFFFFF), f"count 2147483647 needs at least"),
    (ROOT_PROPS + 4, u32(3), f"unknown property class 'model::Node' at offset {ROOT_PROPS + 4}"),
    (ROOT_PROPS + 8, u32(4), f"string index 4 out of range (table holds 4) at offset {ROOT_PROPS + 8}"),
    (NODE, u32(2), f"unknown transform node class '__VERSION__' at offset {NODE}"),
    (NODE + 4, u32(1000), f"count 1000 needs at least 1000 bytes, 19 left at offset {NODE + 4}"),
    (PARENT, u32(0), f"top node has parent index 0, expected 0xFFFFFFFF at offset {PARENT}"),
    (SECTIONS, u32(5), f"section count 5 exceeds 4 at offset {SECTIONS}"),
    (SECTIONS, u32(1), f"unexpected end of file: 4 bytes needed, 0 left at offset {SECTIONS + 4}"),
])
def test_corrupt_field_of_minimal_file_is_refused_at_its_offset(offset, patch, message):
    data = bytearray(MINIMAL)
    data[offset:offset + len(patch)] = patch
    with pytest.raises(FormatError) as caught:
        tavtools.read(bytes(data))
    assert message in str(caught.value)


@pytest.mark.parametrize("data, offset", [(b"", 0), (b"TA", 0), (b"XAV" + MINIMAL[3:], 0),
                                          (b"TAV2" + MINIMAL[4:], 4)])
def test_bad_magic_is_refused_at_its_offset(data, offset):
    # A format 10 body behind the 2.0 magic fails at the first 2.0 field.
    with pytest.raises(FormatError, match=f"at offset {offset}"):
        tavtools.read(data)


def test_trailing_byte_is_refused_at_its_offset():
    with pytest.raises(FormatError, match=f"1 trailing bytes after the last section at offset {len(MINIMAL)}"):
        tavtools.read(MINIMAL + b"\0")


def test_every_record_kind_round_trips():
    m = full_model()
    assert decoded(m) == m


def test_truncation_anywhere_is_a_format_error_naming_an_offset():
    data = encode(full_model())
    # A stride of 5 cuts every record and meets every field alignment (1, 2, 4, 8).
    for cut in sorted(set(range(0, len(data), 5)) | set(range(len(data) - 16, len(data)))):
        with pytest.raises(FormatError) as caught:
            tavtools.read(data[:cut])
        assert caught.value.offset <= cut, cut


def test_skin_without_box_whose_vertices_look_like_a_box_keeps_its_vertices():
    # Read as a box, the counts and first vertex form a valid box and the rest
    # parses as an empty mesh; only the index range tells the readings apart.
    skin = node("SkinNode", "s", material=0, bones=[0], skin_value=0, bounding_box=None,
                **geometry(3, [0.0, 1.0, 1.0, 5.0, 0.0, 0.0], [0, 1, 1]))
    m = model(materials=[material("", "def_material", fmt(position=3))], RENDER_NODES=[skin])
    assert decoded(m) == m


@pytest.mark.parametrize("indices, code, ok", [
    ([0, 255], 0, True), ([256, 0], 1, True), ([65535], 1, True), ([65536], 2, True), ([], 0, True),
    ([255], 1, False), ([256], 2, False), ([65535], 2, False),
])
def test_index_width_code_must_follow_largest_index(indices, code, ok):
    shell = node("ShellNode", "s", parent=0, vertex_format=fmt(position=3),
                 **dict(geometry(3, [0.0] * 3, indices), index_width_code=code))
    m = model(SHELL_NODES=[shell])
    if ok:
        assert decoded(m) == m
    else:
        with pytest.raises(FormatError, match=f"index width code {code} for a largest index"):
            tavtools.read(encode(m))


@pytest.mark.parametrize("position, rotation, scale, cls", [
    (False, False, False, "ArgScaleNode"), (False, False, True, "ArgScaleNode"),
    (False, True, False, "ArgRotationNode"), (False, True, True, "ArgAnimationNode"),
    (True, False, False, "ArgPositionNode"), (True, False, True, "ArgAnimationNode"),
    (True, True, False, "ArgAnimationNode"), (True, True, True, "ArgAnimationNode"),
])
def test_animation_class_must_match_filled_channels(position, rotation, scale, cls):
    body = animation_body(position=[{"argument": 1, "keys": []}] * position,
                          rotation=[{"argument": 1, "keys": []}] * rotation,
                          scale=[{"argument": 1, "orientation_keys": [], "scale_keys": []}] * scale)
    good = model([tree("Node", "top", 0, None), tree(cls, "a", 1, 0, **body)])
    assert decoded(good) == good
    for wrong in {"ArgScaleNode", "ArgRotationNode", "ArgPositionNode", "ArgAnimationNode"} - {cls}:
        bad = model([tree("Node", "top", 0, None), tree(wrong, "a", 1, 0, **body)])
        with pytest.raises(FormatError, match=f"channels of a model::{cls} written under"):
            tavtools.read(encode(bad))


def shell(**changes):
    return node("ShellNode", "s", **{"parent": 0, "vertex_format": fmt(position=3),
                                    **geometry(3, [0.0] * 9, [0, 1, 2]), **changes})


@pytest.mark.parametrize("m, message", [
    (model(SHELL_NODES=[shell(parent=1)]), "transform index 1 out of range (1 transform nodes)"),
    (model(RENDER_NODES=[node("RenderNode", "r", material=0, parents=[], **geometry(0, [], []))]),
     "material index 0 out of range (0 materials)"),
    (model(SHELL_NODES=[shell(vertex_count=0)]), "vertex count 0 with 3 floats per vertex"),
    (model(SHELL_NODES=[shell(floats_per_vertex=1)]), "1 floats per vertex for a vertex format of 3"),
    (model(SHELL_NODES=[shell(vertex_count=0xFFFFFFFF, floats_per_vertex=0xFFFF, vertices=[])]),
     "unexpected end of file"),
    (model(RENDER_NODES=[node("Connector", "c", parent=0)]), "model::Connector record in section 'RENDER_NODES'"),
    (model(SHELL_NODES=[node("TransformNode", "t", parent=0)]), "unknown node class 'model::TransformNode'"),
    (model([tree("Node", "top", 0, None), tree("Node", "n", 1, 1)]), "parent index 1 of transform node 1 is not below 1"),
    (model(materials=[material("", "m", fmt(), uniforms=[prop("ArgumentProperty", "a", argument=1)])]),
     "model::ArgumentProperty in the wrong uniform list"),
    (model(materials=[material("", "m", fmt(), animated_uniforms=[prop("ArgumentProperty", "a", argument=1, repeated=2)])]),
     "argument written as 1 then 2"),
    (model(materials=[material("", "m", fmt(), textures=[texture_entry("a", 19)])]), "texture slot 19 out of range"),
    (model(RENDER_NODES=[node("AnimatedFakeOmniLightsNode", "a", material=0, parents=[], lights=[omni()],
                              argument=1, animation=[0.0] * 127)],
           materials=[material("", "m", fmt())]), "127 animation samples for 1 lights, expected 128"),
])
def test_inconsistent_record_is_refused(m, message):
    with pytest.raises(FormatError, match="at offset") as caught:
        tavtools.read(encode(m))
    assert message in str(caught.value)


@pytest.mark.parametrize("as_source", [bytes, bytearray, memoryview, str, Path])
def test_read_accepts_bytes_and_paths(tmp_path, as_source):
    path = tmp_path / "m.tav"
    path.write_bytes(MINIMAL)
    source = as_source(path) if as_source in (str, Path) else as_source(MINIMAL)
    assert tavtools.read(source)["nodes"][0]["name"] == "top"


def run_cli(*args):
    return subprocess.run([sys.executable, "-m", "tavtools", *args], cwd=REPO, capture_output=True, text=True,
                          timeout=60)


def test_cli_dump_prints_the_decoded_file_as_strict_json(tmp_path):
    m = full_model()
    m["nodes"][0]["name"] = "\udcff top"  # a name that is not UTF-8
    m["sections"]["SHELL_NODES"][0]["vertices"][0] = float("nan")
    path = tmp_path / "m.tav"
    path.write_bytes(encode(m))
    done = run_cli("dump", str(path))
    assert done.returncode == 0, done.stderr

    def refuse(constant):
        raise AssertionError(f"non-standard JSON constant {constant}")
    dumped = json.loads(done.stdout, parse_constant=refuse)
    assert dumped["nodes"][0]["name"] == "\udcff top"
    assert dumped["sections"]["SHELL_NODES"][0]["vertices"][0] == "nan"
    assert dumped["sections"]["RENDER_NODES"][1]["parents"][1] == {"node": 2, "damage_argument": NONE}


def test_cli_summary_counts_nodes_materials_vertices_and_triangles(tmp_path):
    path = tmp_path / "m.tav"
    path.write_bytes(encode(full_model()))
    done = run_cli("summary", str(path))
    assert done.returncode == 0, done.stderr
    lines = [line.split() for line in done.stdout.splitlines()]
    assert ["model::RenderNode", "2"] in lines and ["model::ShellSkinNode", "2"] in lines
    assert ["materials:", "3"] in lines
    # 3 render meshes and 1 skin, apart from 3 shells, of 3 vertices and one triangle each
    assert "render: 12 vertices, 4 triangles" in done.stdout
    assert "shells: 9 vertices, 3 triangles" in done.stdout and ["segments:", "1"] in lines
    assert "bounding box: min (-1, -2, -3) max (1, 2, 3)" in done.stdout
    assert "user box: empty" in done.stdout and "light box: empty" in done.stdout
    # One row per render node: name, material, vertices, triangles, parent(s).
    assert ["two", "body", "3", "1", "t,", "bb"] in lines and ["skin", "glass_material", "3", "1", "bone"] in lines
    # One row per use of an argument: what it drives and over which keys.
    assert ["arguments:", "8"] in lines
    for row in (["5", "vis", "visibility", "shown", "0..0.5,", "0.7..1"], ["2", "anim", "rotation", "keys", "0..1"],
                ["4", "material", "body", "property", "af", "keys", "0..1"], ["7", "two", "damage"],
                ["9", "afo", "light", "animation"]):
        assert row in lines


def test_cli_reports_a_bad_file_with_its_offset_and_fails(tmp_path):
    path = tmp_path / "bad.tav"
    path.write_bytes(MINIMAL[:-1])
    done = run_cli("summary", str(path))
    assert done.returncode == 1 and done.stdout == ""
    assert f"at offset {SECTIONS}" in done.stderr


# -- validate: every problem at once, with its offset and record path -------------

from tavtools.validate import validate  # noqa: E402


def damaged_full_model():
    m = full_model()
    renders = m["sections"]["RENDER_NODES"]
    renders[0]["indices"] = [0, 1, 3]  # the vertex count itself: one past the last vertex
    renders[1]["material"] = 7
    shell = m["sections"]["SHELL_NODES"][0]
    shell["vertices"] = [float("nan")] + shell["vertices"][1:]
    m["nodes"][2]["parent"] = 5
    m["root"]["handle_count"] = 0
    return m


def test_validate_lists_every_damage_with_its_offset_and_path():
    data = encode(damaged_full_model()) + b"\0"
    report = validate(data)
    assert [(i.severity, i.code, i.path) for i in report.issues] == [
        ("warning", "HANDLE_COUNT", "root record"),
        ("error", "BAD_PARENT", "parent indices"),
        ("error", "NOT_FINITE", "SHELL_NODES record 0 'shell'"),
        ("error", "INDEX_OUT_OF_RANGE", "RENDER_NODES record 0 'one'"),
        ("error", "MATERIAL_INDEX_OUT_OF_RANGE", "RENDER_NODES record 1"),
        ("error", "TRAILING_BYTES", ""),
    ]
    offsets = [i.offset for i in report.issues]
    assert offsets[-1] == len(data) - 1
    # Each damage alone is where the strict reader stops, or (for what only a
    # loader refuses) where its field starts in the file.
    assert data[offsets[1]:offsets[1] + 4] == u32(5)
    assert data[offsets[3]:offsets[3] + 6] == b"\0" + u32(3) + b"\x05"      # width code, count, kind
    strict = full_model()
    strict["nodes"][2]["parent"] = 5
    with pytest.raises(FormatError) as caught:
        tavtools.read(encode(strict))
    assert caught.value.offset == offsets[1]


def test_validate_stops_at_a_damage_it_cannot_read_past_keeping_the_earlier_ones():
    data = bytearray(MINIMAL)
    data[TABLE_END:TABLE_END + 4] = u32(1)              # reserved word: readable past
    data[NODE:NODE + 4] = u32(2)                        # class name: the record cannot be followed
    report = validate(bytes(data))
    assert [(i.code, i.offset) for i in report.issues] == [("RESERVED_NOT_ZERO", TABLE_END), ("UNREADABLE", NODE)]
    assert report.errors == report.issues


def test_validate_command_reports_json_and_exit_status(tmp_path):
    clean, damaged = tmp_path / "clean.tav", tmp_path / "damaged.tav"
    m = full_model()
    m["root"]["handle_count"] = 8       # the arguments its records use
    clean.write_bytes(encode(m))
    damaged.write_bytes(encode(damaged_full_model()))
    done = run_cli("validate", str(clean))
    assert (done.returncode, done.stdout) == (0, f"{clean}: no problems found\n")
    done = run_cli("validate", "--json", str(damaged))
    assert done.returncode == 1
    report = json.loads(done.stdout)
    assert report["issues"]["numErrors"] == 4 and report["issues"]["numWarnings"] == 1
    assert report["issues"]["messages"][0] == {
        "severity": "warning", "code": "HANDLE_COUNT", "offset": report["issues"]["messages"][0]["offset"],
        "path": "root record", "message": "handle count 0, but 8 distinct arguments are used"}
    assert run_cli("validate", str(tmp_path / "missing.tav")).returncode == 1


@pytest.mark.parametrize("command", ["dump", "summary", "validate", "convert", "preview"])
def test_command_help_describes_every_option_and_gives_an_example(command):
    from tavtools.__main__ import _parser
    (commands,) = [a for a in _parser()._actions if a.dest == "command"]
    sub = commands.choices[command]
    assert all(action.help for action in sub._actions), [a.dest for a in sub._actions if not a.help]
    done = run_cli(command, "--help")
    assert done.returncode == 0 and f"example:\n  tavtools {command} " in done.stdout
