# The committed type stub python_bindings/pytav.pyi follows the module as built.

import sys
from pathlib import Path

import pytav

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools"))
import gen_stubs  # noqa: E402

sys.path.remove(str(REPO / "tools"))


def test_stub_not_regenerated_after_binding_change():
    # Names, parameters and types drift alike: the committed file must be
    # exactly what the generator writes for the module as built.
    assert (REPO / "python_bindings" / "pytav.pyi").read_text() == gen_stubs.render(pytav), \
        "run: python tools/gen_stubs.py"
