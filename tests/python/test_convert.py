"""glTF assets written by the tests, converted in-process and decoded again."""

import io
import math
import struct
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tavtools
from gltf_builder import UBYTE, USHORT, Asset, animation, quad, skinned_asset, textured_material
from tavtools.convert import convert
from tavtools.gltf import GltfError, load
from tavtools.preview import scene_triangles

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample.gltf"


def run(tmp_path, asset, how="embedded", version=10, **options):
    """(exit code, loss lines, decoded file or None); the file must exist exactly when the code is not 1."""
    source = asset.write(tmp_path / ("in.glb" if how == "glb" else "in.gltf"), how)
    target = tmp_path / "out.tav"
    err = io.StringIO()
    code = convert(source, target, version, stderr=err, **options)
    lines = err.getvalue().splitlines()
    assert target.exists() == (code != 1)
    return code, lines, tavtools.read(target) if code != 1 else None


def renders(data):
    return data["sections"]["RENDER_NODES"]


def world_points(data):
    tris, _ = scene_triangles(data)
    return {tuple(np.round(p, 4) + 0.0) for p in tris.reshape(-1, 3)}


def z_up(points):
    return {(round(x, 4) + 0.0, round(-z, 4) + 0.0, round(y, 4) + 0.0) for x, y, z in points}


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
    expected = {(6 - 2 * y, 2 + 2 * x, 3) for x, y in [(0, 0), (1, 0), (1, 1), (0, 1)]}
    assert world_points(data) == z_up(expected)


def test_nodes_without_names_and_unreferenced_scene_convert_all_roots(tmp_path):
    a = Asset()
    mesh = a.mesh("", quad(a))
    a.add("nodes", {"mesh": mesh})
    a.add("nodes", {"mesh": mesh, "translation": [0, 0, 5]})
    code, _, data = run(tmp_path, a)
    assert code == 0
    # Both instances are drawn (the save may merge them into one node).
    corners = {(x, y, z) for x, y in [(0, 0), (1, 0), (1, 1), (0, 1)] for z in (0, 5)}
    assert world_points(data) == z_up(corners)


# -- materials and primitives ---------------------------------------------------

def test_primitives_keep_their_material_names_and_texture_slots(tmp_path):
    a = Asset()
    paint = textured_material(a, "paint", "albedo.png", normal="normal.png", orm="orm.png", emissive="glow.png")
    glass = textured_material(a, "glass", "glass.png", alphaMode="BLEND", doubleSided=True)
    mesh = a.mesh("hull", quad(a, material=paint), quad(a, offset=(0, 0, 2), material=glass))
    a.scene(a.node("hull", mesh=mesh))
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    by_name = {r["name"]: r for r in renders(data)}
    assert sorted(by_name) == ["hull_0", "hull_1"]
    hull0 = data["materials"][by_name["hull_0"]["material"]]
    hull1 = data["materials"][by_name["hull_1"]["material"]]
    assert (hull0["name"], hull1["name"]) == ("paint", "glass")
    assert {t["slot"]: t["file"] for t in hull0["textures"]} == {
        0: "albedo.png", 1: "normal.png", 8: "glow.png", 13: "orm.png"}
    assert {u["name"]: u["value"] for u in hull0["uniforms"]} == {
        "selfIlluminationValue": 1.0, "selfIlluminationColor": [1.0, 0.5, 0.25]}
    assert (hull0["blending"], hull1["blending"]) == (0, 1)
    # Two-sided: every vertex gets a back-face twin.
    assert (by_name["hull_0"]["vertex_count"], by_name["hull_1"]["vertex_count"]) == (4, 8)


def test_untextured_material_keeps_its_base_colour(tmp_path):
    a = Asset()
    red = a.add("materials", {"name": "red", "pbrMetallicRoughness": {"baseColorFactor": [1, 0, 0, 1]}})
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, uvs=False, material=red))))
    code, _, data = run(tmp_path, a)
    (material,) = data["materials"]
    assert code == 0
    assert (material["name"], material["material_name"]) == ("red", "color_material")
    assert material["uniforms"][0]["value"] == [1.0, 0.0, 0.0]


def test_embedded_image_named_after_image_with_mime_extension(tmp_path):
    a = Asset()
    image = a.add("images", {"name": "skin", "mimeType": "image/png", "bufferView": a.view(b"\x89PNG")})
    texture = a.add("textures", {"source": image})
    material = a.add("materials", {"pbrMetallicRoughness": {"baseColorTexture": {"index": texture}}})
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, material=material))))
    code, _, data = run(tmp_path, a)
    assert code == 0
    assert data["materials"][0]["textures"][0]["file"] == "skin.png"
    assert (tmp_path / "skin.png").read_bytes() == b"\x89PNG"


def test_missing_uv_set_gives_zero_coordinates_not_a_refused_node(tmp_path):
    a = Asset()
    material = textured_material(a, "m", "albedo.png")
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, uvs=False, material=material))))
    code, lines, data = run(tmp_path, a)
    (record,) = renders(data)
    assert (code, lines) == (0, [])
    uv_start = 4 + 3   # POSITION0 (4), NORMAL0 (3), TEXCOORD0 (2)
    size = record["floats_per_vertex"]
    assert all(record["vertices"][i + uv_start:i + uv_start + 2] == [0.0, 0.0]
               for i in range(0, len(record["vertices"]), size))


STRIP = [0, 1, 3, 2]      # corners of the quad as a strip
FAN = [0, 1, 2, 3]


@pytest.mark.parametrize("mode, order, triangles", [(5, STRIP, 2), (6, FAN, 2), (4, [0, 1, 2, 0, 2, 3, 1], 2)])
def test_strips_and_fans_become_front_facing_triangle_lists(tmp_path, mode, order, triangles):
    a = Asset()
    corners = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]
    primitive = {"attributes": {"POSITION": a.accessor(corners)}, "indices": a.accessor(order, USHORT),
                 "mode": mode}
    a.scene(a.node("n", mesh=a.mesh("m", primitive)))
    code, lines, data = run(tmp_path, a)
    (record,) = renders(data)
    assert (code, lines) == (0, [])
    assert len(record["indices"]) == 3 * triangles
    # Flat normals from the winding: all +Z in glTF, -Y after the axis change.
    size = record["floats_per_vertex"]
    normals = {tuple(record["vertices"][i + 4:i + 7]) for i in range(0, len(record["vertices"]), size)}
    assert normals == {(0.0, -1.0, 0.0)}


def test_zero_normals_repaired_so_save_does_not_refuse_them(tmp_path):
    a = Asset()
    corners = [[0, 0, 0], [1, 0, 0], [1, 1, 0]]
    primitive = {"attributes": {"POSITION": a.accessor(corners), "NORMAL": a.accessor([[0, 0, 0]] * 3)}}
    a.scene(a.node("n", mesh=a.mesh("m", primitive)))
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    assert renders(data)[0]["vertex_count"] == 3


def test_points_and_lines_reported_one_line_each_and_triangles_kept(tmp_path):
    a = Asset()
    corners = a.accessor([[0, 0, 0], [1, 0, 0], [1, 1, 0]])
    prims = [{"attributes": {"POSITION": corners}, "mode": m} for m in (0, 1, 3)] + [quad(a)]
    a.scene(a.node("n", mesh=a.mesh("mixed", *prims)))
    code, lines, data = run(tmp_path, a)
    assert code == 2
    assert lines == [
        "tavtools convert: meshes[0].primitives[0]: points are not supported; skipped (mesh 'mixed')",
        "tavtools convert: meshes[0].primitives[1]: lines are not supported; skipped (mesh 'mixed')",
        "tavtools convert: meshes[0].primitives[2]: line strips are not supported; skipped (mesh 'mixed')",
    ]
    assert [r["name"] for r in renders(data)] == ["mixed_3"]


def test_strided_normalized_and_sparse_accessors_decode_exactly(tmp_path):
    a = Asset()
    strided = a.accessor([[1, 2, 3], [4, 5, 6]], stride=16)
    normalized = a.accessor([[0, 255], [51, 102]], UBYTE, normalized=True, stride=4)
    sparse = a.accessor([[0, 0, 0], [0, 0, 0], [0, 0, 0]])
    a.json["accessors"][sparse]["sparse"] = {
        "count": 1, "indices": {"bufferView": a.view(struct.pack("<H", 2)), "componentType": USHORT},
        "values": {"bufferView": a.view(struct.pack("<3f", 7, 8, 9))}}
    doc = load(a.write(tmp_path / "a.gltf"))
    assert doc.accessor(strided).tolist() == [[1, 2, 3], [4, 5, 6]]
    assert doc.accessor(normalized).reshape(-1).tolist() == pytest.approx([0, 1, 0.2, 0.4])
    assert doc.accessor(sparse).tolist() == [[0, 0, 0], [0, 0, 0], [7, 8, 9]]


# -- skins, animations, lights --------------------------------------------------

def test_skin_joints_become_bones_with_shifted_indices_and_a_bounding_box(tmp_path):
    a, _, _ = skinned_asset()
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    (record,) = renders(data)
    names = [data["nodes"][i]["name"] for i in record["bones"]]
    assert record["class"] == "model::SkinNode" and names == ["root", "base", "tip"]
    tip = data["nodes"][record["bones"][2]]
    assert tip["bone_matrix"][3][:3] == [0.0, -1.0, 0.0]
    packed = {struct.unpack("<I", struct.pack("<f", record["vertices"][i + 3]))[0]
              for i in range(0, len(record["vertices"]), record["floats_per_vertex"])}
    assert packed == {0x01010101, 0x01010102}
    # Bind pose: the skin's node transform (9, 9, 9) is ignored, as glTF asks.
    assert data["root"]["bounding_box"] == {"min": [0.0, 0.0, 0.0], "max": [1.0, 0.0, 1.0]}


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


def test_second_animation_of_a_channel_is_relative_to_rest(tmp_path):
    a = single_quad_asset(translation=[1, 0, 0])
    animation(a, 0, "translation", [0, 1], [[1, 0, 0], [2, 0, 0]])
    animation(a, 0, "translation", [0, 1], [[1, 0, 0], [1, 5, 0]])
    code, _, data = run(tmp_path, a)
    (node,) = [n for n in data["nodes"] if n["name"] == "plate"]
    assert code == 0
    assert [[k[1:] for k in e["keys"]] for e in node["position"]] == [
        [[1, 0, 0], [2, 0, 0]], [[0, 0, 0], [0, 5, 0]]]


def lit_asset(*lights):
    a = single_quad_asset()
    a.json["extensions"] = {"KHR_lights_punctual": {"lights": list(lights)}}
    holder = a.node("lamp", extensions={"KHR_lights_punctual": {"light": 0}})
    a.json["nodes"][0]["children"] = [holder] + [
        a.node(f"lamp{i}", extensions={"KHR_lights_punctual": {"light": i}}) for i in range(1, len(lights))]
    return a


def test_point_and_spot_lights_keep_colour_power_range_and_cone(tmp_path):
    a = lit_asset({"name": "bulb", "type": "point", "color": [1, 0.5, 0], "intensity": 4, "range": 7},
                  {"name": "spot", "type": "spot", "intensity": 16,
                   "spot": {"innerConeAngle": math.radians(10), "outerConeAngle": math.radians(40)}},
                  {"name": "sun", "type": "directional"})
    code, lines, data = run(tmp_path, a)
    assert code == 2
    assert lines == ["tavtools convert: extensions.KHR_lights_punctual.lights[2]: "
                     "directional light 'sun' is not supported; skipped"]
    bulb, spot = data["sections"]["LIGHT_NODES"]
    values = {light["name"]: [p.get("value") for p in light["light_properties"]] for light in (bulb, spot)}
    assert (bulb["kind"], spot["kind"]) == (0, 1)
    assert values["bulb"] == [[1.0, 0.5, 0.0], 4.0, 0.0, 0.0, 7.0, 1.0, 0.0]
    # No range: the distance where 16 / d^2 falls to 1/256, i.e. 64.
    assert values["spot"][0] == [1.0, 1.0, 1.0]
    assert values["spot"][1:] == pytest.approx([16, 40, 30, 64, 1, 0])


# -- determinism and failures ----------------------------------------------------

@pytest.mark.parametrize("version", [10, 20])
def test_converting_sample_twice_gives_identical_bytes(tmp_path, version):
    outputs = []
    for name in ("a.tav", "b.tav"):
        err = io.StringIO()
        assert convert(SAMPLE, tmp_path / name, version, stderr=err) == 0, err.getvalue()
        outputs.append((tmp_path / name).read_bytes())
    assert outputs[0] == outputs[1]


def hostile_files(tmp_path):
    """(label, path) of files that are no valid glTF."""
    files = {}

    def put(label, data):
        path = tmp_path / f"{label}.gltf"
        path.write_bytes(data if isinstance(data, bytes) else data.encode())
        files[label] = path

    put("not_json", "{nope")
    put("array_top", "[1, 2]")
    put("version_1", '{"asset": {"version": "1.0"}}')
    put("glb_truncated", b"glTF" + struct.pack("<II", 2, 400) + b"\0" * 12)
    put("missing_bin", '{"asset": {"version": "2.0"}, "buffers": [{"byteLength": 4, "uri": "gone.bin"}]}')
    put("bad_base64", '{"asset": {"version": "2.0"}, "buffers": [{"byteLength": 4, "uri": "data:,%%"},'
                      '{"byteLength": 4, "uri": "data:application/octet-stream;base64,@@@"}]}')
    a = single_quad_asset()
    a.json["accessors"][0]["count"] = 1000
    files["accessor_past_view"] = a.write(tmp_path / "past.gltf")
    a = single_quad_asset()
    a.json["meshes"][0]["primitives"][0]["indices"] = a.accessor([0, 1, 9], USHORT)
    files["index_out_of_range"] = a.write(tmp_path / "index.gltf")
    a = single_quad_asset()
    a.json["nodes"][0]["children"] = [0]
    files["node_cycle"] = a.write(tmp_path / "cycle.gltf")
    a = single_quad_asset()
    a.json["nodes"][0]["mesh"] = "zero"
    files["mesh_index_text"] = a.write(tmp_path / "text.gltf")
    a = single_quad_asset()
    a.json["nodes"][0]["translation"] = [1, 2]
    files["short_translation"] = a.write(tmp_path / "short.gltf")
    a = single_quad_asset()
    animation(a, 0, "rotation", [0, 1], [[0, 0, 0]] * 2)
    files["rotation_keys_of_three"] = a.write(tmp_path / "rot.gltf")
    return files


HOSTILE = ["not_json", "array_top", "version_1", "glb_truncated", "missing_bin", "bad_base64",
           "accessor_past_view", "index_out_of_range", "node_cycle", "mesh_index_text", "short_translation",
           "rotation_keys_of_three"]


@pytest.mark.parametrize("label", HOSTILE)
def test_malformed_file_gives_exit_1_and_one_line(tmp_path, label):
    source = hostile_files(tmp_path)[label]
    err = io.StringIO()
    assert convert(source, tmp_path / "out.tav", 10, stderr=err) == 1
    (line,) = err.getvalue().splitlines()
    assert line.startswith(f"tavtools convert: {source}: ")
    assert not (tmp_path / "out.tav").exists()


def test_command_line_error_has_no_traceback_and_writes_nothing(tmp_path):
    source = tmp_path / "broken.glb"
    source.write_bytes(b"glTF\x02\0\0\0")
    result = subprocess.run([sys.executable, "-m", "tavtools", "convert", str(source), str(tmp_path / "o.tav")],
                            capture_output=True, text=True, cwd=ROOT)
    assert result.returncode == 1
    assert result.stderr.splitlines() == [f"tavtools convert: {source}: file too short for a binary glTF header"]
    assert "Traceback" not in result.stderr and not (tmp_path / "o.tav").exists()


def test_glb_with_unknown_chunk_after_bin_still_reads(tmp_path):
    a = single_quad_asset()
    path = a.write(tmp_path / "a.glb", "glb")
    data = path.read_bytes() + struct.pack("<II", 4, 0x12345678) + b"junk"
    path.write_bytes(data[:8] + struct.pack("<I", len(data)) + data[12:])
    doc = load(path)
    assert len(doc.buffers[0]) == doc.json["buffers"][0]["byteLength"]


def test_buffer_shorter_than_declared_is_refused(tmp_path):
    a = single_quad_asset()
    path = a.write(tmp_path / "a.gltf", "external")
    (tmp_path / "a.bin").write_bytes(b"\0" * 8)
    with pytest.raises(GltfError, match="holds 8 bytes"):
        load(path)


# -- losses: one line each by glTF path, exit status 2, the rest converted -------

NAN_CORNERS = [[0, 0, 0], [1, 0, 0], [float("nan"), 1, 0]]


def asset_with_vertex_colours():
    a = Asset()
    primitive = quad(a)
    primitive["attributes"]["COLOR_0"] = a.accessor([[1, 0, 0, 1]] * 4, width=4)
    a.scene(a.node("plate", mesh=a.mesh("plate", primitive)))
    return a


def asset_with_unresolvable_channel():
    a = single_quad_asset()
    animation(a, 0, "translation", [0, 1], [[0, 0, 0], [0, 3, 0]])
    del a.json["animations"][0]["channels"][0]["target"]["node"]
    return a


def asset_with_morph_targets():
    a = Asset()
    primitive = quad(a)
    primitive["targets"] = [{"POSITION": a.accessor([[0, 0, 1]] * 4)}]
    a.scene(a.node("plate", mesh=a.mesh("plate", primitive)))
    return a


def asset_with_unused_uv_set():
    a = Asset()
    primitive = quad(a, material=textured_material(a, "paint", "albedo.png"))
    primitive["attributes"]["TEXCOORD_1"] = a.accessor([[0, 0]] * 4)
    a.scene(a.node("plate", mesh=a.mesh("plate", primitive)))
    return a


def asset_with_second_joint_set():
    a, _, _ = skinned_asset()
    attributes = a.json["meshes"][0]["primitives"][0]["attributes"]
    attributes["JOINTS_1"] = a.accessor([[0, 0, 0, 0]] * 4, UBYTE, 4)
    attributes["WEIGHTS_1"] = a.accessor([[0, 0, 0, 0]] * 4, width=4)
    return a


def asset_with_camera():
    a = single_quad_asset()
    a.json["cameras"] = [{"type": "perspective", "perspective": {"yfov": 1.0, "znear": 0.1}}]
    a.json["nodes"][0]["children"] = [a.node("eye", camera=0)]
    return a


def asset_with_unknown_extension():
    a = single_quad_asset()
    a.json["extensionsUsed"] = ["KHR_lights_punctual", "EXT_mesh_gpu_instancing"]
    return a


def asset_with_nan_mesh():
    a = single_quad_asset()
    bad = a.mesh("bad", {"attributes": {"POSITION": a.accessor(NAN_CORNERS)}})
    a.json["nodes"][0]["children"] = [a.node("bad", mesh=bad)]
    return a


LOSSES = [
    (asset_with_vertex_colours, "meshes[0].primitives[0].attributes.COLOR_0: vertex colours are not supported; "
     "not converted", ["plate"]),
    (asset_with_unresolvable_channel, "animations[0].channels[0]: target without a node (path 'translation') "
     "cannot be resolved; skipped", ["plate"]),
    (asset_with_morph_targets, "meshes[0].primitives[0].targets: morph targets are not supported; "
     "the base shape is kept", ["plate"]),
    (asset_with_unused_uv_set, "meshes[0].primitives[0].attributes.TEXCOORD_1: texture coordinate set used by "
     "no converted texture; not converted", ["plate"]),
    (asset_with_second_joint_set, "meshes[0].primitives[0].attributes.JOINTS_1: only the first four bone "
     "influences are kept", ["skin"]),
    (asset_with_camera, "nodes[1].camera: cameras are not supported; skipped", ["plate"]),
    (asset_with_unknown_extension, "extensionsUsed[1]: extension EXT_mesh_gpu_instancing is not supported; "
     "what it adds is ignored", ["plate"]),
    (asset_with_nan_mesh, "meshes[1].primitives[0]: refused by the module: Vertex data of bad holds a value that "
     "is not finite. (mesh 'bad'); skipped", ["plate"]),
]


@pytest.mark.parametrize("make, line, kept", LOSSES, ids=[make.__name__ for make, _, _ in LOSSES])
def test_each_loss_is_one_line_by_gltf_path_and_exit_2_with_the_rest_written(tmp_path, make, line, kept):
    code, lines, data = run(tmp_path, make())
    assert (code, lines) == (2, ["tavtools convert: " + line])
    assert [r["name"] for r in renders(data)] == kept
    assert not any(n["class"].startswith("model::Arg") for n in data["nodes"])


def test_strict_turns_any_loss_into_exit_1_without_a_file(tmp_path):
    code, lines, _ = run(tmp_path, asset_with_vertex_colours(), strict=True)
    assert code == 1
    assert lines[-1] == "tavtools convert: 1 loss; nothing written (--strict)"


def losing_textured_asset():
    """Embedded textures (a data URI and a buffer view) beside vertex colours,
    an unresolvable channel and a NaN mesh."""
    a = asset_with_nan_mesh()
    a.add("images", {"uri": "data:image/png;base64,iVBORw0K"})
    a.add("images", {"name": "paint", "mimeType": "image/jpeg", "bufferView": a.view(b"\xff\xd8\xff")})
    material = a.add("materials", {"pbrMetallicRoughness": {"baseColorTexture": {"index": a.add(
        "textures", {"source": 0})}}, "normalTexture": {"index": a.add("textures", {"source": 1})}})
    primitive = a.json["meshes"][0]["primitives"][0]
    primitive["material"] = material
    primitive["attributes"]["COLOR_0"] = a.accessor([[1, 1, 1]] * 4)
    animation(a, 5, "rotation", [0, 1], [[0, 0, 0, 1]] * 2)
    return a


def test_embedded_textures_written_and_every_loss_named_or_nothing_with_strict(tmp_path):
    code, lines, data = run(tmp_path, losing_textured_asset())
    assert code == 2
    assert [line.split(": ")[1] for line in lines] == [
        "animations[0].channels[0]", "meshes[0].primitives[0].attributes.COLOR_0", "meshes[1].primitives[0]"]
    files = {t["file"] for t in data["materials"][0]["textures"]}
    assert files == {"image0.png", "paint.jpg"}
    assert (tmp_path / "image0.png").read_bytes() == b"\x89PNG\r\n\x1a\n"[:6]
    assert (tmp_path / "paint.jpg").read_bytes() == b"\xff\xd8\xff"

    strict = tmp_path / "strict"
    strict.mkdir()
    code, lines, _ = run(strict, losing_textured_asset(), strict=True)
    assert code == 1 and len(lines) == 4
    assert sorted(p.name for p in strict.iterdir()) == ["in.gltf"]


def test_embedded_images_of_the_same_name_get_distinct_files(tmp_path):
    a = Asset()
    images = [a.add("images", {"name": "../skin", "mimeType": "image/png", "bufferView": a.view(bytes([k]))})
              for k in range(2)]
    textures = [a.add("textures", {"source": i}) for i in images]
    materials = [a.add("materials", {"name": f"m{t}", "pbrMetallicRoughness": {"baseColorTexture": {"index": t}}})
                 for t in textures]
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, material=materials[0]), quad(a, (0, 0, 1), material=materials[1]))))
    code, lines, data = run(tmp_path, a)
    assert (code, lines) == (0, [])
    named = {m["name"]: m["textures"][0]["file"] for m in data["materials"]}
    assert named == {"m0": "skin.png", "m1": "skin_2.png"}
    assert [(tmp_path / named[f"m{k}"]).read_bytes() for k in range(2)] == [b"\0", b"\1"]


@pytest.mark.parametrize("copy", [False, True])
def test_external_texture_names_resolve_from_the_output_folder(tmp_path, copy):
    source_dir, out_dir = tmp_path / "src", tmp_path / "out"
    (source_dir / "maps").mkdir(parents=True)
    out_dir.mkdir()
    (source_dir / "maps" / "albedo.png").write_bytes(b"albedo")
    a = Asset()
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, material=textured_material(a, "paint", "maps/albedo.png")))))
    err = io.StringIO()
    code = convert(a.write(source_dir / "in.gltf"), out_dir / "out.tav", stderr=err, copy_textures=copy)
    assert (code, err.getvalue()) == (0, "")
    (texture,) = tavtools.read(out_dir / "out.tav")["materials"][0]["textures"]
    assert (out_dir / texture["file"]).read_bytes() == b"albedo"
    assert (texture["file"] == "maps/albedo.png") == copy
    assert (out_dir / "maps").exists() == copy


def test_copy_of_a_missing_external_image_is_a_loss(tmp_path):
    a = Asset()
    a.scene(a.node("n", mesh=a.mesh("m", quad(a, material=textured_material(a, "paint", "gone.png")))))
    code, lines, _ = run(tmp_path, a, copy_textures=True)
    assert (code, lines) == (2, ["tavtools convert: images[0]: file 'gone.png' not found; "
                                 "the texture name 'gone.png' will not resolve"])


@pytest.mark.parametrize("damage, line", [
    (lambda a: a.json["meshes"][0]["primitives"][0]["attributes"].update(POSITION=9),
     "meshes[0].primitives[0].attributes.POSITION refers to accessors[9], which does not exist"),
    (lambda a: a.json["meshes"][0]["primitives"][0].update(indices=7),
     "meshes[0].primitives[0].indices refers to accessors[7], which does not exist"),
    (lambda a: a.json["accessors"][0].update(bufferView=40),
     "accessors[0].bufferView refers to bufferViews[40], which does not exist"),
    (lambda a: a.json["bufferViews"][0].update(buffer=3),
     "bufferViews[0].buffer refers to buffers[3], which does not exist"),
], ids=["attribute", "indices", "buffer_view", "buffer"])
def test_missing_reference_names_the_referring_place(tmp_path, damage, line):
    a = single_quad_asset()
    damage(a)
    code, lines, _ = run(tmp_path, a)
    assert code == 1
    assert lines == [f"tavtools convert: {tmp_path / 'in.gltf'}: {line}"]


def test_command_line_strict_and_loss_exit_statuses(tmp_path):
    source = asset_with_camera().write(tmp_path / "in.gltf")
    command = [sys.executable, "-m", "tavtools", "convert", str(source), str(tmp_path / "o.tav")]
    strict = subprocess.run(command + ["--strict"], capture_output=True, text=True, cwd=ROOT)
    assert strict.returncode == 1 and not (tmp_path / "o.tav").exists()
    lossy = subprocess.run(command, capture_output=True, text=True, cwd=ROOT)
    # The thread pools log their start on stderr too.
    assert lossy.returncode == 2 and [line for line in lossy.stderr.splitlines() if "tavtools" in line] == [
        "tavtools convert: nodes[1].camera: cameras are not supported; skipped"]
    assert tavtools.read(tmp_path / "o.tav")["version"] == 10
