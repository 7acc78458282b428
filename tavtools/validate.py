"""Validation of saved model files: every problem at once, with where it is.

``validate(data)`` reads a whole file (format 10 or 2.0) with a collecting
reader, so that a deviation the layout can be read past is listed and
decoding goes on, then checks the decoded records for what a loader would
refuse: indices past the vertices, vertex sizes that do not match their
format, values that are not finite, bone references, boxes, parent links,
the argument count and more.  Each problem is an ``Issue`` with a severity
("error" or "warning"), a code, the byte offset and the record path.  A
deviation after which the file cannot be followed ends the reading with one
error (code "UNREADABLE"); the records up to there are not checked further.
"""

import math
from collections.abc import Iterable, Sequence
from typing import Any

from . import format10, format20
from .errors import FormatError
from .reader import Reader

ERROR = "error"
WARNING = "warning"
_PRIMITIVE_CORNERS = {5: 3}
_MESH_CLASSES = ("model::RenderNode", "model::NumberNode", "model::SkinNode")
_SHELL_MESH_CLASSES = ("model::ShellNode", "model::ShellSkinNode")
_BONE_CLASSES = ("model::Bone", "model::ArgAnimatedBone")
_ANIMATION_CLASSES = ("model::ArgAnimationNode", "model::ArgPositionNode", "model::ArgRotationNode",
                      "model::ArgScaleNode", "model::ArgAnimatedBone")
_WARNING_CODES = {"UNUSED_STRING", "KEY_ORDER", "RANGE_ORDER", "HANDLE_COUNT"}

# A record of a decoded model, as format10 and format20 return it.
Record = dict[str, Any]


class Issue:
    """One problem: severity, code, message, byte offset, record path (a text)."""

    __slots__ = ("severity", "code", "message", "offset", "path")

    def __init__(self, severity: str, code: str, message: str, offset: int, path: str):
        self.severity = severity
        self.code = code
        self.message = message
        self.offset = offset
        self.path = path

    def as_json(self) -> dict[str, str | int]:
        return {"severity": self.severity, "code": self.code, "message": self.message,
                "offset": self.offset, "path": self.path}

    def __str__(self) -> str:
        where = f" ({self.path})" if self.path else ""
        return f"{self.severity}: {self.code} at offset {self.offset}{where}: {self.message}"

    def __repr__(self) -> str:
        return f"Issue({self})"


class Report:
    """The issues of one file, in file order of discovery."""

    def __init__(self, version: int | None, issues: list[Issue]):
        self.version = version
        self.issues = issues

    @property
    def errors(self) -> list[Issue]:
        return [issue for issue in self.issues if issue.severity == ERROR]

    @property
    def warnings(self) -> list[Issue]:
        return [issue for issue in self.issues if issue.severity == WARNING]

    def counts_text(self) -> str:
        if not self.issues:
            return "no problems found"
        return f"{len(self.errors)} errors, {len(self.warnings)} warnings"

    def as_json(self, name: str | None = None) -> dict[str, Any]:
        """A report in the manner of the glTF validator's: counts and a message list."""
        return {"uri": name, "format": self.version,
                "issues": {"numErrors": len(self.errors), "numWarnings": len(self.warnings),
                           "messages": [issue.as_json() for issue in self.issues]}}


def validate(data: bytes | bytearray | memoryview) -> Report:
    """Validates a whole file given as bytes; never raises for a bad file."""
    data = bytes(data)
    check: type[_Checks]
    if data.startswith(format20.MAGIC):
        version, decode, check = 20, format20.decode, _Checks20
    elif data.startswith(format10.MAGIC):
        version, decode, check = 10, format10.decode, _Checks10
    else:
        issue = Issue(ERROR, "BAD_MAGIC", f"bad magic {data[:4]!r}, not a TAV model file", 0, "")
        return Report(None, [issue])
    reader = Reader(data, collect=True)
    issues: list[Issue] = []
    stop: tuple[str, FormatError] | None
    try:
        model = decode(data, reader)
    except FormatError as error:
        model = None
        stop = ("UNREADABLE", error)
    else:
        stop = None
    for code, problem in (reader.issues or []) + ([stop] if stop else []):
        severity = WARNING if code in _WARNING_CODES else ERROR
        issues.append(Issue(severity, code, problem.message, problem.offset, " > ".join(problem.context)))
    if model is not None:
        issues.extend(check(model, reader).run())
    issues.sort(key=lambda issue: issue.offset)
    return Report(version, issues)


def _finite(values: Iterable[float]) -> bool:
    return all(math.isfinite(v) for v in values)


class _Checks:
    """Checks shared by both layouts on a decoded model."""

    def __init__(self, model: Record, reader: Reader):
        self.model = model
        self.reader = reader
        self.issues: list[Issue] = []

    def run(self) -> list[Issue]:
        raise NotImplementedError

    def offset(self, record: Record, field: str = "record") -> int:
        return self.reader.offsets.get((id(record), field), self.reader.offsets.get((id(record), "record"), 0))

    def add(self, code: str, message: str, record: Record, path: str, field: str = "record") -> None:
        severity = WARNING if code in _WARNING_CODES else ERROR
        self.issues.append(Issue(severity, code, message, self.offset(record, field), path))

    def box(self, box: Record, what: str, record: Record) -> None:
        low, high = box["min"], box["max"]
        if not _finite(low + high):
            self.add("BAD_BOX", f"{what} holds a value that is not finite", record, what)
            return
        empty = all(lo > 3.4e38 for lo in low) and all(hi < -3.4e38 for hi in high)
        if not empty and any(hi < lo for lo, hi in zip(low, high)):
            self.add("BAD_BOX", f"{what} has a maximum below its minimum and is not the empty box", record, what)

    def keys(self, keys: Sequence[Sequence[float]], what: str, record: Record, path: str) -> None:
        times = [key[0] for key in keys]
        if not all(_finite(key) for key in keys):
            self.add("NOT_FINITE", f"{what} keys hold a value that is not finite", record, path)
        elif any(b < a for a, b in zip(times, times[1:])):
            self.add("KEY_ORDER", f"{what} key times are not in increasing order", record, path)

    def arguments_used(self) -> set[int]:
        raise NotImplementedError

    def handle_count(self, count: int, record: Record) -> None:
        # The count also takes in arguments that no record of the file keeps
        # (a skin node's damage argument; in format 2.0 everything but the
        # trees and connectors), so the arguments found are a lower bound.
        used = self.arguments_used()
        used.discard(format10.NONE)
        if count < len(used):
            self.add("HANDLE_COUNT", f"handle count {count}, but {len(used)} distinct arguments are used", record,
                     "root record", "handle_count")


def _property_arguments(properties: list[Record]) -> set[int]:
    return {prop["argument"] for prop in properties if "argument" in prop}


def _animation_arguments(node: Record) -> set[int]:
    return {entry["argument"] for key in ("position", "rotation", "scale") for entry in node.get(key, [])}


class _Checks10(_Checks):
    def run(self) -> list[Issue]:
        model = self.model
        root = model["root"]
        for box in ("bounding_box", "user_box", "light_box"):
            self.box(root[box], box, root)
        nodes = model["nodes"]
        for node in nodes:
            self.tree_node(node, f"transform node {node['index']} {node['name']!r}")
        for index, material in enumerate(model["materials"]):
            self.material(material, f"material {index} {material['name']!r}")
        for section, records in model["sections"].items():
            for index, record in enumerate(records):
                path = f"{section} record {index} {record['name']!r}"
                self.geometry(record, path)
                if record["class"] == "model::SkinNode" or record["class"] == "model::ShellSkinNode":
                    self.bones(record, path)
        self.handle_count(root["handle_count"], root)
        unused = set(range(len(model["strings"]))) - self.reader.used_strings
        for index in sorted(unused):
            self.add("UNUSED_STRING", f"string {model['strings'][index]!r} (index {index}) is never referred to",
                     root, "string table")
        return self.issues

    def tree_node(self, node: Record, path: str) -> None:
        if node["index"] and node["parent"] is None:
            return  # reported as BAD_PARENT while reading
        for key in ("matrix", "bone_matrix"):
            if key in node and not _finite([v for row in node[key] for v in row]):
                self.add("NOT_FINITE", f"{key.replace('_', ' ')} holds a value that is not finite", node, path)
        if node["class"] in _ANIMATION_CLASSES:
            for entry in node["position"] + node["rotation"]:
                self.keys(entry["keys"], "animation", node, path)
            for entry in node["scale"]:
                self.keys(entry["orientation_keys"], "scale orientation", node, path)
                self.keys(entry["scale_keys"], "scale", node, path)
        for entry in node.get("arguments", []):
            if any(end < start for start, end in entry["ranges"]):
                self.add("RANGE_ORDER", f"a visibility range of argument {entry['argument']} ends before it starts",
                         node, path)

    def material(self, material: Record, path: str) -> None:
        position = material["vertex_format"][0] if material["vertex_format"] else 0
        if material["vertex_format"] and any(material["vertex_format"]) and position not in (3, 4):
            self.add("VERTEX_FORMAT", f"position takes {position} floats, expected 3 or 4", material, path)
        for texture in material["textures"]:
            if not texture["file"]:
                self.add("EMPTY_TEXTURE", f"texture slot {texture['slot']} has no file name", material, path)

    def geometry(self, record: Record, path: str) -> None:
        if "indices" not in record:
            return
        count = record["vertex_count"]
        size = record["floats_per_vertex"]
        if record["class"] in _MESH_CLASSES:
            material = record["material"]
            if material < len(self.model["materials"]):
                expected = sum(self.model["materials"][material]["vertex_format"])
                if count and size != expected:
                    self.add("VERTEX_FORMAT", f"{size} floats per vertex for a material vertex format of {expected}",
                             record, path, "vertices")
        if record["class"] in _MESH_CLASSES + _SHELL_MESH_CLASSES:
            vertices = record["vertices"]
            if record["class"] == "model::SkinNode" and self._packs_bones(record):
                # The fourth position float of a skinned vertex holds its
                # bone indices as bits, which may read as any float.
                vertices = [v for k, v in enumerate(vertices) if k % size != 3]
            if not _finite(vertices):
                self.add("NOT_FINITE", "vertex data holds a value that is not finite", record, path, "vertices")
        indices = record["indices"]
        largest = max(indices, default=-1)
        if largest >= count:
            self.add("INDEX_OUT_OF_RANGE", f"index {largest} is not below the vertex count {count}", record, path,
                     "indices")
        corners = _PRIMITIVE_CORNERS.get(record["primitive_kind"])
        if corners and len(indices) % corners:
            self.add("INDEX_COUNT", f"{len(indices)} indices do not form whole triangles", record, path, "indices")
        if record["class"] in ("model::RenderNode", "model::NumberNode") and not record["parents"]:
            self.add("NO_PARENT", "render node without a parent transform", record, path)
        if "bounding_box" in record and record["bounding_box"] is not None:
            self.box(record["bounding_box"], f"{path} bounding box", record)

    def _packs_bones(self, record: Record) -> bool:
        material = record["material"]
        if material >= len(self.model["materials"]):
            return False
        fmt: list[int] = self.model["materials"][material]["vertex_format"]
        size: int = record["floats_per_vertex"]
        return fmt[0] == 4 and size == sum(fmt)

    def bones(self, record: Record, path: str) -> None:
        if record["class"] != "model::SkinNode":
            return
        nodes = self.model["nodes"]
        # The first entry is the node's control node; the others are its bones.
        for bone in record["bones"][1:]:
            if bone < len(nodes) and nodes[bone]["class"] not in _BONE_CLASSES:
                self.add("BONE", f"bone reference {bone} is a {nodes[bone]['class']}, not a bone", record, path)

    def arguments_used(self) -> set[int]:
        used: set[int] = set()
        for node in self.model["nodes"]:
            used |= _property_arguments(node["properties"]) | _animation_arguments(node)
            used |= {entry["argument"] for entry in node.get("arguments", [])}
        for material in self.model["materials"]:
            used |= _property_arguments(material["uniforms"] + material["animated_uniforms"])
        for records in self.model["sections"].values():
            for record in records:
                used |= _property_arguments(record["properties"] + record.get("light_properties", []))
                if "argument" in record:
                    used.add(record["argument"])
                for parent in record.get("parents", []):
                    used.add(parent.get("damage_argument", format10.NONE))
                for control in record.get("controls", []):
                    for item in control:
                        used |= {item["argument"] & 0xFFFFFFFF, item["second_argument"] & 0xFFFFFFFF}
        return used


class _Checks20(_Checks):
    def run(self) -> list[Issue]:
        model = self.model
        for box in ("bounding_box", "user_box", "light_box"):
            self.box(model[box], box, model)
        for tree in ("transform_tree", "visibility_tree"):
            for node in model[tree]:
                path = f"{tree.replace('_', ' ')} > node {node['index']} {node['name']!r}"
                if "matrix" in node and not _finite([v for row in node["matrix"] for v in row]):
                    self.add("NOT_FINITE", "matrix holds a value that is not finite", node, path)
                for key in ("position", "rotation"):
                    for entry in node.get(key, []):
                        self.keys(entry["keys"], "animation", node, path)
                for entry in node.get("scale", []):
                    self.keys(entry["orientation"]["keys"], "scale orientation", node, path)
                    self.keys(entry["scale"]["keys"], "scale", node, path)
                for entry in node.get("arguments", []):
                    if any(end < start for start, end in entry["ranges"]):
                        self.add("RANGE_ORDER", f"a visibility range of argument {entry['argument']} ends "
                                 "before it starts", node, path)
        visibility = model["visibility_tree"]
        if visibility and visibility[0]["parent"] is None and visibility[0]["tag"] != "NODE":
            self.add("TOPOLOGY", "the visibility tree's root is not a plain node", visibility[0],
                     "visibility tree > node 0")
        self.handle_count(model["handle_count"], model)
        return self.issues

    def arguments_used(self) -> set[int]:
        used: set[int] = set()
        for tree in ("transform_tree", "visibility_tree"):
            for node in self.model[tree]:
                used |= _property_arguments(node.get("properties", [])) | _animation_arguments(node)
                used |= {entry["argument"] for entry in node.get("arguments", [])}
        for connector in self.model["connectors"]:
            used |= _property_arguments(connector.get("properties", []))
        return used
