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


def run(tmp_path, asset, how="embedded", version=10):
    """(exit code, note lines, decoded file or None)."""
    source = asset.write(tmp_path / ("in.glb" if how == "glb" else "in.gltf"), how)
    target = tmp_path / "out.tav"
    err = io.StringIO()
    code = convert(source, target, version, stderr=err)
    lines = err.getvalue().splitlines()
    return code, lines, tavtools.read(target) if code == 0 else None


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
    assert code == 0
    assert lines == [
        "tavtools convert: mesh 'mixed' primitive 0: points are not supported; skipped",
        "tavtools convert: mesh 'mixed' primitive 1: lines are not supported; skipped",
        "tavtools convert: mesh 'mixed' primitive 2: line strips are not supported; skipped",
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
    assert code == 0
    assert lines == ["tavtools convert: light 'sun': directional lights are not supported; skipped"]
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
