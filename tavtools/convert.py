"""glTF 2.0 to TAV conversion through the ``pytav`` module.

``convert(source, target, version)`` reads a glTF asset (tavtools.gltf),
builds a ``pytav.Model`` from the default scene and saves it.  Mapping rules:

Axes and units
    glTF is +Y up; the model is written +Z up.  All scene roots hang under one
    transform "gltf_axes" that maps glTF (x, y, z) to (x, -z, y); vertex data
    stays in glTF coordinates and the save folds the rotation where it can.

Nodes
    A plain node becomes a ``Transform`` (its ``matrix``, or translation x
    rotation x scale).  A node driven by an animation becomes an
    ``AnimationNode``.  A skin joint becomes a ``Bone`` carrying the joint's
    inverse bind matrix; an animated joint becomes an ``AnimationNode`` named
    "<name>_animation" with the ``Bone`` (identity matrix) as its only direct
    child.  Nodes without a name are called "node<index>".

Animations and the time rule
    Animation i drives argument number i.  Its key times are mapped linearly
    from [t_min, t_max] -- the earliest and latest key time over all of that
    animation's channels -- onto [0, 1], so argument 0 is the first frame and
    argument 1 the last; an animation whose keys all share one time maps them
    to 0.  Channels keep their own keys (no resampling).  STEP samplers get an
    extra key 1e-5 before each change that holds the previous value; CUBICSPLINE
    samplers keep their values and drop their tangents.  The static parts of an
    animated node (say its scale while only its rotation moves) become one-key
    entries on the node's first argument.  When several animations drive the
    same channel of a node, the first one stores absolute values and the
    others values relative to the node's rest pose (offsets for translation,
    rest^-1 * q for rotation, ratios for scale), so their effects combine.

Meshes and materials
    Every triangle primitive of a node's mesh becomes a ``PBRNode`` named after
    the mesh ("<mesh>_<primitive>" when the mesh has several primitives, made
    unique with a numeric suffix) with the glTF material's name as its
    material name.  Blocks: a ``BaseBlock`` when the material has a base-colour
    texture, else a ``ColorBaseBlock`` with the base colour factor; a
    ``NormalBlock`` for the normal texture; an ``AormsBlock`` for the
    metallic-roughness texture (or the occlusion texture when there is none),
    plus an ``AoBlock`` when occlusion has a texture of its own; an
    ``EmissiveBlock`` when the emissive factor is not black (texture, factor as
    colour, KHR_materials_emissive_strength as amount).  ``doubleSided`` makes
    the node two-sided, alphaMode BLEND sets transparent mode 1.
    Texture names are relative to the output's folder.  Embedded images
    (data URIs, buffer views) are written there as files named after the
    image ("<name or image<index>>" plus an extension from the MIME type,
    made unique with a numeric suffix).  External images are referred to
    where they are, or copied there under their URI path with copy_textures.
    Triangle strips and fans become lists, missing indices count 0..n-1,
    missing normals become flat normals, zero-length normals are replaced by
    the smoothed face normals, missing texture coordinates become zeros.
    Points and lines are skipped with a note.

Skins
    JOINTS_0/WEIGHTS_0 become a ``BoneBlock`` whose bones are the skin's joints
    in order.  Bone index 0 of a skinned node is its control node, so joint j
    is written as bone index j + 1 (at most 255 joints).  Skinned nodes hang
    from the model's root node (glTF ignores the transform of a skinned mesh's
    node), so their vertices stay in glTF space where the inverse bind
    matrices expect them; the axes come in through the joints' world matrices.
    A skinned model gets the rest-pose bounding box that the save asks for.

Lights (KHR_lights_punctual)
    Point lights become ``OmniLight`` and spot lights ``SpotLight`` on their
    node: colour, intensity as brightness, range as distance (without a range,
    the distance at which intensity / d^2 falls to 1/256 of one unit,
    sqrt(256 * intensity)).  A spot light's phi is the outer cone angle in
    degrees and its inner cone the fraction innerConeAngle / outerConeAngle.

Losses
    Whatever of the asset the file does not carry is reported, one line each
    on stderr naming the object by its glTF path, and the exit status is 2:
    points and lines, morph targets and their weight animations, vertex
    colours and other unknown attributes, texture coordinate sets (beyond the
    first) that no converted texture reads, more than four bone influences,
    CUBICSPLINE tangents, channels whose target cannot be resolved (no node,
    a missing node, a node outside the scene or given by a matrix, paths of
    extensions), other scenes, cameras, directional lights, skins that cannot
    be converted (too many joints, joints outside the scene, no JOINTS_0 or
    WEIGHTS_0), textures without an image, colour factors on textures,
    metallic and roughness factors, normal scales, occlusion strengths,
    alphaMode MASK, wrap modes other than REPEAT, extensions this converter
    does not read, and render nodes the module refuses (with its message).
    A file that is not valid glTF (a reference to a missing accessor, buffer
    view or buffer names the referring field) gives exit status 1.
"""

import math
import os
import shutil
import sys
import time

import numpy as np

from .gltf import GltfError, load, uri_to_path

ARGUMENT_RANGE = (0.0, 1.0)
STEP_HOLD = 1e-5
MAX_JOINTS = 255
TRIANGLES, TRIANGLE_STRIP, TRIANGLE_FAN = 4, 5, 6
LINE_MODES = {0: "points", 1: "lines", 2: "line loops", 3: "line strips"}
AXES_NAME = "gltf_axes"
# glTF +Y up to +Z up: (x, y, z) -> (x, -z, y), as rows of a column-vector matrix.
Y_UP_TO_Z_UP = np.array([[1, 0, 0, 0], [0, 0, -1, 0], [0, 1, 0, 0], [0, 0, 0, 1]], dtype=np.float64)
# Extensions this converter reads; the image formats are named by their textures' sources.
SUPPORTED_EXTENSIONS = {"KHR_lights_punctual", "KHR_materials_emissive_strength", "KHR_texture_basisu",
                        "EXT_texture_webp"}
REPEAT = 10497
IMAGE_EXTENSIONS = {"image/png": ".png", "image/jpeg": ".jpg", "image/ktx2": ".ktx2", "image/webp": ".webp",
                    "image/vnd-ms.dds": ".dds"}


# ---------------------------------------------------------------------------
# Small maths in the column-vector convention of glTF
# ---------------------------------------------------------------------------

def quat_to_matrix(q) -> np.ndarray:
    x, y, z, w = (float(c) for c in q)
    n = x * x + y * y + z * z + w * w
    s = 2.0 / n if n > 0 else 0.0
    return np.array([
        [1 - s * (y * y + z * z), s * (x * y - z * w), s * (x * z + y * w)],
        [s * (x * y + z * w), 1 - s * (x * x + z * z), s * (y * z - x * w)],
        [s * (x * z - y * w), s * (y * z + x * w), 1 - s * (x * x + y * y)],
    ])


def quat_mul(a, b) -> np.ndarray:
    """Hamilton product a * b of (x, y, z, w) arrays (b applied first)."""
    ax, ay, az, aw = np.moveaxis(np.asarray(a, dtype=np.float64), -1, 0)
    bx, by, bz, bw = np.moveaxis(np.asarray(b, dtype=np.float64), -1, 0)
    return np.stack([
        aw * bx + ax * bw + ay * bz - az * by,
        aw * by - ax * bz + ay * bw + az * bx,
        aw * bz + ax * by - ay * bx + az * bw,
        aw * bw - ax * bx - ay * by - az * bz,
    ], axis=-1)


def trs_matrix(translation, rotation, scale) -> np.ndarray:
    m = np.eye(4)
    m[:3, :3] = quat_to_matrix(rotation) * np.asarray(scale, dtype=np.float64)
    m[:3, 3] = translation
    return m


def rows(matrix: np.ndarray) -> list:
    """A 4x4 column-vector matrix as the row tuples pytav takes."""
    return [tuple(float(v) for v in row) for row in matrix]


def _numbers(value, size: int, default, where: str) -> list:
    if value is None:
        if default is None:
            raise GltfError(f"{where} must be an array of {size} numbers")
        return list(default)
    if (not isinstance(value, list) or len(value) != size
            or not all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in value)):
        raise GltfError(f"{where} must be an array of {size} numbers")
    return [float(v) for v in value]


def _number(obj: dict, key: str, default, where: str):
    if not isinstance(obj, dict):
        raise GltfError(f"{where} is not an object")
    value = obj.get(key, default)
    if value is default:
        return default
    if not isinstance(value, (int, float)) or isinstance(value, bool) or not math.isfinite(value):
        raise GltfError(f"{where}.{key} must be a finite number")
    return float(value)


class Notes:
    """Collects the losses of a conversion: one line each, every text once.

    A loss is something of the asset that the written file does not carry;
    ``where`` is the glTF path of the object concerned
    ("meshes[0].primitives[1]", "animations[0].channels[2]").
    """

    def __init__(self, stream=None):
        self.stream = stream
        self.lines = []

    def __call__(self, where: str, text: str) -> None:
        line = f"{where}: {text}"
        if line in self.lines:
            return
        self.lines.append(line)
        if self.stream is not None:
            print(f"tavtools convert: {line}", file=self.stream)


class Progress:
    """A text bar on a terminal's stderr, shown once a conversion passes a second."""

    WIDTH = 30

    def __init__(self, stream=sys.stderr, delay: float = 1.0):
        self.stream = stream
        self.delay = delay
        self.start = time.monotonic()
        self.enabled = bool(stream is not None and getattr(stream, "isatty", lambda: False)())
        self.shown = False

    def __call__(self, done: int, total: int, what: str) -> None:
        if not self.enabled or time.monotonic() - self.start < self.delay:
            return
        filled = self.WIDTH * done // max(total, 1)
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        self.stream.write(f"\r[{bar}] {done}/{total} {what[:30]:<30}")
        self.stream.flush()
        self.shown = True

    def finish(self) -> None:
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()


# ---------------------------------------------------------------------------
# The conversion
# ---------------------------------------------------------------------------

class Converter:
    """Builds one pytav.Model from a gltf.Document."""

    def __init__(self, doc, notes, progress=None, out_dir: str = ".", copy_textures: bool = False):
        import pytav  # imported here so that `tavtools` works without the module
        self.pytav = pytav
        self.doc = doc
        self.note = notes
        self.progress = progress or (lambda done, total, what: None)
        self.out_dir = os.path.abspath(out_dir)
        self.copy_textures = copy_textures
        # Files to write beside the output: texture name -> (bytes, None) for
        # embedded images, (None, source path) for copied external ones.
        self.image_files = {}
        self.image_names = {}     # image index -> texture name
        self.taken_names = set()  # case-folded texture names already given out
        self.copied_from = {}     # external image path -> texture name of its copy
        self.nodes = doc.items("nodes")
        self.meshes = doc.items("meshes")
        self.materials = doc.items("materials")
        self.wrappers = {}        # node index -> the Node wrapper that children hang from
        self.bones = {}           # node index -> Bone wrapper
        self.world = {}           # node index -> rest-pose world matrix (glTF space)
        self.render_names = set()
        self.bounds = []          # rest-pose point sets in model space, for skinned models
        self.has_skin = False

    # -- entry -------------------------------------------------------------
    def build(self):
        pt = self.pytav
        self._check_extensions()
        roots = self._scene_roots()
        parents = self._parents()
        self.joint_of = self._joints()
        order = self._walk_order(roots, parents)
        self.channels = self._animation_channels()

        self.model = pt.Model()
        self.axes = pt.Transform(AXES_NAME, rows(Y_UP_TO_Z_UP))
        self.model.getRootTransform().addChild(self.axes)
        for index, parent in order:
            self._make_node(index, parent)

        mesh_nodes = [i for i, _ in order if "mesh" in self.nodes[i]]
        total = sum(len(self._mesh(i).get("primitives", [])) for i in mesh_nodes) + 1
        done = 0
        for index in mesh_nodes:
            for p, _primitive in enumerate(self._mesh(index).get("primitives", [])):
                self._convert_primitive(index, p)
                done += 1
                self.progress(done, total, self._node_name(index))
        for index, _ in order:
            self._convert_light(index)
            if "camera" in self.nodes[index]:
                self.note(f"nodes[{index}].camera", "cameras are not supported; skipped")
        self._check_other_scenes()
        if self.has_skin:
            self._set_bounding_box()
        return self.model

    # -- document structure --------------------------------------------------
    def _check_extensions(self) -> None:
        reported = set()
        for key in ("extensionsRequired", "extensionsUsed"):
            names = self.doc.json.get(key, [])
            if not isinstance(names, list):
                raise GltfError(f"{key} must be an array")
            for position, name in enumerate(names):
                if name not in SUPPORTED_EXTENSIONS and name not in reported:
                    reported.add(name)
                    self.note(f"{key}[{position}]", f"extension {name} is not supported; what it adds is ignored")

    def _check_other_scenes(self) -> None:
        default = self.doc.json.get("scene", 0)
        for index, scene in enumerate(self.doc.items("scenes")):
            roots = scene.get("nodes", [])
            if index != default and isinstance(roots, list) and any(r not in self.in_scene for r in roots):
                self.note(f"scenes[{index}]", f"only the default scene scenes[{default}] is converted; skipped")

    def _scene_roots(self) -> list:
        scenes = self.doc.items("scenes")
        if not scenes:
            children = {c for node in self.nodes for c in self._children(node)}
            return [i for i in range(len(self.nodes)) if i not in children]
        index = self.doc.json.get("scene", 0)
        scene = self.doc.item("scenes", index, "scene")
        roots = scene.get("nodes", [])
        if not isinstance(roots, list):
            raise GltfError(f"scenes[{index}].nodes must be an array")
        for root in roots:
            self.doc.item("nodes", root, f"scenes[{index}]")
        return roots

    def _children(self, node: dict) -> list:
        children = node.get("children", [])
        if not isinstance(children, list):
            raise GltfError("node children must be an array")
        for child in children:
            self.doc.item("nodes", child, "node children")
        return children

    def _parents(self) -> dict:
        parents = {}
        for index, node in enumerate(self.nodes):
            for child in self._children(node):
                if child in parents or child == index:
                    raise GltfError(f"nodes[{child}] has more than one parent")
                parents[child] = index
        return parents

    def _walk_order(self, roots: list, parents: dict) -> list:
        """(node, parent or None) pairs, parents first; refuses cycles."""
        order = []
        seen = set()
        for root in roots:
            if root in parents:
                raise GltfError(f"scene root nodes[{root}] is the child of another node")
            pending = [(root, None)]
            while pending:
                index, parent = pending.pop()
                if index in seen:
                    raise GltfError(f"nodes[{index}] is reached twice (a cycle or a shared root)")
                seen.add(index)
                order.append((index, parent))
                pending.extend((c, index) for c in reversed(self._children(self.nodes[index])))
        self.in_scene = seen
        return order

    def _node_name(self, index: int) -> str:
        name = self.nodes[index].get("name")
        return name if isinstance(name, str) and name else f"node{index}"

    def _mesh(self, node_index: int) -> dict:
        mesh = self.doc.item("meshes", self.nodes[node_index]["mesh"], f"nodes[{node_index}].mesh")
        if not isinstance(mesh.get("primitives"), list):
            raise GltfError(f"meshes[{self.nodes[node_index]['mesh']}].primitives must be an array")
        return mesh

    def _joints(self) -> dict:
        """Joint node -> (skin index, position in that skin) for the first skin naming it."""
        joint_of = {}
        for s, skin in enumerate(self.doc.items("skins")):
            joints = skin.get("joints")
            if not isinstance(joints, list) or not joints:
                raise GltfError(f"skins[{s}].joints must be a non-empty array")
            for j, node in enumerate(joints):
                self.doc.item("nodes", node, f"skins[{s}].joints")
                joint_of.setdefault(node, (s, j))
        return joint_of

    # -- local transforms ------------------------------------------------------
    def _trs(self, index: int):
        node = self.nodes[index]
        where = f"nodes[{index}]"
        t = _numbers(node.get("translation"), 3, (0, 0, 0), where + ".translation")
        r = _numbers(node.get("rotation"), 4, (0, 0, 0, 1), where + ".rotation")
        s = _numbers(node.get("scale"), 3, (1, 1, 1), where + ".scale")
        return np.array(t), np.array(r), np.array(s)

    def _local(self, index: int) -> np.ndarray:
        node = self.nodes[index]
        if "matrix" in node:
            values = _numbers(node["matrix"], 16, None, f"nodes[{index}].matrix")
            return np.array(values, dtype=np.float64).reshape(4, 4).T
        return trs_matrix(*self._trs(index))

    def _make_node(self, index: int, parent) -> None:
        pt = self.pytav
        name = self._node_name(index)
        local = self._local(index)
        self.world[index] = (self.world[parent] if parent is not None else np.eye(4)) @ local
        holder = self.wrappers[parent] if parent is not None else self.axes
        channels = self.channels.get(index, [])
        if channels:
            animated = pt.AnimationNode(name + "_animation" if index in self.joint_of else name)
            self._animate(index, animated, channels)
            holder.addChild(animated)
            anchor = animated
            if index in self.joint_of:
                anchor = animated.addChild(pt.Bone(name, rows(np.eye(4))))
        elif index in self.joint_of:
            anchor = holder.addChild(pt.Bone(name, rows(local)))
        else:
            anchor = holder.addChild(pt.Transform(name, rows(local)))
        if index in self.joint_of:
            self.bones[index] = anchor
            skin, position = self.joint_of[index]
            anchor.setInvertedBaseBoneMatrix(rows(self._inverse_binds(skin)[position]))
        self.wrappers[index] = anchor

    def _inverse_binds(self, skin_index: int) -> np.ndarray:
        skin = self.doc.items("skins")[skin_index]
        count = len(skin["joints"])
        if "inverseBindMatrices" not in skin:
            return np.broadcast_to(np.eye(4), (count, 4, 4))
        matrices = self.doc.accessor(skin["inverseBindMatrices"], f"skins[{skin_index}].inverseBindMatrices")
        if matrices.ndim != 3 or matrices.shape[1:] != (4, 4) or len(matrices) < count:
            raise GltfError(f"skins[{skin_index}].inverseBindMatrices must hold a MAT4 per joint")
        return matrices.astype(np.float64)

    # -- animations --------------------------------------------------------------
    def _animation_channels(self) -> dict:
        """node -> list of (animation index, path, times in [0, 1], values, interpolation, channel path).

        Channels that cannot be carried over (no target node, a target node
        that does not exist or is outside the scene, morph weights, paths of
        extensions) are reported one line each and left out.
        """
        per_node = {}
        for a, animation in enumerate(self.doc.items("animations")):
            where = f"animations[{a}]"
            samplers = animation.get("samplers", [])
            channels = animation.get("channels", [])
            if not isinstance(samplers, list) or not isinstance(channels, list):
                raise GltfError(f"{where}: samplers and channels must be arrays")
            loaded = []
            for c, channel in enumerate(channels):
                cwhere = f"{where}.channels[{c}]"
                target = channel.get("target") if isinstance(channel, dict) else None
                if not isinstance(target, dict):
                    raise GltfError(f"{cwhere} has no target")
                path = target.get("path")
                node = target.get("node")
                if node is None:
                    self.note(cwhere, f"target without a node (path {path!r}) cannot be resolved; skipped")
                    continue
                if (not isinstance(node, int) or isinstance(node, bool) or not 0 <= node < len(self.nodes)):
                    self.note(cwhere, f"target nodes[{node}] does not exist; skipped")
                    continue
                if node not in self.in_scene:
                    self.note(cwhere, f"target nodes[{node}] is not in the converted scene; skipped")
                    continue
                if path == "weights":
                    self.note(cwhere, "morph target weight animations are not supported; skipped")
                    continue
                if path not in ("translation", "rotation", "scale"):
                    self.note(cwhere, f"target path {path!r} is not supported; skipped")
                    continue
                if "matrix" in self.nodes[node]:
                    self.note(cwhere, f"target nodes[{node}] is given by a matrix, which cannot be animated; skipped")
                    continue
                sampler = channel.get("sampler")
                if not isinstance(sampler, int) or not 0 <= sampler < len(samplers):
                    raise GltfError(f"{cwhere}.sampler refers to {where}.samplers[{sampler}], which does not exist")
                swhere = f"{where}.samplers[{sampler}]"
                times, values, mode = self._sampler(samplers[sampler], path, swhere)
                if mode == "CUBICSPLINE":
                    self.note(swhere, "CUBICSPLINE tangents are not supported; the keys are joined linearly")
                if len(times):
                    loaded.append((node, path, times, values, mode, cwhere))
                else:
                    self.note(cwhere, "sampler without keys; skipped")
            if not loaded:
                continue
            start = min(float(entry[2][0]) for entry in loaded)
            end = max(float(entry[2][-1]) for entry in loaded)
            span = end - start
            for node, path, times, values, mode, cwhere in loaded:
                mapped = (times - start) / span if span > 0 else np.zeros_like(times)
                mapped = ARGUMENT_RANGE[0] + mapped * (ARGUMENT_RANGE[1] - ARGUMENT_RANGE[0])
                per_node.setdefault(node, []).append((a, path, mapped, values, mode, cwhere))
        return per_node

    def _sampler(self, sampler, path: str, where: str):
        if not isinstance(sampler, dict):
            raise GltfError(f"{where} is not an object")
        mode = sampler.get("interpolation", "LINEAR")
        if mode not in ("LINEAR", "STEP", "CUBICSPLINE"):
            raise GltfError(f"{where}: unknown interpolation {mode!r}")
        times = self.doc.accessor(sampler.get("input"), where + ".input").astype(np.float64)
        values = self.doc.accessor(sampler.get("output"), where + ".output").astype(np.float64)
        if times.ndim != 2 or times.shape[1] != 1:
            raise GltfError(f"{where}: key times must be scalars")
        times = times[:, 0]
        width = 4 if path == "rotation" else 3
        if values.ndim != 2 or values.shape[1] != width:
            raise GltfError(f"{where}: {path} keys need {width} components")
        per_key = 3 if mode == "CUBICSPLINE" else 1
        if len(values) != per_key * len(times):
            raise GltfError(f"{where}: {len(values)} values for {len(times)} key times")
        if not np.all(np.isfinite(times)) or np.any(np.diff(times) < 0):
            raise GltfError(f"{where}: key times must be finite and increasing")
        if mode == "CUBICSPLINE":
            values = values[1::3]
        return times, values, mode

    def _animate(self, index: int, node, channels: list) -> None:
        rest = dict(zip(("translation", "rotation", "scale"), self._trs(index)))
        first_argument = min(c[0] for c in channels)
        entries = {"translation": [], "rotation": [], "scale": []}
        for path in entries:
            mine = [c for c in channels if c[1] == path]
            if not mine:
                if not np.allclose(rest[path], {"translation": (0, 0, 0), "rotation": (0, 0, 0, 1),
                                                "scale": (1, 1, 1)}[path]):
                    entries[path].append((first_argument, np.zeros(1), rest[path][None, :]))
                continue
            for k, (argument, _, times, values, mode, _where) in enumerate(mine):
                if k:
                    values = _relative(path, values, rest[path])
                if mode == "STEP":
                    times, values = _hold_steps(times, values)
                entries[path].append((argument, times, values))

        def keys(times, values, convert):
            return [(float(t), convert(v)) for t, v in zip(times, values)]

        vec = lambda v: (float(v[0]), float(v[1]), float(v[2]))
        wxyz = lambda q: (float(q[3]), float(q[0]), float(q[1]), float(q[2]))
        if entries["translation"]:
            node.setPositionAnimation([(a, keys(t, v, vec)) for a, t, v in entries["translation"]])
        if entries["rotation"]:
            node.setRotationAnimation([(a, keys(t, v, wxyz)) for a, t, v in entries["rotation"]])
        if entries["scale"]:
            node.setScaleAnimation([(a, keys(t, v, vec)) for a, t, v in entries["scale"]])

    # -- meshes --------------------------------------------------------------------
    def _unique_render_name(self, name: str) -> str:
        candidate = name
        suffix = 2
        while candidate in self.render_names:
            candidate = f"{name}_{suffix}"
            suffix += 1
        self.render_names.add(candidate)
        return candidate

    def _convert_primitive(self, node_index: int, p: int) -> None:
        pt = self.pytav
        mesh_index = self.nodes[node_index]["mesh"]
        mesh = self._mesh(node_index)
        primitive = mesh["primitives"][p]
        mesh_name = mesh.get("name") if isinstance(mesh.get("name"), str) and mesh.get("name") else f"mesh{mesh_index}"
        label = mesh_name if len(mesh["primitives"]) == 1 else f"{mesh_name}_{p}"
        where = f"meshes[{mesh_index}].primitives[{p}]"
        if not isinstance(primitive, dict):
            raise GltfError(f"{where} is not an object")
        mode = primitive.get("mode", TRIANGLES)
        if mode in LINE_MODES:
            self.note(where, f"{LINE_MODES[mode]} are not supported; skipped (mesh {mesh_name!r})")
            return
        if mode not in (TRIANGLES, TRIANGLE_STRIP, TRIANGLE_FAN):
            raise GltfError(f"{where}: unknown mode {mode}")
        if primitive.get("targets"):
            self.note(where + ".targets", "morph targets are not supported; the base shape is kept")
        attributes = primitive.get("attributes")
        if not isinstance(attributes, dict) or "POSITION" not in attributes:
            raise GltfError(f"{where} has no POSITION attribute")

        positions = self._attribute(attributes, "POSITION", 3, where)
        count = len(positions)
        indices = self._indices(primitive, count, mode, where)
        if count == 0 or len(indices) == 0:
            self.note(where, f"no triangles; skipped (mesh {mesh_name!r})")
            return
        attrs = {"POSITION": positions}
        for name in attributes:
            if name != "POSITION" and (name == "NORMAL" or name.startswith(("TEXCOORD_", "JOINTS_", "WEIGHTS_"))):
                attrs[name] = self._attribute(attributes, name, None, where, count)
            elif name.startswith("COLOR_"):
                self.note(f"{where}.attributes.{name}", "vertex colours are not supported; not converted")
            elif name != "POSITION":
                self.note(f"{where}.attributes.{name}", "attribute is not supported; not converted")
        if "NORMAL" not in attrs:
            # Flat shading needs a vertex per triangle corner.
            attrs = {name: value[indices] for name, value in attrs.items()}
            indices = np.arange(len(indices), dtype=np.uint32)
            attrs["NORMAL"] = np.repeat(_face_normals(attrs["POSITION"], indices), 3, axis=0)
        attrs["NORMAL"] = _repair_normals(attrs["NORMAL"][:, :3], attrs["POSITION"], indices)

        material_index = primitive.get("material")
        material = (self.doc.item("materials", material_index, where) if material_index is not None else {})
        material_name = material.get("name") if isinstance(material.get("name"), str) and material.get("name") else (
            f"material{material_index}" if material_index is not None else "default_material")
        render = pt.PBRNode(self._unique_render_name(label), material_name)
        control = self.wrappers[node_index]
        skin = self._skin_blocks(node_index, attrs, render, where)
        if skin is not None:
            # Skinned vertices stay in glTF space, which the joints' inverse
            # bind matrices expect; the joints' world matrices add the axes.
            control = self.model.getRootTransform()
        mwhere = f"materials[{material_index}]" if material_index is not None else where
        used_sets = self._material_blocks(render, material, attrs, mwhere)
        for name in attrs:
            if name.startswith("TEXCOORD_") and name != "TEXCOORD_0" and _set_number(name) not in used_sets:
                self.note(f"{where}.attributes.{name}", "texture coordinate set used by no converted texture; "
                          "not converted")
        render.setIndices(np.ascontiguousarray(indices, dtype=np.uint32))
        render.setControlNode(control)
        message = self.model.addRenderNode(render)
        if message:
            self.note(where, f"refused by the module: {message} (mesh {mesh_name!r}); skipped")
            return
        if skin is not None:
            self.bounds.append(self._skinned_points(attrs, skin))
        else:
            self.bounds.append(_transform_points(Y_UP_TO_Z_UP @ self.world[node_index], attrs["POSITION"]))

    def _attribute(self, attributes: dict, name: str, width, where: str, count=None) -> np.ndarray:
        values = self.doc.accessor(attributes[name], f"{where}.attributes.{name}")
        if values.ndim != 2:
            raise GltfError(f"{where}: attribute {name} must be a vector")
        if width is not None and values.shape[1] != width:
            raise GltfError(f"{where}: attribute {name} needs {width} components")
        if count is not None and len(values) != count:
            raise GltfError(f"{where}: attribute {name} has {len(values)} elements for {count} vertices")
        return values

    def _indices(self, primitive: dict, count: int, mode: int, where: str) -> np.ndarray:
        if primitive.get("indices") is None:
            raw = np.arange(count, dtype=np.int64)
        else:
            values = self.doc.accessor(primitive["indices"], where + ".indices")
            if values.ndim != 2 or values.shape[1] != 1 or values.dtype.kind not in "ui":
                raise GltfError(f"{where}: indices must be unsigned integer scalars")
            raw = values[:, 0].astype(np.int64)
            if raw.size and (raw.max() >= count or raw.min() < 0):
                raise GltfError(f"{where}: index {int(raw.max())} is not below the vertex count {count}")
        return _triangle_list(raw, mode).astype(np.uint32)

    def _uv(self, attrs: dict, info: dict, where: str) -> np.ndarray:
        set_index = info.get("texCoord", 0)
        values = attrs.get(f"TEXCOORD_{set_index}")
        if values is None:
            return np.zeros(2 * len(attrs["POSITION"]), dtype=np.float32)
        if values.shape[1] != 2:
            raise GltfError(f"{where}: TEXCOORD_{set_index} needs 2 components")
        return np.ascontiguousarray(values, dtype=np.float32).reshape(-1)

    # -- textures and images -------------------------------------------------------
    def _texture_file(self, info, where: str, used_sets: set):
        """The texture name of the textureInfo at path ``where``, or None.

        Adds the texture coordinate set it reads to used_sets.  Textures
        without an image and non-default sampler settings are reported.
        """
        if not isinstance(info, dict) or "index" not in info:
            return None
        texture_index = info["index"]
        texture = self.doc.item("textures", texture_index, where + ".index")
        twhere = f"textures[{texture_index}]"
        source = texture.get("source")
        if source is None:
            for extension in (texture.get("extensions") or {}).values():
                if isinstance(extension, dict) and "source" in extension:
                    source = extension["source"]
                    break
        if source is None:
            self.note(twhere, "texture without an image; not converted")
            return None
        self._check_sampler(texture, twhere)
        set_index = info.get("texCoord", 0)
        if isinstance(set_index, int):
            used_sets.add(set_index)
        return self._image_name(source, twhere + ".source")

    def _check_sampler(self, texture: dict, where: str) -> None:
        index = texture.get("sampler")
        if index is None:
            return
        sampler = self.doc.item("samplers", index, where + ".sampler")
        if sampler.get("wrapS", REPEAT) != REPEAT or sampler.get("wrapT", REPEAT) != REPEAT:
            self.note(f"samplers[{index}]", "wrap modes other than REPEAT are not supported; textures repeat")

    def _image_name(self, index, referrer: str) -> str:
        """The texture name of image ``index``; notes the file to write beside the output."""
        if isinstance(index, int) and index in self.image_names:
            return self.image_names[index]
        image = self.doc.item("images", index, referrer)
        where = f"images[{index}]"
        uri = image.get("uri")
        if isinstance(uri, str) and uri and not uri.startswith("data:"):
            relative = uri_to_path(uri)
            source = os.path.normpath(os.path.join(self.doc.base_dir, relative))
            if not self.copy_textures:
                # The name resolves from the output's folder to the image where it is.
                name = os.path.relpath(source, self.out_dir).replace(os.sep, "/")
                self.taken_names.add(name.casefold())
            elif source in self.copied_from:
                name = self.copied_from[source]
            else:
                inside = not os.path.isabs(relative) and not os.path.normpath(relative).startswith("..")
                name = self._unique_name((relative if inside else os.path.basename(relative)).replace(os.sep, "/"))
                self.copied_from[source] = name
                if os.path.isfile(source):
                    self.image_files[name] = (None, source)
                else:
                    self.note(where, f"file {relative!r} not found; the texture name {name!r} will not resolve")
        else:
            data = self.doc.image_bytes(image, where)
            raw_name = image.get("name") if isinstance(image.get("name"), str) else ""
            base = _safe_file_name(raw_name) or f"image{index}"
            mime = image.get("mimeType")
            if not mime and isinstance(uri, str):
                mime = uri[5:].split(";")[0].split(",")[0]
            extension = IMAGE_EXTENSIONS.get(mime, "")
            if extension and not base.lower().endswith(extension):
                base += extension
            name = self._unique_name(base)
            self.image_files[name] = (data, None)
        self.image_names[index] = name
        return name

    def _unique_name(self, name: str) -> str:
        stem, extension = os.path.splitext(name)
        candidate = name
        suffix = 2
        while candidate.casefold() in self.taken_names:
            candidate = f"{stem}_{suffix}{extension}"
            suffix += 1
        self.taken_names.add(candidate.casefold())
        return candidate

    # -- materials -----------------------------------------------------------------
    def _material_blocks(self, render, material: dict, attrs: dict, where: str) -> set:
        """Adds the blocks of the material at path ``where``; returns the texture
        coordinate sets its converted textures read."""
        pt = self.pytav
        used = set()
        pbr = material.get("pbrMetallicRoughness") or {}
        pwhere = where + ".pbrMetallicRoughness"
        positions = np.ascontiguousarray(attrs["POSITION"], dtype=np.float32).reshape(-1)
        normals = np.ascontiguousarray(attrs["NORMAL"], dtype=np.float32).reshape(-1)
        factor = _numbers(pbr.get("baseColorFactor"), 4, (1, 1, 1, 1), pwhere + ".baseColorFactor")
        albedo = self._texture_file(pbr.get("baseColorTexture"), pwhere + ".baseColorTexture", used)
        if albedo:
            base = pt.BaseBlock()
            base.setAlbedoMap(albedo)
            base.setAlbedoMapUV(self._uv(attrs, pbr["baseColorTexture"], where))
            if factor[:3] != [1.0, 1.0, 1.0]:
                self.note(pwhere + ".baseColorFactor", "a colour factor on a base colour texture is not converted")
        else:
            base = pt.ColorBaseBlock()
            base.setColor(pt.PropertyFloat3(tuple(factor[:3])))
        if factor[3] != 1.0 and material.get("alphaMode") == "BLEND":
            self.note(pwhere + ".baseColorFactor", "the alpha factor is not converted")
        base.setPositions(positions)
        base.setNormals(normals)
        render.addBlock(base)
        for key in ("metallicFactor", "roughnessFactor"):
            if _number(pbr, key, 1.0, pwhere) != 1.0:
                self.note(f"{pwhere}.{key}", "metallic and roughness factors are not converted")

        normal_map = self._texture_file(material.get("normalTexture"), where + ".normalTexture", used)
        if normal_map:
            block = pt.NormalBlock()
            block.setNormalMap(normal_map)
            block.setNormalMapUV(self._uv(attrs, material["normalTexture"], where))
            render.addBlock(block)
            if _number(material["normalTexture"], "scale", 1.0, where + ".normalTexture") != 1.0:
                self.note(where + ".normalTexture.scale", "a normal map scale is not converted")

        orm = self._texture_file(pbr.get("metallicRoughnessTexture"), pwhere + ".metallicRoughnessTexture", used)
        occlusion = self._texture_file(material.get("occlusionTexture"), where + ".occlusionTexture", used)
        if orm or occlusion:
            info = pbr.get("metallicRoughnessTexture") if orm else material.get("occlusionTexture")
            block = pt.AormsBlock()
            block.setAormsMap(orm or occlusion)
            block.setAormsMapUV(self._uv(attrs, info, where))
            render.addBlock(block)
        if occlusion and _number(material["occlusionTexture"], "strength", 1.0, where + ".occlusionTexture") != 1.0:
            self.note(where + ".occlusionTexture.strength", "an occlusion strength is not converted")
        if orm and occlusion and occlusion != orm:
            block = pt.AoBlock()
            block.setAoMap(occlusion)
            block.setAoMapUV(self._uv(attrs, material["occlusionTexture"], where))
            render.addBlock(block)

        emissive = _numbers(material.get("emissiveFactor"), 3, (0, 0, 0), where + ".emissiveFactor")
        if any(emissive):
            strength = ((material.get("extensions") or {}).get("KHR_materials_emissive_strength") or {})
            amount = _number(strength, "emissiveStrength", 1.0, where + ".extensions.KHR_materials_emissive_strength")
            block = pt.EmissiveBlock()
            block.setColor(pt.PropertyFloat3(tuple(emissive)))
            block.setAmount(pt.PropertyFloat(amount))
            emissive_map = self._texture_file(material.get("emissiveTexture"), where + ".emissiveTexture", used)
            if emissive_map:
                block.setEmissiveMap(emissive_map)
                block.setEmissiveMapUV(self._uv(attrs, material["emissiveTexture"], where))
            render.addBlock(block)

        if material.get("doubleSided") is True:
            render.setTwoSided(True)
        alpha = material.get("alphaMode", "OPAQUE")
        if alpha == "BLEND":
            render.setTransparentMode(1)
        elif alpha == "MASK":
            self.note(where + ".alphaMode", "MASK is not supported; converted as opaque")
        return used

    # -- skins -------------------------------------------------------------------
    def _skin_blocks(self, node_index: int, attrs: dict, render, where: str):
        """Adds the BoneBlock of the skinned primitive at path ``where``; returns
        its skin index, or None when it is converted unskinned."""
        pt = self.pytav
        skin_index = self.nodes[node_index].get("skin")
        if skin_index is None:
            return None
        skin = self.doc.item("skins", skin_index, f"nodes[{node_index}].skin")
        swhere = f"skins[{skin_index}]"
        if "JOINTS_0" not in attrs or "WEIGHTS_0" not in attrs:
            self.note(where, f"skinned by {swhere} without JOINTS_0/WEIGHTS_0; converted unskinned")
            return None
        extra_sets = {_set_number(name) for name in attrs if name.startswith(("JOINTS_", "WEIGHTS_"))} - {0}
        for number in sorted(extra_sets, key=str):
            self.note(f"{where}.attributes.JOINTS_{number}", "only the first four bone influences are kept")
        joints = skin["joints"]
        if len(joints) > MAX_JOINTS:
            self.note(swhere, f"{len(joints)} joints exceed {MAX_JOINTS}; {where} converted unskinned")
            return None
        missing = [j for j in joints if j not in self.bones]
        if missing:
            self.note(swhere, f"joints outside the scene (nodes[{missing[0]}]); {where} converted unskinned")
            return None
        joint_ids = attrs["JOINTS_0"]
        weights = attrs["WEIGHTS_0"]
        if joint_ids.shape[1] != 4 or weights.shape[1] != 4:
            raise GltfError(f"{where}: JOINTS_0 and WEIGHTS_0 need 4 components")
        ids = joint_ids.astype(np.int64)
        if ids.size and (ids.min() < 0 or ids.max() >= len(joints)):
            raise GltfError(f"{where}.attributes.JOINTS_0: a joint index is not below the joint count "
                            f"{len(joints)} of {swhere}")
        block = pt.BoneBlock()
        block.setBones([self.bones[j] for j in joints])
        block.setBoneNames([self._node_name(j) for j in joints])
        block.setBoneIndices(np.ascontiguousarray(ids + 1, dtype=np.uint32).reshape(-1))
        block.setBoneWeights(np.ascontiguousarray(weights, dtype=np.float32).reshape(-1))
        render.addBlock(block)
        self.has_skin = True
        return skin_index

    def _skinned_points(self, attrs: dict, skin_index: int) -> np.ndarray:
        skin = self.doc.items("skins")[skin_index]
        binds = self._inverse_binds(skin_index)
        palette = np.stack([Y_UP_TO_Z_UP @ self.world[j] @ binds[k] for k, j in enumerate(skin["joints"])])
        ids = attrs["JOINTS_0"].astype(np.int64)
        weights = attrs["WEIGHTS_0"].astype(np.float64)
        points = np.c_[attrs["POSITION"].astype(np.float64), np.ones(len(ids))]
        blended = np.einsum("vk,vkij->vij", weights, palette[ids])
        moved = np.einsum("vij,vj->vi", blended, points)[:, :3]
        # Vertices without weight stay where they are.
        still = weights.sum(axis=1) <= 0
        moved[still] = _transform_points(Y_UP_TO_Z_UP, attrs["POSITION"][still])
        return moved

    def _set_bounding_box(self) -> None:
        points = [b for b in self.bounds if len(b)]
        if not points:
            return
        allpoints = np.concatenate(points)
        allpoints = allpoints[np.all(np.isfinite(allpoints), axis=1)]
        if not len(allpoints):
            return
        low = allpoints.min(axis=0)
        high = allpoints.max(axis=0)
        self.model.setBBox(tuple(float(v) for v in np.r_[low, high]))

    # -- lights ------------------------------------------------------------------
    def _convert_light(self, index: int) -> None:
        pt = self.pytav
        extension = (self.nodes[index].get("extensions") or {}).get("KHR_lights_punctual")
        if not isinstance(extension, dict) or "light" not in extension:
            return
        lights = ((self.doc.json.get("extensions") or {}).get("KHR_lights_punctual") or {}).get("lights", [])
        light_index = extension["light"]
        if not isinstance(lights, list) or not isinstance(light_index, int) or not 0 <= light_index < len(lights):
            raise GltfError(f"nodes[{index}] refers to a missing light {light_index}")
        light = lights[light_index]
        where = f"extensions.KHR_lights_punctual.lights[{light_index}]"
        if not isinstance(light, dict):
            raise GltfError(f"{where} is not an object")
        kind = light.get("type")
        name = light.get("name") if isinstance(light.get("name"), str) and light.get("name") else f"light{light_index}"
        if kind == "directional":
            self.note(f"extensions.KHR_lights_punctual.lights[{light_index}]",
                      f"directional light {name!r} is not supported; skipped")
            return
        if kind not in ("point", "spot"):
            raise GltfError(f"{where}: unknown light type {kind!r}")
        color = _numbers(light.get("color"), 3, (1, 1, 1), where + ".color")
        intensity = _number(light, "intensity", 1.0, where)
        distance = _number(light, "range", None, where)
        if distance is None:
            distance = math.sqrt(256.0 * max(intensity, 0.0))
        if kind == "point":
            made = pt.OmniLight(name)
        else:
            made = pt.SpotLight(name)
            spot = light.get("spot") or {}
            outer = _number(spot, "outerConeAngle", math.pi / 4, where + ".spot")
            inner = _number(spot, "innerConeAngle", 0.0, where + ".spot")
            fraction = min(max(inner / outer, 0.0), 1.0) if outer > 0 else 0.0
            made.setAngles(pt.PropertyFloat(math.degrees(outer)), pt.PropertyFloat(fraction))
        made.setColor(pt.PropertyFloat3(tuple(color)))
        made.setBrightness(pt.PropertyFloat(intensity))
        made.setDistance(pt.PropertyFloat(distance))
        made.setControlNode(self.wrappers[index])
        (self.model.addOmniLight if kind == "point" else self.model.addSpotLight)(made)


# ---------------------------------------------------------------------------
# Geometry helpers
# ---------------------------------------------------------------------------

def _triangle_list(raw: np.ndarray, mode: int) -> np.ndarray:
    if mode == TRIANGLES:
        return raw[: len(raw) - len(raw) % 3]
    n = len(raw) - 2
    if n <= 0:
        return raw[:0]
    i = np.arange(n)
    if mode == TRIANGLE_STRIP:
        # Every second triangle of a strip is wound the other way round.
        odd = i % 2 == 1
        a = np.where(odd, raw[i + 1], raw[i])
        b = np.where(odd, raw[i], raw[i + 1])
        return np.stack([a, b, raw[i + 2]], axis=1).reshape(-1)
    return np.stack([np.full(n, raw[0]), raw[i + 1], raw[i + 2]], axis=1).reshape(-1)


def _face_normals(positions: np.ndarray, indices: np.ndarray) -> np.ndarray:
    tri = positions.astype(np.float64)[indices.reshape(-1, 3)]
    normals = np.cross(tri[:, 1] - tri[:, 0], tri[:, 2] - tri[:, 0])
    return normals


def _repair_normals(normals: np.ndarray, positions: np.ndarray, indices: np.ndarray) -> np.ndarray:
    """Unit normals; zero or broken ones take the smoothed face normal, else +Y."""
    normals = np.asarray(normals, dtype=np.float64).copy()
    normals[~np.all(np.isfinite(normals), axis=1)] = 0.0
    length = np.linalg.norm(normals, axis=1)
    bad = length < 1e-2
    if np.any(bad):
        faces = _face_normals(positions, indices)
        smooth = np.zeros_like(normals)
        corners = indices.reshape(-1, 3)
        for k in range(3):
            np.add.at(smooth, corners[:, k], faces)
        smooth[~np.all(np.isfinite(smooth), axis=1)] = 0.0
        normals[bad] = smooth[bad]
        length = np.linalg.norm(normals, axis=1)
        still = length < 1e-12
        normals[still] = (0.0, 1.0, 0.0)
        length[still] = 1.0
    return (normals / length[:, None]).astype(np.float32)


def _set_number(name: str):
    """The set number of an attribute name such as "TEXCOORD_1", or None."""
    digits = name.rpartition("_")[2]
    return int(digits) if digits.isdigit() else None


def _safe_file_name(name: str) -> str:
    """name as one file name in the output's folder: its last path part, with
    no characters that file systems refuse and no leading dots."""
    last = name.replace("\\", "/").rstrip("/").rpartition("/")[2]
    cleaned = "".join("_" if c in ':*?"<>|' or ord(c) < 32 else c for c in last)
    return cleaned.strip().lstrip(".").strip()


def _relative(path: str, values: np.ndarray, rest: np.ndarray) -> np.ndarray:
    if path == "translation":
        return values - rest
    if path == "scale":
        safe = np.where(rest == 0, 1.0, rest)
        return values / safe
    inverse = np.array([-rest[0], -rest[1], -rest[2], rest[3]])
    return quat_mul(inverse, values)


def _hold_steps(times: np.ndarray, values: np.ndarray):
    """Keys that reproduce a STEP sampler under linear interpolation."""
    if len(times) < 2:
        return times, values
    hold_times = np.maximum(times[1:] - STEP_HOLD, times[:-1])
    new_times = np.empty(2 * len(times) - 1)
    new_values = np.empty((2 * len(times) - 1, values.shape[1]))
    new_times[0::2] = times
    new_times[1::2] = hold_times
    new_values[0::2] = values
    new_values[1::2] = values[:-1]
    return new_times, new_values


def _transform_points(matrix: np.ndarray, points: np.ndarray) -> np.ndarray:
    points = np.asarray(points, dtype=np.float64)
    return points @ matrix[:3, :3].T + matrix[:3, 3]


# ---------------------------------------------------------------------------
# Entry point
# ---------------------------------------------------------------------------

def convert(source, target, version: int = 10, stderr=sys.stderr, own_pools: bool = False,
            strict: bool = False, copy_textures: bool = False) -> int:
    """Converts source to target; returns the process exit status.

    0: the file (and the images its textures name) was written and nothing
    was lost; 2: it was written, but something was not converted (one line
    per loss on stderr, naming the object by its glTF path); 1: nothing was
    written (the reason on stderr).  With strict, any loss gives 1 and no
    file.  Embedded images are written beside target under the names the
    textures refer to; external images are referred to where they are, or
    copied beside target with copy_textures.  With own_pools the module's
    thread pools are made for this conversion and destroyed after it (the
    command line does this); otherwise the save makes them on demand and a
    caller's pools are left alone.
    """
    notes = Notes(stderr)
    progress = Progress(stderr)
    out_dir = os.path.dirname(os.path.abspath(os.fspath(target)))
    try:
        doc = load(source)
        pytav = _import_pytav()
        if own_pools:
            pytav.init()
        try:
            converter = Converter(doc, notes, progress, out_dir, copy_textures)
            converter.taken_names.add(os.path.basename(os.fspath(target)).casefold())
            model = converter.build()
            if strict and notes.lines:
                count = len(notes.lines)
                print(f"tavtools convert: {count} {'loss' if count == 1 else 'losses'}; nothing written (--strict)",
                      file=stderr)
                return 1
            written = _write_images(converter.image_files, out_dir)
            progress(1, 1, "saving")
            message = None
            try:
                message = model.save(os.fspath(target), version)
            finally:
                if message != "":
                    # No model file: take back the images written for it.
                    _remove(written)
        finally:
            progress.finish()
            if own_pools:
                pytav.deinit()
    except GltfError as error:
        print(f"tavtools convert: {source}: {error}", file=stderr)
        return 1
    except OSError as error:
        print(f"tavtools convert: cannot write {error.filename or target}: {error.strerror or error}", file=stderr)
        return 1
    except (TypeError, ValueError, AttributeError, KeyError, IndexError) as error:
        # Shapes this reader did not foresee: still one line, never a traceback.
        print(f"tavtools convert: {source}: unreadable glTF data ({type(error).__name__}: {error})", file=stderr)
        return 1
    if message:
        print(f"tavtools convert: save failed: {message}", file=stderr)
        return 1
    return 2 if notes.lines else 0


def _write_images(files: dict, out_dir: str) -> list:
    """Writes the image files beside the output; returns their paths.

    Each file is written in full to a temporary name and then renamed, so a
    failure leaves no half image; on failure the ones written are removed
    and OSError propagates.
    """
    written = []
    try:
        for name, (data, source) in sorted(files.items()):
            path = os.path.join(out_dir, *name.split("/"))
            if source is not None and os.path.abspath(source) == os.path.abspath(path):
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            partial = path + ".part"
            try:
                if data is None:
                    shutil.copyfile(source, partial)
                else:
                    with open(partial, "wb") as handle:
                        handle.write(data)
                os.replace(partial, path)
            except OSError:
                _remove([partial])
                raise
            written.append(path)
    except OSError:
        _remove(written)
        raise
    return written


def _remove(paths: list) -> None:
    for path in paths:
        try:
            os.remove(path)
        except OSError:
            pass


def _import_pytav():
    try:
        import pytav
    except ImportError as error:
        raise GltfError(f"the pytav module is not available ({error})") from None
    return pytav
