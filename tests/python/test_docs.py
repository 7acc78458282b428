"""The documentation's code runs, and the reference covers the whole module.

Every ```python block of a document is executed in order in one namespace
(a document reads as one session), in a temporary folder; every "$ python
..." line of its ```console blocks is then run there too.
"""

import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

import pytav

REPO = Path(__file__).resolve().parents[2]
DOCUMENTS = ["docs/guide.md", "docs/reference.md", "README.md"]

_FENCE = re.compile(r"^```(\w*)\s*$")


class DocError(Exception):
    pass


def fenced_blocks(text: str):
    """(language, first line number of the code, code) of every fenced block."""
    blocks, language, start, lines = [], None, 0, []
    for number, line in enumerate(text.splitlines(), 1):
        match = _FENCE.match(line)
        if language is None:
            if match:
                language, start, lines = match.group(1), number + 1, []
            elif line.startswith("```"):
                raise DocError(f"line {number}: fence with text after the language: {line!r}")
        elif line.startswith("```"):
            if line.strip() != "```":
                raise DocError(f"line {number}: block opened at line {start - 1} is closed by {line!r}")
            blocks.append((language, start, "\n".join(lines) + "\n"))
            language = None
        else:
            lines.append(line)
    if language is not None:
        raise DocError(f"block opened at line {start - 1} is never closed")
    return blocks


def python_blocks(text: str):
    return [(start, code) for language, start, code in fenced_blocks(text) if language == "python"]


def console_commands(text: str):
    commands = []
    for language, start, code in fenced_blocks(text):
        if language != "console":
            continue
        for offset, line in enumerate(code.splitlines()):
            if line.startswith("$ "):
                commands.append((start + offset, line[2:]))
    return commands


@pytest.mark.parametrize("document", DOCUMENTS)
def test_documented_code_no_longer_runs(document, tmp_path, monkeypatch):
    path = REPO / document
    text = path.read_text()
    blocks = python_blocks(text)
    monkeypatch.chdir(tmp_path)
    namespace = {"__name__": "__doc_session__"}
    try:
        for start, code in blocks:
            try:
                exec(compile(code, f"{document}:{start}", "exec"), namespace)
            except Exception as error:
                pytest.fail(f"{document}, block at line {start}: {type(error).__name__}: {error}")
    finally:
        # A block that failed half-way must not leave the pools to the next test.
        pytav.deinit()

    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [env.get("PYTHONPATH"), str(REPO)]))
    for line, command in console_commands(text):
        argv = shlex.split(command)
        assert argv[0] == "python", f"{document}:{line}: only python commands are run: {command!r}"
        run = subprocess.run([sys.executable] + argv[1:], cwd=tmp_path, env=env, capture_output=True, text=True)
        assert run.returncode == 0 and run.stdout, f"{document}:{line}: {command!r}: {run.stderr}"


def test_guide_has_code_to_run():
    # An editing slip (a renamed fence language) would otherwise test nothing.
    text = (REPO / "docs/guide.md").read_text()
    assert len(python_blocks(text)) >= 10 and console_commands(text)


@pytest.mark.parametrize("text,fault", [
    ("```python\nx = 1\n", "never closed"),
    ("```python\nx = 1\n```python\n", "closed by"),
    ("```python x\nx = 1\n```\n", "text after the language"),
])
def test_broken_fence_swallows_rest_of_document(text, fault):
    with pytest.raises(DocError, match=fault):
        fenced_blocks(text)


def test_non_python_blocks_executed():
    text = "```\nplain\n```\n```console\n$ python -m x\nout\n```\n```python\na = 1\n```\n"
    assert python_blocks(text) == [(9, "a = 1\n")]
    assert console_commands(text) == [(5, "python -m x")]


def _module_names():
    return sorted(name for name in vars(pytav) if not name.startswith("_"))


@pytest.mark.parametrize("name", _module_names())
def test_reference_misses_module_name(name):
    text = (REPO / "docs/reference.md").read_text()
    assert re.search(rf"^#+ .*`{re.escape(name)}\b", text, re.M), f"no heading for {name} in docs/reference.md"


def _methods():
    for cls_name, cls in vars(pytav).items():
        if isinstance(cls, type) and not cls_name.startswith("_"):
            for method in vars(cls):
                if not method.startswith("_"):
                    yield cls_name, method


@pytest.mark.parametrize("cls_name,method", sorted(set(_methods())))
def test_reference_misses_method(cls_name, method):
    # Each method is described in its class's section (under the class
    # heading, before the next heading of the same or a higher level).
    text = (REPO / "docs/reference.md").read_text()
    match = re.search(rf"^(#+) .*`{cls_name}\b.*$", text, re.M)
    assert match, f"no section for {cls_name}"
    level = len(match.group(1))
    rest = text[match.end():]
    end = re.search(rf"^#{{1,{level}}} ", rest, re.M)
    section = rest[: end.start()] if end else rest
    assert f"`{method}(" in section, f"{cls_name}.{method} is not described in its section"
