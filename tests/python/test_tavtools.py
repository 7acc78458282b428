# The decoder and validator of format 10 files on files pytav saved.

import hashlib
import json
import math
import re
import struct
import subprocess
import sys

import numpy as np
import pytest

import pytav
import tavtools
from support import EMPTY_BOX, FLT_MAX, build, color_base_block, pbr_node, u32
from tavtools import FormatError
from tavtools.__main__ import main
from tavtools.validate import validate


# The file of an empty model: string table, root record with its version
# property and three empty boxes, no materials, one top node "root".
TABLE = b"model::RootNode\0model::Property<unsigned int>\0__VERSION__\0model::Node\0"
MINIMAL = (b"TAV" + struct.pack("<HI", 10, len(TABLE)) + TABLE + bytes(8)
           + u32(0, 0, 0, 1, 1, 2, 3) + struct.pack("<18d", *([FLT_MAX] * 3 + [-FLT_MAX] * 3) * 3)
           + u32(0, 0, 0) + u32(1) + u32(3, 4) + b"root" + u32(0, 0) + u32(0xFFFFFFFF) + u32(0))
TABLE_END = 9 + len(TABLE)
# The root's class, its properties, the top node, its parent index, the section count.
ROOT_CLASS, ROOT_PROPS, NODE, PARENT, SECTIONS = (TABLE_END + n for n in (8, 20, 196, 216, 220))


def saved(tmp_path, fill, version=10):
    model = pytav.Model()
    fill(model, model.getRootTransform())
    path = tmp_path / "m.tav"
    assert model.save(str(path), version) == ""
    return path.read_bytes()


def test_empty_model_is_saved_and_decoded_byte_for_byte(tmp_path):
    assert saved(tmp_path, lambda model, root: None) == MINIMAL
    data = tavtools.read(memoryview(MINIMAL))   # bytes-likes as well as paths
    assert data["strings"] == TABLE.decode().split("\0")[:-1] and data["materials"] == []
    assert (data["root"]["version"], data["root"]["handle_count"], data["root"]["light_box"]) == (3, 0, EMPTY_BOX)
    assert [(n["class"], n["name"], n["parent"]) for n in data["nodes"]] == [("model::Node", "root", None)]
    assert all(records == [] for records in data["sections"].values())


def kind(make, add, **calls):
    # Fills a model with one node that make() gives, set up by calls and added by add.
    def fill(model, root):
        node = make()
        [getattr(node, method)(*args) for method, args in calls.items()]
        node.setControlNode(root)
        assert getattr(model, add)(node) in (None, "")
    return fill


render = kind(lambda: pbr_node(color_base_block()), "addRenderNode")
# One small file per record kind: its digest pins the bytes, the decoded
# record holds what the script gave.
KINDS = {
    "render": (render, "RENDER_NODES", "49266a1ecff395f490b6bc6b999edd567c8bc49c89abdcbe59586402f4cdc757",
               lambda r: (r["name"], r["vertex_count"], r["indices"]) == ("mesh", 4, [0, 1, 2, 0, 2, 3])),
    "shell": (kind(lambda: pytav.ShellNode("shell"), "addShellNode", setPositions=([0, 0, 0, 1, 0, 0, 0, 1, 0],),
                   setIndices=([0, 1, 2],)), "SHELL_NODES",
              "1a24a983c206d80680d661f507ae14280211ea300f81e6306a9b842a64ab737b",
              lambda r: r["vertices"] == [0, 0, 0, 1, 0, 0, 0, 1, 0] and r["indices"] == [0, 1, 2]),
    "segments": (kind(lambda: pytav.SegmentsNode("segments"), "addSegmentsNode", set=([((0, 0, 0), (1, 2, 3))],)),
                 "SHELL_NODES", "927716f3c2a5389bf5476654bff2b112f3e3822f8d5c614717b2353f63cbc8d8",
                 lambda r: r["segments"] == [{"start": [0, 0, 0], "end": [1, 2, 3]}]),
    "connector": (kind(lambda: pytav.Connector("connector"), "addConnector", setPropertyString=("type", "hook")),
                  "CONNECTORS", "c97ac44cdd878eb1bdc81bf7d31f459538377bda60d5a6c63b5ab811abefc1ea",
                  lambda r: r["properties"][-1]["value"] == "hook"),
    "light": (kind(lambda: pytav.OmniLight("lamp"), "addOmniLight"), "LIGHT_NODES",
              "fbe512806c7d61b14178c5156a0856f5f94edaf454913fd5cabbedcc0eb2e06a",
              lambda r: (r["name"], r["kind"]) == ("lamp", 0)),
}


@pytest.mark.parametrize("label", KINDS)
def test_saved_record_kind_is_pinned_and_decodes_to_the_script_input(tmp_path, label):
    fill, section, digest, holds = KINDS[label]
    data = saved(tmp_path, fill)
    assert hashlib.sha256(data).hexdigest() == digest
    (record,) = tavtools.read(data)["sections"][section]
    assert holds(record), record


@pytest.mark.parametrize("offset, patch, message", [
    (0, b"XAV", "at offset 0"),
    (3, struct.pack("<H", 11), "unsupported format version 11, expected 10 at offset 3"),
    (TABLE_END - 1, b"x", f"string table does not end with a NUL at offset {TABLE_END - 1}"),
    (TABLE_END, u32(1), f"reserved word is 1, expected 0 at offset {TABLE_END}"),
    (ROOT_CLASS, u32(3), f"root record has class 'model::Node', expected 'model::RootNode' at offset {ROOT_CLASS}"),
    (ROOT_CLASS + 8, u32(1), f"node reserved word is 1, expected 0 at offset {ROOT_CLASS + 8}"),
    (ROOT_PROPS, u32(0x7FFFFFFF), "count 2147483647 needs at least"),
    (ROOT_PROPS + 4, u32(3), f"unknown property class 'model::Node' at offset {ROOT_PROPS + 4}"),
    (NODE, u32(2), f"unknown transform node class '__VERSION__' at offset {NODE}"),
    (NODE + 4, u32(1000), f"count 1000 needs at least 1000 bytes, 20 left at offset {NODE + 4}"),
    (PARENT, u32(0), f"top node has parent index 0, expected 0xFFFFFFFF at offset {PARENT}"),
    (SECTIONS, u32(5), f"section count 5 exceeds 4 at offset {SECTIONS}"),
    (SECTIONS, u32(1), f"unexpected end of file: 4 bytes needed, 0 left at offset {SECTIONS + 4}"),
    (len(MINIMAL), b"\0", f"1 trailing bytes after the last section at offset {len(MINIMAL)}"),
])
def test_corrupt_field_of_minimal_file_is_refused_at_its_offset(offset, patch, message):
    data = bytearray(MINIMAL)
    data[offset:offset + len(patch)] = patch
    with pytest.raises(FormatError) as caught:
        tavtools.read(bytes(data))
    assert message in str(caught.value)


@pytest.fixture(scope="module", params=[10, 20])
def every_class(request, tmp_path_factory):
    # A saved model that holds a record of every kind the format has.
    path = tmp_path_factory.mktemp("every") / "m.tav"
    assert build(lod=request.param == 10)[0].save(str(path), request.param) == ""
    return path


def test_truncated_file_is_a_format_error_at_or_before_the_cut(every_class):
    data = every_class.read_bytes()
    # A stride of 7 cuts every record and meets every field alignment.
    for cut in sorted(set(range(0, len(data), 7)) | set(range(len(data) - 16, len(data)))):
        try:
            result = tavtools.read(data[:cut])
        except FormatError as error:
            assert error.offset <= cut, cut
            continue
        # Format 2.0 ends with its connectors: a cut just before them leaves a shorter, valid file.
        assert result["version"] == 20 and result["connectors"] == [], cut


def index_block(data):
    # Offset of the index width code of the quad's render record.
    at = data.index(u32(6, 5) + bytes([0, 1, 2, 0, 2, 3]))
    assert data[at - 1] == 0
    return at - 1


def test_index_width_code_must_follow_largest_index(tmp_path):
    data = saved(tmp_path, render)
    at = index_block(data)
    # The same indices written 16 bits wide: readable, but not the narrowest width.
    data = data[:at] + b"\1" + u32(6, 5) + struct.pack("<6H", 0, 1, 2, 0, 2, 3) + data[at + 15:]
    with pytest.raises(FormatError, match="index width code 1 for a largest index"):
        tavtools.read(bytes(data))


@pytest.mark.parametrize("index, flagged", [(3, False), (4, True)])
def test_validate_flags_an_index_not_below_the_vertex_count(tmp_path, index, flagged):
    data = bytearray(saved(tmp_path, render))
    data[index_block(data) + 9 + 5] = index
    report = validate(bytes(data) + b"\0")
    expected = [("error", "INDEX_OUT_OF_RANGE", "RENDER_NODES record 0 'mesh'")] * flagged
    assert [(i.severity, i.code, i.path) for i in report.issues] == expected + [("error", "TRAILING_BYTES", "")]
    assert report.issues[-1].offset == len(data)


BELOW_ONE = float(np.nextafter(np.float32(1), np.float32(0)))


@pytest.mark.parametrize("box, flagged", [
    ([FLT_MAX] * 3 + [-FLT_MAX] * 3, False),
    ([0.0] * 6, False),
    ([0, 0, 1, 1, 1, BELOW_ONE], True),
    ([1, 0, 0, BELOW_ONE, 1, 1], True),
    # Empty on some axes only.
    ([FLT_MAX] * 3 + [-FLT_MAX, -FLT_MAX, 5], True),
    ([0, FLT_MAX, FLT_MAX, 1, -FLT_MAX, -FLT_MAX], True),
    ([0, 0, 0, 1, 1, math.nan], True),
    ([-math.inf, 0, 0, 1, 1, 1], True),
])
@pytest.mark.parametrize("version", [10, 20])
def test_validate_flags_a_box_whose_maximum_is_below_its_minimum_unless_empty(tmp_path, box, flagged, version):
    data = saved(tmp_path, lambda model, root: None, version)
    form, start = ("<6d", data.index(struct.pack("<d", FLT_MAX))) if version == 10 else ("<6f", 12)
    for which, name in enumerate(["bounding_box", "user_box", "light_box"]):
        at = start + which * struct.calcsize(form)
        bad = data[:at] + struct.pack(form, *box) + data[at + struct.calcsize(form):]
        assert [(i.severity, i.code, i.path) for i in validate(bad).issues] == [("error", "BAD_BOX", name)] * flagged


def test_validate_stops_at_a_damage_it_cannot_read_past_keeping_the_earlier_ones():
    data = bytearray(MINIMAL)
    data[TABLE_END:TABLE_END + 4] = u32(1)              # reserved word: readable past
    data[NODE:NODE + 4] = u32(2)                        # class name: the record cannot be followed
    report = validate(bytes(data))
    assert [(i.code, i.offset) for i in report.issues] == [("RESERVED_NOT_ZERO", TABLE_END), ("UNREADABLE", NODE)]
    assert report.errors == report.issues


def run_cli(capsys, *args):
    code = main(list(args))
    return (code, *capsys.readouterr())


def test_cli_dump_summary_and_validate_of_a_saved_model_and_a_damaged_one(every_class, tmp_path, capsys):
    code, out, err = run_cli(capsys, "dump", str(every_class))
    assert code == 0, err
    assert json.loads(out) == json.loads(json.dumps(tavtools.read(every_class)))
    # The boxes the script set.
    assert "bounding box: min (-20, -20, -20) max (20, 20, 20)\nuser box: min (-1, -1, -1) max (1, 1, 1)" in \
        run_cli(capsys, "summary", str(every_class))[1]
    assert run_cli(capsys, "validate", str(every_class))[:2] == (0, f"{every_class}: no problems found\n")
    (bad := tmp_path / "bad.tav").write_bytes(every_class.read_bytes()[:-1])
    code, out, err = run_cli(capsys, "summary", str(bad))
    assert code == 1 and out == "" and "at offset" in err
    code, out, _ = run_cli(capsys, "validate", "--json", str(bad))
    assert code == 1 and json.loads(out)["issues"]["numErrors"] == 1
    assert run_cli(capsys, "validate", str(tmp_path / "missing.tav"))[0] == 1


def test_interrupt_prints_a_traceback(monkeypatch, capsys, tmp_path):
    def interrupted(*args, **options):
        raise KeyboardInterrupt
    monkeypatch.setattr("tavtools.convert.convert", interrupted)
    try:
        outcome = run_cli(capsys, "convert", str(tmp_path / "in.gltf"), str(tmp_path / "out.tav"))
    except KeyboardInterrupt:
        pytest.fail("the interrupt escaped main()")
    assert outcome == (130, "", "tavtools: interrupted\n")


@pytest.mark.parametrize("flags", [[], ["--verbose"], ["convert", "-v"]], ids=["quiet", "verbose", "verbose_after"])
def test_module_debug_and_info_lines_shown_without_verbose(tmp_path, flags):
    # A conversion whose save fails: the module's ERROR line shows always,
    # its DEBUG and INFO lines (pools started, file written) only when asked.
    from support import Asset, quad
    a = Asset()
    a.scene(a.node("plate", mesh=a.mesh("plate", quad(a))))
    source, target = a.write(tmp_path / "in.gltf"), tmp_path / "missing" / "out.tav"
    command = flags[:1] if flags[:1] == ["--verbose"] else []
    command += ["convert", *flags[1:], str(source), str(target)]
    done = subprocess.run([sys.executable, "-m", "tavtools", *command], capture_output=True, text=True, timeout=120)
    levels = set(re.findall(r"^\S+ \S+ (\w+) ", done.stderr, re.M))
    assert done.returncode == 1 and "ERROR" in levels, done.stderr
    assert bool(levels & {"DEBUG", "INFO"}) == bool(flags), done.stderr
    assert done.stderr.endswith(f"tavtools convert: save failed: Can't open {target}\n")


# --- the summary's figures ----------------------------------------------------------

def decoded(records, bounding_box) -> dict:
    # The least of a decoded format 10 model that the summary reads.
    return {"version": 10, "nodes": [{"name": "root", "class": "model::Node", "properties": []}], "materials": [],
            "sections": {"CONNECTORS": [], "SHELL_NODES": [], "LIGHT_NODES": [], "RENDER_NODES": records},
            "root": {"handle_count": 0, "bounding_box": bounding_box, "user_box": EMPTY_BOX, "light_box": EMPTY_BOX}}


# (primitive kind, index count, triangles): lists, strips and fans count triangles, lines none.
PRIMITIVES = [(5, 9, 3), (5, 10, 3), (6, 6, 4), (6, 2, 0), (7, 5, 3), (1, 4, 0)]


def test_summary_counts_the_triangles_of_each_primitive_kind():
    records = [{"name": f"n{k}", "class": "model::RenderNode", "vertex_count": 4, "primitive_kind": kind,
                "indices": [0] * count, "properties": [], "parents": [{"node": 0}]}
               for k, (kind, count, _) in enumerate(PRIMITIVES)]
    text = tavtools.summarize(decoded(records, EMPTY_BOX))
    assert f"render: {4 * len(PRIMITIVES)} vertices, {sum(t for *_, t in PRIMITIVES)} triangles" in text
    for k, (*_, triangles) in enumerate(PRIMITIVES):
        assert re.search(rf"^  n{k} +- +4 +{triangles} +root$", text, re.M), (k, text)


@pytest.mark.parametrize("box, shown", [
    (EMPTY_BOX, "empty"),
    ({"min": [FLT_MAX, 0.0, FLT_MAX], "max": [-FLT_MAX] * 3}, f"min ({FLT_MAX:g}, 0, {FLT_MAX:g}) max "
                                                                f"({-FLT_MAX:g}, {-FLT_MAX:g}, {-FLT_MAX:g})"),
    ({"min": [-1.0, 0.0, 2.5], "max": [3.0, 4.0, 5.0]}, "min (-1, 0, 2.5) max (3, 4, 5)"),
])
def test_summary_calls_a_box_empty_only_when_every_axis_is(box, shown):
    assert f"bounding box: {shown}\n" in tavtools.summarize(decoded([], box))
