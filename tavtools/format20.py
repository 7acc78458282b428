"""Decoder of format 2.0 model files (magic "TAV2").

``decode`` owns the order of the file; every record kind has one ``_read_*``
function that reads exactly that record.  Records refer to names, strings,
keys and ranges by byte offset into the data pool "BUFF"; the decoder
resolves each offset to its value and keeps the offset next to it
(``name_offset``, ``times_offset``, ...), so that sharing in the pool stays
visible.  Composite records call the reader of their base record first and
then read their own tail.
"""

from collections.abc import Callable
from typing import Any
from .reader import Reader, decode_text

MAGIC = b"TAV2"
VERSION = 20

POOL_TAG = b"BUFF"
TREES_TAG = b"TRTR"

_BOX_FLOATS = 6
_MIN_NODE_RECORD = 12        # tag, name offset, property count
_MIN_TOPOLOGY_ENTRY = 8      # index, child count
_MIN_PROPERTY_RECORD = 12    # tag, name offset, smallest value


class _State:
    """The pool, and a reader over it, while one file is decoded."""

    def __init__(self, reader: Reader, pool: bytes):
        self.r = reader
        self.pool = pool
        self.pool_reader = Reader(pool)

    def _check_span(self, offset: int, size: int, field_offset: int, what: str) -> bool:
        if offset > len(self.pool) or size > len(self.pool) - offset:
            self.r.problem(
                "POOL_RANGE",
                f"{what} at pool offset {offset} ({size} bytes) lies outside the pool of {len(self.pool)} bytes",
                field_offset,
            )
            return False
        return True

    def string(self, node: dict[str, Any], key: str) -> None:
        """A u32 pool offset of a NUL-terminated string: sets key and key_offset."""
        field = self.r.pos
        offset = self.r.u32()
        node[key + "_offset"] = offset
        if offset >= len(self.pool):
            self.r.problem("POOL_RANGE", f"string offset {offset} outside the pool of {len(self.pool)} bytes", field)
            node[key] = ""
            return
        end = self.pool.find(b"\0", offset)
        if end < 0:
            self.r.problem("POOL_STRING", f"string at pool offset {offset} has no terminating NUL", field)
            end = len(self.pool)
        node[key] = decode_text(self.pool[offset:end])

    def floats(self, offset: int, count: int, field_offset: int, what: str) -> list[Any]:
        if not self._check_span(offset, 4 * count, field_offset, what):
            return [float("nan")] * count if count <= len(self.pool) else []
        self.pool_reader.pos = offset
        return self.pool_reader.f32s(count)


# ---------------------------------------------------------------------------
# File order
# ---------------------------------------------------------------------------

def decode(data: bytes, reader: Reader | None = None) -> dict[str, Any]:
    """Decodes a whole format 2.0 file; raises FormatError on any deviation.

    A collecting ``reader`` (see Reader) over the same data makes the
    deviations it can read past issues instead of errors.
    """
    r = reader or Reader(data)
    magic = r.raw(min(len(MAGIC), r.remaining))
    if magic != MAGIC:
        raise r.error(f"bad magic {magic!r}, expected {MAGIC!r}", 0)
    r.expect_u32(0, "reserved word after the magic", "RESERVED_NOT_ZERO")
    model = {"magic": MAGIC.decode("ascii"), "version": VERSION}
    r.mark(model, r.pos, "handle_count")
    model["handle_count"] = r.u32()
    for box in ("bounding_box", "user_box", "light_box"):
        values = r.f32s(_BOX_FLOATS)
        model[box] = {"min": values[:3], "max": values[3:]}

    _expect_tag(r, POOL_TAG)
    size = r.count(1)
    st = _State(r, r.raw(size))
    model["pool_size"] = size

    _expect_tag(r, TREES_TAG)
    r.expect_u32(0, "first reserved word of the trees", "RESERVED_NOT_ZERO")
    r.expect_u32(0, "second reserved word of the trees", "RESERVED_NOT_ZERO")
    with r.within("transform tree"):
        model["transform_tree"] = _read_tree(st, _TRANSFORM_TAGS)
    with r.within("visibility tree"):
        model["visibility_tree"] = _read_tree(st, _VISIBILITY_TAGS)
    transforms, visibilities = model["transform_tree"], model["visibility_tree"]
    assert isinstance(transforms, list) and isinstance(visibilities, list)
    model["connectors"] = _read_connectors(st, len(transforms), len(visibilities))
    return model


def _expect_tag(r: Reader, tag: bytes) -> None:
    offset = r.pos
    found = r.raw(4)
    if found != tag:
        raise r.error(f"tag {found!r}, expected {tag!r}", offset)


def _read_tree(st: _State, allowed: tuple[Any, ...]) -> list[Any]:
    r = st.r
    count = r.count(_MIN_NODE_RECORD + _MIN_TOPOLOGY_ENTRY)
    nodes = []
    for index in range(count):
        with r.within(f"node {index}"):
            offset = r.pos
            node = _read_record(st, allowed)
            node["index"] = index
            r.mark(node, offset)
            nodes.append(node)
    with r.within("topology"):
        _read_topology(r, nodes)
    return nodes


def _read_topology(r: Reader, nodes: list[Any]) -> None:
    count = len(nodes)
    for node in nodes:
        node["parent"] = None
    for index, node in enumerate(nodes):
        offset = r.pos
        own = r.u32()
        if own != index:
            r.problem("TOPOLOGY", f"topology entry {index} names node {own}", offset)
        children = []
        for child in r.uints(4, r.count(4)):
            if child >= count:
                r.problem("NODE_INDEX_OUT_OF_RANGE", f"child index {child} of node {index} out of range "
                          f"({count} nodes)", offset)
            elif child == index or nodes[child]["parent"] is not None:
                r.problem("TOPOLOGY", f"node {child} has more than one parent", offset)
            else:
                nodes[child]["parent"] = index
                children.append(child)
        node["children"] = children
    roots = [node["index"] for node in nodes if node["parent"] is None]
    if count and len(roots) != 1:
        r.problem("TOPOLOGY", f"a tree needs exactly one root, found {len(roots)}")
    if roots:
        reached = 0
        pending = [roots[0]]
        while pending:
            reached += 1
            pending.extend(nodes[pending.pop()]["children"])
        if reached != count and len(roots) == 1:
            r.problem("TOPOLOGY", f"{count - reached} nodes are not reachable from the root {roots[0]}")


def _read_connectors(st: _State, transform_count: int, visibility_count: int) -> list[Any]:
    r = st.r
    connectors: list[dict[str, Any]] = []
    while r.remaining:
        with r.within(f"connector {len(connectors)}"):
            start = r.pos
            connector = _read_record(st, _CONNECTOR_TAGS)
            r.mark(connector, start)
            for key, count, tree in (("transform_node", transform_count, "transform"),
                                     ("visibility_node", visibility_count, "visibility")):
                offset = r.pos
                index = r.u32()
                if index >= count:
                    r.problem("NODE_INDEX_OUT_OF_RANGE", f"{tree} node index {index} out of range ({count} nodes)",
                              offset)
                connector[key] = index
            connectors.append(connector)
    return connectors


# ---------------------------------------------------------------------------
# Node records
# ---------------------------------------------------------------------------

def _read_record(st: _State, allowed: tuple[Any, ...]) -> dict[str, Any]:
    r = st.r
    offset = r.pos
    tag = decode_text(r.raw(4))
    kind = _NODE_RECORDS.get(tag)
    if kind is None or tag not in allowed:
        raise r.error(f"node tag {tag!r} not expected here (expected one of {', '.join(allowed)})", offset)
    node = {"tag": tag, "class": kind[0]}
    st.string(node, "name")
    kind[1](st, node)
    return node


def _read_plain_node(st: _State, node: dict[str, Any]) -> None:
    node["properties"] = _read_properties(st)


def _read_matrix(r: Reader) -> list[Any]:
    values = r.f32s(16)
    return [values[i:i + 4] for i in range(0, 16, 4)]


def _read_transform_node(st: _State, node: dict[str, Any]) -> None:
    _read_plain_node(st, node)
    node["matrix"] = _read_matrix(st.r)


def _read_bone(st: _State, node: dict[str, Any]) -> None:
    _read_transform_node(st, node)
    node["bone_matrix"] = _read_matrix(st.r)


def _read_key_block(st: _State, width: int) -> dict[str, Any]:
    """Key count, then pool offsets of the times and of ``width`` floats per key."""
    r = st.r
    field = r.pos
    count = r.u32()
    times_offset = r.u32()
    values_offset = r.u32()
    times = st.floats(times_offset, count, field, "key times")
    values = st.floats(values_offset, count * width, field, "key values")
    # A span outside the pool has been reported; keys past what could be read are not there.
    count = min(count, len(times), len(values) // width)
    keys = [[times[i]] + values[i * width:(i + 1) * width] for i in range(count)]
    return {"times_offset": times_offset, "values_offset": values_offset, "keys": keys}


def _read_animation_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    _read_transform_node(st, node)
    node["base_position"] = r.f32s(3)
    node["base_rotation"] = r.f32s(4)
    node["scale_orientation"] = r.f32s(4)
    node["base_scale"] = r.f32s(3)
    node["position"] = [{"argument": r.u32(), **_read_key_block(st, 3)} for _ in range(r.count(16))]
    node["rotation"] = [{"argument": r.u32(), **_read_key_block(st, 4)} for _ in range(r.count(16))]
    node["scale"] = [
        {"argument": r.u32(), "orientation": _read_key_block(st, 4), "scale": _read_key_block(st, 3)}
        for _ in range(r.count(28))
    ]


def _read_animated_bone(st: _State, node: dict[str, Any]) -> None:
    _read_animation_node(st, node)
    node["bone_matrix"] = _read_matrix(st.r)


def _read_visibility_node(st: _State, node: dict[str, Any]) -> None:
    r = st.r
    arguments = []
    for _ in range(r.count(20)):
        argument = r.u32()
        field = r.pos
        count = r.u64()
        offset = r.u64()
        values = st.floats(offset, 2 * count, field, "visibility ranges")
        ranges = [values[i:i + 2] for i in range(0, len(values), 2)]
        arguments.append({"argument": argument, "ranges_offset": offset, "ranges": ranges})
    node["arguments"] = arguments


def _read_connector(st: _State, node: dict[str, Any]) -> None:
    _read_plain_node(st, node)


_NODE_RECORDS = {
    "NODE": ("model::Node", _read_plain_node),
    "TRND": ("model::TransformNode", _read_transform_node),
    "BONE": ("model::Bone", _read_bone),
    "ANND": ("model::ArgAnimationNode", _read_animation_node),
    "ANBN": ("model::ArgAnimatedBone", _read_animated_bone),
    "ANVS": ("model::ArgVisibilityNode", _read_visibility_node),
    "CNCT": ("model::Connector", _read_connector),
}
# Visibility nodes live only in the visibility tree, under a plain root;
# shell records have a tag but no place in the trees or among connectors.
_TRANSFORM_TAGS = ("NODE", "TRND", "BONE", "ANND", "ANBN")
_VISIBILITY_TAGS = ("NODE", "ANVS")
_CONNECTOR_TAGS = ("CNCT",)


# ---------------------------------------------------------------------------
# Properties
# ---------------------------------------------------------------------------

def _read_properties(st: _State) -> list[Any]:
    r = st.r
    return [_read_property(st) for _ in range(r.count(_MIN_PROPERTY_RECORD))]


def _read_property(st: _State) -> dict[str, Any]:
    r = st.r
    offset = r.pos
    tag = decode_text(r.raw(4))
    kind = _PROPERTY_KINDS.get(tag)
    if kind is None:
        raise r.error(f"unknown property tag {tag!r}", offset)
    prop = {"tag": tag, "class": kind[0]}
    st.string(prop, "name")
    kind[1](st, prop, kind[2])
    return prop


def _read_static_value(st: _State, prop: dict[str, Any], components: int | str | None) -> None:
    r = st.r
    if components == "u32":
        prop["value"] = r.u32()
    elif components == 1:
        prop["value"] = r.f32()
    else:
        assert isinstance(components, int)
        prop["value"] = r.f32s(components)


def _read_string_value(st: _State, prop: dict[str, Any], _components: int | str | None) -> None:
    st.string(prop, "value")


def _read_argument_value(st: _State, prop: dict[str, Any], _components: int | str | None) -> None:
    prop["argument"] = st.r.u32()


def _read_animated_value(st: _State, prop: dict[str, Any], components: int | str | None) -> None:
    assert isinstance(components, int)
    prop["argument"] = st.r.u32()
    prop.update(_read_key_block(st, components))


_ValueReader = Callable[[_State, dict[str, Any], int | str | None], None]
_PROPERTY_KINDS: dict[str, tuple[str, _ValueReader, int | str | None]] = {
    "FLT1": ("model::Property<float>", _read_static_value, 1),
    "FLT2": ("model::Property<osg::Vec2f>", _read_static_value, 2),
    "FLT3": ("model::Property<osg::Vec3f>", _read_static_value, 3),
    "FLT4": ("model::Property<osg::Vec4f>", _read_static_value, 4),
    "INT1": ("model::Property<unsigned int>", _read_static_value, "u32"),
    "AARG": ("model::ArgumentProperty", _read_argument_value, None),
    "STRG": ("model::Property<const char*>", _read_string_value, None),
    "AFL1": ("model::AnimatedProperty<float>", _read_animated_value, 1),
    "AFL2": ("model::AnimatedProperty<osg::Vec2f>", _read_animated_value, 2),
    "AFL3": ("model::AnimatedProperty<osg::Vec3f>", _read_animated_value, 3),
    "AFL4": ("model::AnimatedProperty<osg::Vec4f>", _read_animated_value, 4),
}

