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
stale patch is to be remade against the code, not counted. The steps the
patches need first run on the unchanged copy and must pass there.

Each patch's first line, `# fault: ...`, says what fault it plants. A patch
that plants a race says so in a further header line, `# check: tsan`: the
C++ tests then run first under ThreadSanitizer (`make tsan`), which sees
the race on every run whatever the machine's load, where the plain tests
see it only when the threads happen to meet.

A whole suite per mutant takes hours on two cores, so the runner skips what
cannot fail: a fault in Python code alone cannot fail the C++ tests, and
one in the add-on alone (which no Python test imports) can fail only the
Blender tests. And the test that caught a mutant last time, as the table
of the previous run (`--hints`, by default tests/mutants/after.md) names
it, runs first by itself: when it fails the mutant is caught at once.
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
# the faults do not depend on it. With --lto the build keeps the normal
# flags instead, so that a compiler cache filled by the normal build serves
# it: the better choice for patches that touch no C++, which relink nothing.
ENV = dict(os.environ, CMAKE_ARGS="-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF")


def sh(*command: str | Path, cwd: Path = SCRATCH, log: Path | None = None) -> int:
    with open(log, "a") if log else open(os.devnull, "w") as out:
        return subprocess.run(command, cwd=cwd, env=ENV, stdout=out, stderr=subprocess.STDOUT).returncode


# pytest's exit codes for a test id that names nothing: a stale hint, not a catch.
NOTHING_RUN = (4, 5)


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


PYTEST = [".venv/bin/python", "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider"]
STEPS = [
    ("build", ["make", "cpp", "py", "blender"]),
    ("C++ tests", ["make", "test-cpp"]),
    ("Python tests", PYTEST + ["tests/python"]),
    ("Blender tests", ["make", "test-blender"]),
]
TSAN = ("ThreadSanitizer", ["make", "tsan"])


def touched(patch: Path) -> set[str]:
    """The top folders of the files the patch changes."""
    names = re.findall(r"^\+\+\+ b/(\S+)", patch.read_text(), re.M)
    return {name.split("/")[0] for name in names}


def hint(detail: str) -> tuple[str, list[str]] | None:
    """The command that runs by itself the test a table row names as the first failure."""
    step, _, test = detail.partition(": ")
    if step == "Python tests" and test.startswith("tests/python/"):
        # The table cuts long names: the test is found by what is left of its name.
        path, _, name = test.split("[")[0].partition("::")
        return step, PYTEST + [path] + (["-k", name] if name else [])
    if step == "Blender tests" and test.startswith("tests/blender/"):
        return step, ["make", "test-blender", "BLENDER_TEST_SCRIPTS=" + test]
    if step == "C++ tests" and re.match(r"[\w/]+\.\w+", test):
        name = test.split(" ")[0].split(",")[0]
        return step, ["build/cpp/pytav_cpp_tests", f"--gtest_filter={name}*"]
    return None


def hints_from(table: Path) -> dict[str, tuple[str, list[str]]]:
    found = {}
    if table.exists():
        for row in table.read_text().splitlines():
            cells = [c.strip() for c in row.strip("|").split("|")]
            if len(cells) == 4 and cells[2] == "caught" and (command := hint(cells[3])):
                found[cells[0]] = command
    return found


def steps(folders: set[str], checks: set[str]) -> list[tuple[str, list[str]]]:
    """The steps that can fail for a fault in ``folders`` (all of them when empty)."""
    chosen = list(STEPS)
    if folders and folders <= {"tavtools", "blender", "tools"}:
        chosen.remove(STEPS[1])
    if folders and folders <= {"blender"}:
        chosen.remove(STEPS[2])
    return chosen[:1] + ([TSAN] if "tsan" in checks else []) + chosen[1:]


def run(patch: Path | None, checks: set[str], first: tuple[str, list[str]] | None = None,
        folders: set[str] | None = None) -> tuple[str, str]:
    """Plants the patch's fault (none for None) and runs the suite with the extra
    checks, after the ``first`` test alone when one is given; without a patch,
    the steps that faults in ``folders`` need."""
    subprocess.run(["git", "checkout", "-q", "-f", "--", "."], cwd=SCRATCH, check=True)
    if patch and sh("git", "apply", str(patch)):
        return "stale", "patch does not apply"
    log = SCRATCH.parent / ((patch.stem if patch else "unchanged") + ".log")
    log.unlink(missing_ok=True)
    try:
        chosen = steps(touched(patch) if patch else folders or set(), checks)
        if first and sh(*chosen[0][1], log=log) == 0 and sh(*first[1], log=log) not in (0, *NOTHING_RUN):
            return "caught", f"{first[0]}: {first_failure(log)}"
        for name, command in chosen:
            if sh(*command, log=log):
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
    parser.add_argument("--lto", action="store_true", help="build with link-time optimisation, as `make` does")
    parser.add_argument("--hints", type=Path, default=HERE / "after.md",
                        help="a previous table whose first failures run first")
    args = parser.parse_args()
    patches = [p.resolve() for p in args.patches] or sorted(HERE.glob("*.patch"))
    if args.lto:
        ENV.pop("CMAKE_ARGS")
    prepare()
    # A suite that fails without any fault would count every mutant caught.
    result, detail = run(None, set().union(*map(checks_of, patches)), folders=set().union(*map(touched, patches)))
    if result != "missed":
        print(f"the suite does not pass on the unchanged copy: {detail or result}", file=sys.stderr)
        return 1
    hints = hints_from(args.hints)
    rows = ["| mutant | fault | result | first failure |", "|---|---|---|---|"]
    for patch in patches:
        result, detail = run(patch, checks_of(patch), hints.get(patch.stem))
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
