# The committed type stub python_bindings/pytav.pyi follows the module as built.

import ast
import re
import sys
from pathlib import Path

import pytav

REPO = Path(__file__).resolve().parents[2]
STUB = REPO / "python_bindings" / "pytav.pyi"
sys.path.insert(0, str(REPO / "tools"))
import gen_stubs  # noqa: E402

sys.path.remove(str(REPO / "tools"))


def test_stub_not_regenerated_after_binding_change():
    # Names, parameters and types drift alike: the committed file must be
    # exactly what the generator writes for the module as built.
    assert STUB.read_text() == gen_stubs.render(pytav), "run: python tools/gen_stubs.py"


def test_editor_help_lost_a_parameter_name_or_docstring():
    # What an editor shows of the module as built: every function and method
    # names its parameters (pybind11's arg0, arg1 mean a binding without
    # py::arg) and says in one line what it does.
    defs = [f for f in ast.walk(ast.parse(gen_stubs.render(pytav))) if isinstance(f, ast.FunctionDef)]
    bare = [f"{f.name} (line {f.lineno})" for f in defs
            if not re.fullmatch(r"[^\n]+", ast.get_docstring(f) or "")
            or any(re.fullmatch(r"arg\d+", a.arg) for a in f.args.posonlyargs + f.args.args)]
    assert len(defs) > 150 and not bare, bare
