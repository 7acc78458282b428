"""Still image of a decoded model: ``preview(source, png_path, size, arguments)``.

The transform tree is evaluated at the given argument values (a dict of
argument number to value; every other argument is 0): animation nodes at
their keys for those values, visibility switches choosing what is shown at
them, level-of-detail nodes showing what they show from distance 0. Format
10 files draw their render, number and skin nodes; format 2.0 files hold no
geometry, so each transform node is drawn as a small marker at its origin.
The view is orthographic, from the front-right and above (a three-quarter
view of a +Z-up model), fitted to what is drawn, with Lambert shading from
one directional light and a z-buffer. Rasterisation is NumPy only,
vectorised over batches of triangles of similar screen size; the PNG is
written with zlib and struct.
"""

import math
import os
import struct
import zlib
from collections.abc import Sequence
from typing import Any, TextIO

import numpy as np
import numpy.typing as npt

from . import read

BACKGROUND = (46, 50, 58)
DEFAULT_COLOR = (0.72, 0.74, 0.78)
# Materials without a colour of their own are told apart by these.
PALETTE = ((0.80, 0.80, 0.82), (0.85, 0.62, 0.38), (0.45, 0.65, 0.85), (0.60, 0.80, 0.50),
           (0.85, 0.50, 0.55), (0.70, 0.60, 0.85))
# Camera direction (towards the viewer) and light direction, both in model space.
AZIMUTH = math.radians(-55.0)
ELEVATION = math.radians(30.0)
AMBIENT = 0.22
FRAGMENT_BATCH = 1 << 21
# Files from this size on get progress lines on the progress stream.
LARGE_FILE = 16 << 20
SEMANTIC_WEIGHTS = 21

ANIMATION_CLASSES = ("model::ArgAnimationNode", "model::ArgPositionNode", "model::ArgRotationNode",
                     "model::ArgScaleNode", "model::ArgAnimatedBone")
MESH_CLASSES = ("model::RenderNode", "model::NumberNode", "model::SkinNode")


class PreviewError(ValueError):
    """A model that cannot be drawn (one line of text)."""


Array = npt.NDArray[Any]
Quat = tuple[float, float, float, float]
# Argument number -> value.
Arguments = dict[int, float]


# ---------------------------------------------------------------------------
# Transform evaluation (row-vector convention: p' = p M)
# ---------------------------------------------------------------------------

def _quat_rows(q: Sequence[float]) -> Array:
    """Rotation matrix of an (x, y, z, w) quaternion for row vectors."""
    x, y, z, w = q
    n = x * x + y * y + z * z + w * w
    if not n > 0:
        return np.eye(4)
    s = 2.0 / n
    m = np.eye(4)
    m[:3, :3] = np.array([
        [1 - s * (y * y + z * z), s * (x * y - z * w), s * (x * z + y * w)],
        [s * (x * y + z * w), 1 - s * (x * x + z * z), s * (y * z - x * w)],
        [s * (x * z - y * w), s * (y * z + x * w), 1 - s * (x * x + y * y)],
    ]).T
    return m


def _quat_mul(a: Sequence[float], b: Sequence[float]) -> Quat:
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw,
            aw * bw - ax * bx - ay * by - az * bz)


def _bracket(keys: list[Any], a: float) -> tuple[Any, Any, float]:
    """(lower key, upper key, fraction) around a, clamped at the ends."""
    if a <= keys[0][0]:
        return keys[0], keys[0], 0.0
    if a >= keys[-1][0]:
        return keys[-1], keys[-1], 0.0
    times = [k[0] for k in keys]
    i = int(np.searchsorted(times, a, side="right"))
    k0, k1 = keys[i - 1], keys[i]
    span = k1[0] - k0[0]
    return k0, k1, (a - k0[0]) / span if span > 0 else 0.0


def _vector_at(keys: list[Any], a: float, default: Sequence[float] | None) -> Array:
    if not keys:
        return np.array(default, dtype=np.float64)
    k0, k1, f = _bracket(keys, a)
    return (1 - f) * np.array(k0[1:], dtype=np.float64) + f * np.array(k1[1:], dtype=np.float64)


def _rotation_at(keys: list[Any], a: float) -> Sequence[float]:
    if not keys:
        return (0.0, 0.0, 0.0, 1.0)
    k0, k1, f = _bracket(keys, a)
    q0 = np.array(k0[1:5], dtype=np.float64)
    q1 = np.array(k1[1:5], dtype=np.float64)
    d = float(q0 @ q1)
    if d < 0:
        q1, d = -q1, -d
    if 1 - d > 1e-5:
        theta = math.acos(min(d, 1.0))
        q = (math.sin((1 - f) * theta) * q0 + math.sin(f * theta) * q1) / math.sin(theta)
    else:
        q = (1 - f) * q0 + f * q1
    return tuple(float(c) for c in q)


def _scale_part(orientation: Sequence[float], scale: Sequence[float] | Array) -> Array:
    o = _quat_rows(orientation)
    s = np.diag([scale[0], scale[1], scale[2], 1.0])
    result: Array = o @ s @ np.linalg.inv(o)
    return result


def _animation_matrix(node: dict[str, Any], arguments: Arguments) -> Array:
    """The node's local matrix with each channel at the value of its argument."""
    def value(entry: dict[str, Any]) -> float:
        return arguments.get(entry["argument"], 0.0)

    m = np.eye(4)
    for entry in node["scale"]:
        if "orientation_keys" in entry:
            orient, keys = entry["orientation_keys"], entry["scale_keys"]
        else:
            orient, keys = entry["orientation"]["keys"], entry["scale"]["keys"]
        m = m @ _scale_part(_rotation_at(orient, value(entry)), _vector_at(keys, value(entry), (1, 1, 1)))
    m = m @ _scale_part(node["scale_orientation"], node["base_scale"])
    q: Quat = (0.0, 0.0, 0.0, 1.0)
    for entry in node["rotation"]:
        q = _quat_mul(q, _rotation_at(entry["keys"], value(entry)))
    m = m @ _quat_rows(_quat_mul(q, node["base_rotation"]))
    p = np.array(node["base_position"], dtype=np.float64)
    for entry in node["position"]:
        p = p + _vector_at(entry["keys"], value(entry), (0, 0, 0))
    t = np.eye(4)
    t[3, :3] = p
    local: Array = m @ t @ np.array(node["matrix"], dtype=np.float64)
    return local


def _local_matrix(node: dict[str, Any], arguments: Arguments) -> Array:
    if node["class"] in ANIMATION_CLASSES:
        return _animation_matrix(node, arguments)
    if "matrix" in node:
        return np.array(node["matrix"], dtype=np.float64)
    return np.eye(4)


def _shown(node: dict[str, Any], arguments: Arguments) -> bool:
    for entry in node.get("arguments", []) if node["class"] == "model::ArgVisibilityNode" else []:
        value = arguments.get(entry["argument"], 0.0)
        if not any(start <= value < end for start, end in entry["ranges"]):
            return False
    return True


def evaluate_tree(nodes: list[Any], arguments: Arguments | None = None) -> tuple[list[Array], list[bool]]:
    """(world matrices, shown flags) of a pre-ordered node list with parent
    indices, at the given argument values (argument number -> value, others 0)."""
    arguments = arguments or {}
    world: list[Array] = []
    shown: list[bool] = []
    child_count: dict[int, int] = {}
    for index, node in enumerate(nodes):
        parent = node.get("parent")
        local = _local_matrix(node, arguments)
        visible = _shown(node, arguments)
        if parent is None or not 0 <= parent < index:
            world.append(local)
            shown.append(visible)
            continue
        position = child_count.get(parent, 0)
        child_count[parent] = position + 1
        parent_node = nodes[parent]
        if parent_node["class"] == "model::LodNode":
            ranges = parent_node["ranges"]
            visible = visible and position < len(ranges) and ranges[position][0] <= 0.0 < ranges[position][1]
        world.append(local @ world[parent])
        shown.append(visible and shown[parent])
    return world, shown


# ---------------------------------------------------------------------------
# Triangles of a decoded file
# ---------------------------------------------------------------------------

def _triangle_indices(indices: Sequence[int], kind: int) -> Array:
    idx = np.asarray(indices, dtype=np.int64)
    if kind == 5:
        return idx[: len(idx) - len(idx) % 3].reshape(-1, 3)
    n = len(idx) - 2
    if kind not in (6, 7) or n <= 0:
        return np.zeros((0, 3), dtype=np.int64)
    i = np.arange(n)
    if kind == 6:
        odd = i % 2 == 1
        return np.stack([np.where(odd, idx[i + 1], idx[i]), np.where(odd, idx[i], idx[i + 1]), idx[i + 2]], axis=1)
    return np.stack([np.full(n, idx[0]), idx[i + 1], idx[i + 2]], axis=1)


def _material_color(material: dict[str, Any], index: int) -> tuple[float, ...]:
    for uniform in material.get("uniforms", []):
        if uniform["name"] == "color" and isinstance(uniform.get("value"), list) and len(uniform["value"]) == 3:
            return tuple(min(max(float(c), 0.0), 1.0) if math.isfinite(c) else 0.0 for c in uniform["value"])
    return PALETTE[index % len(PALETTE)]


def _mesh_triangles(record: dict[str, Any], data: dict[str, Any], world: list[Array],
                    shown: list[bool]) -> tuple[Array, tuple[float, ...]] | None:
    count = record["vertex_count"]
    size = record["floats_per_vertex"]
    if not count or not size:
        return None
    material = data["materials"][record["material"]]
    fmt = material["vertex_format"]
    if fmt[0] < 3 or sum(fmt) != size:
        return None
    vertices = np.asarray(record["vertices"], dtype=np.float32).reshape(count, size)
    points = np.c_[vertices[:, :3].astype(np.float64), np.ones(count)]
    if record["class"] == "model::SkinNode":
        moved, visible = _skinned(record, vertices, fmt, points, data, world, shown)
    else:
        parents = [entry["node"] for entry in record["parents"]]
        if not parents:
            return None
        entry = np.zeros(count, dtype=np.int64)
        if fmt[0] == 4:
            entry = np.clip(np.rint(np.nan_to_num(vertices[:, 3])).astype(np.int64), 0, len(parents) - 1)
        matrices = np.stack([world[p] for p in parents])
        moved = np.einsum("vi,vij->vj", points, matrices[entry])
        visible = np.array([shown[p] for p in parents])[entry]
    tris = _triangle_indices(record["indices"], record["primitive_kind"])
    tris = tris[np.all(tris < count, axis=1)]
    tris = tris[np.all(visible[tris], axis=1)]
    if not len(tris):
        return None
    w = moved[:, 3:4]
    moved = moved[:, :3] / np.where(np.abs(w) > 1e-12, w, 1.0)
    return moved[tris], _material_color(material, record["material"])


def _skinned(record: dict[str, Any], vertices: Array, fmt: list[int], points: Array, data: dict[str, Any],
             world: list[Array], shown: list[bool]) -> tuple[Array, Array]:
    nodes = data["nodes"]
    bones = record["bones"]
    palette = np.stack([
        np.array(nodes[b].get("bone_matrix", np.eye(4)), dtype=np.float64) @ world[b] for b in bones
    ]) if bones else np.eye(4)[None]
    count = len(vertices)
    if fmt[0] == 4:
        packed = np.ascontiguousarray(vertices[:, 3]).view(np.uint32)
        ids = np.stack([(packed >> s) & 0xFF for s in (0, 8, 16, 24)], axis=1).astype(np.int64)
    else:
        ids = np.zeros((count, 4), dtype=np.int64)
    if fmt[SEMANTIC_WEIGHTS] == 4:
        start = sum(fmt[:SEMANTIC_WEIGHTS])
        weights = vertices[:, start:start + 4].astype(np.float64)
    else:
        weights = np.zeros((count, 4))
    weights = np.where((ids < len(palette)) & np.isfinite(weights), weights, 0.0)
    ids = np.minimum(ids, len(palette) - 1)
    unweighted = weights.sum(axis=1) <= 0
    weights[unweighted] = (1.0, 0.0, 0.0, 0.0)
    ids[unweighted] = 0
    blended = np.einsum("vk,vkij->vij", weights, palette[ids])
    moved = np.einsum("vi,vij->vj", points, blended)
    bone_shown = np.array([shown[b] for b in bones] or [True])
    visible = np.all(bone_shown[ids] | (weights == 0), axis=1)
    return moved, visible


def _marker(center: Array, radius: float) -> Array:
    """An octahedron around center as (8, 3, 3) triangles."""
    axes = np.array([[1, 0, 0], [-1, 0, 0], [0, 1, 0], [0, -1, 0], [0, 0, 1], [0, 0, -1]], dtype=np.float64)
    v = center + radius * axes
    faces = [(0, 2, 4), (2, 1, 4), (1, 3, 4), (3, 0, 4), (2, 0, 5), (1, 2, 5), (3, 1, 5), (0, 3, 5)]
    triangles: Array = v[np.array(faces)]
    return triangles


def scene_triangles(data: dict[str, Any], arguments: Arguments | None = None) -> tuple[Array, Array]:
    """(triangles (N, 3, 3) in model space, colours (N, 3) in 0..1) at the
    given argument values (argument number -> value, others 0)."""
    groups: list[tuple[Array, Sequence[float]]] = []
    if data["version"] == 20:
        nodes = data["transform_tree"]
        order = _preorder(nodes)
        position = {index: k for k, index in enumerate(order)}
        world_list, _ = evaluate_tree([
            dict(nodes[i], parent=None if nodes[i]["parent"] is None else position[nodes[i]["parent"]])
            for i in order], arguments)
        origins = np.array([m[3, :3] / (m[3, 3] if abs(m[3, 3]) > 1e-12 else 1.0) for m in world_list])
        origins = origins[np.all(np.isfinite(origins), axis=1)]
        if len(origins):
            extent = float(np.max(origins.max(axis=0) - origins.min(axis=0)))
            radius = 0.03 * extent if extent > 0 else 0.1
            for point in origins:
                groups.append((_marker(point, radius), DEFAULT_COLOR))
    else:
        world, shown = evaluate_tree(data["nodes"], arguments)
        for record in data["sections"]["RENDER_NODES"]:
            if record["class"] in MESH_CLASSES:
                made = _mesh_triangles(record, data, world, shown)
                if made is not None:
                    groups.append(made)
    if not groups:
        return np.zeros((0, 3, 3)), np.zeros((0, 3))
    tris = np.concatenate([g[0] for g in groups])
    colors = np.concatenate([np.tile(g[1], (len(g[0]), 1)) for g in groups])
    keep = np.all(np.isfinite(tris), axis=(1, 2))
    return tris[keep], colors[keep]


def _preorder(nodes: list[Any]) -> list[Any]:
    """Indices of a tree given by children lists, parents before children."""
    roots = [n["index"] for n in nodes if n["parent"] is None]
    order: list[int] = []
    pending = list(reversed(roots))
    while pending:
        index = pending.pop()
        order.append(index)
        pending.extend(reversed(nodes[index]["children"]))
    return order


# ---------------------------------------------------------------------------
# Rasterisation
# ---------------------------------------------------------------------------

def _camera() -> tuple[Array, Array, Array, Array]:
    toward = np.array([math.cos(ELEVATION) * math.cos(AZIMUTH), math.cos(ELEVATION) * math.sin(AZIMUTH),
                       math.sin(ELEVATION)])
    right = np.cross(-toward, (0.0, 0.0, 1.0))
    right /= np.linalg.norm(right)
    up = np.cross(right, -toward)
    light = toward + 0.5 * up - 0.3 * right
    return right, up, toward, light / np.linalg.norm(light)


def render(tris: Array, colors: Array, size: int) -> Array:
    """An (size, size, 3) uint8 image of the triangles."""
    image = np.empty((size, size, 3), dtype=np.uint8)
    image[:] = BACKGROUND
    if not len(tris):
        return image
    right, up, toward, light = _camera()
    normals = np.cross(tris[:, 1] - tris[:, 0], tris[:, 2] - tris[:, 0])
    length = np.linalg.norm(normals, axis=1)
    ok = length > 0
    tris, colors, normals = tris[ok], colors[ok], normals[ok] / length[ok, None]
    if not len(tris):
        return image
    shade = AMBIENT + (1 - AMBIENT) * np.abs(normals @ light)
    rgb = np.clip(colors * shade[:, None] * 255.0 + 0.5, 0, 255).astype(np.uint8)

    sx = tris @ right
    sy = tris @ up
    depth = tris @ toward
    low = np.array([sx.min(), sy.min()])
    high = np.array([sx.max(), sy.max()])
    extent = float(max(high - low))
    scale = 0.9 * size / extent if extent > 0 else 1.0
    center = (low + high) / 2
    px = (sx - center[0]) * scale + size / 2
    py = size / 2 - (sy - center[1]) * scale

    pixel, frag_depth, frag_tri = _fragments(px, py, depth, size)
    if not len(pixel):
        return image
    order = np.lexsort((-frag_depth, pixel))
    pixel = pixel[order]
    first = np.r_[True, pixel[1:] != pixel[:-1]]
    flat = image.reshape(-1, 3)
    flat[pixel[first]] = rgb[frag_tri[order][first]]
    return image


def _fragments(px: Array, py: Array, depth: Array, size: int) -> tuple[Array, Array, Array]:
    x0 = np.clip(np.floor(px.min(axis=1)).astype(np.int64), 0, size - 1)
    x1 = np.clip(np.floor(px.max(axis=1)).astype(np.int64), 0, size - 1)
    y0 = np.clip(np.floor(py.min(axis=1)).astype(np.int64), 0, size - 1)
    y1 = np.clip(np.floor(py.max(axis=1)).astype(np.int64), 0, size - 1)
    onscreen = (px.max(axis=1) >= 0) & (px.min(axis=1) < size) & (py.max(axis=1) >= 0) & (py.min(axis=1) < size)
    area = (px[:, 1] - px[:, 0]) * (py[:, 2] - py[:, 0]) - (px[:, 2] - px[:, 0]) * (py[:, 1] - py[:, 0])
    candidates = np.nonzero(onscreen & (area != 0))[0]
    span = np.maximum(x1 - x0, y1 - y0)[candidates] + 1
    side = 1 << np.ceil(np.log2(np.maximum(span, 1))).astype(np.int64)
    out: tuple[list[Array], list[Array], list[Array]] = ([], [], [])
    for s in np.unique(side):
        members = candidates[side == s]
        step = max(1, FRAGMENT_BATCH // int(s * s))
        dy, dx = np.divmod(np.arange(s * s), s)
        for begin in range(0, len(members), step):
            t = members[begin:begin + step]
            cx = x0[t, None] + dx
            cy = y0[t, None] + dy
            inside_box = (cx <= x1[t, None]) & (cy <= y1[t, None])
            fx = cx + 0.5
            fy = cy + 0.5
            ax, ay = px[t], py[t]
            w0 = (ax[:, 1, None] - fx) * (ay[:, 2, None] - fy) - (ax[:, 2, None] - fx) * (ay[:, 1, None] - fy)
            w1 = (ax[:, 2, None] - fx) * (ay[:, 0, None] - fy) - (ax[:, 0, None] - fx) * (ay[:, 2, None] - fy)
            w2 = (ax[:, 0, None] - fx) * (ay[:, 1, None] - fy) - (ax[:, 1, None] - fx) * (ay[:, 0, None] - fy)
            sign = np.sign(area[t])[:, None]
            hit = inside_box & (w0 * sign >= 0) & (w1 * sign >= 0) & (w2 * sign >= 0)
            rows_, cols = np.nonzero(hit)
            if not len(rows_):
                continue
            tri = t[rows_]
            z = (w0[rows_, cols] * depth[tri, 0] + w1[rows_, cols] * depth[tri, 1]
                 + w2[rows_, cols] * depth[tri, 2]) / area[tri]
            out[0].append(cy[rows_, cols] * size + cx[rows_, cols])
            out[1].append(z)
            out[2].append(tri)
    if not out[0]:
        return np.zeros(0, np.int64), np.zeros(0), np.zeros(0, np.int64)
    return np.concatenate(out[0]), np.concatenate(out[1]), np.concatenate(out[2])


# ---------------------------------------------------------------------------
# PNG
# ---------------------------------------------------------------------------

def _chunk(tag: bytes, body: bytes) -> bytes:
    return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF)


def png_bytes(image: Array) -> bytes:
    """An 8-bit PNG of an (height, width, 3 or 4) uint8 array: RGB, or RGBA
    when there are four channels."""
    height, width, channels = image.shape
    raw = np.concatenate([np.zeros((height, 1), np.uint8), image.reshape(height, width * channels)], axis=1)
    header = struct.pack(">IIBBBBB", width, height, 8, 6 if channels == 4 else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header)
            + _chunk(b"IDAT", zlib.compress(raw.tobytes(), 6)) + _chunk(b"IEND", b""))


def preview(source: str | os.PathLike[str], target: str | os.PathLike[str], size: int = 512,
            arguments: Arguments | None = None, progress: TextIO | None = None) -> None:
    """Reads a model file (a path) and writes its preview image to target.

    ``arguments`` maps argument numbers to the values at which animation and
    visibility are evaluated (every other argument is 0).  For a file of at
    least LARGE_FILE bytes, one line per stage goes to the text stream
    ``progress`` (when given).  Raises FormatError for a file that is not a
    model, PreviewError for a bad size, OSError when reading or writing fails.
    """
    if not 1 <= size <= 16384:
        raise PreviewError(f"image size {size} out of range")
    large = progress is not None and os.path.getsize(source) >= LARGE_FILE

    def stage(text: str) -> None:
        if large and progress is not None:
            print(f"tavtools preview: {text}", file=progress)
            progress.flush()

    stage(f"reading {os.path.getsize(source) / (1 << 20):.1f} MB")
    data = read(source)
    stage("placing the nodes")
    tris, colors = scene_triangles(data, arguments)
    stage(f"drawing {len(tris)} triangles")
    image = png_bytes(render(tris, colors, size))
    with open(target, "wb") as handle:
        handle.write(image)
    stage("done")
