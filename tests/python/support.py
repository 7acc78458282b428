# Shared helpers of the Python tests.

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

    def view(self, raw: bytes) -> int:
        self.bin += b"\0" * (-len(self.bin) % 4)
        self.bin += raw
        return self.add("bufferViews", {"buffer": 0, "byteOffset": len(self.bin) - len(raw), "byteLength": len(raw)})

    def accessor(self, values, component=FLOAT, width=None) -> int:
        array = np.asarray(values, dtype={FLOAT: "<f4", UBYTE: "<u1", USHORT: "<u2", UINT: "<u4"}[component])
        array = array.reshape(-1, width or (array.shape[1] if array.ndim == 2 else 1))
        return self.add("accessors", {"bufferView": self.view(array.tobytes()), "componentType": component,
                                      "count": len(array), "type": _TYPES[array.shape[1]]})

    def mesh(self, name: str, *primitives) -> int:
        return self.add("meshes", {"name": name, "primitives": list(primitives)})

    def node(self, name: str, children=(), **fields) -> int:
        return self.add("nodes", {"name": name, **fields, **({"children": list(children)} if children else {})})

    def texture(self, uri: str) -> int:
        return self.add("textures", {"source": self.add("images", {"uri": uri})})

    def scene(self, *roots) -> None:
        self.json.update(scenes=[{"nodes": list(roots)}], scene=0)

    def write(self, path, how: str = "embedded"):
        data, raw = dict(self.json), bytes(self.bin)
        if how == "glb":
            data["buffers"] = [{"byteLength": len(raw)}]
            text = json.dumps(data).encode()
            text += b" " * (-len(text) % 4)
            raw += b"\0" * (-len(raw) % 4)
            body = struct.pack("<II", len(text), 0x4E4F534A) + text + struct.pack("<II", len(raw), 0x004E4942) + raw
            path.write_bytes(b"glTF" + struct.pack("<II", 2, 12 + len(body)) + body)
            return path
        uri = "data:application/octet-stream;base64," + base64.b64encode(raw).decode()
        if how == "external":
            path.with_suffix(".bin").write_bytes(raw)
            uri = path.with_suffix(".bin").name
        data["buffers"] = [{"byteLength": len(raw), "uri": uri}]
        path.write_text(json.dumps(data))
        return path


def quad(asset: Asset, offset=(0.0, 0.0, 0.0), **extra) -> dict:
    # A unit square with normals and texture coordinates in the z = offset plane.
    corners = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=np.float32) + offset
    attributes = {"POSITION": asset.accessor(corners), "NORMAL": asset.accessor([[0, 0, 1]] * 4),
                  "TEXCOORD_0": asset.accessor(corners[:, :2] * 0.5 + 0.25)}
    return {"attributes": attributes, "indices": asset.accessor([0, 1, 2, 0, 2, 3], USHORT), **extra}


def textured_material(asset: Asset, name: str, albedo: str, normal: str = None, orm: str = None,
                      emissive: str = None, **extra) -> int:
    pbr = {"baseColorTexture": {"index": asset.texture(albedo)}}
    material = {"name": name, "pbrMetallicRoughness": pbr, **extra}
    if normal:
        material["normalTexture"] = {"index": asset.texture(normal)}
    if orm:
        pbr["metallicRoughnessTexture"] = {"index": asset.texture(orm)}
    if emissive:
        material.update(emissiveTexture={"index": asset.texture(emissive)}, emissiveFactor=[1.0, 0.5, 0.25])
    return asset.add("materials", material)


def animation(asset: Asset, node: int, path: str, times, values, interpolation="LINEAR") -> int:
    sampler = {"input": asset.accessor(times), "output": asset.accessor(values), "interpolation": interpolation}
    return asset.add("animations", {"samplers": [sampler],
                                    "channels": [{"sampler": 0, "target": {"node": node, "path": path}}]})


def skinned_asset():
    # A unit quad bound to two joints: its y = 1 edge to "tip" (bind pose one
    # unit up), the rest to "base"; the skinned node's own transform is a decoy.
    a = Asset()
    primitive = quad(a)
    primitive["attributes"].update(
        JOINTS_0=a.accessor([[0, 0, 0, 0], [0, 0, 0, 0], [1, 0, 0, 0], [1, 0, 0, 0]], UBYTE, 4),
        WEIGHTS_0=a.accessor([[1, 0, 0, 0]] * 4, width=4))
    del primitive["attributes"]["TEXCOORD_0"]
    tip = a.node("tip", translation=[0, 1, 0])
    base = a.node("base", [tip])
    up = np.eye(4)
    up[1, 3] = 1
    binds = a.accessor([np.eye(4).reshape(-1), np.linalg.inv(up).T.reshape(-1)], width=16)
    skin = a.add("skins", {"joints": [base, tip], "inverseBindMatrices": binds})
    body = a.node("body", mesh=a.mesh("skin", primitive), skin=skin, translation=[9, 9, 9])
    a.scene(a.node("rig", [base, body]))
    return a, base, tip
