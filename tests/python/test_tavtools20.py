# The decoder and validator of format 2.0 files on files pytav saved.

import struct

import pytest

import pytav
import tavtools
from support import EMPTY_BOX, FLT_MAX, build, save_and_read, u32
from tavtools import FormatError
from tavtools.validate import validate


# The file of an empty model: header with three empty boxes, a pool holding
# "root", one plain node in each tree and no connectors.
HEADER = b"TAV2" + u32(0, 0) + struct.pack("<18f", *([FLT_MAX] * 3 + [-FLT_MAX] * 3) * 3)
MINIMAL = (HEADER + b"BUFF" + u32(5) + b"root\0" + b"TRTR" + u32(0, 0)
           + u32(1) + b"NODE" + u32(0, 0) + u32(0, 0)
           + u32(1) + b"NODE" + u32(4, 0) + u32(0, 0))
# Offsets of the pool's bytes, the trees, the top node and the visibility tree.
POOL, TREES, TOP, VIS = 92, 97, 113, 133


def test_empty_model_is_saved_and_decoded_byte_for_byte(tmp_path):
    data = save_and_read(pytav.Model(), tmp_path / "m.tav", 20)
    assert (tmp_path / "m.tav").read_bytes() == MINIMAL
    assert (data["magic"], data["version"], data["pool_size"], data["handle_count"], data["connectors"]) == \
        ("TAV2", 20, 5, 0, [])
    assert data["bounding_box"] == EMPTY_BOX
    assert [(n["tag"], n["name"], n["name_offset"], n["parent"]) for n in data["transform_tree"]] == \
        [("NODE", "root", 0, None)]
    # The empty name shares the NUL of "root".
    assert [(n["tag"], n["name"], n["name_offset"]) for n in data["visibility_tree"]] == [("NODE", "", 4)]


def test_saved_trees_and_connector_decode_to_the_script_input(tmp_path):
    data = save_and_read(build(lod=False)[0], tmp_path / "m.tav", 20)
    tree = {n["name"]: (n["tag"], n["parent"]) for n in data["transform_tree"]}
    assert tree == {"root": ("NODE", None), "body": ("TRND", 1), "rotor": ("ANND", 0), "bone": ("BONE", 0)}
    (hatch,) = [n for n in data["visibility_tree"] if n["tag"] == "ANVS"]
    assert (hatch["name"], hatch["arguments"][0]["argument"]) == ("hatch", 4)
    (connector,) = data["connectors"]
    assert [(p["name"], p["value"]) for p in connector["properties"]] == [("length", 2.5), ("type", "hook")]
    assert data["transform_tree"][connector["transform_node"]]["name"] == "body"
    assert data["user_box"] == {"min": [-1.0] * 3, "max": [1.0] * 3}


def patched(offset, patch, data=MINIMAL):
    out = bytearray(data)
    out[offset:offset + len(patch)] = patch
    return bytes(out)


def two_children(children_of_top, children_of_second):
    return (HEADER + b"BUFF" + u32(2) + b"a\0" + b"TRTR" + u32(0, 0) + u32(3)
            + (b"NODE" + u32(0, 0)) * 3
            + u32(0, len(children_of_top), *children_of_top) + u32(1, len(children_of_second), *children_of_second)
            + u32(2, 0) + u32(1) + b"NODE" + u32(1, 0) + u32(0, 0))


def key_block(block):
    # A node whose one AFL3 property has the times, values and count of block.
    pool = b"n\0" + struct.pack("<f", 0.5) + b"a3\0"
    return (HEADER + b"BUFF" + u32(len(pool)) + pool + b"TRTR" + u32(0, 0) + u32(1) + b"NODE" + u32(0, 1) + b"AFL3"
            + u32(6, 4) + block + u32(0, 0) + u32(1) + b"NODE" + u32(1, 0) + u32(0, 0))


@pytest.mark.parametrize("data, message", [
    (patched(4, u32(1)), "reserved word after the magic is 1, expected 0 at offset 4"),
    (patched(84, b"BUFX"), "tag b'BUFX', expected b'BUFF' at offset 84"),
    (patched(TREES, b"TRTX"), f"tag b'TRTX', expected b'TRTR' at offset {TREES}"),
    (patched(TREES + 8, u32(2)), f"second reserved word of the trees is 2, expected 0 at offset {TREES + 8}"),
    (patched(TREES + 12, u32(0x10000000)), "count 268435456 needs at least"),
    (patched(TOP, b"ANVS"), f"node tag 'ANVS' not expected here (expected one of NODE, TRND, BONE, ANND, ANBN) "
                            f"at offset {TOP}"),
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
    (two_children([1, 2], [2]), "node 2 has more than one parent"),
    (two_children([1], []), "a tree needs exactly one root, found 2"),
    (key_block(u32(1, 0, 100)), "key values at pool offset 100 (12 bytes) lies outside the pool"),
    (key_block(u32(0x40000000, 0, 0)), "key times at pool offset 0 (4294967296 bytes) lies outside the pool"),
    (key_block(u32(0, 10, 10)), "key times at pool offset 10 (0 bytes) lies outside the pool"),
    # A huge visibility range count, refused before anything is allocated.
    (HEADER + b"BUFF" + u32(2) + b"v\0" + b"TRTR" + u32(0, 0) + u32(0) + u32(2) + b"NODE" + u32(1, 0) + b"ANVS"
     + u32(0, 1) + u32(5) + struct.pack("<QQ", 1 << 62, 0) + u32(0, 1, 1) + u32(1, 0),
     "visibility ranges at pool offset 0"),
])
def test_corrupt_field_is_refused_at_its_offset(data, message):
    with pytest.raises(FormatError) as caught:
        tavtools.read(data)
    assert message in str(caught.value)


def test_validate_lists_every_damage_with_its_offset_and_path():
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
