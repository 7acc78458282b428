"""Short human-readable account of a decoded model."""

from collections import Counter

# Primitives per index count by primitive kind; only the triangle kinds count.
_TRIANGLES = {
    5: lambda n: n // 3,
    6: lambda n: max(n - 2, 0),
    7: lambda n: max(n - 2, 0),
}


def _all_nodes(model: dict):
    yield from model["nodes"]
    for records in model["sections"].values():
        yield from records


def _box(box) -> str:
    def vec(values):
        return "(" + ", ".join(f"{v:g}" for v in values) + ")"
    return f"min {vec(box['min'])} max {vec(box['max'])}"


def _summarize20(model: dict) -> str:
    lines = ["TAV format 2.0", "transform nodes by class:"]
    classes = Counter(node["class"] for node in model["transform_tree"])
    width = max((len(name) for name in classes), default=0)
    for name, count in sorted(classes.items()):
        lines.append(f"  {name:<{width}}  {count}")
    visibility = sum(node["tag"] == "ANVS" for node in model["visibility_tree"])
    lines.append(f"visibility nodes: {visibility}")
    lines.append(f"connectors: {len(model['connectors'])}")
    lines.append(f"pool: {model['pool_size']} bytes")
    lines.append(f"handles: {model['handle_count']}")
    lines.append(f"bounding box: {_box(model['bounding_box'])}")
    lines.append(f"user box: {_box(model['user_box'])}")
    lines.append(f"light box: {_box(model['light_box'])}")
    return "\n".join(lines)


def summarize(model: dict) -> str:
    if model["version"] == 20:
        return _summarize20(model)
    classes = Counter(node["class"] for node in _all_nodes(model))
    vertices = 0
    triangles = 0
    for node in _all_nodes(model):
        vertices += node.get("vertex_count", 0)
        count = _TRIANGLES.get(node.get("primitive_kind"))
        if count is not None:
            triangles += count(len(node["indices"]))

    lines = [f"TAV format {model['version']}", "nodes by class:"]
    width = max((len(name) for name in classes), default=0)
    for name, count in sorted(classes.items()):
        lines.append(f"  {name:<{width}}  {count}")
    present = [f"{name} {len(records)}" for name, records in model["sections"].items() if records]
    lines.append("sections: " + (", ".join(present) if present else "none"))
    lines.append(f"materials: {len(model['materials'])}")
    for index, material in enumerate(model["materials"]):
        lines.append(
            f"  {index}: {material['name']!r} ({material['material_name']}), "
            f"{len(material['textures'])} textures, {len(material['uniforms'])} uniforms, "
            f"{len(material['animated_uniforms'])} animated uniforms"
        )
    root = model["root"]
    lines.append(f"vertices: {vertices}")
    lines.append(f"triangles: {triangles}")
    lines.append(f"handles: {root['handle_count']}")
    lines.append(f"bounding box: {_box(root['bounding_box'])}")
    lines.append(f"user box: {_box(root['user_box'])}")
    lines.append(f"light box: {_box(root['light_box'])}")
    return "\n".join(lines)
