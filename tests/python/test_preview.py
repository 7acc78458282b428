# Preview images of saved models, decoded back from the PNG bytes.

import io
import struct
import zlib
from pathlib import Path

import numpy as np
import pytest

import pytav
from support import _set, color_base_block, pbr_node, save_and_read
from tavtools.__main__ import main
from tavtools.convert import convert
from tavtools.preview import BACKGROUND, preview, scene_triangles

ROOT = Path(__file__).resolve().parents[2]


def decode_png(data: bytes) -> np.ndarray:
    # RGB pixels of an 8-bit, unfiltered, non-interlaced PNG; checks every CRC.
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, []
    while pos < len(data):
        length, tag = struct.unpack_from(">I4s", data, pos)
        chunks.append((tag, data[pos + 8:pos + 8 + length]))
        assert struct.unpack_from(">I", data, pos + 8 + length)[0] == zlib.crc32(tag + chunks[-1][1])
        pos += 12 + length
    assert [c[0] for c in chunks] == [b"IHDR", b"IDAT", b"IEND"]
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, colour, interlace) == (8, 2, 0)
    raw = np.frombuffer(zlib.decompress(chunks[1][1]), np.uint8).reshape(height, 1 + 3 * width)
    assert not raw[:, 0].any()
    return raw[:, 1:].reshape(height, width, 3)


def drawn(pixels: np.ndarray) -> int:
    return int(np.any(pixels != BACKGROUND, axis=2).sum())


def quad_model(holder):
    # A quad below holder, below the root.
    model = pytav.Model()
    parent = model.getRootTransform().addChild(holder)
    assert model.addRenderNode(_set(pbr_node(color_base_block()), ("setControlNode", parent))) == ""
    return model


def test_sample_renders_a_valid_png_of_the_requested_size_with_identical_bytes_twice(tmp_path):
    assert convert(ROOT / "examples" / "sample.gltf", tmp_path / "s.tav", 10, stderr=io.StringIO()) == 0
    images = [preview(tmp_path / "s.tav", tmp_path / name, 97) or (tmp_path / name).read_bytes() for name in "ab"]
    pixels = decode_png(images[0])
    assert images[0] == images[1] and pixels.shape == (97, 97, 3) and drawn(pixels) > 97 * 97 // 10


@pytest.mark.parametrize("arguments, corners", [
    (None, {(0, 0, 7), (2, 0, 7), (2, 2, 7), (0, 2, 7)}),
    ({1: 1.0}, {(0, 0, 9), (2, 0, 9), (2, 2, 9), (0, 2, 9)}),              # lifted to its last key
    ({1: -0.5, 2: 1.0}, {(0, 0, 1.5), (1, 0, 1.5), (1, 1, 1.5), (0, 1, 1.5)}),  # half-way down, unscaled
])
def test_animation_node_drawn_at_its_keys_for_the_argument_values(tmp_path, arguments, corners):
    lift = _set(pytav.AnimationNode("lift"),
                ("setPositionAnimation", [(1, [(-1.0, (0, 0, -4)), (0.0, (0, 0, 7)), (1.0, (0, 0, 9))])]),
                ("setScaleAnimation", [(2, [(0.0, (2, 2, 2)), (1.0, (1, 1, 1))])]))
    data = save_and_read(quad_model(lift), tmp_path / "a.tav")
    tris, _ = scene_triangles(data, arguments)
    assert {tuple(p) for p in tris.reshape(-1, 3).tolist()} == corners


def test_command_line_argument_values_switch_visibility_and_a_non_model_gives_one_line(tmp_path, capsys):
    switch = _set(pytav.VisibilityNode("switch"), ("setArguments", [(3, [(-1.0, 0.0), (0.5, 1.0)])]))  # from 0.5 on
    save_and_read(quad_model(switch), tmp_path / "m.tav")
    command = ["preview", str(tmp_path / "m.tav"), "--size", "32", "-o"]
    for value, visible in (("0", False), ("0.75", True)):
        assert main(command + [str(tmp_path / "m.png"), "--argument", f"3={value}"]) == 0
        assert (drawn(decode_png((tmp_path / "m.png").read_bytes())) > 0) == visible
    assert capsys.readouterr().err == ""
    (tmp_path / "m.tav").write_bytes(b"not a model")
    assert main(command + [str(tmp_path / "x.png")]) == 1
    assert len(capsys.readouterr().err.splitlines()) == 1 and not (tmp_path / "x.png").exists()
