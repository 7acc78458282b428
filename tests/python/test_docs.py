# Every ```python block of a document runs in order in one namespace (a
# document reads as one session) in a temporary folder; then every "$ python
# ..." line of its ```console blocks runs there too.

import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

import pytav

REPO = Path(__file__).resolve().parents[2]


def fenced_blocks(text: str):
    """(language, first line number of the code, code) of every fenced block."""
    return [(m.group(1), text[:m.start(2)].count("\n") + 1, m.group(2))
            for m in re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.M | re.S)]


@pytest.mark.parametrize("document", ["docs/guide.md", "docs/reference.md", "README.md"])
def test_documented_code_no_longer_runs(document, tmp_path, monkeypatch):
    blocks = fenced_blocks((REPO / document).read_text())
    monkeypatch.chdir(tmp_path)
    namespace = {"__name__": "__doc_session__"}
    try:
        for language, start, code in blocks:
            if language == "python":
                # The traceback names the document and the block's first line.
                exec(compile(code, f"{document}:{start}", "exec"), namespace)
    finally:
        # A block that failed half-way must not leave the pools to the next test.
        pytav.deinit()
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [env.get("PYTHONPATH"), str(REPO)]))
    commands = [(start + i, line[2:]) for language, start, code in blocks if language == "console"
                for i, line in enumerate(code.splitlines()) if line.startswith("$ ")]
    if document == "docs/guide.md":
        # An editing slip (a renamed fence language) would otherwise test nothing.
        assert sum(language == "python" for language, _, _ in blocks) >= 10 and commands
    for line, command in commands:
        argv = shlex.split(command)
        assert argv[0] == "python", f"{document}:{line}: only python commands are run: {command!r}"
        run = subprocess.run([sys.executable] + argv[1:], cwd=tmp_path, env=env, capture_output=True, text=True)
        assert run.returncode == 0 and run.stdout, f"{document}:{line}: {command!r}: {run.stderr}"
