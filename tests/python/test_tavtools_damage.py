# Damaged model files of both formats: whatever the damage, the decoder
# raises only its format error, validate lists the damage with its offset and
# fails, and no command of the tool shows a traceback.

import struct

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import pytav
import tavtools
from support import _set, base_block, build, pbr_node
from tavtools.__main__ import main
from tavtools.validate import validate


def small_model(version: int) -> pytav.Model:
    # A rig: an animated node with keys in the pool, a visibility node and a
    # connector with properties; a render node for format 10.
    model = pytav.Model()
    arm = _set(model.getRootTransform().addChild(pytav.AnimationNode("arm")),
               ("setRotationAnimation", [(1, [(0.0, (1, 0, 0, 0)), (1.0, (0.7071, 0, 0, 0.7071))])]),
               ("setPositionAnimation", [(2, [(0.0, (0, 0, 0)), (0.5, (1, 2, 3)), (1.0, (0, 0, 1))])]))
    hatch = _set(arm.addChild(pytav.VisibilityNode("hatch")),
                 ("setArguments", [(4, [(-1.0, 0.0), (0.0, 1.0), (0.5, 0.0)])]))
    grip = _set(pytav.Connector("grip"), ("setControlNode", hatch))
    grip.setPropertyFloat("length", 2.5)
    model.addConnector(grip)
    if version == 10:
        assert model.addRenderNode(_set(pbr_node(base_block()), ("setControlNode", arm))) == ""
    return model


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict:
    # A small rig, whose few fields random damage meets often, and the model
    # of every class, so that every record kind is damaged too.
    folder = tmp_path_factory.mktemp("damaged")
    out = {}
    for version in (10, 20):
        for label, model in (("small", small_model(version)), ("every", build(lod=version == 10)[0])):
            path = folder / f"{label}{version}.tav"
            assert model.save(str(path), version) == ""
            out[version, label] = path.read_bytes()
    return out


@st.composite
def damages(draw, data: bytes):
    # (kind, damaged bytes): cut short, one byte flipped, or a 32-bit word grown huge.
    kind = draw(st.sampled_from(["truncated", "flipped", "inflated"]))
    if kind == "truncated":
        return kind, data[:draw(st.integers(0, len(data) - 1))]
    out = bytearray(data)
    at = draw(st.integers(0, len(data) - 4))
    if kind == "flipped":
        out[at] ^= draw(st.integers(1, 255))
    else:
        (word,) = struct.unpack_from("<I", data, at)
        struct.pack_into("<I", out, at, min(word + draw(st.sampled_from([1, 1000, 1 << 24, 1 << 30])), 2**32 - 1))
    return kind, bytes(out)


@settings(max_examples=300, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data(), version=st.sampled_from([10, 20]), label=st.sampled_from(["small", "every"]))
def test_damaged_file_gives_validate_a_traceback(files, tmp_path_factory, capsys, data, version, label):
    kind, damaged = data.draw(damages(files[version, label]))
    report = validate(damaged)
    assert all(isinstance(i.offset, int) and 0 <= i.offset <= len(damaged) for i in report.issues)
    if kind == "truncated" and not report.errors:
        # Format 2.0 counts no connectors: a cut right before one leaves a
        # whole file of the connectors in front of it, and nothing else.
        whole, cut = tavtools.read(files[version, label]), tavtools.read(damaged)
        kept = len(cut["connectors"])
        assert version == 20 and kept < len(whole["connectors"])
        assert cut == dict(whole, connectors=whole["connectors"][:kept])
    path = tmp_path_factory.getbasetemp() / "damaged.tav"
    path.write_bytes(damaged)
    assert main(["validate", str(path)]) == (1 if report.errors else 0)
    for command in ("summary", "dump"):
        assert main([command, str(path)]) in (0, 1)
    assert "Traceback" not in capsys.readouterr().err


@pytest.mark.parametrize("version", [10, 20])
def test_count_or_offset_grown_past_the_pool_crashes_validate(files, version):
    # Every word of the small rig grown by 2**24 in turn: a count or an
    # offset past the pool is reported, never followed.
    data = files[version, "small"]
    for at in range(len(data) - 3):
        damaged = bytearray(data)
        (word,) = struct.unpack_from("<I", data, at)
        struct.pack_into("<I", damaged, at, min(word + (1 << 24), 2**32 - 1))
        validate(bytes(damaged))
