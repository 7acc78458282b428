import json
import random
import struct
import subprocess
import sys
from pathlib import Path

import pytest

import tavtools
from tavtools import FormatError
from tav20_builder import EMPTY_BOX, FLT_MAX, IDENTITY, encode

REPO = Path(__file__).resolve().parents[2]
NONE = 0xFFFFFFFF

CLASSES = {"NODE": "Node", "TRND": "TransformNode", "BONE": "Bone", "ANND": "ArgAnimationNode",
           "ANBN": "ArgAnimatedBone", "ANVS": "ArgVisibilityNode", "CNCT": "Connector"}
PROPERTY_CLASSES = {"FLT1": "Property<float>", "FLT2": "Property<osg::Vec2f>", "FLT3": "Property<osg::Vec3f>",
                    "FLT4": "Property<osg::Vec4f>", "INT1": "Property<unsigned int>", "AARG": "ArgumentProperty",
                    "STRG": "Property<const char*>", "AFL1": "AnimatedProperty<float>",
                    "AFL2": "AnimatedProperty<osg::Vec2f>", "AFL3": "AnimatedProperty<osg::Vec3f>",
                    "AFL4": "AnimatedProperty<osg::Vec4f>"}


# -- model pieces in the shape read() returns, without the derived keys ---------

def rec(tag, name, children=(), props=(), **body):
    n = {"tag": tag, "class": "model::" + CLASSES[tag], "name": name, **body}
    if tag != "ANVS":
        n["properties"] = list(props)
    if tag != "CNCT":
        n["children"] = list(children)
    return n


def prop(tag, name, **value):
    return {"tag": tag, "class": "model::" + PROPERTY_CLASSES[tag], "name": name, **value}


def keys(*rows):
    return {"keys": [list(r) for r in rows]}


def animation(position=(), rotation=(), scale=(), **extra):
    return dict(matrix=IDENTITY, base_position=[0.0] * 3, base_rotation=[0.0, 0.0, 0.0, 1.0],
                scale_orientation=[0.0, 0.0, 0.0, 1.0], base_scale=[1.0] * 3,
                position=list(position), rotation=list(rotation), scale=list(scale), **extra)


def model(transform, visibility=None, connectors=(), handle_count=0, **boxes):
    return {"magic": "TAV2", "version": 20, "handle_count": handle_count,
            "bounding_box": boxes.get("bounding_box", EMPTY_BOX), "user_box": boxes.get("user_box", EMPTY_BOX),
            "light_box": boxes.get("light_box", EMPTY_BOX), "transform_tree": transform,
            "visibility_tree": visibility if visibility is not None else [rec("NODE", "")],
            "connectors": list(connectors)}


DERIVED = {"index", "parent", "pool_size"}


def strip(value):
    """The decoded value without the keys the decoder derives."""
    if isinstance(value, dict):
        return {k: strip(v) for k, v in value.items() if k not in DERIVED and not k.endswith("_offset")}
    if isinstance(value, list):
        return [strip(v) for v in value]
    return value


def full_model():
    matrix = [[float(4 * i + j) for j in range(4)] for i in range(4)]
    props = [prop("FLT1", "f", value=0.5), prop("FLT2", "v2", value=[1.0, 2.0]),
             prop("FLT3", "v3", value=[1.0, 2.0, 3.0]), prop("FLT4", "v4", value=[1.0, 2.0, 3.0, 4.0]),
             prop("INT1", "u", value=7), prop("AARG", "a", argument=3), prop("STRG", "s", value="top"),
             prop("AFL1", "af", argument=4, **keys([0.0, 1.0], [1.0, 2.0])),
             prop("AFL2", "a2", argument=4, **keys([0.5, 1.0, 2.0])),
             prop("AFL3", "a3", argument=5, **keys()),
             prop("AFL4", "a4", argument=6, **keys([1.0, 1.0, 2.0, 3.0, 4.0]))]
    transform = [
        rec("NODE", "hook"),
        rec("NODE", "top", [2, 5, 0], props),
        rec("TRND", "t", [3], matrix=matrix),
        rec("ANND", "anim", [4], **animation(
            position=[{"argument": 1, **keys([0.0, 1.0, 2.0, 3.0])}],
            rotation=[{"argument": 2, **keys([0.0, 0.0, 0.0, 0.0, 1.0], [1.0, 0.0, 1.0, 0.0, 0.0])}],
            scale=[{"argument": 3, "orientation": keys([0.0, 0.0, 0.0, 0.0, 1.0]),
                    "scale": keys([0.0, 1.0, 1.0, 1.0], [1.0, 2.0, 2.0, 2.0])}])),
        rec("ANBN", "abone", **animation(bone_matrix=matrix)),
        rec("BONE", "bone", matrix=IDENTITY, bone_matrix=matrix),
    ]
    visibility = [rec("NODE", "", [1, 2]),
                  rec("ANVS", "vis", arguments=[{"argument": 5, "ranges": [[0.0, 0.5], [0.75, 1.0]]},
                                                {"argument": 6, "ranges": []}]),
                  rec("ANVS", "inner", arguments=[])]
    connectors = [rec("CNCT", "seat", [], [prop("STRG", "type", value="seat")], transform_node=0, visibility_node=1),
                  rec("CNCT", "free", transform_node=5, visibility_node=0)]
    box = {"min": [-1.0, -2.0, -3.0], "max": [1.0, 2.0, 3.0]}
    return model(transform, visibility, connectors, handle_count=6, bounding_box=box)


def u32(*values):
    return struct.pack(f"<{len(values)}I", *values)


# The file the writer makes for a root with one plain top node named "root".
HEADER = b"TAV2" + u32(0, 0) + struct.pack("<18f", *([FLT_MAX] * 3 + [-FLT_MAX] * 3) * 3)
MINIMAL = (HEADER + b"BUFF" + u32(5) + b"root\0" + b"TRTR" + u32(0, 0)
           + u32(1) + b"NODE" + u32(0, 0) + u32(0, 0)
           + u32(1) + b"NODE" + u32(4, 0) + u32(0, 0))
POOL = 84 + 8
TREES = POOL + 5
TOP = TREES + 16
VIS = TOP + 20


def test_minimal_file_decodes_to_one_node_per_tree():
    expected = model([rec("NODE", "root")])
    assert encode(expected) == MINIMAL
    result = tavtools.read(MINIMAL)
    assert result["pool_size"] == 5
    assert [(n["name"], n["name_offset"], n["parent"], n["index"]) for n in result["transform_tree"]] == \
        [("root", 0, None, 0)]
    assert result["visibility_tree"][0]["name_offset"] == 4  # the empty name shares the NUL of "root"
    assert strip(result) == expected


def test_every_record_kind_round_trips():
    m = full_model()
    assert strip(tavtools.read(encode(m))) == m


def test_parents_and_pool_offsets_are_reported():
    result = tavtools.read(encode(full_model()))
    parents = [n["parent"] for n in result["transform_tree"]]
    assert parents == [1, None, 1, 2, 3, 1]
    top = result["transform_tree"][1]
    strings = {p["name"]: p for p in top["properties"]}
    # The string value "top" is the node name's bytes, not a second copy.
    assert strings["s"]["value_offset"] == top["name_offset"]
    empty = strings["a3"]
    assert empty["keys"] == [] and empty["times_offset"] == empty["values_offset"]
    vis = result["visibility_tree"][1]["arguments"]
    assert vis[1]["ranges"] == [] and vis[1]["ranges_offset"] == vis[0]["ranges_offset"] + 16


def test_shared_names_and_tails_decode_to_their_texts():
    m = model([rec("NODE", "wheel_left", [1, 2, 3]), rec("NODE", "left"), rec("NODE", "eft"),
               rec("NODE", "wheel_left")])
    result = tavtools.read(encode(m))
    offsets = [n["name_offset"] for n in result["transform_tree"]]
    assert offsets == [0, 6, 7, 0] and result["pool_size"] == len("wheel_left\0")
    assert strip(result) == m


def patched(offset, patch, data=MINIMAL):
    out = bytearray(data)
    out[offset:offset + len(patch)] = patch
    return bytes(out)


@pytest.mark.parametrize("data, message", [
    (patched(4, u32(1)), "reserved word after the magic is 1, expected 0 at offset 4"),
    (patched(84, b"BUFX"), "tag b'BUFX', expected b'BUFF' at offset 84"),
    (patched(88, u32(1000)), "count 1000 needs at least 1000 bytes"),
    (patched(TREES, b"TRTX"), f"tag b'TRTX', expected b'TRTR' at offset {TREES}"),
    (patched(TREES + 8, u32(2)), f"second reserved word of the trees is 2, expected 0 at offset {TREES + 8}"),
    (patched(TREES + 12, u32(0x10000000)), "count 268435456 needs at least"),
    (patched(TOP, b"ANVS"), f"node tag 'ANVS' not expected here (expected one of NODE, TRND, BONE, ANND, ANBN) "
                            f"at offset {TOP}"),
    (patched(TOP, b"XXXX"), "node tag 'XXXX' not expected here"),
    (patched(TOP + 4, u32(5)), f"string offset 5 outside the pool of 5 bytes at offset {TOP + 4}"),
    (patched(TOP + 8, u32(1)), "unknown property tag"),
    (patched(TOP + 12, u32(1)), f"topology entry 0 names node 1 at offset {TOP + 12}"),
    (patched(TOP + 16, u32(1)), f"child index 1 of node 0 out of range (1 nodes) at offset {TOP + 12}"),
    (patched(VIS + 4, b"TRND"), f"node tag 'TRND' not expected here (expected one of NODE, ANVS) at offset {VIS + 4}"),
    (patched(POOL + 4, b"!"), f"string at pool offset 0 has no terminating NUL at offset {TOP + 4}"),
    (MINIMAL + b"NODE" + u32(0, 0), "node tag 'NODE' not expected here (expected one of CNCT)"),
    (MINIMAL + b"CNCT" + u32(0, 0) + u32(1, 0), "transform node index 1 out of range (1 nodes)"),
    (MINIMAL + b"CNCT" + u32(0, 0) + u32(0, 1), "visibility node index 1 out of range (1 nodes)"),
    (MINIMAL + b"CNCT" + u32(0, 0) + u32(0), "unexpected end of file"),
])
def test_corrupt_field_is_refused_at_its_offset(data, message):
    with pytest.raises(FormatError) as caught:
        tavtools.read(data)
    assert message in str(caught.value)


def two_children(children_of_top, children_of_second):
    return (HEADER + b"BUFF" + u32(2) + b"a\0" + b"TRTR" + u32(0, 0) + u32(3)
            + (b"NODE" + u32(0, 0)) * 3
            + u32(0, len(children_of_top), *children_of_top) + u32(1, len(children_of_second), *children_of_second)
            + u32(2, 0) + u32(1) + b"NODE" + u32(1, 0) + u32(0, 0))


@pytest.mark.parametrize("top, second, message", [
    ([1, 2], [], None),
    ([1, 3], [], "child index 3 of node 0 out of range (3 nodes)"),
    ([1, 2], [2], "node 2 has more than one parent"),
    ([0], [2], "node 0 has more than one parent"),
    ([1], [], "a tree needs exactly one root, found 2"),
    ([], [2], "a tree needs exactly one root, found 2"),
])
def test_topology_must_form_one_tree(top, second, message):
    data = two_children(top, second)
    if message is None:
        assert [n["parent"] for n in tavtools.read(data)["transform_tree"]] == [None, 0, 0]
        return
    with pytest.raises(FormatError) as caught:
        tavtools.read(data)
    assert message in str(caught.value)


def test_cycle_away_from_the_root_is_refused():
    data = (HEADER + b"BUFF" + u32(1) + b"\0" + b"TRTR" + u32(0, 0) + u32(3) + (b"NODE" + u32(0, 0)) * 3
            + u32(0, 0) + u32(1, 1, 2) + u32(2, 1, 1) + u32(1) + b"NODE" + u32(0, 0) + u32(0, 0))
    with pytest.raises(FormatError, match="node 1 has more than one parent|not reachable"):
        tavtools.read(data)


@pytest.mark.parametrize("block, message", [
    (u32(1, 0, 100), "key values at pool offset 100 (12 bytes) lies outside the pool"),
    (u32(0x40000000, 0, 0), "key times at pool offset 0 (4294967296 bytes) lies outside the pool"),
    (u32(0, 9, 9), None),  # no keys at the pool's end: nothing to read
    (u32(0, 10, 10), "key times at pool offset 10 (0 bytes) lies outside the pool"),
])
def test_key_blocks_must_lie_inside_the_pool(block, message):
    pool = b"n\0" + struct.pack("<f", 0.5) + b"a3\0"
    body = (b"TRTR" + u32(0, 0) + u32(1) + b"NODE" + u32(0, 1) + b"AFL3" + u32(6, 4) + block + u32(0, 0)
            + u32(1) + b"NODE" + u32(1, 0) + u32(0, 0))
    data = HEADER + b"BUFF" + u32(len(pool)) + pool + body
    if message is None:
        assert tavtools.read(data)["transform_tree"][0]["properties"][0]["keys"] == []
        return
    with pytest.raises(FormatError) as caught:
        tavtools.read(data)
    assert message in str(caught.value)


def test_huge_visibility_range_count_is_refused_without_allocating():
    data = (HEADER + b"BUFF" + u32(2) + b"v\0" + b"TRTR" + u32(0, 0) + u32(0)
            + u32(2) + b"NODE" + u32(1, 0) + b"ANVS" + u32(0, 1) + u32(5) + struct.pack("<QQ", 1 << 62, 0)
            + u32(0, 1, 1) + u32(1, 0))
    with pytest.raises(FormatError, match="visibility ranges at pool offset 0"):
        tavtools.read(data)


def test_truncation_anywhere_is_a_format_error_naming_an_offset():
    data = encode(full_model())
    for cut in range(len(data)):
        try:
            result = tavtools.read(data[:cut])
        except FormatError as error:
            assert error.offset <= cut, cut
            continue
        # A cut exactly between connector entries leaves a shorter, valid file.
        assert len(result["connectors"]) < 2, cut


def test_random_corruption_is_a_format_error_or_a_decoded_file():
    data = encode(full_model())
    rng = random.Random(20)
    for _ in range(400):
        bad = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            bad[rng.randrange(len(bad))] = rng.randrange(256)
        try:
            tavtools.read(bytes(bad))
        except FormatError:
            pass


def test_format10_magic_is_still_told_apart():
    with pytest.raises(FormatError, match="unsupported format version"):
        tavtools.read(b"TAV" + struct.pack("<H", 20) + bytes(8))
    assert tavtools.read(MINIMAL)["magic"] == "TAV2"


def run_cli(*args):
    return subprocess.run([sys.executable, "-m", "tavtools", *args], cwd=REPO, capture_output=True, text=True,
                          timeout=60)


def test_cli_dump_prints_the_decoded_file_as_json(tmp_path):
    m = full_model()
    m["transform_tree"][0]["name"] = "\udcff hook"  # a name that is not UTF-8
    path = tmp_path / "m.tav"
    path.write_bytes(encode(m))
    done = run_cli("dump", str(path))
    assert done.returncode == 0, done.stderr
    dumped = json.loads(done.stdout)
    assert dumped["transform_tree"][0]["name"] == "\udcff hook"
    assert dumped["connectors"][0]["visibility_node"] == 1


def test_cli_summary_counts_trees_and_connectors(tmp_path):
    path = tmp_path / "m.tav"
    path.write_bytes(encode(full_model()))
    done = run_cli("summary", str(path))
    assert done.returncode == 0, done.stderr
    lines = [line.split() for line in done.stdout.splitlines()]
    assert lines[0] == ["TAV", "format", "2.0"]
    assert ["model::Node", "2"] in lines and ["model::ArgAnimatedBone", "1"] in lines
    assert ["visibility", "nodes:", "2"] in lines and ["connectors:", "2"] in lines
    assert ["handles:", "6"] in lines and ["arguments:", "6"] in lines
    assert ["5", "vis", "visibility", "shown", "0..0.5,", "0.75..1"] in lines
    assert "bounding box: min (-1, -2, -3) max (1, 2, 3)" in done.stdout and "light box: empty" in done.stdout


def test_validate_lists_every_damage_with_its_offset_and_path():
    from tavtools.validate import validate
    data = MINIMAL + b"CNCT" + u32(0, 0) + u32(0, 1)
    for offset, patch in ((4, u32(1)), (TREES + 8, u32(2)), (TOP + 4, u32(5))):
        data = patched(offset, patch, data)
    report = validate(data)
    assert [(i.code, i.offset, i.path) for i in report.issues] == [
        ("RESERVED_NOT_ZERO", 4, ""),
        ("RESERVED_NOT_ZERO", TREES + 8, ""),
        ("POOL_RANGE", TOP + 4, "transform tree > node 0"),
        ("NODE_INDEX_OUT_OF_RANGE", len(data) - 4, "connector 0"),
    ]
    assert validate(encode(full_model())).issues == []
