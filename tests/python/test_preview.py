"""Preview images of saved models, decoded back from the PNG bytes."""

import io
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import numpy as np
import pytest

import pytav
import tavtools
from gltf_builder import skinned_asset
from support import color_base_block, pbr_node
from support import save_and_read
from tavtools.convert import convert
from tavtools.preview import BACKGROUND, png_bytes, preview, render, scene_triangles

ROOT = Path(__file__).resolve().parents[2]


def decode_png(data: bytes) -> np.ndarray:
    """RGB pixels of an 8-bit, unfiltered, non-interlaced PNG; checks every CRC."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack_from(">I", data, pos)
        tag, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        assert crc == zlib.crc32(tag + body)
        chunks.append((tag, body))
        pos += 12 + length
    assert [c[0] for c in chunks] == [b"IHDR", b"IDAT", b"IEND"]
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, colour, interlace) == (8, 2, 0)
    raw = np.frombuffer(zlib.decompress(chunks[1][1]), np.uint8).reshape(height, 1 + 3 * width)
    assert not raw[:, 0].any()
    return raw[:, 1:].reshape(height, width, 3)


def drawn(pixels: np.ndarray) -> int:
    return int(np.any(pixels != BACKGROUND, axis=2).sum())


def quad_model(holder_factory=None):
    model = pytav.Model()
    holder = model.getRootTransform()
    if holder_factory:
        holder = holder.addChild(holder_factory())
    node = pbr_node(color_base_block())
    node.setControlNode(holder)
    assert model.addRenderNode(node) == ""
    return model


def saved_preview(tmp_path, model, size=64, version=10):
    path = tmp_path / "m.tav"
    save_and_read(model, path, version)
    preview(path, tmp_path / "m.png", size)
    return (tmp_path / "m.png").read_bytes()


@pytest.mark.parametrize("size", [16, 64, 129])
def test_png_has_signature_requested_size_and_valid_chunks(tmp_path, size):
    pixels = decode_png(saved_preview(tmp_path, quad_model(), size))
    assert pixels.shape == (size, size, 3)
    assert drawn(pixels) > 0


def test_same_file_renders_identical_bytes(tmp_path):
    model_path = tmp_path / "s.tav"
    err = io.StringIO()
    assert convert(ROOT / "examples" / "sample.gltf", model_path, 10, stderr=err) == 0, err.getvalue()
    images = []
    for name in ("a.png", "b.png"):
        preview(model_path, tmp_path / name, 96)
        images.append((tmp_path / name).read_bytes())
    assert images[0] == images[1]
    assert drawn(decode_png(images[0])) > 96 * 96 // 10


def visibility(ranges_key):
    def make():
        node = pytav.VisibilityNode("switch")
        node.setArguments([(3, ranges_key)])
        return node
    return make


@pytest.mark.parametrize("keys, visible", [
    ([(-1.0, 0.0), (0.5, 1.0)], False),     # shown only from 0.5 on
    ([(-1.0, 1.0), (0.5, 0.0)], True),      # shown until 0.5
])
def test_visibility_switch_evaluated_at_argument_zero(tmp_path, keys, visible):
    pixels = decode_png(saved_preview(tmp_path, quad_model(visibility(keys))))
    assert (drawn(pixels) > 0) == visible


def lifted():
    node = pytav.AnimationNode("lift")
    node.setPositionAnimation([(1, [(-1.0, (0, 0, -4)), (0.0, (0, 0, 7)), (1.0, (0, 0, 9))])])
    node.setScaleAnimation([(2, [(0.0, (2, 2, 2)), (1.0, (1, 1, 1))])])
    return node


@pytest.mark.parametrize("arguments, corners", [
    (None, {(0, 0, 7), (2, 0, 7), (2, 2, 7), (0, 2, 7)}),
    ({1: 1.0}, {(0, 0, 9), (2, 0, 9), (2, 2, 9), (0, 2, 9)}),              # lifted to its last key
    ({1: -0.5, 2: 1.0}, {(0, 0, 1.5), (1, 0, 1.5), (1, 1, 1.5), (0, 1, 1.5)}),  # half-way down, unscaled
])
def test_animation_node_drawn_at_its_keys_for_the_argument_values(tmp_path, arguments, corners):
    data = save_and_read(quad_model(lifted), tmp_path / "a.tav")
    tris, _ = scene_triangles(data, arguments)
    assert {tuple(p) for p in tris.reshape(-1, 3).tolist()} == corners


def test_command_line_argument_values_switch_visibility_and_large_files_show_progress(tmp_path, monkeypatch):
    save_and_read(quad_model(visibility([(-1.0, 0.0), (0.5, 1.0)])), tmp_path / "m.tav")
    command = [sys.executable, "-m", "tavtools", "preview", str(tmp_path / "m.tav"), "--size", "32"]
    for value, visible in (("0", False), ("0.75", True)):
        done = subprocess.run(command + ["-o", str(tmp_path / "m.png"), "--argument", f"3={value}"],
                              capture_output=True, text=True, cwd=ROOT)
        assert (done.returncode, done.stderr) == (0, "")
        assert (drawn(decode_png((tmp_path / "m.png").read_bytes())) > 0) == visible
    bad = subprocess.run(command + ["-o", str(tmp_path / "x.png"), "--argument", "3"],
                         capture_output=True, text=True, cwd=ROOT)
    assert bad.returncode == 2 and "NUMBER=VALUE" in bad.stderr

    import tavtools.preview
    monkeypatch.setattr(tavtools.preview, "LARGE_FILE", 0)
    lines = io.StringIO()
    preview(tmp_path / "m.tav", tmp_path / "p.png", 32, {3: 0.75}, progress=lines)
    stages = [line.split(": ")[1].split()[0] for line in lines.getvalue().splitlines()]
    assert stages == ["reading", "placing", "drawing", "done"]


def test_skinned_vertices_follow_their_bones(tmp_path):
    asset, _, tip = skinned_asset()
    asset.json["nodes"][tip]["translation"] = [0, 3, 0]   # bound one unit up, now three
    source = asset.write(tmp_path / "skin.gltf")
    err = io.StringIO()
    assert convert(source, tmp_path / "skin.tav", 10, stderr=err) == 0, err.getvalue()
    tris, _ = scene_triangles(tavtools.read(tmp_path / "skin.tav"))
    points = {tuple(np.round(p, 5) + 0.0) for p in tris.reshape(-1, 3)}
    # glTF (x, y, 0) in Z-up is (x, 0, y); the tip edge moved from y = 1 to y = 3.
    assert points == {(0, 0, 0), (1, 0, 0), (1, 0, 3), (0, 0, 3)}


def test_format20_model_draws_node_markers(tmp_path):
    model = pytav.Model()
    root = model.getRootTransform()
    for x in (0, 4):
        lamp = pytav.OmniLight(f"l{x}")
        lamp.setControlNode(root.addChild(pytav.Transform(f"t{x}", [(1, 0, 0, x), (0, 1, 0, 0), (0, 0, 1, 0),
                                                                    (0, 0, 0, 1)])))
        model.addOmniLight(lamp)
    assert drawn(decode_png(saved_preview(tmp_path, model, version=20))) > 0


@pytest.mark.parametrize("tris", [
    np.zeros((0, 3, 3)),
    np.array([[[0, 0, 0], [1, 1, 1], [2, 2, 2]]], dtype=float),     # degenerate: no area
    np.array([[[0, 0, 0], [1, 0, 0], [np.nan, 1, 0]]], dtype=float),
])
def test_nothing_drawable_gives_plain_background(tris):
    keep = np.all(np.isfinite(tris), axis=(1, 2)) if len(tris) else np.zeros(0, bool)
    image = render(tris[keep], np.ones((int(keep.sum()), 3)), 32)
    assert decode_png(png_bytes(image)).tolist() == [[list(BACKGROUND)] * 32] * 32


@pytest.mark.parametrize("near_first", [True, False])
def test_nearer_triangle_wins_whatever_the_drawing_order(near_first):
    from tavtools.preview import _camera
    _, _, toward, _ = _camera()
    base = np.array([[-1, -1, 0], [1, -1, 0], [0, 1, 1]], dtype=float)
    near, far = base + toward, base - toward
    red, green = (1.0, 0.0, 0.0), (0.0, 1.0, 0.0)
    tris, colors = (np.stack([near, far]), [red, green]) if near_first else (np.stack([far, near]), [green, red])
    image = render(tris, np.array(colors), 33)
    centre = image[16, 16]
    assert centre[0] > 0 and centre[1] == 0


def test_command_line_preview_of_non_model_gives_one_line(tmp_path):
    source = tmp_path / "x.tav"
    source.write_bytes(b"not a model")
    result = subprocess.run([sys.executable, "-m", "tavtools", "preview", str(source), "-o", str(tmp_path / "x.png")],
                            capture_output=True, text=True, cwd=ROOT)
    assert result.returncode == 1
    assert len(result.stderr.splitlines()) == 1 and "Traceback" not in result.stderr
    assert not (tmp_path / "x.png").exists()
