"""Writes examples/sample.gltf: a small glTF 2.0 asset (buffer embedded) for
the converter demo.

It holds a node hierarchy with translation/rotation/scale and matrix nodes,
two materials with texture file names (one also with normal, metallic-
roughness and emissive maps), a skinned two-joint arm, an animation turning
the turret and bending the arm, and a point and a spot light
(KHR_lights_punctual).  The scene is +Y up, as glTF assets are.  The
textures it names are written beside it as small solid-colour PNG files.

Usage: python examples/make_sample_gltf.py [path]
"""

import base64
import json
import math
import os
import struct
import sys
import zlib

import numpy as np

FLOAT, USHORT, UBYTE = 5126, 5123, 5121
TYPES = {1: "SCALAR", 2: "VEC2", 3: "VEC3", 4: "VEC4", 16: "MAT4"}


COLOURS = [(150, 160, 170), (255, 128, 0), (128, 128, 255), (255, 220, 120), (90, 140, 200)]


def solid_png(rgb, size=4) -> bytes:
    """An 8-bit RGB PNG of one colour."""
    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))
    rows = (b"\0" + bytes(rgb) * size) * size
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


class Writer:
    def __init__(self):
        self.gltf = {"asset": {"version": "2.0", "generator": "pytav examples/make_sample_gltf.py"}}
        self.data = bytearray()

    def add(self, kind: str, item: dict) -> int:
        self.gltf.setdefault(kind, []).append(item)
        return len(self.gltf[kind]) - 1

    def accessor(self, values, component=FLOAT, width=None) -> int:
        array = np.asarray(values, dtype={FLOAT: "<f4", USHORT: "<u2", UBYTE: "<u1"}[component])
        width = width or (array.shape[-1] if array.ndim > 1 else 1)
        array = array.reshape(-1, width)
        self.data += b"\0" * (-len(self.data) % 4)
        view = self.add("bufferViews", {"buffer": 0, "byteOffset": len(self.data), "byteLength": array.nbytes})
        self.data += array.tobytes()
        accessor = {"bufferView": view, "componentType": component, "count": len(array), "type": TYPES[width]}
        if component == FLOAT and width <= 4:
            accessor["min"] = [float(v) for v in array.min(axis=0)]
            accessor["max"] = [float(v) for v in array.max(axis=0)]
        return self.add("accessors", accessor)

    def texture(self, uri: str) -> dict:
        return {"index": self.add("textures", {"source": self.add("images", {"uri": uri})})}

    def save(self, path: str) -> None:
        for k, image in enumerate(self.gltf.get("images", [])):
            with open(os.path.join(os.path.dirname(os.path.abspath(path)), image["uri"]), "wb") as handle:
                handle.write(solid_png(COLOURS[k % len(COLOURS)]))
        encoded = base64.b64encode(bytes(self.data)).decode("ascii")
        self.gltf["buffers"] = [{"byteLength": len(self.data),
                                 "uri": "data:application/octet-stream;base64," + encoded}]
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(self.gltf, handle, indent=1)
            handle.write("\n")


def box(low, high, segments=1):
    """Positions, normals, UVs and indices of an axis-aligned box; the y extent
    is cut into `segments` rings so that a skin can bend it."""
    low = np.asarray(low, dtype=np.float64)
    high = np.asarray(high, dtype=np.float64)
    positions, normals, uvs, indices = [], [], [], []
    for axis in range(3):
        for sign in (-1.0, 1.0):
            u_axis, v_axis = [a for a in range(3) if a != axis]
            steps_u = segments if u_axis == 1 else 1
            steps_v = segments if v_axis == 1 else 1
            start = len(positions)
            for j in range(steps_v + 1):
                for i in range(steps_u + 1):
                    p = np.where(sign > 0, high, low).astype(np.float64)
                    p[u_axis] = low[u_axis] + (high[u_axis] - low[u_axis]) * i / steps_u
                    p[v_axis] = low[v_axis] + (high[v_axis] - low[v_axis]) * j / steps_v
                    n = np.zeros(3)
                    n[axis] = sign
                    positions.append(p)
                    normals.append(n)
                    uvs.append((i / steps_u, j / steps_v))
            for j in range(steps_v):
                for i in range(steps_u):
                    a = start + j * (steps_u + 1) + i
                    b, c, d = a + 1, a + steps_u + 2, a + steps_u + 1
                    # Keep the winding counter-clockwise seen from outside.
                    outward = np.cross(positions[b] - positions[a], positions[d] - positions[a]) @ normals[a] > 0
                    indices += [a, b, c, a, c, d] if outward else [a, c, b, a, d, c]
    return (np.array(positions), np.array(normals), np.array(uvs), np.array(indices))


def quat_about(axis, degrees):
    half = math.radians(degrees) / 2
    x, y, z = np.asarray(axis, dtype=np.float64) / np.linalg.norm(axis)
    return [x * math.sin(half), y * math.sin(half), z * math.sin(half), math.cos(half)]


def mesh(w: Writer, name: str, geometry, material: int, skin_weights=None) -> int:
    positions, normals, uvs, indices = geometry
    attributes = {"POSITION": w.accessor(positions), "NORMAL": w.accessor(normals),
                  "TEXCOORD_0": w.accessor(uvs)}
    if skin_weights is not None:
        joints, weights = skin_weights
        attributes["JOINTS_0"] = w.accessor(joints, UBYTE, 4)
        attributes["WEIGHTS_0"] = w.accessor(weights, FLOAT, 4)
    primitive = {"attributes": attributes, "indices": w.accessor(indices, USHORT), "material": material}
    return w.add("meshes", {"name": name, "primitives": [primitive]})


def build() -> Writer:
    w = Writer()
    hull = w.add("materials", {
        "name": "hull_paint",
        "pbrMetallicRoughness": {"baseColorTexture": w.texture("hull_albedo.png"),
                                 "metallicRoughnessTexture": w.texture("hull_orm.png")},
        "normalTexture": w.texture("hull_normal.png"),
        "emissiveTexture": w.texture("hull_glow.png"),
        "emissiveFactor": [1.0, 0.6, 0.2],
    })
    glass = w.add("materials", {
        "name": "canopy",
        "pbrMetallicRoughness": {"baseColorTexture": w.texture("canopy_albedo.png")},
        "alphaMode": "BLEND",
        "doubleSided": True,
    })

    body_mesh = mesh(w, "body", box((-1.5, 0.0, -1.0), (1.5, 0.8, 1.0)), hull)
    turret_mesh = mesh(w, "turret", box((-0.6, 0.0, -0.6), (0.6, 0.5, 0.6)), glass)

    # The arm is a bar along +Y, modelled where it stands at bind time and
    # bound to two joints: the lower half follows the shoulder, the upper half
    # the elbow, blended in between.  The shoulder sits at (0, 0.8, 0.9) in the
    # scene, the elbow 0.8 above it.
    arm = box((-0.15, 0.8, 0.75), (0.15, 2.4, 1.05), segments=4)
    elbow_weight = np.clip((arm[0][:, 1] - 1.4) / 0.4, 0.0, 1.0)
    joints = np.tile([0, 1, 0, 0], (len(arm[0]), 1))
    weights = np.stack([1 - elbow_weight, elbow_weight, np.zeros_like(elbow_weight),
                        np.zeros_like(elbow_weight)], axis=1)
    arm_mesh = mesh(w, "arm", arm, hull, (joints, weights))

    elbow = w.add("nodes", {"name": "elbow", "translation": [0.0, 0.8, 0.0]})
    shoulder = w.add("nodes", {"name": "shoulder", "translation": [0.0, 0.5, 0.9], "children": [elbow]})
    inverse_binds = [np.linalg.inv(m).T.reshape(-1) for m in (
        np.array([[1, 0, 0, 0], [0, 1, 0, 0.8], [0, 0, 1, 0.9], [0, 0, 0, 1]], dtype=np.float64),
        np.array([[1, 0, 0, 0], [0, 1, 0, 1.6], [0, 0, 1, 0.9], [0, 0, 0, 1]], dtype=np.float64),
    )]
    skin = w.add("skins", {"joints": [shoulder, elbow], "inverseBindMatrices": w.accessor(inverse_binds, width=16)})
    # glTF places skinned vertices by their joints; the skinned node's own transform is ignored.
    arm_node = w.add("nodes", {"name": "arm", "mesh": arm_mesh, "skin": skin,
                               "translation": [0.0, 5.0, 0.0]})

    w.gltf["extensionsUsed"] = ["KHR_lights_punctual"]
    w.gltf["extensions"] = {"KHR_lights_punctual": {"lights": [
        {"name": "beacon", "type": "point", "color": [1.0, 0.2, 0.1], "intensity": 4.0, "range": 12.0},
        {"name": "searchlight", "type": "spot", "color": [1.0, 0.95, 0.8], "intensity": 20.0, "range": 40.0,
         "spot": {"innerConeAngle": 0.2, "outerConeAngle": 0.5}},
    ]}}
    beacon = w.add("nodes", {"name": "beacon", "translation": [0.0, 0.7, 0.0],
                             "extensions": {"KHR_lights_punctual": {"light": 0}}})
    # A matrix node: the searchlight looks forward and 20 degrees down.
    tilt = math.radians(-20)
    look = np.array([[1, 0, 0, 0], [0, math.cos(tilt), -math.sin(tilt), 0.4],
                     [0, math.sin(tilt), math.cos(tilt), 0.6], [0, 0, 0, 1]])
    searchlight = w.add("nodes", {"name": "searchlight", "matrix": [float(v) for v in look.T.reshape(-1)],
                                  "extensions": {"KHR_lights_punctual": {"light": 1}}})
    turret = w.add("nodes", {"name": "turret", "mesh": turret_mesh, "translation": [0.0, 0.8, -0.2],
                             "rotation": quat_about((0, 1, 0), 30), "scale": [1.0, 1.0, 1.2],
                             "children": [beacon, searchlight]})
    body = w.add("nodes", {"name": "body", "mesh": body_mesh, "translation": [0.0, 0.3, 0.0],
                           "children": [turret, shoulder]})
    vehicle = w.add("nodes", {"name": "vehicle", "children": [body, arm_node]})
    w.gltf["scenes"] = [{"name": "sample", "nodes": [vehicle]}]
    w.gltf["scene"] = 0

    # One animation: the turret turns a full circle while the arm bends and straightens.
    times = np.linspace(0.0, 4.0, 9)
    turret_keys = [quat_about((0, 1, 0), 30 + 45 * k) for k in range(9)]
    bend_keys = [quat_about((1, 0, 0), 60 * math.sin(math.pi * k / 8)) for k in range(9)]
    w.add("animations", {"name": "patrol", "samplers": [
        {"input": w.accessor(times), "output": w.accessor(turret_keys)},
        {"input": w.accessor(times), "output": w.accessor(bend_keys)},
    ], "channels": [
        {"sampler": 0, "target": {"node": turret, "path": "rotation"}},
        {"sampler": 1, "target": {"node": elbow, "path": "rotation"}},
    ]})
    return w


def main(argv: list) -> int:
    path = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.gltf")
    build().save(path)
    print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
