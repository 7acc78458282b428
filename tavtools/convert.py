"""glTF 2.0 to TAV conversion: a reader of glTF assets for tavtools.builder.

``convert(source, target, version)`` reads a glTF asset (tavtools.gltf),
describes its default scene as a ``tavtools.scene.Scene`` and has
``tavtools.builder`` build and save it.  What the builder decides (node
kinds, base matrices, arguments, winding, material blocks, texture files,
lights' cones, skins and their limit, the losses the file cannot carry) is
described there; this reader maps glTF onto the description:

Axes and units
    glTF is +Y up; the model is written +Z up.  All scene roots hang under one
    node "gltf_axes" that maps glTF (x, y, z) to (x, -z, y); vertex data
    stays in glTF coordinates and the save folds the rotation where it can.
Nodes
    A node's ``matrix``, or its translation, rotation and scale; nodes without
    a name are called "node<index>".  Skin joints are the skins' joints.
Animations
    Animation i is a clip on argument i spanning its earliest to its latest
    key time.  STEP samplers hold their values; CUBICSPLINE samplers keep
    their values and drop their tangents (reported).
Meshes and materials
    Every triangle primitive is a mesh named after the glTF mesh
    ("<mesh>_<primitive>" when it has several); strips and fans become
    lists, missing indices count 0..n-1, missing normals become flat
    normals, zero-length normals the smoothed face normals.  TEXCOORD_n is UV
    set n; a texture reads the set of its ``texCoord``.  Skinned primitives
    keep their vertices in glTF space, where the inverse bind matrices
    expect them (glTF ignores the skinned node's own transform).
Images
    External images are files beside the asset; embedded ones (data URIs,
    buffer views) are held in memory, named after the image ("<name or
    image<index>>" plus an extension from the MIME type).
Lights (KHR_lights_punctual)
    Colour, intensity, range; a spot's cone is its outer cone angle and its
    blend the part of it outside the inner cone, 1 - inner / outer.
Losses the reader sees itself
    Points and lines, morph targets and their weight animations, vertex
    colours and other unknown attributes, more than four bone influences,
    CUBICSPLINE tangents, channels whose target cannot be resolved, other
    scenes, cameras, skins whose joints are outside the scene, textures
    without an image, wrap modes other than REPEAT and extensions this
    converter does not read.  A file that is not valid glTF, or a mesh with
    a value that is not finite, gives exit status 1 naming its glTF path.
"""

from __future__ import annotations

import math
import os
import sys
import time
from collections.abc import Callable, Sequence
from types import ModuleType
from typing import Any, TextIO, overload

import numpy as np
import numpy.typing as npt

from . import builder
from .gltf import Document, GltfError, JsonObject, load, uri_to_path
from .scene import Clip, Image, Light, Material, Mesh, Node, Scene, Skin, Texture, Track

TRIANGLES, TRIANGLE_STRIP, TRIANGLE_FAN = 4, 5, 6
LINE_MODES = {0: "points", 1: "lines", 2: "line loops", 3: "line strips"}
AXES_NAME = "gltf_axes"
# glTF +Y up to +Z up: (x, y, z) -> (x, -z, y), as rows of a column-vector matrix.
Y_UP_TO_Z_UP = np.array([[1, 0, 0, 0], [0, 0, -1, 0], [0, 1, 0, 0], [0, 0, 0, 1]], dtype=np.float64)
# Extensions this converter reads; the image formats are named by their textures' sources.
SUPPORTED_EXTENSIONS = {"KHR_lights_punctual", "KHR_materials_emissive_strength", "KHR_texture_basisu",
                        "EXT_texture_webp", "KHR_texture_transform"}
REPEAT = 10497
IMAGE_EXTENSIONS = {"image/png": ".png", "image/jpeg": ".jpg", "image/ktx2": ".ktx2", "image/webp": ".webp",
                    "image/vnd-ms.dds": ".dds"}

# Called with (done, total, what) as the conversion goes.
ProgressCallback = Callable[[int, int, str], None]


def _numbers(value: object, size: int, default: Sequence[float] | None, where: str) -> list[float]:
    if value is None:
        if default is None:
            raise GltfError(f"{where} must be an array of {size} numbers")
        return list(default)
    if (not isinstance(value, list) or len(value) != size
            or not all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in value)):
        raise GltfError(f"{where} must be an array of {size} numbers")
    return [float(v) for v in value]


@overload
def _number(obj: object, key: str, default: float, where: str) -> float: ...
@overload
def _number(obj: object, key: str, default: None, where: str) -> float | None: ...


def _number(obj: object, key: str, default: float | None, where: str) -> float | None:
    if not isinstance(obj, dict):
        raise GltfError(f"{where} is not an object")
    value = obj.get(key, default)
    if value is default:
        return default
    if not isinstance(value, (int, float)) or isinstance(value, bool) or not math.isfinite(value):
        raise GltfError(f"{where}.{key} must be a finite number")
    return float(value)


class Progress:
    """A text bar on a terminal's stderr, shown once a conversion passes a second."""

    WIDTH = 30

    def __init__(self, stream: TextIO = sys.stderr, delay: float = 1.0):
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
# The reader
# ---------------------------------------------------------------------------

class GltfReader:
    """Describes the default scene of a gltf.Document as a Scene."""

    def __init__(self, doc: Document, progress: ProgressCallback | None = None):
        self.doc = doc
        self.scene = Scene()
        self.note = self.scene.lose
        self.progress: ProgressCallback = progress or (lambda done, total, what: None)
        self.nodes = doc.items("nodes")
        self.records: dict[int, Node] = {}
        self.skins: dict[int, Skin | None] = {}
        self.materials: dict[object, Material] = {}
        self.images: dict[object, Image] = {}

    def read(self) -> Scene:
        self._check_extensions()
        roots = self._scene_roots()
        parents = self._parents()
        order = self._walk_order(roots, parents)
        self._joints()
        axes = Node(AXES_NAME, AXES_NAME, matrix=Y_UP_TO_Z_UP.copy())
        self.scene.roots.append(axes)
        for index, parent in order:
            record = self._node(index)
            self.records[index] = record
            (self.records[parent] if parent is not None else axes).children.append(record)
        self._animations()
        mesh_nodes = [i for i, _ in order if "mesh" in self.nodes[i]]
        total = sum(len(self._mesh(i).get("primitives", [])) for i in mesh_nodes) + 1
        done = 0
        for index in mesh_nodes:
            for p, _primitive in enumerate(self._mesh(index).get("primitives", [])):
                self._primitive(index, p)
                done += 1
                self.progress(done, total, self._node_name(index))
        for index, _ in order:
            self._light(index)
            if "camera" in self.nodes[index]:
                self.note(f"nodes[{index}].camera", "cameras are not supported; skipped")
        self._check_other_scenes()
        return self.scene

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

    def _scene_roots(self) -> list[int]:
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

    def _children(self, node: JsonObject) -> list[int]:
        children = node.get("children", [])
        if not isinstance(children, list):
            raise GltfError("node children must be an array")
        for child in children:
            self.doc.item("nodes", child, "node children")
        return children

    def _parents(self) -> dict[int, int]:
        parents: dict[int, int] = {}
        for index, node in enumerate(self.nodes):
            for child in self._children(node):
                if child in parents or child == index:
                    raise GltfError(f"nodes[{child}] has more than one parent")
                parents[child] = index
        return parents

    def _walk_order(self, roots: list[int], parents: dict[int, int]) -> list[tuple[int, int | None]]:
        """(node, parent or None) pairs, parents first; refuses cycles."""
        order: list[tuple[int, int | None]] = []
        seen: set[int] = set()
        for root in roots:
            if root in parents:
                raise GltfError(f"scene root nodes[{root}] is the child of another node")
            pending: list[tuple[int, int | None]] = [(root, None)]
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

    def _mesh(self, node_index: int) -> JsonObject:
        mesh = self.doc.item("meshes", self.nodes[node_index]["mesh"], f"nodes[{node_index}].mesh")
        if not isinstance(mesh.get("primitives"), list):
            raise GltfError(f"meshes[{self.nodes[node_index]['mesh']}].primitives must be an array")
        return mesh

    def _joints(self) -> None:
        for s, skin in enumerate(self.doc.items("skins")):
            joints = skin.get("joints")
            if not isinstance(joints, list) or not joints:
                raise GltfError(f"skins[{s}].joints must be a non-empty array")
            for node in joints:
                self.doc.item("nodes", node, f"skins[{s}].joints")

    def _node(self, index: int) -> Node:
        node = self.nodes[index]
        where = f"nodes[{index}]"
        record = Node(self._node_name(index), where)
        if "matrix" in node:
            values = _numbers(node["matrix"], 16, None, where + ".matrix")
            record.matrix = np.array(values, dtype=np.float64).reshape(4, 4).T
        else:
            t = _numbers(node.get("translation"), 3, (0, 0, 0), where + ".translation")
            x, y, z, w = _numbers(node.get("rotation"), 4, (0, 0, 0, 1), where + ".rotation")
            s = _numbers(node.get("scale"), 3, (1, 1, 1), where + ".scale")
            record.translation, record.rotation, record.scale = (t[0], t[1], t[2]), (w, x, y, z), (s[0], s[1], s[2])
        return record

    def _skin(self, skin_index: int) -> Skin | None:
        if skin_index in self.skins:
            return self.skins[skin_index]
        skin = self.doc.item("skins", skin_index, "skin")
        where = f"skins[{skin_index}]"
        joints = skin["joints"]
        missing = [j for j in joints if j not in self.records]
        made = None
        if missing:
            self.note(where, f"joints outside the scene (nodes[{missing[0]}]); its meshes are converted unskinned")
        else:
            binds = np.broadcast_to(np.eye(4), (len(joints), 4, 4))
            if "inverseBindMatrices" in skin:
                binds = self.doc.accessor(skin["inverseBindMatrices"], where + ".inverseBindMatrices")
                if binds.ndim != 3 or binds.shape[1:] != (4, 4) or len(binds) < len(joints):
                    raise GltfError(f"{where}.inverseBindMatrices must hold a MAT4 per joint")
            made = Skin(where, [self.records[j] for j in joints], np.asarray(binds[:len(joints)], dtype=np.float64))
        self.skins[skin_index] = made
        return made

    # -- animations --------------------------------------------------------------
    def _animations(self) -> None:
        """Tracks on the nodes they drive; channels that cannot be carried over
        (no target node, one outside the scene, morph weights, paths of
        extensions, matrix nodes) are reported and left out."""
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
                if not len(times):
                    self.note(cwhere, "sampler without keys; skipped")
                    continue
                if path == "rotation":
                    values = values[:, [3, 0, 1, 2]]
                loaded.append(Track(cwhere, path, Clip(a, 0.0, 0.0), times, values, mode == "STEP"))
                self.records[node].tracks.append(loaded[-1])
            if loaded:
                clip = Clip(a, min(float(t.times[0]) for t in loaded), max(float(t.times[-1]) for t in loaded))
                for track in loaded:
                    track.clip = clip

    def _sampler(self, sampler: object, path: str, where: str) -> tuple[npt.NDArray[np.float64],
                                                                        npt.NDArray[np.float64], str]:
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
        if not np.all(np.isfinite(values)):
            raise GltfError(f"{where}: a key value is not finite")
        if mode == "CUBICSPLINE":
            values = values[1::3]
        return times, values, mode

    # -- meshes --------------------------------------------------------------------
    def _primitive(self, node_index: int, p: int) -> None:
        mesh_index = self.nodes[node_index]["mesh"]
        mesh = self._mesh(node_index)
        primitive = mesh["primitives"][p]
        named = mesh.get("name")
        mesh_name = named if isinstance(named, str) and named else f"mesh{mesh_index}"
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
        uv_sets = {}
        for name, values in attrs.items():
            number = _set_number(name) if name.startswith("TEXCOORD_") else None
            if number is not None:
                if values.shape[1] != 2:
                    raise GltfError(f"{where}: {name} needs 2 components")
                uv_sets[number] = values.astype(np.float64)

        material_index = primitive.get("material")
        record = Mesh(label, where, attrs["POSITION"].astype(np.float64), attrs["NORMAL"].astype(np.float64),
                      indices, self._material(material_index, where), uv_sets)
        self._skin_mesh(node_index, attrs, record)
        self.records[node_index].meshes.append(record)

    def _skin_mesh(self, node_index: int, attrs: dict[str, npt.NDArray[Any]], record: Mesh) -> None:
        skin_index = self.nodes[node_index].get("skin")
        if skin_index is None:
            return
        where = record.where
        self.doc.item("skins", skin_index, f"nodes[{node_index}].skin")
        if "JOINTS_0" not in attrs or "WEIGHTS_0" not in attrs:
            self.note(where, f"skinned by skins[{skin_index}] without JOINTS_0/WEIGHTS_0; converted unskinned")
            return
        extra_sets = {_set_number(name) for name in attrs if name.startswith(("JOINTS_", "WEIGHTS_"))} - {0}
        for number in sorted(extra_sets, key=str):
            self.note(f"{where}.attributes.JOINTS_{number}", "only the first four bone influences are kept")
        skin = self._skin(skin_index)
        if skin is None:
            return
        joint_ids, weights = attrs["JOINTS_0"], attrs["WEIGHTS_0"]
        if joint_ids.shape[1] != 4 or weights.shape[1] != 4:
            raise GltfError(f"{where}: JOINTS_0 and WEIGHTS_0 need 4 components")
        ids = joint_ids.astype(np.int64)
        if ids.size and (ids.min() < 0 or ids.max() >= len(skin.joints)):
            raise GltfError(f"{where}.attributes.JOINTS_0: a joint index is not below the joint count "
                            f"{len(skin.joints)} of skins[{skin_index}]")
        record.skin, record.joints, record.weights = skin, ids, weights.astype(np.float64)

    def _attribute(self, attributes: JsonObject, name: str, width: int | None, where: str,
                   count: int | None = None) -> npt.NDArray[Any]:
        values = self.doc.accessor(attributes[name], f"{where}.attributes.{name}")
        if values.ndim != 2:
            raise GltfError(f"{where}: attribute {name} must be a vector")
        if width is not None and values.shape[1] != width:
            raise GltfError(f"{where}: attribute {name} needs {width} components")
        if count is not None and len(values) != count:
            raise GltfError(f"{where}: attribute {name} has {len(values)} elements for {count} vertices")
        if values.dtype.kind == "f" and not np.all(np.isfinite(values)):
            raise GltfError(f"{where}.attributes.{name} holds a value that is not finite")
        return values

    def _indices(self, primitive: JsonObject, count: int, mode: int, where: str) -> npt.NDArray[np.uint32]:
        raw: npt.NDArray[np.int64]
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

    # -- materials, textures and images ----------------------------------------------
    def _material(self, index: object, referrer: str) -> Material:
        if index in self.materials:
            return self.materials[index]
        material = self.doc.item("materials", index, referrer) if index is not None else {}
        where = f"materials[{index}]" if index is not None else referrer
        named = material.get("name")
        name = named if isinstance(named, str) and named else (
            f"material{index}" if index is not None else "default_material")
        pbr = material.get("pbrMetallicRoughness") or {}
        pwhere = where + ".pbrMetallicRoughness"
        factor = _numbers(pbr.get("baseColorFactor"), 4, (1, 1, 1, 1), pwhere + ".baseColorFactor")
        emission = _numbers(material.get("emissiveFactor"), 3, (0, 0, 0), where + ".emissiveFactor")
        strength = (material.get("extensions") or {}).get("KHR_materials_emissive_strength") or {}
        record = Material(
            name, where, base_color=(factor[0], factor[1], factor[2], factor[3]),
            base_texture=self._texture(pbr.get("baseColorTexture"), pwhere + ".baseColorTexture"),
            metallic=_number(pbr, "metallicFactor", 1.0, pwhere),
            roughness=_number(pbr, "roughnessFactor", 1.0, pwhere),
            metallic_roughness_texture=self._texture(pbr.get("metallicRoughnessTexture"),
                                                     pwhere + ".metallicRoughnessTexture"),
            normal_texture=self._texture(material.get("normalTexture"), where + ".normalTexture"),
            occlusion_texture=self._texture(material.get("occlusionTexture"), where + ".occlusionTexture"),
            emission=(emission[0], emission[1], emission[2]),
            emission_strength=_number(strength, "emissiveStrength", 1.0,
                                      where + ".extensions.KHR_materials_emissive_strength"),
            emissive_texture=self._texture(material.get("emissiveTexture"), where + ".emissiveTexture"),
            alpha_mode=str(material.get("alphaMode", "OPAQUE")),
            two_sided=material.get("doubleSided") is True)
        if record.normal_texture is not None:
            record.normal_scale = _number(material["normalTexture"], "scale", 1.0, where + ".normalTexture")
        if record.occlusion_texture is not None:
            record.occlusion_strength = _number(material["occlusionTexture"], "strength", 1.0,
                                                where + ".occlusionTexture")
        self.materials[index] = record
        return record

    def _texture(self, info: object, where: str) -> Texture | None:
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
        sampler_index = texture.get("sampler")
        if sampler_index is not None:
            sampler = self.doc.item("samplers", sampler_index, twhere + ".sampler")
            if sampler.get("wrapS", REPEAT) != REPEAT or sampler.get("wrapT", REPEAT) != REPEAT:
                self.note(f"samplers[{sampler_index}]", "wrap modes other than REPEAT are not supported; "
                                                        "textures repeat")
        uv_set = info.get("texCoord", 0)
        if not isinstance(uv_set, int) or isinstance(uv_set, bool) or uv_set < 0:
            raise GltfError(f"{where}.texCoord must be a whole number of 0 or more")
        transformed = "KHR_texture_transform" in (info.get("extensions") or {})
        return Texture(self._image(source, twhere + ".source"), where, uv_set, transformed)

    def _image(self, index: object, referrer: str) -> Image:
        if isinstance(index, int) and index in self.images:
            return self.images[index]
        image = self.doc.item("images", index, referrer)
        where = f"images[{index}]"
        uri = image.get("uri")
        if isinstance(uri, str) and uri and not uri.startswith("data:"):
            path = os.path.normpath(os.path.join(self.doc.base_dir, uri_to_path(uri)))
            record = Image(where, os.path.basename(path), path=path)
        else:
            data = self.doc.image_bytes(image, where)
            named = image.get("name")
            raw_name = named if isinstance(named, str) else ""
            base = builder.safe_file_name(raw_name) or f"image{index}"
            mime = image.get("mimeType", "")
            if not mime and isinstance(uri, str):
                mime = uri[5:].split(";")[0].split(",")[0]
            extension = IMAGE_EXTENSIONS.get(mime, "")
            if extension and not base.lower().endswith(extension):
                base += extension
            record = Image(where, base, data=data)
        self.images[index] = record
        return record

    # -- lights ------------------------------------------------------------------
    def _light(self, index: int) -> None:
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
        if kind not in ("point", "spot", "directional"):
            raise GltfError(f"{where}: unknown light type {kind!r}")
        named = light.get("name")
        name = named if isinstance(named, str) and named else f"light{light_index}"
        color = _numbers(light.get("color"), 3, (1, 1, 1), where + ".color")
        record = Light(name, where, kind, (color[0], color[1], color[2]), _number(light, "intensity", 1.0, where),
                       _number(light, "range", None, where))
        if kind == "spot":
            spot = light.get("spot") or {}
            outer = _number(spot, "outerConeAngle", math.pi / 4, where + ".spot")
            inner = _number(spot, "innerConeAngle", 0.0, where + ".spot")
            record.cone = outer
            record.blend = 1.0 - min(max(inner / outer, 0.0), 1.0) if outer > 0 else 0.0
        self.records[index].light = record


# ---------------------------------------------------------------------------
# Geometry helpers
# ---------------------------------------------------------------------------

def _triangle_list(raw: npt.NDArray[np.int64], mode: int) -> npt.NDArray[np.int64]:
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


def _face_normals(positions: npt.NDArray[Any], indices: npt.NDArray[np.uint32]) -> npt.NDArray[np.floating[Any]]:
    tri = positions.astype(np.float64)[indices.reshape(-1, 3)]
    normals = np.cross(tri[:, 1] - tri[:, 0], tri[:, 2] - tri[:, 0])
    return normals


def _repair_normals(normals: npt.NDArray[Any], positions: npt.NDArray[Any],
                    indices: npt.NDArray[np.uint32]) -> npt.NDArray[np.float32]:
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
    unit: npt.NDArray[np.float64] = normals / length[:, None]
    return unit.astype(np.float32)


def _set_number(name: str) -> int | None:
    """The set number of an attribute name such as "TEXCOORD_1", or None."""
    digits = name.rpartition("_")[2]
    return int(digits) if digits.isdigit() else None


# ---------------------------------------------------------------------------
# Entry point
# ---------------------------------------------------------------------------

def convert(source: str | os.PathLike[str], target: str | os.PathLike[str], version: int = 10,
            stderr: TextIO = sys.stderr, own_pools: bool = False,
            strict: bool = False, copy_textures: bool = False, rename: bool = True) -> int:
    """Converts source to target; returns the process exit status.

    0: the file (and the images its textures name) was written and nothing
    was lost; 2: something of the asset is not in the file (one line per
    loss on stderr, naming it by its glTF path) -- with strict nothing is
    written then; 1: nothing was written (the reason on stderr).  Images the
    asset holds are written beside target under the names the file refers
    to, never over a file this run did not write (another name is taken,
    or, without rename, nothing is written); external images are referred to
    where they are, or copied beside target with copy_textures.  With
    own_pools the module's thread pools are made for this conversion and
    destroyed after it (the command line does this); otherwise the save
    makes them on demand and a caller's pools are left alone.
    """
    progress = Progress(stderr)
    losses: list[str] = []
    try:
        doc = load(source)
        pytav = _import_pytav()
        if own_pools:
            pytav.init()
        built: builder.Built | None  # dropped in the finally clause
        try:
            scene = GltfReader(doc, progress).read()
            scene.sources = [os.fspath(source)] + _external_files(doc)
            built = builder.build(scene, os.fspath(target), builder.Options(version, "relative", copy_textures, rename))
            losses = built.losses
            for line in losses:
                print(f"tavtools convert: {line}", file=stderr)
            if strict and losses:
                count = len(losses)
                print(f"tavtools convert: {count} {'loss' if count == 1 else 'losses'}; nothing written (--strict)",
                      file=stderr)
                return 2
            progress(1, 1, "saving")
            builder.save(built)
        finally:
            built = None
            progress.finish()
            if own_pools:
                pytav.deinit()
    except (GltfError, builder.BuildError) as error:
        print(f"tavtools convert: {source}: {error}", file=stderr)
        return 1
    except builder.SaveError as error:
        print(f"tavtools convert: {error}", file=stderr)
        return 1
    except OSError as error:
        print(f"tavtools convert: cannot write {error.filename or target}: {error.strerror or error}", file=stderr)
        return 1
    except (TypeError, ValueError, AttributeError, KeyError, IndexError) as error:
        # Shapes this reader did not foresee: still one line, never a traceback.
        print(f"tavtools convert: {source}: unreadable glTF data ({type(error).__name__}: {error})", file=stderr)
        return 1
    return 2 if losses else 0


def _external_files(doc: Document) -> list[str]:
    """The files besides the asset that it reads: external buffers and images."""
    found: list[str] = []
    for kind in ("buffers", "images"):
        for item in doc.items(kind):
            uri = item.get("uri")
            if isinstance(uri, str) and uri and not uri.startswith("data:"):
                found.append(os.path.join(doc.base_dir, uri_to_path(uri)))
    return found


def _import_pytav() -> ModuleType:
    try:
        import pytav
    except ImportError as error:
        raise GltfError(f"the pytav module is not available ({error})") from None
    return pytav
