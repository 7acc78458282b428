# Random call sequences over every pytav class: each call must end in a
# result, a returned message or an ordinary Python exception, never a crash,
# a SystemError or a leaked model object.
#
# The machine runs in a subprocess so that a crash is reported with the calls
# that caused it: every call is written, as a line of Python, to a journal file
# before it runs, and the journal is cut at the start of each sequence. `make
# test` runs 200 sequences of up to 50 steps; PYTAV_FUZZ_EXAMPLES (set by `make
# fuzz`) asks for more. Run directly to drive the machine in this process.

import functools
import gc
import math
import re
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from hypothesis.stateful import RuleBasedStateMachine, initialize, rule, run_state_machine_as_test

import pytav
import support

EXAMPLES = int(os.environ.get("PYTAV_FUZZ_EXAMPLES", "200"))
# Outcomes a script can handle; anything else (SystemError, a crash) fails.
ALLOWED_ERRORS = (TypeError, ValueError, IndexError, RuntimeError, MemoryError)
SPECIAL_FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, math.nan, math.inf, -math.inf, 3.4028235e38, 1e-45, 1e300, 2.0 ** 32]
SPECIAL_INTS = [0, 1, 2, 3, 7, 25, 26, 255, 256, 65535, 65546, 2 ** 31, 2 ** 32 - 1, 2 ** 32, 2 ** 64, -1, -(2 ** 63)]
JUNK = [None, "text", b"bytes", [], [1, 2], (1.0,), {}, object(), 1.5, -3, True]

floats = st.one_of(st.sampled_from(SPECIAL_FLOATS), st.floats(), st.floats(-10, 10))
ints = st.one_of(st.sampled_from(SPECIAL_INTS), st.integers(-2, 30))
texts = st.one_of(st.sampled_from(["", "root", "a\0b", "x" * 300, "név", "%s%d{}", "\ud800"]), st.text(max_size=12))
junk = st.sampled_from(JUNK)
arrays = st.builds(lambda a, view: {"stride": a[::2], "transpose": a.T}.get(view, a) if a.ndim else a,
                   hnp.arrays(st.sampled_from([np.float32, np.float64, np.float16, np.int64, np.uint32, np.uint8]),
                              st.one_of(hnp.array_shapes(min_dims=0, max_dims=3, max_side=24),
                                        st.sampled_from([(12,), (8,), (16,), (0,), (3000,)])),
                              elements=st.integers(0, 5)),
                   st.sampled_from(["plain", "stride", "transpose"]))
# The one table the rules come from: the value of each argument type that
# pytav's signatures name; lists, tuples and pytav objects are made from it.
VALUES = {"float": floats, "int": ints, "str": texts, "bool": st.booleans(), "numpy.ndarray": arrays}
VERSIONS = st.sampled_from([10, 20, 65546, 11, 0, 2 ** 32 - 1, -1, 2 ** 40, None, "10"])
SIGNATURE = re.compile(r"^(?:\d+\. )?(\w+)\(self: [\w.]+(.*)\) -> ", re.M)
UNSAFE = {"save"}  # saves only into the machine's folder, by the save rule


def split(text):
    # The top-level comma-separated parts of a type list.
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text + ","):
        depth += (c == "[") - (c == "]")
        if c == "," and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    return [p for p in parts if p]


def signatures(function):
    # The argument type lists of every overload of a pybind11 function.
    return [[a.split(": ", 1)[1] for a in split(args)] for name, args in SIGNATURE.findall(function.__doc__ or "")]


CLASSES = {name: cls for name, cls in vars(pytav).items() if isinstance(cls, type) and cls.__module__ == "pytav"}
METHODS = {cls: {name: signatures(f) for name, f in vars(cls).items() if not name.startswith("_") and name not in UNSAFE
                 and signatures(f)} for cls in CLASSES.values()}


def methods_of(obj):
    # Every method of obj's class and its pytav bases with its signatures.
    found = {}
    for cls in reversed(type(obj).__mro__):
        found.update(METHODS.get(cls, {}))
    return found


class Journal:
    # The calls of the running sequence, written before each call runs so
    # that a crash leaves them on disk; objects show as class and address.

    def __init__(self, path):
        self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_APPEND, 0o644) if path else None

    def restart(self):
        if self.fd is not None:
            os.ftruncate(self.fd, 0)

    def write(self, line):
        if self.fd is not None:
            os.write(self.fd, (line + "\n").encode("utf-8", "backslashreplace"))

    @staticmethod
    def name(obj):
        return f"<{type(obj).__name__} {id(obj):#x}>"

    @staticmethod
    def show(value):
        if isinstance(value, np.ndarray):
            return f"np.array({value.tolist()!r}, dtype=np.{value.dtype.name})"
        return JOURNAL.name(value) if type(value).__module__ == "pytav" else repr(value)


JOURNAL = Journal(os.environ.get("PYTAV_FUZZ_JOURNAL"))


def step(rule_function):
    # Counts the rule as open until it returns: Hypothesis abandons a step
    # whose data it rejects and keeps its frame (and the objects it held) for a
    # while, so such a sequence can't judge leaks.

    @functools.wraps(rule_function)
    def run(self, **kwargs):
        self.open_steps += 1
        rule_function(self, **kwargs)
        self.open_steps -= 1

    return run


class ApiMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.alive_at_start = pytav.get_num_alived_objects()
        self.open_steps = 0
        self.objects = []
        self.folder = Path(tempfile.mkdtemp(prefix="pytav-fuzz-"))
        JOURNAL.restart()

    def invoke(self, target, label, function, args, keep=False):
        # Every call goes through here: journalled first, then run.
        JOURNAL.write(f"{target}{label}({', '.join(JOURNAL.show(a) for a in args)})")
        try:
            result = function(*args)
        except ALLOWED_ERRORS:
            JOURNAL.write("# raised")
            return None
        if keep and result is not None:
            JOURNAL.write(f"# made {JOURNAL.name(result)}")
            self.objects.append(result)
        return result

    def draw_args(self, data, types):
        return [data.draw(junk) if data.draw(st.integers(0, 7)) == 0 else self.draw_value(data, t) for t in types]

    def draw_value(self, data, type_name):
        outer, _, inner = type_name.removesuffix("]").partition("[")
        if outer in VALUES:
            return data.draw(VALUES[outer])
        if outer == "List" or outer == "list":
            size = data.draw(st.integers(0, 12 if inner in VALUES else 4))
            return [self.draw_value(data, inner or "pytav.Node") for _ in range(size)]
        if outer == "Tuple":
            return tuple(self.draw_value(data, part) for part in split(inner))
        return self.draw_object(data, CLASSES[type_name.removeprefix("pytav.")])

    def draw_object(self, data, cls):
        # An object of the class, drawn by index (Hypothesis keeps drawn
        # values for its report, and a kept wrapper would outlive the sequence);
        # now and then any object or junk.
        choice = data.draw(st.integers(0, 9))
        objects = [o for o in self.objects if choice == 8 or isinstance(o, cls)]
        if choice == 9 or not objects:
            return data.draw(junk)
        return objects[data.draw(st.integers(0, len(objects) - 1))]

    @initialize(mesh=st.booleans())
    @step
    def start_with_a_model(self, mesh):
        # A model to add to and save, and maybe a mesh that passes the checks,
        # which random data rarely makes: the save's passes need one.
        model = self.invoke("pytav.", "Model", pytav.Model, [], keep=True)
        self.objects.append(model.getRootTransform())
        if mesh:
            JOURNAL.write("# the model of every class")
            support.build(model)

    @rule(data=st.data(), class_name=st.sampled_from(sorted(CLASSES)))
    @step
    def create(self, data, class_name):
        cls = CLASSES[class_name]
        overloads = signatures(cls.__init__)
        args = self.draw_args(data, data.draw(st.sampled_from(overloads))) if overloads else []
        self.invoke("pytav.", class_name, cls, args, keep=True)

    @rule(data=st.data())
    @step
    def call_method(self, data):
        methods = methods_of(obj := self.draw_object(data, object))
        if methods:
            name = data.draw(st.sampled_from(sorted(methods)))
            args = self.draw_args(data, data.draw(st.sampled_from(methods[name])))
            result = self.invoke(JOURNAL.name(obj) + ".", name, getattr(obj, name), args)
            assert name != "addRenderNode" or result is None or isinstance(result, str)

    @rule(data=st.data())
    @step
    def save(self, data):
        models = [o for o in self.objects if isinstance(o, pytav.Model)]
        model = models[data.draw(st.integers(0, len(models) - 1))]
        path = data.draw(st.sampled_from([str(self.folder / "same.tav"), str(self.folder), "", None, 42,
                                          str(self.folder / "missing" / "m.tav"), str(self.folder / "a\0b.tav")]))
        result = self.invoke(JOURNAL.name(model) + ".", "save", model.save, [path, data.draw(VERSIONS)])
        assert result is None or isinstance(result, str)
        assert [p.name for p in self.folder.iterdir() if p.name.endswith(".tmp")] == []

    @rule(data=st.data(), collect=st.booleans())
    @step
    def drop(self, data, collect):
        index = data.draw(st.integers(0, len(self.objects) - 1))
        models = sum(isinstance(o, pytav.Model) for o in self.objects)
        if not isinstance(self.objects[index], pytav.Model) or models > 1:
            JOURNAL.write(f"del {JOURNAL.name(self.objects.pop(index))}")
            if collect:
                gc.collect(0)

    @rule(function=st.sampled_from(["init", "deinit", "get_num_alived_objects", "get_version"]))
    @step
    def module_function(self, function):
        self.invoke("pytav.", function, getattr(pytav, function), [])

    def teardown(self):
        JOURNAL.write("# teardown")
        self.objects.clear()
        shutil.rmtree(self.folder, ignore_errors=True)
        pytav.init()
        if self.open_steps or self.alive_at_start != 0:
            return  # an abandoned step (here or in the sequence before) still holds objects
        if pytav.get_num_alived_objects() != 0:
            gc.collect()  # slow with Hypothesis' heap: only when a cycle kept something
        assert pytav.get_num_alived_objects() == 0, "model objects outlived every wrapper"


def test_random_call_sequences_never_crash_or_leak(tmp_path):
    # Runs the machine in a subprocess; a crash there is reported with the
    # journal of the sequence that caused it.
    journal = tmp_path / "journal.py"
    env = dict(os.environ, PYTAV_FUZZ_JOURNAL=str(journal), PYTHONFAULTHANDLER="1")
    process = subprocess.run([sys.executable, __file__], env=env, capture_output=True, text=True,
                             cwd=Path(__file__).parent)
    if process.returncode < 0 or process.returncode in (134, 139):
        steps = journal.read_text(errors="replace") if journal.exists() else "(no journal)"
        pytest.fail(f"pytav crashed (status {process.returncode}); the sequence that crashed it:\n{steps}\n"
                    f"--- stderr ---\n{process.stderr[-6000:]}")
    assert process.returncode == 0, process.stdout[-6000:] + process.stderr[-6000:]


if __name__ == "__main__":
    pytav.init()
    run_state_machine_as_test(ApiMachine, settings=settings(
        max_examples=EXAMPLES, stateful_step_count=50, deadline=None, derandomize=True, database=None,
        suppress_health_check=list(HealthCheck), print_blob=False))
    print("fuzz: ok", EXAMPLES, "sequences")
