# Damaged model files of both formats: whatever the damage, the decoder
# raises only its format error, validate lists the damage with its offset and
# fails, and no command of the tool shows a traceback.

import struct

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from support import build
from tavtools.__main__ import main
from tavtools.validate import validate


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict:
    # The model of every class, so that every record kind of both formats is damaged.
    folder = tmp_path_factory.mktemp("every")
    for version in (10, 20):
        assert build(lod=version == 10)[0].save(str(folder / f"m{version}.tav"), version) == ""
    return {version: (folder / f"m{version}.tav").read_bytes() for version in (10, 20)}


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
@given(data=st.data(), version=st.sampled_from([10, 20]))
def test_damaged_file_gives_validate_a_traceback(files, tmp_path_factory, capsys, data, version):
    kind, damaged = data.draw(damages(files[version]))
    report = validate(damaged)
    assert all(isinstance(i.offset, int) and 0 <= i.offset <= len(damaged) for i in report.issues)
    if kind == "truncated":
        assert report.errors
    path = tmp_path_factory.getbasetemp() / "damaged.tav"
    path.write_bytes(damaged)
    assert main(["validate", str(path)]) == (1 if report.errors else 0)
    for command in ("summary", "dump"):
        assert main([command, str(path)]) in (0, 1)
    assert "Traceback" not in capsys.readouterr().err
