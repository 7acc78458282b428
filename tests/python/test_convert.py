# glTF assets written by the tests, converted in-process and decoded again.

import functools
import io
import math
import struct

import numpy as np
import pytest

import tavtools
from support import UBYTE, USHORT, Asset, animation, float_bits, quad, rows, skinned_asset, textured_material
from tavtools.convert import convert
from tavtools.preview import scene_triangles


def run(tmp_path, asset, how="embedded", version=10, missing=False, **options):
    # (exit code, loss lines, decoded file or None); the file must exist exactly when the code is 0, or 2
    # without strict.  External images are files beside the asset unless missing.
    source = asset.write(tmp_path / ("in.glb" if how == "glb" else "in.gltf"), how)
    for image in getattr(asset, "json", {}).get("images", []) if not missing else []:
        if "uri" in image and not image["uri"].startswith("data:"):
            (tmp_path / image["uri"]).write_bytes(image["uri"].encode())
    target = tmp_path / "out.tav"
    err = io.StringIO()
    code = convert(source, target, version, stderr=err, **options)
    lines = err.getvalue().splitlines()
    assert target.exists() == (code == 0 or code == 2 and not options.get("strict"))
    return code, lines, tavtools.read(target) if target.exists() else None


def single_quad_asset(**node_fields):
    a = Asset()
    mesh = a.mesh("plate", quad(a))
    a.scene(a.node("plate", mesh=mesh, **node_fields))
    return a


# -- containers, hierarchy, transforms -----------------------------------------

@pytest.mark.parametrize("how", ["embedded", "external", "glb"])
def test_matrix_parent_and_trs_child_place_vertices_in_z_up_world(tmp_path, how):
    a = Asset()
    mesh = a.mesh("plate", quad(a))
    half = math.sqrt(0.5)
    child = a.node("child", mesh=mesh, translation=[1, 2, 3], rotation=[0, 0, half, half], scale=[2, 2, 2])
    top = a.node("top", [child], matrix=[1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1])
    a.scene(top)
    code, lines, data = run(tmp_path, a, how)
    assert (code, lines) == (0, [])
    # Corner (x, y, 0): scaled 2, turned 90 degrees about z, moved (1, 2, 3), then (5, 0, 0).
    # glTF's y-up (x, y, z) is (x, -z, y) in the file's z-up world.
    expected = {(6 - 2 * y, -3, 2 + 2 * x) for x, y in [(0, 0), (1, 0), (1, 1), (0, 1)]}
    tris, _ = scene_triangles(data)
    assert {tuple(np.round(p, 4) + 0.0) for p in tris.reshape(-1, 3)} == expected


# -- materials and primitives ---------------------------------------------------

def test_primitives_keep_their_material_names_and_texture_slots(tmp_path):
    a = Asset()
    paint = textured_material(a, "paint", "albedo.png", normal="normal.png", orm="orm.png", emissive="glow.png")
    glass = textured_material(a, "glass", "glass.png", alphaMode="BLEND", doubleSided=True)
    mesh = a.mesh("hull", quad(a, material=paint), quad(a, offset=(0, 0, 2), material=glass))
    a.scene(a.node("hull", mesh=mesh))
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    by_name = {r["name"]: r for r in data["sections"]["RENDER_NODES"]}
    hull0, hull1 = (data["materials"][by_name[name]["material"]] for name in ("hull_0", "hull_1"))
    assert (hull0["name"], hull1["name"]) == ("paint", "glass")
    # The emission shows: the material is one that reads the self-illumination uniforms.
    assert (hull0["material_name"], hull1["material_name"]) == ("self_illum_material", "def_material")
    assert {t["slot"]: t["file"] for t in hull0["textures"]} == {
        0: "albedo.png", 1: "normal.png", 8: "glow.png", 13: "orm.png"}
    assert {u["name"]: u["value"] for u in hull0["uniforms"]} == {
        "selfIlluminationValue": 1.0, "selfIlluminationColor": [1.0, 0.5, 0.25]}
    assert (hull0["blending"], hull1["blending"]) == (0, 1)
    # Two-sided: every vertex gets a back-face twin.
    assert (by_name["hull_0"]["vertex_count"], by_name["hull_1"]["vertex_count"]) == (4, 8)


STRIP = [0, 1, 3, 2]      # corners of the quad as a strip
FAN = [0, 1, 2, 3]


@pytest.mark.parametrize("mode, order, triangles", [(5, STRIP, 2), (6, FAN, 2), (4, [0, 1, 2, 0, 2, 3, 1], 2)])
def test_strips_and_fans_become_front_facing_triangle_lists(tmp_path, mode, order, triangles):
    a = Asset()
    corners = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]
    primitive = {"attributes": {"POSITION": a.accessor(corners)}, "indices": a.accessor(order, USHORT), "mode": mode}
    a.scene(a.node("n", mesh=a.mesh("m", primitive)))
    code, lines, data = run(tmp_path, a)
    (record,) = data["sections"]["RENDER_NODES"]
    assert (code, lines) == (0, [])
    assert len(record["indices"]) == 3 * triangles
    # Flat normals from the winding: all +Z in glTF, -Y after the axis change.
    assert {tuple(row[4:7]) for row in rows(record)} == {(0.0, -1.0, 0.0)}


# -- skins, animations, lights --------------------------------------------------

def test_skin_joints_become_bones_with_shifted_indices_that_move_vertices_and_box(tmp_path):
    a, _, tip = skinned_asset()
    a.json["nodes"][tip]["translation"] = [0, 3, 0]   # bound one unit up, now three
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    (record,) = data["sections"]["RENDER_NODES"]
    assert record["class"] == "model::SkinNode"
    assert [data["nodes"][i]["name"] for i in record["bones"]] == ["root", "base", "tip"]
    assert data["nodes"][record["bones"][2]]["bone_matrix"][3][:3] == [0.0, -1.0, 0.0]
    assert {float_bits(row[3]) for row in rows(record)} == {0x01010101, 0x01010102}
    # glTF (x, y, 0) in Z-up is (x, 0, y); the tip edge moved from y = 1 to y = 3, and the
    # skin's node transform (9, 9, 9) is ignored, as glTF asks.
    assert data["root"]["bounding_box"] == {"min": [0.0, 0.0, 0.0], "max": [1.0, 0.0, 3.0]}
    tris, _ = scene_triangles(data)
    assert {tuple(np.round(p, 5) + 0.0) for p in tris.reshape(-1, 3)} == {(0, 0, 0), (1, 0, 0), (1, 0, 3), (0, 0, 3)}


def test_animation_times_map_onto_zero_to_one_per_argument(tmp_path):
    a = single_quad_asset(scale=[2, 2, 2])
    # A 30 degree middle key: not on the arc between the ends, so it stays.
    s30, c30 = math.sin(math.radians(15)), math.cos(math.radians(15))
    animation(a, 0, "rotation", [2, 4, 6], [[0, 0, 0, 1], [0, 0, s30, c30], [0, 0, 1, 0]])
    animation(a, 0, "translation", [0, 1], [[0, 0, 0], [0, 3, 0]], interpolation="STEP")
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    (node,) = [n for n in data["nodes"] if n["name"] == "plate"]
    (rotation,) = node["rotation"]
    assert rotation["argument"] == 0
    assert [k[0] for k in rotation["keys"]] == [0.0, 0.5, 1.0]
    assert rotation["keys"][2][1:] == [0.0, 0.0, 1.0, 0.0]      # stored x, y, z, w
    (position,) = node["position"]
    assert position["argument"] == 1
    assert [k[0] for k in position["keys"]] == pytest.approx([0.0, 1 - 1e-5, 1.0])
    assert [k[1:] for k in position["keys"]] == [[0, 0, 0], [0, 0, 0], [0, 3, 0]]
    # The static scale rides on the node's first argument as one key.
    assert [(s["argument"], s["scale_keys"]) for s in node["scale"]] == [(0, [[0.0, 2.0, 2.0, 2.0]])]


def test_cubic_spline_keys_keep_their_values_and_drop_their_tangents_with_a_loss(tmp_path):
    a = single_quad_asset()
    # Per key: in-tangent, value, out-tangent.
    animation(a, 0, "translation", [0, 1], [[9, 9, 9], [0, 0, 0], [7, 7, 7], [5, 5, 5], [0, 3, 0], [1, 1, 1]],
              interpolation="CUBICSPLINE")
    code, lines, data = run(tmp_path, a)
    assert code == 2 and len(lines) == 1 and "CUBICSPLINE" in lines[0], lines
    (position,) = [n for n in data["nodes"] if n["name"] == "plate"][0]["position"]
    assert position["keys"] == [[0.0, 0, 0, 0], [1.0, 0, 3, 0]]


def test_point_and_spot_lights_keep_colour_power_range_and_cone(tmp_path):
    a = single_quad_asset()
    a.json["extensions"] = {"KHR_lights_punctual": {"lights": [
        {"name": "bulb", "type": "point", "color": [1, 0.5, 0], "intensity": 4, "range": 7},
        {"name": "spot", "type": "spot", "intensity": 16,
         "spot": {"innerConeAngle": math.radians(10), "outerConeAngle": math.radians(40)}},
        {"name": "sun", "type": "directional"}]}}
    a.json["nodes"][0]["children"] = [a.node(f"lamp{i}", extensions={"KHR_lights_punctual": {"light": i}})
                                      for i in range(3)]
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (2, ["tavtools convert: extensions.KHR_lights_punctual.lights[2]: "
                                 "directional light 'sun' is not supported; skipped"])
    bulb, spot = data["sections"]["LIGHT_NODES"]
    values = {light["name"]: [p.get("value") for p in light["light_properties"]] for light in (bulb, spot)}
    assert (bulb["kind"], spot["kind"]) == (0, 1)
    assert values["bulb"] == [[1.0, 0.5, 0.0], 4.0, 0.0, 0.0, 7.0, 1.0, 0.0]
    # No range: the distance where 16 / d^2 falls to 1/256, i.e. 64.
    # Theta is the hard inner cone.
    assert values["spot"][0] == [1.0, 1.0, 1.0] and values["spot"][1:] == pytest.approx([16, 40, 10, 64, 1, 0])


# -- malformed files: exit status 1, one line, no file ---------------------------

def _set(*path):
    def damage(a):
        *parents, last, value = path
        functools.reduce(lambda target, key: target[key], parents, a.json)[last] = value
    return damage


class Raw(bytes):
    # A file's bytes, written where run() writes an asset.
    def write(self, path, how):
        path.write_bytes(self)
        return path


PRIMITIVE, P0 = ("meshes", 0, "primitives", 0), "meshes[0].primitives[0]"
GLTF = b'{"asset": {"version": "2.0"}, "buffers": [{"byteLength": 4, "uri": '
HOSTILE = {  # label: (the file's text, or a damage of the quad asset; the message's start)
    "not_json": (Raw(b"{nope"), ""),
    "glb_truncated": (Raw(b"glTF" + struct.pack("<II", 2, 400) + b"\0" * 12), ""),
    "glb_header_short": (Raw(b"glTF\x02\0\0\0"), "file too short for a binary glTF header"),
    "missing_bin": (Raw(GLTF + b'"gone.bin"}]}'), ""),
    "bad_base64": (Raw(GLTF + b'"data:,%%"}, {"byteLength": 4, '
                       b'"uri": "data:application/octet-stream;base64,@@@"}]}'), ""),
    "accessor_past_view": (_set("accessors", 0, "count", 1000), ""),
    "index_out_of_range": (lambda a: _set(*PRIMITIVE, "indices", a.accessor([0, 1, 9], USHORT))(a), ""),
    "node_cycle": (_set("nodes", 0, "children", [0]), ""),
    "short_translation": (_set("nodes", 0, "translation", [1, 2]), ""),
    "rotation_keys_of_three": (lambda a: animation(a, 0, "rotation", [0, 1], [[0, 0, 0]] * 2), ""),
    "attribute": (_set(*PRIMITIVE, "attributes", "POSITION", 9),
                  f"{P0}.attributes.POSITION refers to accessors[9], which does not exist"),
    "indices": (_set(*PRIMITIVE, "indices", 7), f"{P0}.indices refers to accessors[7], which does not exist"),
    "buffer_view": (_set("accessors", 0, "bufferView", 40),
                    "accessors[0].bufferView refers to bufferViews[40], which does not exist"),
    "buffer": (_set("bufferViews", 0, "buffer", 3), "bufferViews[0].buffer refers to buffers[3], which does not exist"),
    # A device or FIFO would be read without end (or wait for a writer).
    "buffer_uri_device": (Raw(GLTF + b'"/dev/null"}]}'), "buffers[0]: '/dev/null' is not a regular file"),
    "json_nested_deep": (Raw(b'{"asset": {"version": "2.0"}, "x": ' + b"[" * 100000 + b"]" * 100000 + b"}"),
                         "invalid JSON: arrays or objects nested too deeply"),
}


@pytest.mark.parametrize("label", HOSTILE)
def test_malformed_file_gives_exit_1_and_one_line_naming_the_place(tmp_path, label):
    damage, message = HOSTILE[label]
    a = damage if isinstance(damage, Raw) else single_quad_asset()
    isinstance(damage, Raw) or damage(a)
    code, lines, _ = run(tmp_path, a)
    assert code == 1 and len(lines) == 1 and lines[0].startswith(f"tavtools convert: {tmp_path / 'in.gltf'}: {message}")


# -- losses: one line each by glTF path, exit status 2, the rest converted -------

def _attribute(name, values, **options):
    return lambda a: a.json["meshes"][0]["primitives"][0]["attributes"].update({name: a.accessor(values, **options)})


def _unresolvable_channel(a):
    animation(a, 0, "translation", [0, 1], [[0, 0, 0], [0, 3, 0]])
    del a.json["animations"][0]["channels"][0]["target"]["node"]


def _each(*damages):
    return lambda a: [damage(a) for damage in damages]


LOSSES = {
    "vertex_colours": (_attribute("COLOR_0", [[1, 0, 0, 1]] * 4, width=4),
                       f"{P0}.attributes.COLOR_0: vertex colours are not supported; not converted"),
    "unresolvable_channel": (_unresolvable_channel, "animations[0].channels[0]: target without a node "
                                                    "(path 'translation') cannot be resolved; skipped"),
    "morph_targets": (_set(*PRIMITIVE, "targets", [{"POSITION": 0}]),
                      f"{P0}.targets: morph targets are not supported; the base shape is kept"),
    "unused_uv_set": (_each(lambda a: _set(*PRIMITIVE, "material", textured_material(a, "paint", "albedo.png"))(a),
                            _attribute("TEXCOORD_1", [[0, 0]] * 4)),
                      f"{P0}: UV set 1 is read by no texture; not written"),
    "second_joint_set": (_each(_attribute("JOINTS_1", [[0, 0, 0, 0]] * 4, component=UBYTE, width=4),
                               _attribute("WEIGHTS_1", [[0, 0, 0, 0]] * 4, width=4)),
                         f"{P0}.attributes.JOINTS_1: only the first four bone influences are kept"),
    "points": (lambda a: a.json["meshes"][0]["primitives"].insert(0, {"attributes": {"POSITION": 0}, "mode": 0}),
               f"{P0}: points are not supported; skipped (mesh 'plate')"),
    "camera": (_each(_set("cameras", [{"type": "perspective", "perspective": {"yfov": 1.0, "znear": 0.1}}]),
                     lambda a: _set("nodes", 0, "children", [a.node("eye", camera=0)])(a)),
               "nodes[1].camera: cameras are not supported; skipped"),
    "unknown_extension": (_set("extensionsUsed", ["KHR_lights_punctual", "EXT_mesh_gpu_instancing"]),
                          "extensionsUsed[1]: extension EXT_mesh_gpu_instancing is not supported; "
                          "what it adds is ignored"),
}


@pytest.mark.parametrize("label", LOSSES)
def test_each_loss_is_one_line_by_gltf_path_and_exit_2_with_the_rest_written(tmp_path, label):
    damage, line = LOSSES[label]
    skinned = label == "second_joint_set"
    a = skinned_asset()[0] if skinned else single_quad_asset()
    damage(a)
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (2, ["tavtools convert: " + line])
    assert [r["name"].split("_")[0] for r in data["sections"]["RENDER_NODES"]] == ["skin" if skinned else "plate"]
    assert not any(n["class"].startswith("model::Arg") for n in data["nodes"])


# A mesh read for each node that shows it: its loss is still one line.
@pytest.mark.parametrize("label", ["vertex_colours", "morph_targets"])
def test_loss_of_a_mesh_two_nodes_show_is_one_line(tmp_path, label):
    damage, line = LOSSES[label]
    a = single_quad_asset()
    damage(a)
    a.json["nodes"][0]["children"] = [a.node("again", mesh=0, translation=[3, 0, 0])]
    code, lines, _ = run(tmp_path, a)
    assert (code, lines) == (2, ["tavtools convert: " + line])


def losing_textured_asset():
    # Embedded textures (a data URI and a buffer view) and an external one, whose file run() leaves out with
    # missing, beside three losses of the table.
    a = single_quad_asset()
    a.add("images", {"uri": "data:image/png;base64,iVBORw0K"})
    a.add("images", {"name": "paint", "mimeType": "image/jpeg", "bufferView": a.view(b"\xff\xd8\xff")})
    a.json["meshes"][0]["primitives"][0]["material"] = a.add("materials", {"pbrMetallicRoughness": {
        "baseColorTexture": {"index": a.add("textures", {"source": 0})}, "metallicRoughnessTexture": {
            "index": a.texture("gone.png")}}, "normalTexture": {"index": a.add("textures", {"source": 1})}})
    for label in ("vertex_colours", "unresolvable_channel", "camera"):
        LOSSES[label][0](a)
    return a


def test_embedded_textures_written_and_every_loss_named_or_nothing_with_strict(tmp_path):
    code, lines, data = run(tmp_path, losing_textured_asset(), missing=True)
    assert code == 2
    assert [line.split(": ")[1] for line in lines] == [
        "animations[0].channels[0]", "meshes[0].primitives[0].attributes.COLOR_0", "nodes[1].camera", "images[2]"]
    # A missing texture file is a loss, yet the file still names it.
    assert {t["file"] for t in data["materials"][0]["textures"]} == {"image0.png", "paint.jpg", "gone.png"}
    assert (tmp_path / "image0.png").read_bytes() == b"\x89PNG\r\n\x1a\n"[:6]
    assert (tmp_path / "paint.jpg").read_bytes() == b"\xff\xd8\xff"

    (strict := tmp_path / "strict").mkdir()
    code, lines, _ = run(strict, losing_textured_asset(), missing=True, strict=True)
    assert code == 2 and len(lines) == 5
    assert lines[-1] == "tavtools convert: 4 losses; nothing written (--strict)"
    assert sorted(p.name for p in strict.iterdir()) == ["in.gltf"]


# -- what the builder decides, seen through the converter ---------------------------

def test_nonfinite_vertex_is_an_error_naming_the_glTF_path_and_nothing_is_written(tmp_path):
    a = single_quad_asset()
    bad = a.mesh("bad", {"attributes": {"POSITION": a.accessor([[0, 0, 0], [1, 0, 0], [float("nan"), 1, 0]])}})
    a.json["nodes"][0]["children"] = [a.node("bad", mesh=bad)]
    code, lines, _ = run(tmp_path, a)
    assert code == 1
    assert lines[0].endswith("meshes[1].primitives[0].attributes.POSITION holds a value that is not finite")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.gltf"]


def test_converter_never_replaces_a_file_it_did_not_write_nor_its_input(tmp_path):
    (tmp_path / "image0.png").write_bytes(b"theirs")
    # The asset's first embedded image would be written as image0.png.
    code, lines, _ = run(tmp_path, losing_textured_asset(), missing=True, rename=False)
    assert code == 1 and "not replaced" in lines[0]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["image0.png", "in.gltf"]
    source = single_quad_asset().write(tmp_path / "self.gltf", "embedded")
    text = source.read_bytes()
    assert convert(source, source, stderr=io.StringIO()) == 1 and source.read_bytes() == text


# --- accessor layouts -------------------------------------------------------------

BYTE, SHORT = 5120, 5122
ROWS = [(1.5, -2.0, 3.0, 0, 65535), (4.0, 5.0, -6.0, 13107, 32768), (0.0, 0.25, 8.0, 65534, 1)]


def accessor_values(tmp_path, views, accessors) -> list:
    # Every accessor of an asset made of the given views (raw bytes, stride) and accessors, as read.
    asset = Asset()
    for raw, stride in views:
        view = asset.view(raw)
        if stride:
            asset.json["bufferViews"][view]["byteStride"] = stride
    for accessor in accessors:
        asset.add("accessors", accessor)
    document = tavtools.gltf.load(asset.write(tmp_path / "layouts.gltf"))
    return [np.asarray(document.accessor(k)).tolist() for k in range(len(accessors))]


@pytest.mark.parametrize("views, accessors, wanted", [
    # Interleaved rows of 16 bytes: a position, then normalized 16-bit coordinates.
    ([(b"".join(struct.pack("<3f2H", *row) for row in ROWS), 16)],
     [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},
      {"bufferView": 0, "byteOffset": 12, "componentType": USHORT, "normalized": True, "count": 3, "type": "VEC2"}],
     [[list(row[:3]) for row in ROWS], [[np.float32(u / 65535), np.float32(v / 65535)] for *_, u, v in ROWS]]),
    # Normalized integers of each width: the largest value is 1, signed ones stop at -1.
    ([(struct.pack("<4b", -128, -127, 0, 127), 0), (struct.pack("<3B", 0, 255, 51), 0),
      (struct.pack("<2h", -32768, 32767), 0)],
     [{"bufferView": 0, "componentType": BYTE, "normalized": True, "count": 4, "type": "SCALAR"},
      {"bufferView": 1, "componentType": UBYTE, "normalized": True, "count": 3, "type": "SCALAR"},
      {"bufferView": 2, "componentType": SHORT, "normalized": True, "count": 2, "type": "SCALAR"}],
     [[[-1.0], [-1.0], [0.0], [1.0]], [[0.0], [1.0], [np.float32(0.2)]], [[-1.0], [1.0]]]),
    # Sparse values over zeros (no buffer view) and over data.
    ([(struct.pack("<2B", 1, 3), 0), (struct.pack("<2f", 5, 7), 0), (struct.pack("<4f", 1, 2, 3, 4), 0),
      (struct.pack("<H", 0), 0), (struct.pack("<f", 9), 0)],
     [{"componentType": 5126, "count": 4, "type": "SCALAR",
       "sparse": {"count": 2, "indices": {"bufferView": 0, "componentType": UBYTE}, "values": {"bufferView": 1}}},
      {"bufferView": 2, "componentType": 5126, "count": 4, "type": "SCALAR",
       "sparse": {"count": 1, "indices": {"bufferView": 3, "componentType": USHORT}, "values": {"bufferView": 4}}}],
     [[[0.0], [5.0], [0.0], [7.0]], [[9.0], [2.0], [3.0], [4.0]]]),
    # A matrix of bytes: each column padded to four bytes, read as [row][column].
    ([(bytes([1, 2, 0, 0, 3, 4, 0, 0, 5, 6, 0, 0, 7, 8, 0, 0]), 0)],
     [{"bufferView": 0, "componentType": UBYTE, "count": 2, "type": "MAT2"}],
     [[[[1, 3], [2, 4]], [[5, 7], [6, 8]]]]),
], ids=["interleaved", "normalized", "sparse", "padded_matrix"])
def test_accessor_layouts_give_the_values_they_hold(tmp_path, views, accessors, wanted):
    assert accessor_values(tmp_path, views, accessors) == wanted
