"""Shared helpers of the Python tests."""

from pbr_scenes import *
from pytav_files import *
from every_class_model import *

# glTF scenes
# Small glTF 2.0 assets: Asset collects JSON objects and one binary buffer and
# writes them as .gltf with an embedded or an external buffer, or as .glb.

import base64
import json
import struct

import numpy as np

FLOAT, UBYTE, USHORT, UINT = 5126, 5121, 5123, 5125
_TYPES = {1: "SCALAR", 2: "VEC2", 3: "VEC3", 4: "VEC4", 16: "MAT4"}


class Asset:
    def __init__(self):
        self.json = {"asset": {"version": "2.0", "generator": "tests"}}
        self.bin = bytearray()

    def add(self, kind: str, obj: dict) -> int:
        items = self.json.setdefault(kind, [])
        items.append(obj)
        return len(items) - 1

    def view(self, raw: bytes, stride: int = None) -> int:
        while len(self.bin) % 4:
            self.bin.append(0)
        view = {"buffer": 0, "byteOffset": len(self.bin), "byteLength": len(raw)}
        if stride:
            view["byteStride"] = stride
        self.bin += raw
        return self.add("bufferViews", view)

    def accessor(self, values, component=FLOAT, width=None, normalized=False, stride=None) -> int:
        dtype = {FLOAT: "<f4", UBYTE: "<u1", USHORT: "<u2", UINT: "<u4"}[component]
        array = np.asarray(values, dtype=dtype)
        width = width or (array.shape[1] if array.ndim == 2 else 1)
        array = array.reshape(-1, width)
        raw = array.tobytes()
        if stride:
            # Interleave with padding so the reader has to honour byteStride.
            row = array.itemsize * width
            raw = b"".join(array[i].tobytes() + b"\xee" * (stride - row) for i in range(len(array)))
        accessor = {"bufferView": self.view(raw, stride), "componentType": component,
                    "count": len(array), "type": _TYPES[width]}
        if normalized:
            accessor["normalized"] = True
        if component == FLOAT and width <= 4 and len(array):
            accessor["min"] = array.min(axis=0).tolist()
            accessor["max"] = array.max(axis=0).tolist()
        return self.add("accessors", accessor)

    def mesh(self, name: str, *primitives) -> int:
        return self.add("meshes", {"name": name, "primitives": list(primitives)})

    def node(self, name: str, children=(), **fields) -> int:
        node = {"name": name, **fields}
        if children:
            node["children"] = list(children)
        return self.add("nodes", node)

    def texture(self, uri: str) -> int:
        image = self.add("images", {"uri": uri})
        return self.add("textures", {"source": image})

    def scene(self, *roots) -> None:
        self.json["scenes"] = [{"nodes": list(roots)}]
        self.json["scene"] = 0

    def write(self, path, how: str = "embedded"):
        data = dict(self.json)
        if how == "glb":
            data["buffers"] = [{"byteLength": len(self.bin)}]
            text = json.dumps(data).encode()
            text += b" " * (-len(text) % 4)
            binary = bytes(self.bin) + b"\0" * (-len(self.bin) % 4)
            body = (struct.pack("<II", len(text), 0x4E4F534A) + text
                    + struct.pack("<II", len(binary), 0x004E4942) + binary)
            path.write_bytes(b"glTF" + struct.pack("<II", 2, 12 + len(body)) + body)
            return path
        if how == "external":
            bin_path = path.with_suffix(".bin")
            bin_path.write_bytes(bytes(self.bin))
            data["buffers"] = [{"byteLength": len(self.bin), "uri": bin_path.name}]
        else:
            encoded = base64.b64encode(bytes(self.bin)).decode()
            data["buffers"] = [{"byteLength": len(self.bin),
                                "uri": "data:application/octet-stream;base64," + encoded}]
        path.write_text(json.dumps(data))
        return path


def quad(asset: Asset, offset=(0.0, 0.0, 0.0), size=1.0, normals=True, uvs=True, indexed=True, **extra) -> dict:
    """A primitive: a square of distinct corners in the z = offset plane."""
    x, y, z = offset
    corners = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=np.float32) * size + (x, y, z)
    order = [0, 1, 2, 0, 2, 3]
    if not indexed:
        corners = corners[order]
    attributes = {"POSITION": asset.accessor(corners)}
    if normals:
        attributes["NORMAL"] = asset.accessor(np.tile([0, 0, 1], (len(corners), 1)))
    if uvs:
        attributes["TEXCOORD_0"] = asset.accessor(corners[:, :2] * 0.5 + 0.25)
    primitive = {"attributes": attributes, **extra}
    if indexed:
        primitive["indices"] = asset.accessor(order, USHORT)
    return primitive


def textured_material(asset: Asset, name: str, albedo: str, normal: str = None, orm: str = None,
                      emissive: str = None, **extra) -> int:
    pbr = {"baseColorTexture": {"index": asset.texture(albedo)}}
    material = {"name": name, "pbrMetallicRoughness": pbr, **extra}
    if normal:
        material["normalTexture"] = {"index": asset.texture(normal)}
    if orm:
        pbr["metallicRoughnessTexture"] = {"index": asset.texture(orm)}
    if emissive:
        material["emissiveTexture"] = {"index": asset.texture(emissive)}
        material["emissiveFactor"] = [1.0, 0.5, 0.25]
    return asset.add("materials", material)


def animation(asset: Asset, node: int, path: str, times, values, interpolation="LINEAR") -> int:
    sampler = {"input": asset.accessor(times), "output": asset.accessor(values), "interpolation": interpolation}
    return asset.add("animations", {"samplers": [sampler],
                                    "channels": [{"sampler": 0, "target": {"node": node, "path": path}}]})


def skinned_asset():
    """A unit quad bound to two joints: its y = 1 edge to "tip" (bind pose one
    unit up), the rest to "base"; the skinned node's own transform is a decoy."""
    a = Asset()
    corners = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]
    primitive = {"attributes": {
        "POSITION": a.accessor(corners), "NORMAL": a.accessor([[0, 0, 1]] * 4),
        "JOINTS_0": a.accessor([[0, 0, 0, 0], [0, 0, 0, 0], [1, 0, 0, 0], [1, 0, 0, 0]], UBYTE, 4),
        "WEIGHTS_0": a.accessor([[1, 0, 0, 0]] * 4, width=4)}, "indices": a.accessor([0, 1, 2, 0, 2, 3], USHORT)}
    tip = a.node("tip", translation=[0, 1, 0])
    base = a.node("base", [tip])
    binds = [np.eye(4).reshape(-1), np.array(np.linalg.inv(np.array(
        [[1, 0, 0, 0], [0, 1, 0, 1], [0, 0, 1, 0], [0, 0, 0, 1]])).T).reshape(-1)]
    skin = a.add("skins", {"joints": [base, tip], "inverseBindMatrices": a.accessor(binds, width=16)})
    body = a.node("body", mesh=a.mesh("skin", primitive), skin=skin, translation=[9, 9, 9])
    a.scene(a.node("rig", [base, body]))
    return a, base, tip
