"""Applies each deliberate fault in tests/mutants/ to a scratch copy and
reports which of them the test suite catches.

usage: .venv/bin/python tools/run_mutants.py [--out TABLE.md] [PATCH ...]

The scratch copy is a detached worktree of HEAD in build/mutants/src with its
own build trees, reused from one mutant to the next, so that each mutant
costs an incremental build. For each patch (default: every tests/mutants/*.patch, in
name order) the copy is reset, the patch applied, and the suite run step by
step, stopping at the first failure: the C++ tests, then the Python tests
(stopping at the first failing test), then the Blender tests. A mutant is
"caught" when a step fails, "missed" when the whole suite passes, and
"stale" when the patch no longer applies or the mutant does not build; a
stale patch is to be remade against the code, not counted. The suite
first runs on the unchanged copy and must pass there.

Each patch's first line, `# fault: ...`, says what fault it plants. A patch
that plants a race says so in a further header line, `# check: tsan`: the
C++ tests then run first under ThreadSanitizer (`make tsan`), which sees
the race on every run whatever the machine's load, where the plain tests
see it only when the threads happen to meet.
"""

import argparse
import os
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
HERE = REPO / "tests" / "mutants"
SCRATCH = REPO / "build" / "mutants" / "src"


# Link-time optimisation would relink both modules for minutes per mutant;
# the faults do not depend on it.
ENV = dict(os.environ, CMAKE_ARGS="-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF")


def sh(*command: str | Path, cwd: Path = SCRATCH, log: Path | None = None) -> bool:
    with open(log, "a") if log else open(os.devnull, "w") as out:
        return subprocess.run(command, cwd=cwd, env=ENV, stdout=out, stderr=subprocess.STDOUT).returncode == 0


def prepare() -> None:
    if not SCRATCH.exists():
        SCRATCH.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["git", "worktree", "add", "--detach", str(SCRATCH), "HEAD"], cwd=REPO, check=True)
    else:
        subprocess.run(["git", "checkout", "--detach", "-q", "-f", subprocess.run(
            ["git", "rev-parse", "HEAD"], cwd=REPO, capture_output=True, text=True, check=True).stdout.strip()],
            cwd=SCRATCH, check=True)


def fault_of(patch: Path) -> str:
    first = patch.read_text().splitlines()[0]
    return first.removeprefix("# fault:").strip()


def checks_of(patch: Path) -> set[str]:
    """The extra steps the patch's header asks for (`# check: tsan`)."""
    checks = set()
    for line in patch.read_text().splitlines():
        if not line.startswith("#"):
            break
        if line.startswith("# check:"):
            checks.update(line.removeprefix("# check:").split())
    return checks


def first_failure(log: Path) -> str:
    lines = log.read_text(errors="replace").splitlines()
    for line in lines:
        crashed = re.search(r"Test +#\d+: (\S+) \.+\s*\**(\w[\w ]*)\*\*\*", line)
        if crashed:
            return f"{crashed.group(1)} ({crashed.group(2).strip()})"
    marks = (("SUMMARY: ThreadSanitizer: ", ""), ("FAILED tests/", "tests/"), ("[  FAILED  ] ", ""), ("Failed: ", ""))
    for mark, keep in marks:
        for line in lines:
            if mark in line:
                return (keep + line.split(mark, 1)[1]).split(" - ")[0].strip()[:100]
    return "(see log)"


STEPS = [
    ("build", ["make", "cpp", "py", "blender"]),
    ("C++ tests", ["make", "test-cpp"]),
    ("Python tests", [".venv/bin/python", "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "tests/python"]),
    ("Blender tests", ["make", "test-blender"]),
]
TSAN = ("ThreadSanitizer", ["make", "tsan"])


def steps(checks: set[str]) -> list[tuple[str, list[str]]]:
    return [STEPS[0]] + ([TSAN] if "tsan" in checks else []) + STEPS[1:]


def run(patch: Path | None, checks: set[str]) -> tuple[str, str]:
    """Plants the patch's fault (none for None) and runs the suite with the extra checks."""
    subprocess.run(["git", "checkout", "-q", "-f", "--", "."], cwd=SCRATCH, check=True)
    if patch and not sh("git", "apply", str(patch)):
        return "stale", "patch does not apply"
    log = SCRATCH.parent / ((patch.stem if patch else "unchanged") + ".log")
    log.unlink(missing_ok=True)
    try:
        for name, command in steps(checks):
            if not sh(*command, log=log):
                if name == "build":
                    return "stale", "does not build"
                return "caught", f"{name}: {first_failure(log)}"
        return "missed", ""
    finally:
        subprocess.run(["git", "checkout", "-q", "-f", "--", "."], cwd=SCRATCH, check=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("patches", nargs="*", type=Path)
    parser.add_argument("--out", type=Path, help="also write the table to this file")
    args = parser.parse_args()
    patches = [p.resolve() for p in args.patches] or sorted(HERE.glob("*.patch"))
    prepare()
    # A suite that fails without any fault would count every mutant caught.
    result, detail = run(None, set().union(*map(checks_of, patches)))
    if result != "missed":
        print(f"the suite does not pass on the unchanged copy: {detail or result}", file=sys.stderr)
        return 1
    rows = ["| mutant | fault | result | first failure |", "|---|---|---|---|"]
    for patch in patches:
        result, detail = run(patch, checks_of(patch))
        rows.append(f"| {patch.stem} | {fault_of(patch)} | {result} | {detail} |")
        print(rows[-1], flush=True)
    table = "\n".join(rows) + "\n"
    if args.out:
        args.out.write_text(table)
    missed = sum(1 for r in rows[2:] if "| missed |" in r)
    print(f"{len(patches)} mutants, {missed} missed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
