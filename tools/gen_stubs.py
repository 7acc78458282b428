"""Writes the type stub of the pytav extension module from its own introspection.

Usage (from the repository root, with the module importable):

    python tools/gen_stubs.py            # rewrite python_bindings/pytav.pyi
    python tools/gen_stubs.py --check    # exit 1 when the committed stub is stale
    python tools/gen_stubs.py -o FILE    # write elsewhere

pybind11 puts each function's signature on the first line of its docstring,
``name(self: pytav.X, value: int) -> None``, and the binding's own one-line
text after it; an overloaded function lists one numbered signature per
overload, each followed by the text that goes with that overload's stub. The
signatures are turned into stub types by a few general rewrites (module
prefixes dropped, NumPy arrays as NDArray) and a small table of corrections
for the places where the rendered type says less than the binding does (an
argument that also takes None, a result that may be None, the element type of
a plain list).

Arguments are named in the bindings and may be passed by keyword. A function
bound without names shows pybind11's arg0, arg1, ..., which take no keyword:
the stub makes those positional-only.
"""

from __future__ import annotations

import argparse
import ast
import builtins
import difflib
import importlib
import inspect
import re
import sys
from dataclasses import dataclass, field
from pathlib import Path
from types import ModuleType
from typing import Any

REPO = Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPO / "python_bindings" / "pytav.pyi"

# (qualified name, parameter name or "return") -> (pybind11 text, stub type).
# The pybind11 text is checked, so a binding whose type changes makes the
# generator stop instead of silently keeping a stale correction.
Corrections = dict[tuple[str, str], tuple[str, str]]
CORRECTIONS: Corrections = {
    # Any path os.fsencode takes names the file (a str with escaped bytes the
    # same file as those bytes); None is passed on as an absent path, which
    # the save reports as "Can't open ".
    ("Model.save", "path"): ("str", "str | bytes | PathLike[str] | PathLike[bytes] | None"),
    # addBlock(None) is ignored; getBlock gives None for a type the node lacks.
    ("PBRNode.addBlock", "block"): ("pytav.IBlock", "IBlock | None"),
    ("PBRNode.getBlock", "return"): ("pytav.IBlock", "IBlock | None"),
    # Taken as a plain list; every item must be a Bone.
    ("BoneBlock.setBones", "bones"): ("list", "list[Bone]"),
    # addChild returns the very object it was given, so chained calls keep
    # the child's own class.
    ("Node.addChild", "child"): ("pytav.Node", "_NodeT"),
    ("Node.addChild", "return"): ("pytav.Node", "_NodeT"),
}

# Shorthands the stub declares; applied longest first after the general
# rewrites, so nested tuples collapse into the vector aliases.
ALIASES: list[tuple[str, str, str]] = [
    ("_Float", "SupportsFloat | SupportsIndex", "a Python float, int or anything with __float__/__index__"),
    ("_Int", "SupportsInt | SupportsIndex", "a Python int or anything with __int__/__index__"),
    ("_Vec2", "tuple[_Float, _Float]", "two floats"),
    ("_Vec3", "tuple[_Float, _Float, _Float]", "three floats"),
    ("_Vec4", "tuple[_Float, _Float, _Float, _Float]", "four floats (a matrix row, a quaternion w, x, y, z)"),
]

TYPEVARS = {"_NodeT": 'TypeVar("_NodeT", bound="Node")'}

# Names the stub may use besides the module's classes, with where they come from.
IMPORTS = {
    "Sequence": "collections.abc",
    "PathLike": "os",
    "SupportsFloat": "typing",
    "SupportsIndex": "typing",
    "SupportsInt": "typing",
    "TypeAlias": "typing",
    "TypeVar": "typing",
    "overload": "typing",
    "NDArray": "numpy.typing",
    "ArrayLike": "numpy.typing",
}

_OVERLOAD_HEADER = "Overloaded function."
# The names pybind11 gives arguments bound without py::arg.
UNNAMED = re.compile(r"arg\d+")


class StubError(Exception):
    """The module shows something the generator can't turn into a stub."""


@dataclass
class Parameter:
    name: str
    annotation: str | None  # None for an unannotated self


@dataclass
class Signature:
    parameters: list[Parameter]
    returns: str
    doc: str = ""

    def names(self) -> list[str]:
        return [p.name for p in self.parameters]


@dataclass
class Function:
    name: str
    signatures: list[Signature]


@dataclass
class ClassStub:
    name: str
    bases: list[str]
    methods: list[Function] = field(default_factory=list)


# ---------------------------------------------------------------------------
# Reading pybind11 docstrings
# ---------------------------------------------------------------------------

def split_top_level(text: str, separator: str = ",") -> list[str]:
    """Splits at separators outside brackets; empty text gives no parts."""
    parts, depth, start = [], 0, 0
    for i, ch in enumerate(text):
        if ch in "[(":
            depth += 1
        elif ch in "])":
            depth -= 1
            if depth < 0:
                raise StubError(f"unbalanced brackets in {text!r}")
        elif ch == separator and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    if depth != 0:
        raise StubError(f"unbalanced brackets in {text!r}")
    tail = text[start:].strip()
    if tail or parts:
        parts.append(tail)
    if any(not p for p in parts):
        raise StubError(f"empty parameter in {text!r}")
    return parts


def parse_signature_line(line: str, name: str) -> Signature:
    """Reads ``name(p: T, ...) -> R`` as pybind11 writes it."""
    prefix = name + "("
    if not line.startswith(prefix):
        raise StubError(f"signature of {name} expected, got {line!r}")
    depth, close = 0, -1
    for i in range(len(name), len(line)):
        if line[i] in "[(":
            depth += 1
        elif line[i] in "])":
            depth -= 1
            if depth == 0:
                close = i
                break
    if close < 0:
        raise StubError(f"unterminated parameter list in {line!r}")
    rest = line[close + 1:].strip()
    if not rest.startswith("->"):
        raise StubError(f"no result type in {line!r}")
    parameters: list[Parameter] = []
    for part in split_top_level(line[len(prefix):close]):
        if part.startswith("*"):
            raise StubError(f"variadic parameter {part!r} in {line!r}")
        pname, colon, annotation = part.partition(":")
        pname = pname.strip()
        if "=" in annotation:
            raise StubError(f"default value in {line!r}: the stub has no form for it yet")
        if not pname.isidentifier():
            raise StubError(f"bad parameter name {pname!r} in {line!r}")
        # The receiver's class is implied by where the method sits.
        keep = colon and not (pname == "self" and not parameters)
        parameters.append(Parameter(pname, annotation.strip() if keep else None))
    return Signature(parameters, rest[2:].strip())


def parse_docstring(doc: str | None, name: str) -> list[Signature]:
    """The signatures of one pybind11 function, each with the text written after it."""
    lines = (doc or "").splitlines()
    if not lines:
        raise StubError(f"{name} has no docstring to read its signature from")
    if len(lines) > 1 and lines[1].strip() == _OVERLOAD_HEADER:
        signatures: list[Signature] = []
        texts: list[list[str]] = []
        pattern = re.compile(r"^(\d+)\. (.*)$")
        for line in lines[2:]:
            match = pattern.match(line)
            if match and match.group(2).startswith(name + "("):
                if int(match.group(1)) != len(signatures) + 1:
                    raise StubError(f"overloads of {name} out of order")
                signatures.append(parse_signature_line(match.group(2), name))
                texts.append([])
            elif line.strip():
                if not signatures:
                    raise StubError(f"text before the first overload of {name}")
                texts[-1].append(line.strip())
        if not signatures:
            raise StubError(f"{name} says it is overloaded but lists no signature")
        for sig, text in zip(signatures, texts):
            sig.doc = "\n".join(text)
        return signatures
    sig = parse_signature_line(lines[0], name)
    sig.doc = "\n".join(lines[1:]).strip()
    return [sig]


# ---------------------------------------------------------------------------
# Types
# ---------------------------------------------------------------------------

def translate(text: str, module_name: str, argument: bool = True) -> str:
    """pybind11's rendering of a type as the stub writes it.

    The module shows lists and tuples as "List[...]" and "Tuple[...]". An
    argument takes more than it names: a list argument takes any sequence, an
    array argument any array-like, a float any number, an int anything with
    __index__; a result is what it names."""
    array = "ArrayLike" if argument else r"NDArray[np.\1]"
    t = re.sub(r"numpy\.ndarray\[numpy\.(\w+)\]", array, text)
    t = t.replace(module_name + ".", "")
    t = t.replace("collections.abc.", "").replace("typing.", "")
    t = t.replace("Tuple[", "tuple[")
    if argument:
        t = t.replace("List[", "Sequence[")
        t = re.sub(r"\bfloat\b", "SupportsFloat | SupportsIndex", t)
        t = re.sub(r"\bint\b", "SupportsInt | SupportsIndex", t)
    else:
        t = t.replace("List[", "list[")
    for alias, expansion, _ in ALIASES:
        t = t.replace(expansion, alias)
    return t


def used_names(annotation: str) -> set[str]:
    try:
        tree = ast.parse(annotation, mode="eval")
    except SyntaxError as error:
        raise StubError(f"{annotation!r} is not a Python type expression") from error
    names = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Name):
            names.add(node.id)
        elif isinstance(node, ast.Attribute) and not (isinstance(node.value, ast.Name) and node.value.id == "np"):
            # Only NumPy's scalar types are named through a module.
            raise StubError(f"unexpected dotted name in {annotation!r}")
    return names


# ---------------------------------------------------------------------------
# Module walk
# ---------------------------------------------------------------------------

def _is_public(name: str) -> bool:
    return not name.startswith("_") or name == "__init__"




def read_callable(obj: Any, name: str, qualname: str, corrections: Corrections, used: set[tuple[str, str]],
                  module_name: str) -> Function:
    signatures = parse_docstring(obj.__doc__, name)
    for sig in signatures:
        for p in sig.parameters:
            if p.annotation is None:
                continue
            key = (qualname, p.name)
            if key in corrections:
                expected, replacement = corrections[key]
                if p.annotation != expected:
                    raise StubError(f"{qualname} {p.name}: binding shows {p.annotation!r}, "
                                    f"correction expects {expected!r}")
                p.annotation = replacement
                used.add(key)
            else:
                p.annotation = translate(p.annotation, module_name)
        key = (qualname, "return")
        if key in corrections:
            expected, replacement = corrections[key]
            if sig.returns != expected:
                raise StubError(f"{qualname} result: binding shows {sig.returns!r}, correction expects {expected!r}")
            sig.returns = replacement
            used.add(key)
        else:
            sig.returns = translate(sig.returns, module_name, argument=False)
    return Function(name, signatures)


def read_module(module: ModuleType, corrections: Corrections | None = None
                ) -> tuple[list[tuple[str, str]], list[Function], list[ClassStub]]:
    """Constants, functions and classes of the module, in registration order."""
    corrections = CORRECTIONS if corrections is None else corrections
    used: set[tuple[str, str]] = set()
    constants: list[tuple[str, str]] = []
    functions: list[Function] = []
    classes: list[ClassStub] = []
    name_of_module = module.__name__
    for name, obj in vars(module).items():
        if not _is_public(name) or name == "__init__":
            continue
        if inspect.isclass(obj):
            bases = [b.__name__ for b in obj.__bases__ if b.__module__ == name_of_module]
            cls = ClassStub(name, bases)
            for mname, member in vars(obj).items():
                if not _is_public(mname) or not callable(member):
                    continue
                cls.methods.append(read_callable(member, mname, f"{name}.{mname}", corrections, used, name_of_module))
            classes.append(cls)
        elif callable(obj):
            functions.append(read_callable(obj, name, name, corrections, used, name_of_module))
        elif isinstance(obj, (bool, int, float, str, bytes)):
            constants.append((name, type(obj).__name__))
        else:
            raise StubError(f"module attribute {name} of type {type(obj).__name__} has no stub form")
    stale = sorted(set(corrections) - used)
    if stale:
        raise StubError(f"corrections that match nothing in the module: {stale}")
    return constants, functions, classes


# ---------------------------------------------------------------------------
# Writing
# ---------------------------------------------------------------------------

def _parameter_list(sig: Signature) -> str:
    parts = [p.name if p.annotation is None else f"{p.name}: {p.annotation}" for p in sig.parameters]
    unnamed = [i for i, p in enumerate(sig.parameters) if UNNAMED.fullmatch(p.name)]
    if unnamed:
        # Everything up to the last unnamed argument can only go by position.
        parts.insert(unnamed[-1] + 1, "/")
    return ", ".join(parts)


def _docstring_lines(doc: str, indent: str) -> list[str]:
    if not doc:
        return []
    if '"""' in doc or "\\" in doc:
        raise StubError(f"docstring {doc!r} needs escaping")
    if "\n" not in doc:
        return [f'{indent}"""{doc}"""']
    return [f'{indent}"""'] + [f"{indent}{line}" if line else "" for line in doc.splitlines()] + [f'{indent}"""']


def _callable_lines(fn: Function, indent: str) -> list[str]:
    lines = []
    overloaded = len(fn.signatures) > 1
    for sig in fn.signatures:
        if overloaded:
            lines.append(f"{indent}@overload")
        head = f"{indent}def {fn.name}({_parameter_list(sig)}) -> {sig.returns}:"
        body = _docstring_lines(sig.doc, indent + "    ")
        lines.extend([head] + body if body else [head + " ..."])
    return lines


def render(module: ModuleType, corrections: Corrections | None = None) -> str:
    constants, functions, classes = read_module(module, corrections)
    class_names = {c.name for c in classes}

    names = set()
    for fn in functions + [m for c in classes for m in c.methods]:
        for sig in fn.signatures:
            for p in sig.parameters:
                if p.annotation:
                    names |= used_names(p.annotation)
            names |= used_names(sig.returns)
        if len(fn.signatures) > 1:
            names.add("overload")
    alias_names = {a for a, _, _ in ALIASES}
    # Aliases used inside other aliases count as used.
    for alias, expansion, _ in reversed(ALIASES):
        if alias in names:
            names |= used_names(expansion)
    typevars = sorted(n for n in names if n in TYPEVARS)
    if typevars:
        names.add("TypeVar")
    if names & alias_names:
        names.add("TypeAlias")
    known = class_names | alias_names | set(TYPEVARS) | set(IMPORTS) | {"np"} | set(dir(builtins))
    unknown = sorted(names - known)
    if unknown:
        raise StubError(f"types the stub can't name: {unknown}; add a correction to CORRECTIONS")

    out = [
        f"# Type stub of the {module.__name__} extension module.",
        "# Generated by tools/gen_stubs.py from the module's own signatures; do not",
        "# edit by hand.",
        "",
    ]
    by_source: dict[str, list[str]] = {}
    for name in sorted(names & set(IMPORTS)):
        by_source.setdefault(IMPORTS[name], []).append(name)
    for source in sorted(s for s in by_source if "numpy" not in s):
        out.append(f"from {source} import {', '.join(by_source[source])}")
    if "np" in names or "numpy.typing" in by_source:
        out.append("")
        if "np" in names:
            out.append("import numpy as np")
        if "numpy.typing" in by_source:
            out.append(f"from numpy.typing import {', '.join(by_source['numpy.typing'])}")
    out.append("")
    for alias, expansion, meaning in ALIASES:
        if alias in names:
            out.append(f"{alias}: TypeAlias = {expansion}  # {meaning}")
    for tv in typevars:
        out.append(f"{tv} = {TYPEVARS[tv]}")
    for name, type_name in constants:
        out.append(f"{name}: {type_name}")
    for fn in functions:
        out.append("")
        out.extend(_callable_lines(fn, ""))
    for cls in classes:
        out.extend(["", ""])
        bases = f"({', '.join(cls.bases)})" if cls.bases else ""
        out.append(f"class {cls.name}{bases}:")
        if not cls.methods:
            out.append("    ...")
        for method in cls.methods:
            out.extend(_callable_lines(method, "    "))
    return "\n".join(out) + "\n"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Write the type stub of the pytav module.")
    parser.add_argument("-o", "--output", type=Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare with the file instead of writing it")
    parser.add_argument("--module", default="pytav")
    args = parser.parse_args(argv)
    try:
        text = render(importlib.import_module(args.module))
    except StubError as error:
        print(f"gen_stubs: {error}", file=sys.stderr)
        return 2
    if args.check:
        current = args.output.read_text() if args.output.exists() else ""
        if current == text:
            return 0
        sys.stdout.writelines(difflib.unified_diff(current.splitlines(True), text.splitlines(True),
                                                   str(args.output), "generated"))
        return 1
    args.output.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
