# What the Python tests share: saving a model and reading it back with
# tavtools, complete material blocks and PBR nodes on one quad, and a model that
# touches every class (built in-process and in subprocesses).

import base64
import functools
import json
import os
import re
import struct

import numpy as np

import pytav
import tavtools

# The empty box of a model, as the doubles the file stores.
FLT_MAX = 3.4028234663852886e38
EMPTY_BOX = {"min": [FLT_MAX] * 3, "max": [-FLT_MAX] * 3}


LOG_LINE = re.compile(r"^\S+ \S+ (\S+) +PYTAV \([^)]+\): (.*)$")


def pytav_warnings(capfd) -> list:
    """The texts of the warnings the module logged since the last read of capfd."""
    lines = [LOG_LINE.match(line) for line in capfd.readouterr().err.splitlines()]
    return [m.group(2) for m in lines if m and m.group(1) == "WARNING"]


def preload_with(shim):
    # The shim goes after whatever is preloaded already: a sanitizer runtime
    # must stay first in the list or it refuses to start.
    return " ".join(p for p in (os.environ.get("LD_PRELOAD", ""), str(shim)) if p)


def u32(*values) -> bytes:
    return struct.pack(f"<{len(values)}I", *values)


def save_and_read(model, path, version=10) -> dict:
    message = model.save(str(path), version)
    assert message == "", message
    return tavtools.read(path)


def node_named(data: dict, name: str) -> dict:
    matches = [node for node in data["nodes"] if node["name"] == name]
    assert len(matches) == 1, [node["name"] for node in data["nodes"]]
    return matches[0]


def keep(model, node):
    # Hangs a light off node so that the save's graph passes keep node as
    # built (a plain group node, an identity transform or a node without keys
    # is still folded away). Returns node, so calls chain like addChild.
    light = pytav.OmniLight("on_" + node.getName())
    light.setControlNode(node)
    model.addOmniLight(light)
    return node


# A quad of two triangles in z = 0 with distinct corners, so that welding and
# the degenerate-triangle pass keep every vertex.
POSITIONS = np.array([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0], dtype=np.float32)
NORMALS = np.array([0, 0, 1] * 4, dtype=np.float32)
INDICES = np.array([0, 1, 2, 0, 2, 3], dtype=np.uint32)


def uv(offset: float) -> np.ndarray:
    # Coordinates of the quad, distinct per offset (the save merges equal lists).
    return np.array([0, 0, 1, 0, 1, 1, 0, 1], dtype=np.float32) * 0.5 + np.float32(offset)


def _set(node, *calls):
    # Calls each setter with its value; None leaves a setter uncalled.
    for setter, value in calls:
        if value is not None:
            getattr(node, setter)(value)
    return node


def base_block(albedo="albedo.dds", offset=0.0) -> pytav.BaseBlock:
    return _set(pytav.BaseBlock(), ("setPositions", POSITIONS + np.float32(offset)), ("setNormals", NORMALS),
                ("setAlbedoMapUV", uv(offset)), ("setAlbedoMap", albedo))


def color_base_block(color=(0.25, 0.5, 0.75), offset=0.0) -> pytav.ColorBaseBlock:
    return _set(pytav.ColorBaseBlock(), ("setPositions", POSITIONS + np.float32(offset)), ("setNormals", NORMALS),
                ("setColor", pytav.PropertyFloat3(color)))


def textured(block_class, prefix: str, file: str, offset: float):
    return _set(block_class(), (f"set{prefix}Map", file), (f"set{prefix}MapUV", uv(offset)))


normal_block = functools.partial(textured, pytav.NormalBlock, "Normal", "normal.dds", offset=0.1)
ao_block = functools.partial(textured, pytav.AoBlock, "Ao", "ao.dds", offset=0.2)
decal_block = functools.partial(textured, pytav.DecalBlock, "Decal", "decal.dds", offset=0.3)
aorms_block = functools.partial(textured, pytav.AormsBlock, "Aorms", "aorms.dds", offset=0.4)


def damage_block(argument=7):
    return _set(pytav.DamageBlock(), ("setAlbedoMapUV", uv(0.5)), ("setNormalMapUV", uv(0.6)),
                ("setAlbedoMap", "damage.dds"), ("setNormalMap", "damage_normal.dds"), ("setMask", "mask.dds"),
                ("setMaskRGBA", "mask_rgba.dds"), ("setArgument", argument))


def pbr_node(*blocks, name="mesh", material="mat", indices=INDICES) -> pytav.PBRNode:
    return _set(pytav.PBRNode(name, material), ("setIndices", indices), *[("addBlock", block) for block in blocks])


def _node_of(blocks_or_node, **options):
    # The one node given, or a PBR node of the blocks.
    if len(blocks_or_node) == 1 and not isinstance(blocks_or_node[0], pytav.IBlock):
        return blocks_or_node[0]
    return pbr_node(*blocks_or_node, **options)


def saved_single(tmp_path, *blocks_or_node, bbox=None, children=()) -> tuple:
    # (render record, its material) of one node, or of a PBR node of the blocks, saved under one transform
    # (children such as bones below it too).
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    for child in children:
        holder.addChild(child)
    _set(model, ("setBBox", bbox))
    message = model.addRenderNode(_set(_node_of(blocks_or_node), ("setControlNode", holder)))
    assert message == "", message
    data = save_and_read(model, tmp_path / "pbr.tav")
    (record,) = data["sections"]["RENDER_NODES"]
    return record, data["materials"][record["material"]]


def rows(record: dict) -> list:
    size = record["floats_per_vertex"]
    return [record["vertices"][i:i + size] for i in range(0, len(record["vertices"]), size)]


def float_bits(value: float) -> int:
    return struct.unpack("<I", struct.pack("<f", value))[0]


def textures(material: dict) -> dict:
    return {t["slot"]: t["file"] for t in material["textures"]}


def build_message(*blocks, indices=INDICES, material="mat", control=True) -> str:
    # What Model.addRenderNode returns for a node, or a PBR node of the blocks.
    model = pytav.Model()
    node = _node_of(blocks, material=material, indices=indices)
    return model.addRenderNode(_set(node, ("setControlNode", model.getRootTransform() if control else None)))


# The special render nodes on the quad.
TILED = [0, 0, 1, 0, 1, 1, 0, 1]
REGULAR = [0.5, 0.5, 0.75, 0.5, 0.75, 0.75, 0.5, 0.75]
DECK_MAPS = ["setBaseTiledMap", "setNormalTiledMap", "setAormsTiledMap", "setBaseMap", "setAormsMap"]
# The deck's optional maps, each set to a file named after it.
DECK_DAMAGE_MAPS = [(setter, setter[3:] + ".dds") for setter in ("setDamageMap", "setDamageMask", "setDamageMaskRGBA",
                                                                 "setRainMask")]


def _f32(values):
    return None if values is None else np.array(values, dtype=np.float32)


def color_node(positions=POSITIONS, normals=NORMALS, indices=INDICES, name="paint", material="paint_mat"):
    return _set(pytav.ColorNode(name, material), ("setPositions", _f32(positions)), ("setNormals", _f32(normals)),
                ("setIndices", None if indices is None else np.array(indices, dtype=np.uint32)))


def mirror_node(positions=POSITIONS, normals=NORMALS, uv=TILED, indices=(0, 1, 2, 0, 2, 3), texture="mirror.dds",
                name="mirror"):
    return _set(pytav.MirrorNode(name, "mirror_mat"), ("setPositions", _f32(positions)),
                ("setNormals", _f32(normals)), ("setTextureCoordinates", _f32(uv)), ("setIndices", indices),
                ("setTexture", texture))


def deck_node(positions=POSITIONS, normals=NORMALS, tiled=TILED, regular=REGULAR, indices=INDICES, skip=(),
              name="deck"):
    listed = lambda values: None if values is None else list(np.asarray(values).tolist())
    node = _set(pytav.DeckNode(name, "deck_mat"), ("setPositions", listed(positions)),
                ("setNormals", listed(normals)), ("setTiledUV", listed(tiled)), ("setRegularUV", listed(regular)),
                ("setIndices", listed(indices)))
    return _set(node, *[(setter, setter[3:] + ".dds") for setter in DECK_MAPS if setter not in skip])


# --- a model of every class --------------------------------------------------

def moved(x):
    return [(1, 0, 0, x), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]


def _added(model, parent, node, add=None):
    node.setControlNode(parent)
    return (add or model.addRenderNode)(node)


def build(model=None, lod=True):
    """Fills a model with every class; returns it and the addRenderNode
    messages in call order. lod=False leaves out the Lod node, which the
    format 2.0 writer refuses."""
    model = model or pytav.Model()
    root = model.getRootTransform()
    model.setBBox((-20, -20, -20, 20, 20, 20))
    model.setUserBox((-1, -1, -1, 1, 1, 1))
    model.setLightBox((0, 0, 0, -1, -1, -1))
    body = root.addChild(pytav.Transform("body", moved(1.5)))
    lod = body.addChild(pytav.Node("group")).addChild(pytav.Lod("lod", [10.0, 50.0]) if lod else
                                                      pytav.Transform("no_lod"))
    near = _set(lod.addChild(pytav.Transform("near")), ("setMatrix", moved(2.0)))
    far = lod.addChild(pytav.Transform("far", moved(3.0)))
    visibility = _set(body.addChild(pytav.VisibilityNode("hatch")),
                      ("setArguments", [(4, [(-1.0, 0.0), (0.0, 1.0), (0.5, 0.0)])]))
    animation = _set(body.addChild(pytav.AnimationNode("rotor")), ("setBaseMatrix", moved(0.5)),
                     ("setPositionAnimation", [(1, [(0.0, (0, 0, 0)), (0.5, (1, 2, 3)), (1.0, (2, 2, 2))])]),
                     ("setRotationAnimation", [(2, [(0.0, (1, 0, 0, 0)), (1.0, (0.7071, 0, 0.7071, 0))])]),
                     ("setScaleAnimation", [(3, [(0.0, (1, 1, 1)), (1.0, (2, 2, 2))])]))
    bone = _set(body.addChild(pytav.Bone("bone", moved(0.25))), ("setInvertedBaseBoneMatrix", moved(-0.75)))
    number = _set(body.addChild(pytav.NumberRoot("counter")), ("setControls", [(10, 0.1, -1, 0.0)]))

    base = _set(base_block(), ("setAlbedoMapUVShift", pytav.PropertyFloat2(7, [(0.0, (0, 0)), (1.0, (0.5, 0.25))])))
    ao = _set(ao_block(), ("setAoShift", pytav.PropertyFloat2((0.1, 0.2))))
    flir = _set(pytav.FlirBlock(), ("setFlirMap", "flir.dds"))
    emissive = _set(textured(pytav.EmissiveBlock, "Emissive", "glow.dds", 0.7), ("setEmissiveType", 4),
                    ("setAmount", pytav.PropertyFloat(5, [(0.0, 0.0), (0.5, 2.0), (1.0, 1.0)])))
    hull = _set(pbr_node(base, normal_block(), ao, decal_block(), aorms_block(), flir, damage_block(9), emissive,
                         name="hull", material="hull_mat"),
                ("setShadowCaster", 2), ("setTransparentMode", 1), ("setDecalId", 3), ("setTwoSided", True))
    skin = _set(pytav.BoneBlock(), ("setBoneWeights", np.full(16, 0.25, dtype=np.float32)),
                ("setBoneIndices", np.array([0, 1, 0, 1] * 4, dtype=np.uint32)), ("setBones", [bone]))
    paint = _set(color_base_block(offset=4), ("setColor", pytav.PropertyFloat3(6, [(0, (0, 0, 0)), (1, (1, 1, 1))])))
    glow = _set(pytav.EmissiveColorBlock(), ("setColor", pytav.PropertyFloat3((0, 1, 0))),
                ("setAmount", pytav.PropertyFloat(2.0)))
    glass = _set(pytav.GlassBlock(), ("setColorMap", "glass.dds"), ("setInstrumental", True))
    color = color_node(POSITIONS + np.float32(10), name="color", material="color_mat")
    color.setColor(0.5, 0.25, 0.125)
    deck = _set(deck_node(POSITIONS + np.float32(14)), ("setArgument", 11), *DECK_DAMAGE_MAPS)
    placed = [(near, hull), (body, pbr_node(base_block(offset=0.9), skin, name="skin", material="skin_mat")),
              (animation, pbr_node(paint, glow, name="paint", material="paint_mat"))] + [
        (number, pbr_node(base_block(offset=2.0 * i + 6), name=f"digit{i}", material=f"digit{i}_mat"))
        for i in range(2)] + [(body, pbr_node(base_block(offset=8), glass, name="glass", material="glass_mat")),
                              (visibility, color), (far, mirror_node(POSITIONS + np.float32(12))), (body, deck)]
    messages = [_added(model, parent, node) for parent, node in placed]

    # One fake omni and one two-sided fake spot light with distinct values.
    omni_light = _set(pytav.FakeOmniLight(), ("setPos", (1, 2, 3)), ("setSize", 0.25))
    spot_light = _set(pytav.FakeSpotLight(), ("setPos", (-1, -2, -3)), ("setBackSide", True), ("setSize", 0.5))
    omni_light.setUV((0, 0), (0.5, 0.5))
    spot_light.setUV((0.5, 0), (1, 0.5))
    spot_light.setBackUV((0, 0.5), (0.5, 1))
    for cls, light in ((pytav.FakeOmniLights, omni_light), (pytav.AnimatedFakeOmniLight, omni_light),
                       (pytav.FakeSpotLights, spot_light), (pytav.AnimatedFakeSpotLight, spot_light)):
        light_set = _set(cls(cls.__name__.lower()), ("set", [light, light]), ("setTexture", "sprite.dds"),
                         ("setLuminance", pytav.PropertyFloat(0.75)))
        if isinstance(light_set, pytav.FakeSpotLights):
            light_set.setDirection((0, 0, -1))
        if hasattr(light_set, "setAnimationArg"):
            light_set.setAnimationArg(12)
            light_set.setLightsAnimation([(0, [(0, 0), (1, 1)]), (1, [(0, 0.5)])])
        messages.append(_added(model, body, light_set))

    shell = _set(pytav.ShellNode("shell"), ("setPositions", [0, 0, 0, 1, 0, 0, 0, 1, 0]), ("setIndices", [0, 1, 2]))
    segments = _set(pytav.SegmentsNode("segments"), ("set", [((0, 0, 0), (1, 2, 3)), ((1, 1, 1), (2, 2, 2))]))
    connector = pytav.Connector("connector")
    connector.setPropertyFloat("length", 2.5)
    connector.setPropertyString("type", "hook")
    lamp = _set(pytav.OmniLight("lamp"), ("setBrightness", pytav.PropertyFloat(13, [(0.0, 1.0), (1.0, 3.0)])))
    beam = pytav.SpotLight("beam")
    beam.setAngles(pytav.PropertyFloat(40), pytav.PropertyFloat(14, [(-1.0, 0.0), (1.0, 0.5)]))
    for parent, item, add in ((body, shell, model.addShellNode), (body, segments, model.addSegmentsNode),
                              (body, connector, model.addConnector), (body, lamp, model.addOmniLight),
                              (animation, beam, model.addSpotLight)):
        _added(model, parent, item, add)
    return model, messages


EXPECTED_MESSAGES = [""] * 5 + ["Material glass_mat doesn't support block BT_Glass."] + [""] * 7


# glTF scenes
# Small glTF 2.0 assets: Asset collects JSON objects and one binary buffer and
# writes them as .gltf with an embedded or an external buffer, or as .glb.


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
