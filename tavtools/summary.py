"""Short human-readable account of a decoded model: ``summarize(model)``.

Node counts by class, render geometry counted apart from collision shells
and segments, a table of the render nodes (name, material, vertices,
triangles, parent), a table of the arguments (what each drives and over
which key range) and the boxes, an empty box printed as "empty".
"""

from collections import Counter
from collections.abc import Callable, Iterator, Sequence
from typing import Any

# Primitives per index count by primitive kind; only the triangle kinds count.
_TRIANGLES: dict[int, Callable[[int], int]] = {
    5: lambda n: n // 3,
    6: lambda n: max(n - 2, 0),
    7: lambda n: max(n - 2, 0),
}
_SHELL_CLASSES = ("model::ShellNode", "model::ShellSkinNode")
_NONE = 0xFFFFFFFF
_EMPTY_LIMIT = 3.4e38


def _all_nodes(model: dict[str, Any]) -> Iterator[dict[str, Any]]:
    yield from model["nodes"]
    for records in model["sections"].values():
        yield from records


def _box(box: dict[str, Any]) -> str:
    if all(v >= _EMPTY_LIMIT for v in box["min"]) and all(v <= -_EMPTY_LIMIT for v in box["max"]):
        return "empty"

    def vec(values: Sequence[float]) -> str:
        return "(" + ", ".join(f"{v:g}" for v in values) + ")"
    return f"min {vec(box['min'])} max {vec(box['max'])}"


def _triangles(record: dict[str, Any]) -> int:
    count = _TRIANGLES.get(record.get("primitive_kind", -1))
    return count(len(record["indices"])) if count is not None else 0


def _table(header: tuple[Any, ...], rows: list[Any]) -> list[Any]:
    """Lines of a left-aligned text table, two spaces between columns, indented."""
    widths = [max(len(str(row[k])) for row in [header] + rows) for k in range(len(header))]
    return ["  " + "  ".join(f"{str(cell):<{widths[k]}}" for k, cell in enumerate(row)).rstrip()
            for row in [header] + rows]


def _classes(lines: list[Any], classes: Counter[str]) -> None:
    width = max((len(name) for name in classes), default=0)
    for name, count in sorted(classes.items()):
        lines.append(f"  {name:<{width}}  {count}")


def _key_range(keys: list[Any]) -> str:
    if not keys:
        return "no keys"
    return f"keys {keys[0][0]:g}..{keys[-1][0]:g}"


class _Arguments:
    """argument number -> list of (driven thing, what, range text)."""

    def __init__(self) -> None:
        self.uses: dict[int, list[tuple[str, str, str]]] = {}

    def add(self, argument: int, target: str, what: str, extent: str = "") -> None:
        if argument is None or argument == _NONE or argument < 0:
            return
        self.uses.setdefault(argument, []).append((target, what, extent))

    def properties(self, owner: str, properties: list[Any]) -> None:
        for prop in properties:
            if "argument" in prop:
                extent = _key_range(prop["keys"]) if "keys" in prop else ""
                self.add(prop["argument"], owner, f"property {prop['name']}", extent)

    def animation(self, node: dict[str, Any]) -> None:
        for key in ("position", "rotation"):
            for entry in node.get(key, []):
                self.add(entry["argument"], node["name"], key, _key_range(entry["keys"]))
        for entry in node.get("scale", []):
            keys = entry["scale_keys"] if "scale_keys" in entry else entry["scale"]["keys"]
            self.add(entry["argument"], node["name"], "scale", _key_range(keys))
        for entry in node.get("arguments", []):
            ranges = entry["ranges"]
            extent = (f"shown {', '.join(f'{a:g}..{b:g}' for a, b in ranges)}" if ranges else "never shown")
            self.add(entry["argument"], node["name"], "visibility", extent)

    def lines(self) -> list[Any]:
        if not self.uses:
            return ["arguments: none"]
        rows = [(f"{argument}", target, what, extent)
                for argument in sorted(self.uses) for target, what, extent in self.uses[argument]]
        return [f"arguments: {len(self.uses)}"] + _table(("argument", "drives", "what", "range"), rows)


def _summarize20(model: dict[str, Any]) -> str:
    lines = ["TAV format 2.0", "transform nodes by class:"]
    _classes(lines, Counter(node["class"] for node in model["transform_tree"]))
    visibility = sum(node["tag"] == "ANVS" for node in model["visibility_tree"])
    lines.append(f"visibility nodes: {visibility}")
    lines.append(f"connectors: {len(model['connectors'])}")
    lines.append(f"pool: {model['pool_size']} bytes")
    arguments = _Arguments()
    for tree in ("transform_tree", "visibility_tree"):
        for node in model[tree]:
            arguments.animation(node)
            arguments.properties(node["name"], node.get("properties", []))
    for connector in model["connectors"]:
        arguments.properties(connector["name"], connector.get("properties", []))
    lines.append(f"handles: {model['handle_count']}")
    lines.extend(arguments.lines())
    lines.append(f"bounding box: {_box(model['bounding_box'])}")
    lines.append(f"user box: {_box(model['user_box'])}")
    lines.append(f"light box: {_box(model['light_box'])}")
    return "\n".join(lines)


def _parent_names(record: dict[str, Any], nodes: list[Any]) -> str:
    if "bones" in record:
        indices = record["bones"][:1]
    elif "parents" in record:
        indices = [entry["node"] for entry in record["parents"]]
    else:
        indices = [record["parent"]] if record.get("parent") is not None else []
    return ", ".join(nodes[i]["name"] if i < len(nodes) else f"#{i}" for i in indices) or "-"


def _material_name(model: dict[str, Any], index: int) -> str:
    if index is None or index >= len(model["materials"]):
        return "-"
    material = model["materials"][index]
    return str(material["name"] or material["material_name"])


def summarize(model: dict[str, Any]) -> str:
    """The account of a model as read() returns it, as lines of text."""
    if model["version"] == 20:
        return _summarize20(model)
    nodes = model["nodes"]
    lines = [f"TAV format {model['version']}", "nodes by class:"]
    _classes(lines, Counter(node["class"] for node in _all_nodes(model)))
    present = [f"{name} {len(records)}" for name, records in model["sections"].items() if records]
    lines.append("sections: " + (", ".join(present) if present else "none"))
    lines.append(f"materials: {len(model['materials'])}")
    for index, material in enumerate(model["materials"]):
        lines.append(
            f"  {index}: {material['name']!r} ({material['material_name']}), "
            f"{len(material['textures'])} textures, {len(material['uniforms'])} uniforms, "
            f"{len(material['animated_uniforms'])} animated uniforms"
        )

    renders = [r for r in model["sections"]["RENDER_NODES"] if "indices" in r]
    shells = [r for r in model["sections"]["SHELL_NODES"] if r["class"] in _SHELL_CLASSES]
    segments = [r for r in model["sections"]["SHELL_NODES"] if r["class"] == "model::SegmentsNode"]
    lines.append("geometry:")
    lines.append(f"  render: {sum(r['vertex_count'] for r in renders)} vertices, "
                 f"{sum(_triangles(r) for r in renders)} triangles")
    lines.append(f"  shells: {sum(r['vertex_count'] for r in shells)} vertices, "
                 f"{sum(_triangles(r) for r in shells)} triangles")
    lines.append(f"  segments: {sum(len(r['segments']) for r in segments)}")

    records = model["sections"]["RENDER_NODES"]
    lines.append(f"render nodes: {len(records)}")
    if records:
        rows = [(r["name"], _material_name(model, r.get("material")), r.get("vertex_count", 0), _triangles(r)
                 if "indices" in r else 0, _parent_names(r, nodes)) for r in records]
        lines.extend(_table(("name", "material", "vertices", "triangles", "parent"), rows))

    arguments = _Arguments()
    for node in nodes:
        arguments.animation(node)
        arguments.properties(node["name"], node["properties"])
    for index, material in enumerate(model["materials"]):
        arguments.properties(f"material {_material_name(model, index)}",
                             material["uniforms"] + material["animated_uniforms"])
    for section in model["sections"].values():
        for record in section:
            arguments.properties(record["name"], record["properties"] + record.get("light_properties", []))
            for entry in record.get("parents", []):
                arguments.add(entry.get("damage_argument"), record["name"], "damage")
            for control in record.get("controls", []):
                for item in control:
                    arguments.add(item["argument"], record["name"], "number")
                    arguments.add(item["second_argument"], record["name"], "number")
            if "animation" in record:
                arguments.add(record["argument"], record["name"], "light animation")
    root = model["root"]
    lines.append(f"handles: {root['handle_count']}")
    lines.extend(arguments.lines())
    lines.append(f"bounding box: {_box(root['bounding_box'])}")
    lines.append(f"user box: {_box(root['user_box'])}")
    lines.append(f"light box: {_box(root['light_box'])}")
    return "\n".join(lines)
