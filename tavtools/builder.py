"""Turns a ``tavtools.scene.Scene`` into a ``pytav.Model`` and the list of
what the file cannot carry.

``build(scene, target, options)`` decides everything about the file once,
for every front end:

Nodes
    A node is a ``Transform`` of its local matrix, a ``Bone`` when it is a
    joint of a skin (its inverse bind matrix from the first skin naming it),
    an ``AnimationNode`` when it has keys: its base matrix is the node's
    offset (the source's parent inverse), never derived from the pose of the
    moment, and its keys its own translation, rotation and scale.  An
    animated joint is an ``AnimationNode`` "<name>_animation" above a
    ``Bone`` of identity matrix.  Visibility keys add a ``VisibilityNode``
    "<name>_visibility" above.  LOD distances add a ``Lod`` "<name>_lod"
    holding the children as levels (format 10 only).
Arguments
    A clip's [start, end] maps linearly onto its argument range [low, high]
    ([0, 1] unless the source sets one; high below low plays it backwards);
    a clip of one instant maps to low. Visibility keys are handed over in
    argument order, and a clip that ends shown at an argument of 1 or more
    stays shown up to its last key.  Step keys get a holding key just before
    each change.  Channels that no track drives but whose rest value is not
    the identity ride on the node's first argument as one key.  When several
    clips drive one channel, the first stores absolute values and the others
    values relative to the rest (offsets, rest^-1 * q, ratios).
Meshes
    One ``PBRNode`` per mesh, under its node, with the material's blocks.
    Triangles are rewound where the world matrix mirrors (a negative
    determinant), so they wind along their normals as the source shows them.
    A skinned mesh hangs from the model's root with its vertices in the
    space of the skin's inverse binds; its joints are bone 1 onwards (bone
    0 is the control node), at most 255 of them: a bigger skin is cut to
    the joints the mesh's weights use.
Materials
    Base colour (``BaseBlock`` with a texture, else ``ColorBaseBlock``),
    normal map, metallic-roughness map (or occlusion) as ``AormsBlock`` and
    a separate occlusion as ``AoBlock``, emission as an ``EmissiveBlock`` of
    the self-illumination type that shows it; alpha mode BLEND is
    transparent mode 1, two-sided materials two-sided nodes.  Keyed
    emission makes the emissive amount and colour animated properties.
    The blocks a source names outright (damage, decal, AO, FLIR, glass) and
    its shadow, transparency, decal-id and emissive-type settings follow; a
    block that lacks a map it needs, or that the render node does not take,
    is left out and reported with the module's message for it.
Textures
    A file image is referred to by its path from the output's folder
    ("relative") or by its file name ("basename"), or copied beside the
    output (``copy_textures``).  An image held in memory is written beside
    the output.  A file of the same name that this run did not write is
    never replaced: the run takes a free name (``name_2.png``), or stops
    when renaming is not allowed; a file with the very same bytes is used
    as it is.
Lights
    Point lights are ``OmniLight``, spot lights ``SpotLight`` with
    ``setAngles(cone, blend)`` (theta, the hard inner cone, is
    cone x (1 - blend)); without a range the distance is where the
    brightest intensity / d^2 falls to 1/256.  A light's tracks animate its
    values on their argument (``special_nodes``).
Special nodes
    Light sprites, mirror, colour and deck nodes and number displays:
    ``special_nodes``.
Losses
    Every feature of the scene that the file does not carry is one line
    "<where>: <what>": the reader's own lines first, then the builder's.
A value that is not finite in a mesh raises ``BuildError`` naming it.
"""

from __future__ import annotations

import filecmp
import importlib
import os
import tempfile
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

import numpy as np
from numpy.typing import NDArray

from . import special_nodes
from .scene import Array, Image, Light, Material, Mesh, Node, Scene, Skin, Texture, Track

MAX_BONES = 255
SKIN_BLOCK = 16384     # rows of a skinned mesh placed at a time for the model box
STEP_HOLD = 1e-5
VISIBLE_END = 1e-4
ARGUMENT_RANGE = (0.0, 1.0)
PATHS = ("translation", "rotation", "scale")
NEUTRAL = {"translation": (0.0, 0.0, 0.0), "rotation": (1.0, 0.0, 0.0, 0.0), "scale": (1.0, 1.0, 1.0)}
SELF_ILLUM, TRANSPARENT_SELF_ILLUM = 2, 3
EMPTY_UV = np.zeros((0, 2))


class BuildError(Exception):
    """Stops a build: nothing is written; the text names the object."""


@dataclass
class Options:
    version: int = 10
    refer: str = "relative"      # file images by their path from the output ("relative") or their name ("basename")
    copy_textures: bool = False
    rename: bool = True


@dataclass
class TextureFile:
    """A file to write beside the model: ``data`` or a copy of ``source``."""

    path: str
    data: bytes | None = None
    source: str | None = None


@dataclass
class Built:
    model: Any
    target: str
    version: int
    losses: list[str]
    files: list[TextureFile] = field(default_factory=list)


# -- small maths ---------------------------------------------------------------

def quat_matrix(q: tuple[float, float, float, float] | Array) -> Array:
    w, x, y, z = (float(c) for c in q)
    n = w * w + x * x + y * y + z * z
    s = 2.0 / n if n > 0 else 0.0
    return np.array([
        [1 - s * (y * y + z * z), s * (x * y - z * w), s * (x * z + y * w)],
        [s * (x * y + z * w), 1 - s * (x * x + z * z), s * (y * z - x * w)],
        [s * (x * z - y * w), s * (y * z + x * w), 1 - s * (x * x + y * y)],
    ])


def quat_mul(a: Array, b: Array) -> Array:
    """Hamilton products a * b of (w, x, y, z) rows (b applied first)."""
    aw, ax, ay, az = np.moveaxis(np.asarray(a, dtype=np.float64), -1, 0)
    bw, bx, by, bz = np.moveaxis(np.asarray(b, dtype=np.float64), -1, 0)
    return np.stack([aw * bw - ax * bx - ay * by - az * bz,
                     aw * bx + ax * bw + ay * bz - az * by,
                     aw * by - ax * bz + ay * bw + az * bx,
                     aw * bz + ax * by - ay * bx + az * bw], axis=-1)


def trs_matrix(t: tuple[float, ...] | Array, r: tuple[float, ...] | Array, s: tuple[float, ...] | Array) -> Array:
    m = np.eye(4)
    m[:3, :3] = quat_matrix(tuple(r)) * np.asarray(s, dtype=np.float64)
    m[:3, 3] = t
    return m


def rows(matrix: Array) -> list[tuple[float, ...]]:
    """A matrix as the row tuples pytav takes."""
    return [tuple(float(v) for v in row) for row in matrix]


def transform_points(matrix: Array, points: Array) -> Array:
    return np.asarray(points, dtype=np.float64) @ matrix[:3, :3].T + matrix[:3, 3]


def row_sums(values: Array) -> Array:
    """The sum of each row of an (N, k) array, added in the order NumPy's
    ``sum(axis=1)`` adds them. Column by column is several times faster:
    NumPy reduces short rows one row at a time."""
    total = np.zeros(len(values))
    for column in range(values.shape[1]):
        total += values[:, column]
    return total


def transform_normals(matrix: Array, normals: Array) -> Array:
    turned = np.asarray(normals, dtype=np.float64) @ np.linalg.pinv(matrix[:3, :3])
    length = np.sqrt(row_sums(turned * turned))
    length[length < 1e-12] = 1.0
    turned /= length[:, None]
    return turned


def facing_triangles(indices: NDArray[Any], placed: Array) -> NDArray[Any]:
    """The triangles of ``indices`` as (N, 3) corners of the same type, each
    turned over when ``placed`` (the mesh's model-space matrix) mirrors: a
    negative determinant would otherwise show their backs along the normals
    the source gave."""
    triangles: NDArray[Any] = np.asarray(indices).reshape(-1, 3)
    if np.linalg.det(placed[:3, :3]) < 0:
        triangles = triangles[:, ::-1]
    return np.ascontiguousarray(triangles)


def safe_file_name(name: str) -> str:
    """name as one file name: its last path part, without characters file
    systems refuse or leading dots."""
    last = name.replace("\\", "/").rstrip("/").rpartition("/")[2]
    cleaned = "".join("_" if c in ':*?"<>|' or ord(c) < 32 else c for c in last)
    return cleaned.strip().lstrip(".").strip()


def _relative(path: str, values: Array, rest: Array) -> Array:
    if path == "translation":
        return values - rest
    if path == "scale":
        ratios: Array = values / np.where(rest == 0, 1.0, rest)
        return ratios
    inverse = np.array([rest[0], -rest[1], -rest[2], -rest[3]])
    return quat_mul(inverse, values)


def _visible_keys(arguments: Array, values: Array) -> list[tuple[float, float]]:
    """(argument, shown) keys in argument order. The module closes a range
    still open after the last key at 1.0001; past that, a hidden key just
    after the last one closes it there instead."""
    order = np.argsort(arguments, kind="stable")
    keys = [(float(arguments[k]), float(values[k][0])) for k in order]
    if len(keys) > 1 and keys[-1][1] >= 0.5 and keys[-1][0] >= 1.0:
        keys.append((keys[-1][0] + VISIBLE_END, 0.0))
    return keys


def _hold_steps(times: Array, values: Array) -> tuple[Array, Array]:
    """Keys that reproduce held values under linear interpolation."""
    if len(times) < 2:
        return times, values
    new_times = np.empty(2 * len(times) - 1)
    new_values = np.empty((2 * len(times) - 1, values.shape[1]))
    new_times[0::2] = times
    new_times[1::2] = np.maximum(times[1:] - STEP_HOLD, times[:-1])
    new_values[0::2] = values
    new_values[1::2] = values[:-1]
    return new_times, new_values


# -- the build -------------------------------------------------------------------

def module() -> Any:
    """The pytav module: the add-on's own copy beside this package when
    tavtools rides inside the add-on, else the installed one.  Imported on
    demand, so that tavtools loads without it."""
    package = (__package__ or "").rpartition(".")[0]
    return importlib.import_module(f"{package}.pytav" if package else "pytav")


def build(scene: Scene, target: str, options: Options | None = None) -> Built:
    """The model of ``scene`` to be saved as ``target``; raises BuildError."""
    return _Builder(scene, os.fspath(target), options or Options()).run()


class _Builder:
    def __init__(self, scene: Scene, target: str, options: Options) -> None:
        self.pt: Any = module()
        self.scene = scene
        self.options = options
        self.target = os.path.abspath(target)
        self.out_dir = os.path.dirname(self.target)
        self.losses = list(scene.losses)
        self.model: Any = self.pt.Model()
        self.world: dict[int, Array] = {}
        self.wrappers: dict[int, Any] = {}     # node -> the wrapper its content hangs from
        self.holders: dict[int, Any] = {}      # node -> the wrapper its children hang from
        self.binds: dict[int, Array] = {}      # joint node -> its inverse bind matrix
        self.image_names: dict[int, str | None] = {}
        self.taken: set[str] = {os.path.basename(self.target).casefold()}
        self.files: list[TextureFile] = []
        self.render_names: set[str] = set()
        # The model-space points of every placed mesh and shell, computed only
        # when a skinned mesh makes the model's box needed.
        self.bounds: list[Callable[[], Array]] = []
        self.skinned = False

    def lose(self, where: str, text: str) -> None:
        line = f"{where}: {text}"
        if line not in self.losses:
            self.losses.append(line)

    def run(self) -> Built:
        sources = {os.path.realpath(s) for s in self.scene.sources}
        if os.path.realpath(self.target) in sources:
            raise BuildError(f"{self.target} is the input; the output must be another file")
        order = self._walk()
        for node, _ in order:
            for mesh in node.meshes:
                if mesh.skin is not None:
                    for k, joint in enumerate(mesh.skin.joints):
                        self.binds.setdefault(id(joint), np.asarray(mesh.skin.inverse_binds[k], dtype=np.float64))
        for node, parent in order:
            self._make_node(node, parent)
        for node, _ in order:
            for mesh in node.meshes:
                self._mesh(node, mesh)
        for node, _ in order:
            self._content(node)
        if self.skinned and self.bounds:
            points = np.concatenate([placed() for placed in self.bounds])
            columns = range(points.shape[1])   # a column at a time, as in row_sums
            self.model.setBBox(tuple(float(v) for v in [points[:, c].min() for c in columns]
                                     + [points[:, c].max() for c in columns]))
        return Built(self.model, self.target, self.options.version, self.losses, self.files)

    def _walk(self) -> list[tuple[Node, Node | None]]:
        order: list[tuple[Node, Node | None]] = []
        seen: set[int] = set()
        pending: list[tuple[Node, Node | None]] = [(root, None) for root in reversed(self.scene.roots)]
        while pending:
            node, parent = pending.pop()
            if id(node) in seen:
                raise BuildError(f"{node.where} is reached twice")
            seen.add(id(node))
            order.append((node, parent))
            pending.extend((child, node) for child in reversed(node.children))
        return order

    # -- nodes ---------------------------------------------------------------------
    def _make_node(self, node: Node, parent: Node | None) -> None:
        pt = self.pt
        holder = self.holders[id(parent)] if parent is not None else self.model.getRootTransform()
        local = node.offset @ (node.matrix if node.matrix is not None
                               else trs_matrix(node.translation, node.rotation, node.scale))
        self.world[id(node)] = (self.world[id(parent)] if parent is not None else np.eye(4)) @ local
        visibility = [t for t in node.tracks if t.path == "visibility"]
        moving = [t for t in node.tracks if t.path in PATHS]
        if moving and node.matrix is not None:
            self.lose(node.where, "a node given by a matrix cannot be animated; its keys are left out")
            moving = []
        if visibility:
            shown = holder.addChild(pt.VisibilityNode(node.name + "_visibility"))
            shown.setArguments([(t.clip.argument, _visible_keys(self._arguments(t), t.values)) for t in visibility])
            holder = shown
        joint = id(node) in self.binds
        if moving:
            animated = pt.AnimationNode(node.name + "_animation" if joint else node.name)
            animated.setBaseMatrix(rows(node.offset))
            self._animate(node, animated, moving)
            anchor = holder.addChild(animated)
            if joint:
                anchor = anchor.addChild(pt.Bone(node.name, rows(np.eye(4))))
        elif joint:
            anchor = holder.addChild(pt.Bone(node.name, rows(local)))
        else:
            anchor = holder.addChild(pt.Transform(node.name, rows(local)))
        if joint:
            anchor.setInvertedBaseBoneMatrix(rows(self.binds[id(node)]))
        self.wrappers[id(node)] = self.holders[id(node)] = anchor
        if node.lod_distances is not None:
            if len(node.lod_distances) != len(node.children):
                self.lose(node.where, f"{len(node.lod_distances)} LOD distances for {len(node.children)} levels; "
                                      "written as a plain node")
            elif self.options.version == 20:
                self.lose(node.where, "format 2.0 holds no LOD nodes; the levels are plain children")
            else:
                self.holders[id(node)] = anchor.addChild(pt.Lod(node.name + "_lod", list(node.lod_distances)))

    def _arguments(self, track: Track) -> Array:
        span = track.clip.end - track.clip.start
        times = np.asarray(track.times, dtype=np.float64)
        mapped = (times - track.clip.start) / span if span > 0 else np.zeros_like(times)
        result: Array = track.clip.low + mapped * (track.clip.high - track.clip.low)
        return result

    def _animate(self, node: Node, animated: Any, tracks: list[Track]) -> None:
        rest = {"translation": np.array(node.translation, dtype=np.float64),
                "rotation": np.array(node.rotation, dtype=np.float64),
                "scale": np.array(node.scale, dtype=np.float64)}
        first = min(t.clip.argument for t in tracks)
        setters = {"translation": animated.setPositionAnimation, "rotation": animated.setRotationAnimation,
                   "scale": animated.setScaleAnimation}
        for path in PATHS:
            mine = [t for t in tracks if t.path == path]
            entries: list[tuple[int, list[tuple[float, tuple[float, ...]]]]] = []
            if not mine and not np.allclose(rest[path], NEUTRAL[path], rtol=0, atol=1e-9):
                entries.append((first, [(ARGUMENT_RANGE[0], tuple(float(v) for v in rest[path]))]))
            for k, track in enumerate(mine):
                times = self._arguments(track)
                values = np.asarray(track.values, dtype=np.float64)
                if k:
                    values = _relative(path, values, rest[path])
                if track.step:
                    times, values = _hold_steps(times, values)
                entries.append((track.clip.argument,
                                [(float(t), tuple(float(v) for v in value)) for t, value in zip(times, values)]))
            if entries:
                setters[path](entries)

    # -- meshes -----------------------------------------------------------------------
    def _unique_render_name(self, name: str) -> str:
        candidate, suffix = name, 2
        while candidate in self.render_names:
            candidate, suffix = f"{name}_{suffix}", suffix + 1
        self.render_names.add(candidate)
        return candidate

    def _usable_skin(self, mesh: Mesh) -> tuple[Skin, NDArray[np.int64]] | None:
        """The mesh's skin and its joint numbers into it; None (reported)
        when it cannot be written skinned. A skin of more joints than a node
        takes is cut to those the mesh's weights use, in skin order: a big
        rig's mesh stays skinned when few enough of its bones weigh it. A
        smaller skin is kept whole, so every joint stays a bone of the file
        even where no vertex follows it."""
        skin = mesh.skin
        if skin is None:
            return None
        if not skin.joints:
            self.lose(skin.where, f"no deform bones; {mesh.where} written unskinned")
            return None
        outside = [j for j in skin.joints if id(j) not in self.wrappers]
        if outside:
            self.lose(skin.where, f"joint {outside[0].where} is outside the scene; {mesh.where} written unskinned")
            return None
        if mesh.joints is None or mesh.weights is None:
            self.lose(mesh.where, f"skinned by {skin.where} without joints and weights; written unskinned")
            return None
        joints = np.asarray(mesh.joints, dtype=np.int64)
        if joints.ndim != 2 or joints.shape != np.shape(mesh.weights) or len(joints) != len(mesh.positions):
            raise BuildError(f"{mesh.where}: joints {joints.shape} and weights {np.shape(mesh.weights)} are not "
                             f"one row each for its {len(mesh.positions)} vertices")
        if joints.size and (joints.min() < 0 or joints.max() >= len(skin.joints)):
            raise BuildError(f"{mesh.where}: a joint number is not below the joint count {len(skin.joints)}")
        if len(skin.joints) <= MAX_BONES:
            return skin, joints
        weighing = np.asarray(mesh.weights) > 0
        used = np.unique(joints[weighing]) if weighing.any() else np.zeros(1, dtype=np.int64)
        if len(used) > MAX_BONES:
            self.lose(skin.where, f"{len(used)} deform bones exceed {MAX_BONES}; {mesh.where} written unskinned")
            return None
        number = np.zeros(len(skin.joints), dtype=np.int64)
        number[used] = np.arange(len(used))
        cut = Skin(skin.where, [skin.joints[k] for k in used], np.asarray(skin.inverse_binds)[used], skin.bind)
        return cut, number[joints]

    def _mesh(self, node: Node, mesh: Mesh, control: Any = None) -> None:
        pt = self.pt
        _check_finite(mesh)
        usable = self._usable_skin(mesh)
        skin, joints = usable if usable is not None else (None, None)
        positions, normals = mesh.positions, mesh.normals
        if skin is not None:
            control = self.model.getRootTransform()
            positions = transform_points(skin.bind, positions)
            normals = transform_normals(skin.bind, normals)
            first = skin.joints[0]
            placed = self.world[id(first)] @ self.binds[id(first)] @ skin.bind
        else:
            control = self.wrappers[id(node)] if control is None else control
            placed = self.world[id(node)]
        triangles = facing_triangles(mesh.indices, placed)
        render = pt.PBRNode(self._unique_render_name(mesh.name), mesh.material.name)
        used = self._material(render, mesh, positions, normals)
        for number in sorted(mesh.uv_sets):
            # A set that repeats set 0 (a map naming the render layer) is written as set 0.
            repeats = 0 in mesh.uv_sets and np.array_equal(mesh.uv_sets[number], mesh.uv_sets[0])
            if number != 0 and number not in used and not repeats:
                label = f"UV set {number}" + (f" ({mesh.uv_names[number]})" if number in mesh.uv_names else "")
                self.lose(mesh.where, f"{label} is read by no texture; not written")
        if skin is not None:
            assert joints is not None and mesh.weights is not None
            block = pt.BoneBlock()
            block.setBones([self.wrappers[id(j)] for j in skin.joints])
            block.setBoneNames([j.name for j in skin.joints])
            # Bone 0 is the control node: it holds the vertices no joint weighs.
            # Made in the types the block takes: a large mesh's copies are tens of megabytes.
            ids = joints.astype(np.uint32)
            ids += 1
            weights = np.array(mesh.weights, dtype=np.float32)
            still = row_sums(np.asarray(mesh.weights, dtype=np.float64)) <= 0
            ids[still], weights[still] = 0, (1.0, 0.0, 0.0, 0.0)
            block.setBoneIndices(ids.reshape(-1))
            block.setBoneWeights(weights.reshape(-1))
            render.addBlock(block)
        render.setIndices(np.ascontiguousarray(triangles.reshape(-1), dtype=np.uint32))
        render.setControlNode(control)
        message = self.model.addRenderNode(render)
        if message:
            self.lose(mesh.where, f"refused by the module: {message}; skipped")
            return
        if self.options.version == 20:
            self.lose(mesh.where, "format 2.0 holds no render nodes" + (" or skins" if skin else "")
                      + "; not written")
        if skin is not None:
            assert joints is not None
            self.skinned = True
            self.bounds.append(lambda: self._skinned_points(mesh, skin, joints, positions))
        else:
            world = self.world[id(node)]
            self.bounds.append(lambda: transform_points(world, positions))

    def _skinned_points(self, mesh: Mesh, skin: Skin, joints: NDArray[np.int64], positions: Array) -> Array:
        assert mesh.weights is not None
        # The top three rows of each joint's matrix, blended an influence at a
        # time: gathering every influence's matrix at once holds a matrix per
        # influence of every vertex, hundreds of megabytes for a large mesh.
        palette = np.stack([self.world[id(j)] @ self.binds[id(j)] for j in skin.joints])[:, :3, :]
        weights = np.asarray(mesh.weights, dtype=np.float64)
        moved: Array = np.empty((len(positions), 3))
        # A block of rows at a time, in two buffers that stay in cache: a
        # whole large mesh's matrices are tens of megabytes of fresh memory.
        blended_rows, gathered_rows = np.empty((SKIN_BLOCK, 3, 4)), np.empty((SKIN_BLOCK, 3, 4))
        for start in range(0, len(positions), SKIN_BLOCK):
            block = slice(start, start + SKIN_BLOCK)
            count = len(positions[block])
            blended, gathered = blended_rows[:count], gathered_rows[:count]
            blended[...] = 0.0
            for k in range(weights.shape[1]):
                if weights[block, k].any():
                    # take() gathers whole matrices; fancy indexing walks them element by element.
                    np.take(palette, joints[block, k], axis=0, out=gathered)
                    gathered *= weights[block, k, None, None]
                    blended += gathered
            points = np.c_[positions[block], np.ones(count)]
            moved[block] = np.einsum("vij,vj->vi", blended, points)
        still = row_sums(weights) <= 0
        moved[still] = positions[still]
        return moved

    # -- materials and textures ----------------------------------------------------------
    def _uv(self, mesh: Mesh, texture: Texture) -> NDArray[np.float32]:
        values = mesh.uv_sets.get(texture.uv_set)
        if values is None:
            self.lose(texture.where, f"reads UV set {texture.uv_set}, which {mesh.where} does not have; "
                                     "coordinates written as zeros")
            values = np.zeros((len(mesh.positions), 2))
        if texture.transformed:
            self.lose(texture.where, "the texture transform is not carried; coordinates written untransformed")
        return np.ascontiguousarray(values, dtype=np.float32).reshape(-1)

    def _texture(self, texture: Texture | None, used: set[int]) -> str | None:
        if texture is None:
            return None
        name = self._image_name(texture.image)
        if name is not None:
            used.add(texture.uv_set)
        return name

    def _material(self, render: Any, mesh: Mesh, positions: Array, normals: Array) -> set[int]:
        """Adds the blocks of the mesh's material; returns the UV sets they read."""
        pt = self.pt
        m: Material = mesh.material
        used: set[int] = set()
        albedo = self._texture(m.base_texture, used)
        if albedo and m.base_texture is not None:
            base = pt.BaseBlock()
            base.setAlbedoMap(albedo)
            base.setAlbedoMapUV(self._uv(mesh, m.base_texture))
            if tuple(m.base_color[:3]) != (1.0, 1.0, 1.0):
                self.lose(m.where, "a base colour multiplying the texture is not carried")
        else:
            base = pt.ColorBaseBlock()
            base.setColor(pt.PropertyFloat3(tuple(float(c) for c in m.base_color[:3])))
        if m.alpha_mode == "MASK":
            self.lose(m.where, "alpha mode MASK is not carried; written opaque")
        elif m.alpha_mode == "BLEND" and m.base_color[3] != 1.0:
            self.lose(m.where, f"the alpha value {m.base_color[3]:g} is not carried")
        base.setPositions(np.ascontiguousarray(positions, dtype=np.float32).reshape(-1))
        base.setNormals(np.ascontiguousarray(normals, dtype=np.float32).reshape(-1))
        render.addBlock(base)
        for label, value in (("metallic", m.metallic), ("roughness", m.roughness)):
            if value != 1.0:
                self.lose(m.where, f"the {label} factor {value:g} is not carried")

        normal_map = self._texture(m.normal_texture, used)
        if normal_map and m.normal_texture is not None:
            block = pt.NormalBlock()
            block.setNormalMap(normal_map)
            block.setNormalMapUV(self._uv(mesh, m.normal_texture))
            render.addBlock(block)
            if m.normal_scale != 1.0:
                self.lose(m.where, f"the normal map scale {m.normal_scale:g} is not carried")

        orm = self._texture(m.metallic_roughness_texture, used)
        occlusion = self._texture(m.occlusion_texture, used)
        info = m.metallic_roughness_texture if orm else m.occlusion_texture
        if (orm or occlusion) and info is not None:
            block = pt.AormsBlock()
            block.setAormsMap(orm or occlusion)
            block.setAormsMapUV(self._uv(mesh, info))
            render.addBlock(block)
        if occlusion and m.occlusion_strength != 1.0:
            self.lose(m.where, f"the occlusion strength {m.occlusion_strength:g} is not carried")
        if orm and occlusion and occlusion != orm and m.occlusion_texture is not None:
            block = pt.AoBlock()
            block.setAoMap(occlusion)
            block.setAoMapUV(self._uv(mesh, m.occlusion_texture))
            render.addBlock(block)

        emissive_map = self._texture(m.emissive_texture, used)
        keyed = {t.path: t for t in m.tracks}
        if emissive_map or (any(m.emission) and m.emission_strength > 0) or keyed:
            block = pt.EmissiveBlock()
            block.setColor(self._property(pt.PropertyFloat3, keyed.get("emission"), tuple(map(float, m.emission))))
            block.setAmount(self._property(pt.PropertyFloat, keyed.get("emission_strength"),
                                           float(m.emission_strength)))
            if emissive_map and m.emissive_texture is not None:
                block.setEmissiveMap(emissive_map)
                block.setEmissiveMapUV(self._uv(mesh, m.emissive_texture))
            # The plain material ignores the self-illumination uniforms.
            blended = m.alpha_mode == "BLEND" if m.blocks.transparent_mode is None else m.blocks.transparent_mode != 0
            derived = TRANSPARENT_SELF_ILLUM if blended else SELF_ILLUM
            block.setEmissiveType(derived if m.blocks.emissive_type is None else m.blocks.emissive_type)
            render.addBlock(block)
        elif m.blocks.emissive_type is not None:
            self.lose(m.where, f"emissive type {m.blocks.emissive_type} without emission is not carried")
        if m.two_sided:
            render.setTwoSided(True)
        if m.alpha_mode == "BLEND":
            render.setTransparentMode(1)
        self._own_blocks(render, mesh, used)
        return used

    def _property(self, kind: Any, track: Track | None, still: float | tuple[float, ...]) -> Any:
        """A PropertyFloat or PropertyFloat3 of the still value, or animated by
        the track's keys (the module drops the keys it can interpolate)."""
        if track is None:
            return kind(still)
        values = np.asarray(track.values, dtype=np.float64)
        keys = [(float(a), float(v[0]) if len(v) == 1 else tuple(float(c) for c in v))
                for a, v in zip(self._arguments(track), values)]
        return kind(track.clip.argument, keys)

    # -- the model's own blocks and node settings -------------------------------------------
    def _own_blocks(self, render: Any, mesh: Mesh, used: set[int]) -> None:
        """Adds the damage, decal, AO, FLIR and glass blocks and the node
        settings that the material names outright.  A block without a map it
        needs, or one the render node does not take, is left out with the
        module's own message."""
        pt = self.pt
        m = mesh.material
        b = m.blocks
        if b.damage is not None:
            d = b.damage
            block = pt.DamageBlock()
            block.setArgument(d.argument)
            have = [self._mapped(mesh, t, used, set_map, set_uv) for t, set_map, set_uv in (
                (d.albedo, block.setAlbedoMap, block.setAlbedoMapUV),
                (d.normal, block.setNormalMap, block.setNormalMapUV))]
            for texture, set_map in ((d.mask, block.setMask), (d.mask_rgba, block.setMaskRGBA)):
                self._mapped(mesh, texture, used, set_map, None, reads=(d.albedo, "damage albedo"))
            self._add_block(render, block, "damage", m, all(have))
        for shifted, label, make in ((b.decal, "decal", pt.DecalBlock), (b.ao, "AO", pt.AoBlock)):
            if shifted is None:
                continue
            block = make()
            set_map, set_uv, set_shift = ((block.setDecalMap, block.setDecalMapUV, block.setDecalShift)
                                          if label == "decal" else (block.setAoMap, block.setAoMapUV, block.setAoShift))
            set_shift(pt.PropertyFloat2(tuple(map(float, shifted.shift))))
            if label == "AO" and m.occlusion_texture is not None:
                self.lose(m.where, "the occlusion map gives way to the AO block")
            self._add_block(render, block, label, m, self._mapped(mesh, shifted.texture, used, set_map, set_uv))
        if b.flir is not None:
            block = pt.FlirBlock()
            have_map = self._mapped(mesh, b.flir.texture, used, block.setFlirMap, None,
                                    reads=(m.base_texture, "base map"))
            self._add_block(render, block, "FLIR", m, have_map)
        if b.glass is not None:
            block = pt.GlassBlock()
            self._mapped(mesh, b.glass.color, used, block.setColorMap, None)
            block.setInstrumental(b.glass.instrumental)
            self._add_block(render, block, "glass", m, False)
        if b.shadow_caster is not None:
            render.setShadowCaster(b.shadow_caster)
        if b.transparent_mode is not None:
            render.setTransparentMode(b.transparent_mode)
        if b.decal_id:
            render.setDecalId(b.decal_id)

    def _mapped(self, mesh: Mesh, texture: Texture | None, used: set[int], set_map: Any, set_uv: Any,
                reads: tuple[Texture | None, str] | None = None) -> bool:
        """Gives a block the texture's name (and its coordinates when it has
        a place for them); whether it had a name to give.  ``reads`` names the
        texture whose coordinates a map without its own place reads."""
        name = self._image_name(texture.image) if texture is not None else None
        if name is None or texture is None:
            if set_uv is not None:
                # Coordinates for the module's check alone, so that it names the missing map.
                set_uv(np.zeros(2 * len(mesh.positions), dtype=np.float32))
            return False
        set_map(name)
        if set_uv is not None:
            used.add(texture.uv_set)
            set_uv(self._uv(mesh, texture))
        elif reads is not None and reads[0] is not None and texture.uv_set != 0:
            own, read = mesh.uv_sets.get(texture.uv_set), mesh.uv_sets.get(reads[0].uv_set)
            if own is None or read is None or not np.array_equal(own, read):
                self.lose(texture.where, f"reads the coordinates of the {reads[1]}; its own UV map is not carried")
        return True

    def _add_block(self, render: Any, block: Any, label: str, m: Material, complete: bool) -> None:
        """Adds the block, or, when it may be refused, asks a render node of
        a throwaway model first and reports the module's answer."""
        message = "" if complete else self._refusal(block, m.name)
        if message:
            self.lose(m.where, f"the {label} block is left out: {message}")
        else:
            render.addBlock(block)

    def _refusal(self, block: Any, material: str) -> str:
        pt = self.pt
        probe = pt.PBRNode(f"{material}_probe", material)
        base = pt.ColorBaseBlock()
        base.setPositions(np.zeros(3, dtype=np.float32))
        base.setNormals(np.array([0.0, 0.0, 1.0], dtype=np.float32))
        base.setColor(pt.PropertyFloat3((1.0, 1.0, 1.0)))
        probe.addBlock(base)
        probe.addBlock(block)
        probe.setIndices(np.zeros(3, dtype=np.uint32))
        model = pt.Model()
        probe.setControlNode(model.getRootTransform())
        message: str = model.addRenderNode(probe)
        return message

    def _image_name(self, image: Image) -> str | None:
        """The texture name of the image; plans the file to write beside the output."""
        if id(image) in self.image_names:
            return self.image_names[id(image)]
        name: str | None = None
        if image.kind:
            self.lose(image.where, f"{image.kind} cannot be one texture file; the texture is left out")
        elif image.data is not None:
            name = self._free_name(safe_file_name(image.name) or "image", image.where, data=image.data)
        elif image.path is None:
            self.lose(image.where, "an image without a file; the texture is left out")
        else:
            path = os.path.abspath(image.path)
            found = os.path.isfile(path)
            if self.options.copy_textures and found:
                name = self._free_name(safe_file_name(os.path.basename(path)) or "image", image.where, source=path)
            elif self.options.refer == "relative" and not self.options.copy_textures:
                name = os.path.relpath(path, self.out_dir).replace(os.sep, "/")
            else:
                name = safe_file_name(os.path.basename(path))
            if not found:
                self.lose(image.where, f"file {image.path} not found; the texture name {name} will not resolve")
        self.image_names[id(image)] = name
        return name

    def _free_name(self, name: str, where: str, data: bytes | None = None, source: str | None = None) -> str:
        """A name beside the output for new file content: one this run has not
        given out and no other file holds, or one whose file holds the very
        same content already."""
        stem, extension = os.path.splitext(name)
        candidate, suffix = name, 2
        while True:
            path = os.path.join(self.out_dir, candidate)
            if candidate.casefold() not in self.taken:
                if not os.path.lexists(path):
                    self.files.append(TextureFile(path, data, source))
                    break
                if _same_content(path, data, source):
                    break
                if not self.options.rename:
                    raise BuildError(f"{where}: {path} exists and is not this run's; not replaced")
            candidate, suffix = f"{stem}_{suffix}{extension}", suffix + 1
        self.taken.add(candidate.casefold())
        return candidate

    # -- lights, connectors, shells, segments ---------------------------------------------
    def _content(self, node: Node) -> None:
        pt = self.pt
        control = self.wrappers[id(node)]
        if node.light is not None:
            self._light(node.light, control)
        if node.connector is not None:
            connector = pt.Connector(node.name)
            for key, value in node.connector.items():
                if isinstance(value, str):
                    connector.setPropertyString(key, value)
                else:
                    connector.setPropertyFloat(key, float(value))
            connector.setControlNode(control)
            self.model.addConnector(connector)
        if node.shell is not None:
            positions, indices = node.shell
            if not np.all(np.isfinite(positions)):
                raise BuildError(f"{node.where}: the shell holds a value that is not finite")
            triangles = facing_triangles(indices, self.world[id(node)])
            shell = pt.ShellNode(node.name)
            shell.setPositions(np.asarray(positions, dtype=np.float64).reshape(-1).tolist())
            shell.setIndices(triangles.reshape(-1).tolist())
            shell.setControlNode(control)
            self.model.addShellNode(shell)
            self._format20_drop(node.where, "collision shells")
            world = self.world[id(node)]
            self.bounds.append(lambda: transform_points(world, np.asarray(positions).reshape(-1, 3)))
        if node.segments is not None:
            made = pt.SegmentsNode(node.name)
            made.set(node.segments)
            made.setControlNode(control)
            self.model.addSegmentsNode(made)
            self._format20_drop(node.where, "segments")
        special_nodes.add(self, node, control)

    def _format20_drop(self, where: str, what: str) -> None:
        if self.options.version == 20:
            self.lose(where, f"format 2.0 holds no {what}; not written")

    def _light(self, light: Light, control: Any) -> None:
        pt = self.pt
        if light.kind not in ("point", "spot"):
            self.lose(light.where, f"{light.kind} light {light.name!r} is not supported; skipped")
            return
        if light.kind == "point":
            made = pt.OmniLight(light.name)
        else:
            made = pt.SpotLight(light.name)
        special_nodes.light_values(self, light, made)
        made.setControlNode(control)
        (self.model.addOmniLight if light.kind == "point" else self.model.addSpotLight)(made)
        self._format20_drop(light.where, "lights")


def _check_finite(mesh: Mesh) -> None:
    arrays = {"positions": mesh.positions, "normals": mesh.normals, "weights": mesh.weights}
    arrays.update({f"UV set {n}": uv for n, uv in mesh.uv_sets.items()})
    for label, values in arrays.items():
        if values is not None and not np.all(np.isfinite(values)):
            raise BuildError(f"{mesh.where}: {label} hold a value that is not finite")


def _same_content(path: str, data: bytes | None, source: str | None) -> bool:
    try:
        if source is not None:
            return os.path.samefile(path, source) or filecmp.cmp(path, source, shallow=False)
        if data is not None and os.path.isfile(path) and os.path.getsize(path) == len(data):
            with open(path, "rb") as handle:
                return handle.read() == data
    except OSError:
        pass
    return False


# -- writing ---------------------------------------------------------------------------

class SaveError(Exception):
    """The save failed; what this run wrote is gone again."""


def save(built: Built) -> None:
    """Writes the texture files and then the model; on any failure removes
    what this run wrote and raises SaveError.  A texture file is linked into
    place only where no file is, so a file that appeared since the build is
    never replaced."""
    written: list[str] = []
    try:
        for planned in built.files:
            _write_new(planned, written)
        message = built.model.save(built.target, built.version)
        if message:
            raise SaveError(f"save failed: {message}")
    except OSError as error:
        _remove(written)
        raise SaveError(f"cannot write {error.filename or built.target}: {error.strerror or error}") from None
    except BaseException:
        _remove(written)
        raise


def _write_new(planned: TextureFile, written: list[str]) -> None:
    folder = os.path.dirname(planned.path)
    handle, partial = tempfile.mkstemp(dir=folder, prefix=".tav-", suffix=".part")
    try:
        with os.fdopen(handle, "wb") as out:
            if planned.data is not None:
                out.write(planned.data)
            elif planned.source is not None:
                with open(planned.source, "rb") as source:
                    while chunk := source.read(1 << 20):
                        out.write(chunk)
        try:
            os.link(partial, planned.path)     # fails where a file is: nothing is replaced
        except FileExistsError:
            raise
        except OSError:
            # A file system without hard links: an exclusive create still never replaces.
            with open(planned.path, "xb") as out, open(partial, "rb") as done:
                out.write(done.read())
        written.append(planned.path)
    finally:
        _remove([partial])


def _remove(paths: list[str]) -> None:
    for path in paths:
        try:
            os.remove(path)
        except OSError:
            pass
