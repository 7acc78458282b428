"""Decoder of format 10 model files (magic "TAV", version 10).

``decode`` owns the order of the file; every record kind has one ``_read_*``
function that reads exactly that record.  Record functions fill a dict that
the caller created with the record's header, so composite records (a bone is
a transform node plus a bone matrix) call the reader of their base record
first and then read their own tail.
"""

from collections.abc import Callable
from typing import Any
from .errors import FormatError
from .reader import Reader, decode_text

MAGIC = b"TAV"
VERSION = 10
NONE = 0xFFFFFFFF

SECTION_NAMES = ("CONNECTORS", "SHELL_NODES", "LIGHT_NODES", "RENDER_NODES")

TEXTURE_SLOTS = 19
VERTEX_SEMANTICS = 26
TEXCOORD_USES = 13
FAKE_LIGHT_SAMPLES = 128

# class name, name length, reserved word, property count
_MIN_NODE_RECORD = 16
_MIN_PROPERTY_RECORD = 8


class _State:
    """What later records are checked against while one file is decoded."""

    def __init__(self, reader: Reader):
        self.r = reader
        self.materials: list[dict[str, Any]] = []
        self.node_count = 0


# ---------------------------------------------------------------------------
# File order
# ---------------------------------------------------------------------------

def decode(data: bytes, reader: Reader | None = None) -> dict[str, Any]:
    """Decodes a whole format 10 file; raises FormatError on any deviation.

    A collecting ``reader`` (see Reader) over the same data makes the
    deviations it can read past issues instead of errors.
    """
    r = reader or Reader(data)
    magic = r.raw(min(len(MAGIC), r.remaining))
    if magic != MAGIC:
        raise r.error(f"bad magic {magic!r}, expected {MAGIC!r}", 0)
    offset = r.pos
    version = r.u16()
    if version != VERSION:
        raise r.error(f"unsupported format version {version}, expected {VERSION}", offset)

    with r.within("string table"):
        r.strings = _read_string_table(r)
    offset = r.pos
    reserved = r.u64()
    if reserved != 0:
        r.problem("RESERVED_NOT_ZERO", f"reserved word is {reserved}, expected 0", offset)

    st = _State(r)
    with r.within("root record"):
        root = _read_root(st)

    st.node_count = r.count(_MIN_NODE_RECORD)
    nodes = []
    for index in range(st.node_count):
        with r.within(f"transform node {index}"):
            nodes.append(_read_tree_node(st, index))
    with r.within("parent indices"):
        _read_parent_indices(st, nodes)

    sections = _read_sections(st)

    if r.remaining:
        r.problem("TRAILING_BYTES", f"{r.remaining} trailing bytes after the last section")
    return {
        "magic": MAGIC.decode("ascii"),
        "version": version,
        "strings": list(r.strings),
        "root": root,
        "materials": st.materials,
        "nodes": nodes,
        "sections": sections,
    }


def _read_string_table(r: Reader) -> list[Any]:
    size = r.count(1)
    start = r.pos
    table = r.raw(size)
    if not size:
        return []
    if table[-1] != 0:
        raise r.error("string table does not end with a NUL", start + size - 1)
    strings = []
    seen = set()
    offset = start
    for raw in table[:-1].split(b"\0"):
        text = decode_text(raw)
        if text in seen:
            r.problem("DUPLICATE_STRING", f"string {text!r} stored twice in the string table", offset)
        seen.add(text)
        strings.append(text)
        offset += len(raw) + 1
    return strings


def _read_parent_indices(st: _State, nodes: list[Any]) -> None:
    r = st.r
    for index, node in enumerate(nodes):
        offset = r.pos
        parent = r.u32()
        if index == 0:
            if parent != NONE:
                r.problem("BAD_PARENT", f"top node has parent index {parent}, expected 0xFFFFFFFF", offset)
            continue
        # The walk is pre-order, so every parent is numbered before its children.
        if parent >= index:
            r.problem("BAD_PARENT", f"parent index {parent} of transform node {index} is not below {index}", offset)
            continue
        node["parent"] = parent


def _read_sections(st: _State) -> dict[str, Any]:
    r = st.r
    sections: dict[str, list[dict[str, Any]]] = {name: [] for name in SECTION_NAMES}
    offset = r.pos
    count = r.u32()
    if count > len(SECTION_NAMES):
        raise r.error(f"section count {count} exceeds {len(SECTION_NAMES)}", offset)
    last = -1
    for _ in range(count):
        offset = r.pos
        name = r.string()
        if name not in sections:
            raise r.error(f"unknown section name {name!r}", offset)
        position = SECTION_NAMES.index(name)
        if position <= last:
            r.problem("SECTION_ORDER", f"section {name!r} out of order or repeated", offset)
        last = max(last, position)
        offset = r.pos
        records = r.count(_MIN_NODE_RECORD)
        if not records:
            r.problem("EMPTY_SECTION", f"section {name!r} is written empty", offset)
        for index in range(records):
            with r.within(f"{name} record {index}"):
                sections[name].append(_read_section_node(st, name))
    return sections


# ---------------------------------------------------------------------------
# Headers
# ---------------------------------------------------------------------------

def _read_header(r: Reader, cls: str, extra: dict[str, Any] | None = None) -> dict[str, Any]:
    """The name, reserved word and properties list that follow a class name."""
    node: dict[str, Any] = {"class": cls, "name": r.name()}
    if extra:
        node.update(extra)
    r.expect_u32(0, "node reserved word", "RESERVED_NOT_ZERO")
    node["properties"] = _read_properties(r)
    node["version"] = _version_of(node["properties"])
    return node


def _version_of(properties: list[Any]) -> int:
    for prop in properties:
        if prop["name"] == "__VERSION__" and prop["class"] == "model::Property<unsigned int>":
            return int(prop["value"])
    return 0


def _transform_index(st: _State) -> int:
    r = st.r
    offset = r.pos
    index = r.u32()
    if index >= st.node_count:
        r.problem("NODE_INDEX_OUT_OF_RANGE",
                  f"transform index {index} out of range ({st.node_count} transform nodes)", offset)
    return index


def _read_material_header(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    r.expect_u32(0, "material header reserved word", "RESERVED_NOT_ZERO")
    offset = r.pos
    index = r.u32()
    if index >= len(st.materials):
        r.problem("MATERIAL_INDEX_OUT_OF_RANGE",
                  f"material index {index} out of range ({len(st.materials)} materials)", offset)
    node["material"] = index


def _read_control_header(st: _State, node: dict[str, Any]) -> None:
    node["parent"] = _transform_index(st)


# ---------------------------------------------------------------------------
# Properties, textures, materials
# ---------------------------------------------------------------------------

def _read_properties(r: Reader) -> list[Any]:
    count = r.count(_MIN_PROPERTY_RECORD)
    return [_read_property(r) for _ in range(count)]


def _read_property(r: Reader) -> dict[str, Any]:
    offset = r.pos
    cls = r.string()
    kind = _PROPERTY_KINDS.get(cls)
    if kind is None:
        raise r.error(f"unknown property class {cls!r}", offset)
    prop: dict[str, Any] = {"class": cls, "name": r.string()}
    prop.update(kind[0](r, kind[1]))
    return prop


def _is_animated_property(prop: dict[str, Any]) -> bool:
    return _PROPERTY_KINDS[prop["class"]][0] is not _read_static_value


def _read_static_value(r: Reader, components: int | str | None) -> dict[str, Any]:
    if components == "u32":
        return {"value": r.u32()}
    if components == "str":
        return {"value": r.string()}
    if components == 1:
        return {"value": r.f32()}
    assert isinstance(components, int)
    return {"value": r.f32s(components)}


def _read_argument_value(r: Reader, _components: int | str | None) -> dict[str, Any]:
    argument = r.u32()
    offset = r.pos
    repeated = r.u32()
    if repeated != argument:
        r.problem("ARGUMENT_MISMATCH", f"argument written as {argument} then {repeated}", offset)
    return {"argument": argument}


def _read_animated_value(r: Reader, components: int | str | None) -> dict[str, Any]:
    assert isinstance(components, int)
    argument = r.u32()
    count = r.count(8 + 4 * components)
    keys = []
    for _ in range(count):
        time = r.f64()
        keys.append([time] + r.f32s(components))
    return {"argument": argument, "keys": keys}


_PROPERTY_KINDS: dict[str, tuple[Callable[[Reader, int | str | None], dict[str, Any]], int | str | None]] = {
    "model::Property<float>": (_read_static_value, 1),
    "model::Property<unsigned int>": (_read_static_value, "u32"),
    "model::Property<osg::Vec2f>": (_read_static_value, 2),
    "model::Property<osg::Vec3f>": (_read_static_value, 3),
    "model::Property<osg::Vec4f>": (_read_static_value, 4),
    "model::Property<const char*>": (_read_static_value, "str"),
    "model::ArgumentProperty": (_read_argument_value, None),
    "model::AnimatedProperty<float>": (_read_animated_value, 1),
    "model::AnimatedProperty<osg::Vec2f>": (_read_animated_value, 2),
    "model::AnimatedProperty<osg::Vec3f>": (_read_animated_value, 3),
    "model::AnimatedProperty<osg::Vec4f>": (_read_animated_value, 4),
}


def _read_texture(r: Reader) -> dict[str, Any]:
    texture = {"channel": r.u32(), "file": r.string(), "parameters": [r.u32() for _ in range(4)]}
    values = r.f32s(16)
    texture["matrix"] = [values[i:i + 4] for i in range(0, 16, 4)]
    return texture


def _read_vertex_format(r: Reader) -> list[Any]:
    r.expect_u32(VERTEX_SEMANTICS, "vertex format length")
    return list(r.raw(VERTEX_SEMANTICS))


def _read_channel_table(r: Reader) -> list[Any]:
    r.expect_u32(TEXCOORD_USES, "channel table length")
    return r.uints(4, TEXCOORD_USES)


def _read_material(r: Reader) -> dict[str, Any]:
    count = r.count(4)
    material: dict[str, Any] = {"billboard": None, "decal": None}
    seen = set()
    for _ in range(count):
        offset = r.pos
        key = r.string()
        entry = _MATERIAL_ENTRIES.get(key)
        if entry is None:
            raise r.error(f"unknown material entry {key!r}", offset)
        if key in seen:
            r.problem("MATERIAL_ENTRY_REPEATED", f"material entry {key!r} repeated", offset)
        seen.add(key)
        with r.within(key):
            material[entry[0]] = entry[1](r)
    missing = [key for key in _REQUIRED_MATERIAL_ENTRIES if key not in seen]
    if missing:
        r.problem("MATERIAL_ENTRY_MISSING", f"material lacks the entries {', '.join(missing)}")
        for key in missing:
            material.setdefault(_MATERIAL_ENTRIES[key][0], _MISSING_ENTRY_VALUES.get(key))
    return material


def _read_texture_slots(r: Reader) -> list[Any]:
    count = r.count(4 + 96)
    textures = []
    last = -1
    for _ in range(count):
        offset = r.pos
        slot = r.u32()
        if slot >= TEXTURE_SLOTS or slot <= last:
            r.problem("TEXTURE_SLOT", f"texture slot {slot} out of range or out of order", offset)
        last = max(last, slot)
        textures.append({"slot": slot, **_read_texture(r)})
    return textures


def _read_uniform_list(animated: bool) -> Callable[[Reader], list[Any]]:
    def read(r: Reader) -> list[Any]:
        count = r.count(_MIN_PROPERTY_RECORD)
        uniforms = []
        for _ in range(count):
            offset = r.pos
            prop = _read_property(r)
            if _is_animated_property(prop) != animated:
                r.problem("UNIFORM_LIST", f"{prop['class']} in the wrong uniform list", offset)
            uniforms.append(prop)
        return uniforms
    return read


_MATERIAL_ENTRIES = {
    "BLENDING": ("blending", Reader.u8),
    "DEPTH_BIAS": ("depth_bias", Reader.u32),
    "VERTEX_FORMAT": ("vertex_format", _read_vertex_format),
    "TEXTURE_COORDINATES_CHANNELS": ("texture_coordinates_channels", _read_channel_table),
    "MATERIAL_NAME": ("material_name", Reader.string),
    "NAME": ("name", Reader.string),
    "SHADOWS": ("shadows", Reader.u8),
    "TEXTURES": ("textures", _read_texture_slots),
    "UNIFORMS": ("uniforms", _read_uniform_list(False)),
    "ANIMATED_UNIFORMS": ("animated_uniforms", _read_uniform_list(True)),
    "BILLBOARD": ("billboard", lambda r: [r.u8(), r.u8()]),
    "DECAL": ("decal", Reader.u8),
}
_REQUIRED_MATERIAL_ENTRIES = [key for key in _MATERIAL_ENTRIES if key not in ("BILLBOARD", "DECAL")]
# What a missing entry reads as, so that checks of later records can go on.
_MISSING_ENTRY_VALUES: dict[str, object] = {
    "VERTEX_FORMAT": [0] * VERTEX_SEMANTICS, "TEXTURE_COORDINATES_CHANNELS": [NONE] * 13,
    "MATERIAL_NAME": "", "NAME": "", "TEXTURES": [], "UNIFORMS": [], "ANIMATED_UNIFORMS": []}


# ---------------------------------------------------------------------------
# Geometry
# ---------------------------------------------------------------------------

def _read_vertex_data(r: Reader, node: dict[str, Any]) -> None:
    offset = r.pos
    r.mark(node, offset, "vertices")
    count = r.u32()
    size = r.u32()
    if (count == 0) != (size == 0):
        r.problem("VERTEX_SIZE", f"vertex count {count} with {size} floats per vertex", offset)
    node["vertex_count"] = count
    node["floats_per_vertex"] = size
    node["vertices"] = r.f32s(count * size)


_INDEX_WIDTHS = {0: 1, 1: 2, 2: 4}


def _index_width_code(largest: int) -> int:
    if largest <= 0xFF:
        return 0
    return 1 if largest <= 0xFFFF else 2


def _read_index_data(r: Reader, node: dict[str, Any]) -> None:
    offset = r.pos
    r.mark(node, offset, "indices")
    code = r.u8()
    if code not in _INDEX_WIDTHS:
        raise r.error(f"unknown index width code {code}", offset)
    count = r.u32()
    node["index_width_code"] = code
    node["primitive_kind"] = r.u32()
    node["indices"] = r.uints(_INDEX_WIDTHS[code], count)
    expected = _index_width_code(max(node["indices"], default=0))
    if code != expected:
        r.problem("INDEX_WIDTH", f"index width code {code} for a largest index that needs code {expected}", offset)


def _read_box_f32(r: Reader) -> dict[str, Any]:
    values = r.f32s(6)
    return {"min": values[:3], "max": values[3:]}


def _box_is_valid(box: dict[str, Any]) -> bool:
    return all(hi >= lo for lo, hi in zip(box["min"], box["max"]))


def _read_optional_box(st: _State, node: dict[str, Any], read_tail: Callable[[_State, dict[str, Any]], None],
                       expected_size: Callable[[_State, dict[str, Any], dict[str, Any]], int]) -> None:
    """A box written only when valid, then the rest of the record.

    The file carries no flag for the box, so both readings are tried: with the
    box when the next 24 bytes form a valid box, then without.  The reading
    whose geometry is most plausible wins; on a tie the box reading does,
    since a box is only ever written when it is valid.
    """
    r = st.r
    start = r.pos
    attempts = [False]
    if r.remaining >= 24:
        if _box_is_valid(_read_box_f32(r)):
            attempts.insert(0, True)
        r.pos = start
    first_error: FormatError | None = None
    best: tuple[int, dict[str, Any], int, list[tuple[str, FormatError]]] | None = None
    kept = len(r.issues) if r.issues is not None else 0
    for has_box in attempts:
        r.pos = start
        trial: dict[str, Any] = {}
        try:
            trial["bounding_box"] = _read_box_f32(r) if has_box else None
            read_tail(st, trial)
        except FormatError as error:
            first_error = first_error or error
            continue
        finally:
            # Each reading reports its own issues; only the chosen one's stay.
            found = r.issues[kept:] if r.issues is not None else []
            if r.issues is not None:
                del r.issues[kept:]
        score = _geometry_score(trial, expected_size(st, node, trial)) - bool(found)
        if best is None or score > best[0]:
            best = (score, trial, r.pos, found)
    if best is None:
        assert first_error is not None
        raise first_error
    node.update(best[1])
    r.pos = best[2]
    if r.issues is not None:
        r.issues.extend(best[3])
        for (record, field), offset in list(r.offsets.items()):
            if record == id(best[1]):
                r.offsets[(id(node), field)] = offset


def _geometry_score(mesh: dict[str, Any], expected_size: int) -> int:
    """How well decoded geometry hangs together: 0 (barely) to 2 (fully)."""
    count = mesh["vertex_count"]
    score = 0
    if all(index < count for index in mesh["indices"]):
        score += 1
    if count and mesh["floats_per_vertex"] == expected_size:
        score += 1
    return score


def _read_bones(st: _State, node: dict[str, Any]) -> None:
    count = st.r.count(4)
    node["bones"] = [_transform_index(st) for _ in range(count)]
    node["skin_value"] = st.r.u32()


def _read_mesh(st: _State, node: dict[str, Any]) -> None:
    _read_vertex_data(st.r, node)
    _read_index_data(st.r, node)


def _read_shell_mesh(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    node["vertex_format"] = _read_vertex_format(r)
    offset = r.pos
    _read_mesh(st, node)
    if node["vertex_count"] and node["floats_per_vertex"] != sum(node["vertex_format"]):
        r.problem("VERTEX_SIZE",
            f"{node['floats_per_vertex']} floats per vertex for a vertex format of "
            f"{sum(node['vertex_format'])}",
            offset,
        )


def _material_vertex_size(st: _State, node: dict[str, Any], _mesh: dict[str, Any]) -> int:
    if node["material"] >= len(st.materials):
        return -1
    return sum(st.materials[node["material"]]["vertex_format"])


def _own_vertex_size(_st: _State, _node: dict[str, Any], mesh: dict[str, Any]) -> int:
    return sum(mesh["vertex_format"])


# ---------------------------------------------------------------------------
# Root and transform-walk records
# ---------------------------------------------------------------------------

def _read_root(st: _State) -> dict[str, Any]:
    r = st.r
    offset = r.pos
    cls = r.string()
    if cls != "model::RootNode":
        r.problem("RECORD_CLASS", f"root record has class {cls!r}, expected 'model::RootNode'", offset)
    root = _read_header(r, cls)
    for box in ("bounding_box", "user_box", "light_box"):
        values = r.f64s(6)
        root[box] = {"min": values[:3], "max": values[3:]}
    count = r.count(4)
    for index in range(count):
        with r.within(f"material {index}"):
            start = r.pos
            st.materials.append(_read_material(r))
            r.mark(st.materials[-1], start)
    r.expect_u32(0, "root reserved word", "RESERVED_NOT_ZERO")
    r.mark(root, r.pos, "handle_count")
    root["handle_count"] = r.u32()
    return root


def _read_tree_node(st: _State, index: int) -> dict[str, Any]:
    r = st.r
    offset = r.pos
    cls = r.string()
    read_body = _TREE_RECORDS.get(cls)
    if read_body is None:
        raise r.error(f"unknown transform node class {cls!r}", offset)
    node = _read_header(r, cls, {"index": index, "parent": None})
    r.mark(node, offset)
    read_body(st, node)
    return node


def _read_matrix(r: Reader) -> list[Any]:
    values = r.f64s(16)
    return [values[i:i + 4] for i in range(0, 16, 4)]


def _read_key_rows(r: Reader, width: int) -> list[Any]:
    count = r.count(8 * width)
    values = r.f64s(count * width)
    return [values[i:i + width] for i in range(0, len(values), width)]


def _read_plain_node(st: _State, node: dict[str, Any]) -> None:
    """A plain tree node has nothing after its header."""


def _read_transform_node(st: _State, node: dict[str, Any]) -> None:
    node["matrix"] = _read_matrix(st.r)


def _read_billboard_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    node["settings"] = [r.u8(), r.u8()]
    node["matrix"] = _read_matrix(r)
    node["axis"] = r.f64s(3)


def _read_bone(st: _State, node: dict[str, Any]) -> None:
    _read_transform_node(st, node)
    node["bone_matrix"] = _read_matrix(st.r)


# The class name under which an animation node is written follows from which
# of its channel lists are filled; a mismatch means the record was misread or
# misnamed.
def _saved_animation_class(position: bool, rotation: bool, scale: bool) -> str:
    if not position and not rotation:
        return "model::ArgScaleNode"
    if not position and rotation and not scale:
        return "model::ArgRotationNode"
    if position and not rotation and not scale:
        return "model::ArgPositionNode"
    return "model::ArgAnimationNode"


def _read_animation_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    start = r.pos
    _read_transform_node(st, node)
    node["base_position"] = r.f64s(3)
    node["base_rotation"] = r.f64s(4)
    node["scale_orientation"] = r.f64s(4)
    node["base_scale"] = r.f64s(3)
    node["position"] = [
        {"argument": r.u32(), "keys": _read_key_rows(r, 4)} for _ in range(r.count(8))
    ]
    node["rotation"] = [
        {"argument": r.u32(), "keys": _read_key_rows(r, 5)} for _ in range(r.count(8))
    ]
    node["scale"] = [
        {"argument": r.u32(), "orientation_keys": _read_key_rows(r, 5), "scale_keys": _read_key_rows(r, 4)}
        for _ in range(r.count(12))
    ]
    if node["class"] != "model::ArgAnimatedBone":
        expected = _saved_animation_class(bool(node["position"]), bool(node["rotation"]), bool(node["scale"]))
        if node["class"] != expected:
            r.problem("RECORD_CLASS", f"channels of a {expected} written under {node['class']!r}", start)


def _read_animated_bone(st: _State, node: dict[str, Any]) -> None:
    _read_animation_node(st, node)
    node["bone_matrix"] = _read_matrix(st.r)


def _read_visibility_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    node["arguments"] = [
        {"argument": r.u32(), "ranges": _read_key_rows(r, 2)} for _ in range(r.count(8))
    ]


def _read_lod_node(st: _State, node: dict[str, Any]) -> None:
    node["ranges"] = _read_key_rows(st.r, 2)


_TREE_RECORDS = {
    "model::Node": _read_plain_node,
    "model::TransformNode": _read_transform_node,
    "model::BillboardNode": _read_billboard_node,
    "model::ArgAnimationNode": _read_animation_node,
    "model::ArgPositionNode": _read_animation_node,
    "model::ArgRotationNode": _read_animation_node,
    "model::ArgScaleNode": _read_animation_node,
    "model::ArgAnimatedBone": _read_animated_bone,
    "model::Bone": _read_bone,
    "model::ArgVisibilityNode": _read_visibility_node,
    "model::LodNode": _read_lod_node,
}


# ---------------------------------------------------------------------------
# Section records
# ---------------------------------------------------------------------------

def _read_section_node(st: _State, section: str) -> dict[str, Any]:
    r = st.r
    offset = r.pos
    cls = r.string()
    entry = _SECTION_RECORDS.get(cls)
    if entry is None:
        raise r.error(f"unknown node class {cls!r}", offset)
    if entry[0] != section:
        r.problem("RECORD_CLASS", f"{cls} record in section {section!r}", offset)
    node = _read_header(r, cls)
    r.mark(node, offset)
    entry[1](st, node)
    return node


def _read_connector(st: _State, node: dict[str, Any]) -> None:
    node["parent"] = _transform_index(st)
    st.r.expect_u32(0, "connector reserved word", "RESERVED_NOT_ZERO")


def _read_light_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    node["parent"] = _transform_index(st)
    node["kind"] = r.u8()
    r.expect_u32(7, "light property count")
    node["light_properties"] = [_read_property(r) for _ in range(7)]
    offset = r.pos
    flag = r.u8()
    if flag not in (0, 1):
        raise r.error(f"appearance flag is {flag}, expected 0 or 1", offset)
    node["appearance"] = _read_texture(r) if flag else None


def _read_render_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_material_header(st, node)
    count = r.count(8)
    parents = []
    for _ in range(count):
        parent = _transform_index(st)
        # A single parent is written without the reserved word of the list form.
        if count != 1:
            r.expect_u32(0, "parent entry reserved word", "RESERVED_NOT_ZERO")
        parents.append({"node": parent, "damage_argument": r.u32()})
    node["parents"] = parents
    _read_mesh(st, node)


def _read_number_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_render_node(st, node)
    controls = []
    for _ in node["parents"]:
        records = []
        for _ in range(r.count(16)):
            records.append({
                "argument": r.i32(),
                "value": r.f32(),
                "second_argument": r.i32(),
                "second_value": r.f32(),
            })
        controls.append(records)
    node["controls"] = controls


def _read_skin_node(st: _State, node: dict[str, Any]) -> None:
    _read_material_header(st, node)
    _read_bones(st, node)
    _read_optional_box(st, node, _read_mesh, _material_vertex_size)


def _read_omni_light(r: Reader) -> dict[str, Any]:
    return {
        "position": r.f64s(3),
        "uv": [r.f32s(2), r.f32s(2)],
        "size": r.f32(),
        "parent": r.u32(),
    }


def _read_spot_light(r: Reader) -> dict[str, Any]:
    light = _read_omni_light(r)
    light["back_uv"] = [r.f32s(2), r.f32s(2)]
    light["back_side"] = r.u8()
    return light


def _read_fake_omni_lights(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_material_header(st, node)
    parents = []
    for _ in range(r.count(8)):
        parents.append({"node": _transform_index(st)})
        r.expect_u32(0, "parent entry reserved word", "RESERVED_NOT_ZERO")
    node["parents"] = parents
    node["lights"] = [_read_omni_light(r) for _ in range(r.count(48))]


def _read_fake_spot_lights(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_material_header(st, node)
    parents = []
    for _ in range(r.count(20)):
        parent = _transform_index(st)
        r.expect_u32(0, "parent entry reserved word", "RESERVED_NOT_ZERO")
        parents.append({"node": parent, "direction": r.f32s(3)})
    node["parents"] = parents
    node["lights"] = [_read_spot_light(r) for _ in range(r.count(65))]


def _read_light_animation(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    node["argument"] = r.u32()
    r.expect_u32(FAKE_LIGHT_SAMPLES, "samples per light", "LIGHT_SAMPLES")
    offset = r.pos
    count = r.count(4)
    expected = FAKE_LIGHT_SAMPLES * len(node["lights"])
    if count != expected:
        r.problem("LIGHT_SAMPLES", f"{count} animation samples for {len(node['lights'])} lights, expected {expected}",
                  offset)
    node["animation"] = r.f32s(count)


def _read_animated_fake_omni_lights(st: _State, node: dict[str, Any]) -> None:
    _read_fake_omni_lights(st, node)
    _read_light_animation(st, node)


def _read_animated_fake_spot_lights(st: _State, node: dict[str, Any]) -> None:
    _read_fake_spot_lights(st, node)
    _read_light_animation(st, node)


def _read_segments_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_control_header(st, node)
    node["segments"] = [{"start": r.f32s(3), "end": r.f32s(3)} for _ in range(r.count(24))]


def _read_shell_skin_node(st: _State, node: dict[str, Any]) -> None:
    _read_bones(st, node)
    _read_optional_box(st, node, _read_shell_mesh, _own_vertex_size)


def _read_shell_node(st: _State, node: dict[str, Any]) -> None:
    _read_control_header(st, node)
    _read_shell_mesh(st, node)


_SECTION_RECORDS = {
    "model::Connector": ("CONNECTORS", _read_connector),
    "model::ShellNode": ("SHELL_NODES", _read_shell_node),
    "model::ShellSkinNode": ("SHELL_NODES", _read_shell_skin_node),
    "model::SegmentsNode": ("SHELL_NODES", _read_segments_node),
    "model::LightNode": ("LIGHT_NODES", _read_light_node),
    "model::RenderNode": ("RENDER_NODES", _read_render_node),
    "model::NumberNode": ("RENDER_NODES", _read_number_node),
    "model::SkinNode": ("RENDER_NODES", _read_skin_node),
    "model::FakeOmniLightsNode": ("RENDER_NODES", _read_fake_omni_lights),
    "model::FakeSpotLightsNode": ("RENDER_NODES", _read_fake_spot_lights),
    "model::AnimatedFakeOmniLightsNode": ("RENDER_NODES", _read_animated_fake_omni_lights),
    "model::AnimatedFakeSpotLightsNode": ("RENDER_NODES", _read_animated_fake_spot_lights),
}
