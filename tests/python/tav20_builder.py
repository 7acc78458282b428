"""Test-side encoder of format 2.0 files.

Takes a model in the shape that ``tavtools.read`` returns and assembles the
file byte by byte, independently of the inspector's decoder.  Names and
strings go into the pool at the first offset where their bytes and a NUL
already stand (``bytes.find``), else they are appended; key and range data
are always appended.  Keys that the decoder derives (``*_offset``,
``index``, ``parent``, ``pool_size``, ``class``) are ignored; the tree shape
comes from each node's ``children``.
"""

import struct

FLT_MAX = 3.4028234663852886e38
EMPTY_BOX = {"min": [FLT_MAX] * 3, "max": [-FLT_MAX] * 3}
IDENTITY = [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]


class Writer:
    def __init__(self):
        self.records = bytearray()
        self.pool = bytearray()

    def pack(self, fmt, *values):
        self.records += struct.pack("<" + fmt, *values)

    def u32(self, *v): self.pack(f"{len(v)}I", *v)
    def u64(self, *v): self.pack(f"{len(v)}Q", *v)
    def f32(self, *v): self.pack(f"{len(v)}f", *v)

    def tag(self, text):
        self.records += text.encode("ascii")

    def string(self, text):
        raw = text.encode("utf-8", "surrogateescape") + b"\0"
        at = self.pool.find(raw)
        if at < 0:
            at = len(self.pool)
            self.pool += raw
        self.u32(at)

    def append(self, values):
        at = len(self.pool)
        self.pool += struct.pack(f"<{len(values)}f", *values)
        return at

    def key_block(self, block, width):
        keys = block["keys"]
        self.u32(len(keys))
        self.u32(self.append([k[0] for k in keys]))
        self.u32(self.append([v for k in keys for v in k[1:1 + width]]))


def _matrix(w, m):
    w.f32(*[v for row in m for v in row])


def _properties(w, props):
    w.u32(len(props))
    for p in props:
        w.tag(p["tag"])
        w.string(p["name"])
        tag = p["tag"]
        if tag == "FLT1":
            w.f32(p["value"])
        elif tag in ("FLT2", "FLT3", "FLT4"):
            w.f32(*p["value"])
        elif tag == "INT1":
            w.u32(p["value"])
        elif tag == "AARG":
            w.u32(p["argument"])
        elif tag == "STRG":
            w.string(p["value"])
        else:
            w.u32(p["argument"])
            w.key_block(p, int(tag[3]))


def _animation(w, n):
    w.f32(*n["base_position"], *n["base_rotation"], *n["scale_orientation"], *n["base_scale"])
    w.u32(len(n["position"]))
    for channel in n["position"]:
        w.u32(channel["argument"])
        w.key_block(channel, 3)
    w.u32(len(n["rotation"]))
    for channel in n["rotation"]:
        w.u32(channel["argument"])
        w.key_block(channel, 4)
    w.u32(len(n["scale"]))
    for channel in n["scale"]:
        w.u32(channel["argument"])
        w.key_block(channel["orientation"], 4)
        w.key_block(channel["scale"], 3)


def record(w, n):
    tag = n["tag"]
    w.tag(tag)
    w.string(n["name"])
    if tag == "ANVS":
        w.u32(len(n["arguments"]))
        for entry in n["arguments"]:
            w.u32(entry["argument"])
            w.u64(len(entry["ranges"]))
            w.u64(w.append([v for r in entry["ranges"] for v in r]))
        return
    _properties(w, n["properties"])
    if tag in ("TRND", "BONE", "ANND", "ANBN"):
        _matrix(w, n["matrix"])
    if tag in ("ANND", "ANBN"):
        _animation(w, n)
    if tag in ("BONE", "ANBN"):
        _matrix(w, n["bone_matrix"])


def tree(w, nodes):
    w.u32(len(nodes))
    for n in nodes:
        record(w, n)
    for index, n in enumerate(nodes):
        w.u32(index, len(n["children"]), *n["children"])


def encode(model):
    w = Writer()
    w.tag("TRTR")
    w.u32(0, 0)
    tree(w, model["transform_tree"])
    tree(w, model["visibility_tree"])
    for c in model["connectors"]:
        record(w, c)
        w.u32(c["transform_node"], c["visibility_node"])
    head = b"TAV2" + struct.pack("<II", 0, model["handle_count"])
    for box in ("bounding_box", "user_box", "light_box"):
        b = model.get(box, EMPTY_BOX)
        head += struct.pack("<6f", *b["min"], *b["max"])
    return head + b"BUFF" + struct.pack("<I", len(w.pool)) + bytes(w.pool) + bytes(w.records)
