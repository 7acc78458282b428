# Everything a fresh machine needs: `make demo` and `make test`.
# Each target runs the idempotent set-up first.

SHELL := /bin/bash
PYTHON_VERSION := $(shell cat .python-version)
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
CPP_BUILD := build/cpp
APT_PACKAGES := libfmt-dev libboost-dev libopenscenegraph-dev libgtest-dev \
	python3-dev python3-numpy blender
JOBS ?= $(shell nproc)

.PHONY: all setup deps venv build libs cpp py blender test test-cpp test-py test-blender lint demo bench clean sanitize fuzz

all: build

setup: deps venv

# Install only the Debian packages that are missing; apt-get update runs once.
deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y $$missing; \
	fi

# The interpreter: pyenv's $(PYTHON_VERSION) (installed through pyenv when it is
# missing), else any python3.10 on the PATH.
$(VENV)/.created:
	@py=""; \
	if command -v pyenv >/dev/null 2>&1; then \
	  root=$$(pyenv root); \
	  [ -x "$$root/versions/$(PYTHON_VERSION)/bin/python3.10" ] || pyenv install -s $(PYTHON_VERSION); \
	  py="$$root/versions/$(PYTHON_VERSION)/bin/python3.10"; \
	fi; \
	[ -x "$$py" ] || py=$$(command -v python3.10); \
	[ -n "$$py" ] || { echo "Python $(PYTHON_VERSION) not found"; exit 1; }; \
	"$$py" -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	touch $@

$(VENV)/.deps: $(VENV)/.created pyproject.toml
	$(PIP) install -q "scikit-build-core>=0.10" "pybind11>=2.13,<2.14" cmake ninja numpy pytest hypothesis mypy ruff
	touch $@

venv: $(VENV)/.deps

# The C++ libraries, built once in build/cpp and linked by the C++ tests and
# by the module for each interpreter.
libs: setup
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_TESTS=ON -DPYTAV_PYTHON=OFF >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD) -j $(JOBS) --target Core UniModelDesc

# The extension for the venv's Python 3.10, installed editable (build/py).
py: libs
	$(PIP) install -q --no-build-isolation -Ccmake.define.PYTAV_LIBS_FROM=$(CURDIR)/$(CPP_BUILD) -e '.[test]'

# The GoogleTest binary.
cpp: libs
	$(VENV)/bin/cmake --build $(CPP_BUILD) -j $(JOBS)

# The Blender add-on: see the Blender section at the end.

build: py cpp blender

test-cpp: cpp
	cd $(CPP_BUILD) && ../../$(VENV)/bin/ctest --output-on-failure -j $(JOBS)

test-py: py
	$(PY) -m pytest -q tests/python

# Types (mypy --strict) and lint (ruff) of every package shipped; both read
# their settings from pyproject.toml.
lint: venv
	$(PY) -m mypy
	$(PY) -m ruff check tavtools blender/io_scene_tav tools

test: test-cpp test-blender test-py lint

demo: py blender
	$(PY) examples/demo.py
	mkdir -p build/demo
	$(PY) -m tavtools convert examples/sample.gltf build/demo/sample10.tav --format 10
	$(PY) -m tavtools convert examples/sample.gltf build/demo/sample20.tav --format 20 || [ $$? -eq 2 ]  # 2.0 holds no render nodes or lights: reported as losses
	$(PY) -m tavtools summary build/demo/sample10.tav
	$(PY) -m tavtools summary build/demo/sample20.tav
	$(PY) -m tavtools preview build/demo/sample10.tav -o build/demo/sample.png
	$(call blender_run,3.4) $(BLENDER_ZIP) examples/blender_demo.py -- $(CURDIR)/build/demo/blender.tav > build/demo/blender.log 2>&1 \
	  || { cat build/demo/blender.log; exit 1; }
	$(PY) -m tavtools summary build/demo/blender.tav

# Benchmarks print their ratios against a baseline run in the same process;
# they are not part of `make test`.
BENCH_BUILD := build/bench
bench: py blender
	$(PIP) install -q meshoptimizer
	$(VENV)/bin/cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_TESTS=OFF -DPYTAV_PYTHON=OFF -DPYTAV_BENCH=ON >/dev/null
	$(VENV)/bin/cmake --build $(BENCH_BUILD) -j $(JOBS)
	@missed=""; \
	for b in bench_pool20 bench_optimize bench_save10 bench_vertexpass bench_keyreduction; do \
	  echo "== $$b"; $(BENCH_BUILD)/$$b || missed="$$missed $$b"; \
	done; \
	for b in bench/bench_*.py; do \
	  [ $$b = bench/bench_blender.py ] && continue; \
	  echo "== $$b"; $(PY) $$b || missed="$$missed $$b"; \
	done; \
	for v in $(BLENDER_VERSIONS); do \
	  $(MAKE) -s bench-blender-$$v || missed="$$missed bench-blender-$$v"; \
	done; \
	if [ -n "$$missed" ]; then echo "Goals missed:$$missed"; exit 1; fi

# AddressSanitizer + UndefinedBehaviorSanitizer (leak detection on): the C++
# tests and the whole Python suite against an instrumented extension (linking
# the libraries the C++ tests' tree built). Any
# report fails the run; tools/lsan.supp silences only the interpreter's and
# NumPy's own allocations. The interpreter does not link the C++ runtime, so
# it is preloaded with the sanitizer runtime: ASan must find the real
# __cxa_throw at start-up or the first exception the module throws aborts.
SAN_CPP := build/asan-cpp
SAN_PY := build/asan-py
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:strict_init_order=1:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sanitize: setup
	$(VENV)/bin/cmake -S . -B $(SAN_CPP) -G Ninja -DPYTAV_SANITIZE=ON -DPYTAV_TESTS=ON -DPYTAV_PYTHON=OFF >/dev/null
	$(VENV)/bin/cmake --build $(SAN_CPP) -j $(JOBS)
	$(SAN_ENV) $(SAN_CPP)/pytav_cpp_tests --gtest_brief=1
	$(VENV)/bin/cmake -S . -B $(SAN_PY) -G Ninja -DPYTAV_SANITIZE=ON -DPYTAV_TESTS=OFF -DPYTAV_PYTHON=ON \
	  -DPYTAV_LIBS_FROM=$(CURDIR)/$(SAN_CPP) -DPython_EXECUTABLE=$(CURDIR)/$(PY) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) >/dev/null
	$(VENV)/bin/cmake --build $(SAN_PY) -j $(JOBS)
	$(SAN_ENV) LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libstdc++.so)" PYTHONMALLOC=malloc \
	  SKBUILD_EDITABLE_SKIP=$(CURDIR)/build/py PYTHONPATH=$(CURDIR)/$(SAN_PY) \
	  $(PY) -m pytest -q -p no:cacheprovider tests/python

# ThreadSanitizer: the C++ tests, the thread, pool and fork tests above all.
# Any report fails the run at once; tools/tsan.supp lists what is silenced
# and why. A forked child of a threaded process may start threads of its own
# (the pools do), which the runtime refuses unless told otherwise.
.PHONY: tsan
TSAN_CPP := build/tsan-cpp
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:second_deadlock_stack=1:suppressions=$(CURDIR)/tools/tsan.supp
tsan: setup
	$(VENV)/bin/cmake -S . -B $(TSAN_CPP) -G Ninja -DPYTAV_TSAN=ON -DPYTAV_TESTS=ON -DPYTAV_PYTHON=OFF >/dev/null
	$(VENV)/bin/cmake --build $(TSAN_CPP) -j $(JOBS)
	$(TSAN_ENV) $(TSAN_CPP)/pytav_cpp_tests --gtest_brief=1

# The random API sequences of tests/python/test_fuzz_api.py, ten times as many.
fuzz: py
	PYTAV_FUZZ_EXAMPLES=2000 $(PY) -m pytest -q tests/python/test_fuzz_api.py

clean:
	rm -rf build

# ---- Blender -------------------------------------------------------------
# The add-on in every Blender artists use: Debian's Blender 3.4 and the bpy
# module of the newest 4.2 LTS, 4.5 LTS and 5.x from PyPI, each in its own
# virtual environment made from pyenv's interpreter. The add-on carries the
# pytav module built for each interpreter Blender embeds: Python 3.11
# (Blender 3.4 to 5.0; Debian's python3-dev) and 3.13 (5.1 and later; pyenv's
# headers), both linking the libraries of build/cpp.
BLENDER_VERSIONS := 3.4 4.2 4.5 5
BLENDER_ZIP := build/blender/io_scene_tav.zip
BLENDER_SCRIPTS := build/blender/scripts
PY311 := /usr/bin/python3.11
PY313_VERSION := 3.13.0
BPY_SPEC_4.2 := bpy==4.2.*
BPY_SPEC_4.5 := bpy==4.5.*
BPY_SPEC_5 := bpy>=5.1,<6
BPY_PYTHON_4.2 := 3.11.7
BPY_PYTHON_4.5 := 3.11.7
BPY_PYTHON_5 := $(PY313_VERSION)
# The bpy wheels (about 400 MB each) are kept here between runs and clones:
# the index serves them with headers that keep them out of pip's own cache.
WHEELHOUSE ?= $(HOME)/.cache/pytav/wheels

# pyenv's interpreter of version $(1), installed through pyenv when missing.
pyenv_python = root=$$(pyenv root); \
	[ -x "$$root/versions/$(1)/bin/python3" ] || pyenv install -s $(1); \
	py="$$root/versions/$(1)/bin/python3"

# The module for one interpreter: build tree $(1), minor version $(2),
# interpreter $(3).
define module_build
$(VENV)/bin/cmake -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_PYTHON=ON -DPYTAV_TESTS=OFF \
  -DPYTAV_PYTHON_VERSION=$(2) -DPython_EXECUTABLE=$(3) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) \
  -DPYTAV_LIBS_FROM=$(CURDIR)/$(CPP_BUILD) $(CMAKE_ARGS) >/dev/null
$(VENV)/bin/cmake --build $(1) -j $(JOBS)
endef

# The add-on laid out as a user-scripts folder and packed as the zip that
# Add-ons > Install (and Blender 4.2's extension install) takes. CMAKE_ARGS
# from the environment reaches these builds as it reaches the module's.
blender: libs
	$(call module_build,build/py311,3.11,$(PY311))
	@$(call pyenv_python,$(PY313_VERSION)); $(MAKE) -s blender-py313 PY313=$$py
	$(PY) tools/pack_blender_addon.py build/py311 build/py313 $(BLENDER_SCRIPTS)/addons $(BLENDER_ZIP)

blender-py313:
	$(call module_build,build/py313,3.13,$(PY313))

# The virtual environment of a bpy version: build/bpy/VERSION.
build/bpy/%/.created:
	@$(call pyenv_python,$(BPY_PYTHON_$*)); \
	rm -rf build/bpy/$*; "$$py" -m venv build/bpy/$* && \
	pip="build/bpy/$*/bin/python -m pip"; mkdir -p $(WHEELHOUSE); \
	$$pip install -q --no-index --find-links $(WHEELHOUSE) "$(BPY_SPEC_$*)" 2>/dev/null || { \
	  $$pip download -q --only-binary :all: -d $(WHEELHOUSE) "$(BPY_SPEC_$*)" && \
	  $$pip install -q --no-index --find-links $(WHEELHOUSE) "$(BPY_SPEC_$*)"; }
	touch $@

# How each version runs a script through tests/blender/runner.py, which
# installs the add-on from the zip into an empty user-scripts folder.
blender_run = $(if $(filter 3.4,$(1)),blender -b --factory-startup --python-exit-code 1 --python tests/blender/runner.py --,build/bpy/$(1)/bin/python tests/blender/runner.py)

# Every tests/blender script in one Blender; then the demo scene exported by
# the add-on installed as an extension (4.2 and later). Logs in build/blender.
BLENDER_TESTS := $(addprefix test-blender-,$(BLENDER_VERSIONS))
# The scripts each version runs; the mutant runner narrows it to the script
# that caught a fault last time.
BLENDER_TEST_SCRIPTS ?= $(wildcard tests/blender/test_*.py)
BLENDER_BENCHES := $(addprefix bench-blender-,$(BLENDER_VERSIONS))
$(BLENDER_TESTS): test-blender-%: blender
	@[ $* = 3.4 ] || $(MAKE) -s build/bpy/$*/.created
	@log=build/blender/tests-$*; rm -rf $$log; mkdir -p $$log; start=$$(date +%s); failed=""; \
	for t in $(BLENDER_TEST_SCRIPTS); do \
	  $(call blender_run,$*) $(BLENDER_ZIP) $$t > $$log/$$(basename $$t .py).log 2>&1 \
	    || { cat $$log/$$(basename $$t .py).log; failed="$$failed $$t"; }; \
	done; \
	if [ $* != 3.4 ]; then \
	  $(call blender_run,$*) --extension $(BLENDER_ZIP) examples/blender_demo.py -- $(CURDIR)/$$log/demo.tav \
	    > $$log/extension.log 2>&1 || { cat $$log/extension.log; failed="$$failed extension-install"; }; \
	fi; \
	passed=$$(cat $$log/*.log | grep -c '^PASS '); fails=$$(cat $$log/*.log | grep -c '^FAIL '); \
	echo "Blender $*: $$(grep -h -m1 '^Blender ' $$log/test_*.log | head -1 | cut -d: -f1), $$(( $$(date +%s) - start )) s"; \
	echo "blender-$*: $$passed passed, $$fails failed"; \
	if [ -n "$$failed" ]; then echo "Failed:$$failed"; exit 1; fi

test-blender: $(BLENDER_TESTS)

# bench/bench_blender.py in one Blender: the add-on against that Blender's
# glTF exporter in the same process.
$(BLENDER_BENCHES): bench-blender-%: blender
	@[ $* = 3.4 ] || $(MAKE) -s build/bpy/$*/.created
	@echo "== bench/bench_blender.py in Blender $*"; \
	$(call blender_run,$*) $(BLENDER_ZIP) bench/bench_blender.py > build/blender/bench-$*.log 2>&1; rc=$$?; \
	grep -E "^Blender |^[0-9]+ |Error" build/blender/bench-$*.log; exit $$rc

.PHONY: blender-py313 $(BLENDER_TESTS) $(BLENDER_BENCHES)
