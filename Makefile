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

.PHONY: all setup deps venv build libs cpp py blender test test-cpp test-py test-blender demo bench clean sanitize fuzz

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
	$(PIP) install -q "scikit-build-core>=0.10" "pybind11>=2.13,<2.14" cmake ninja numpy pytest hypothesis
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

# The Blender add-on: the module built for Blender's interpreter (Debian's
# Python 3.11) beside the add-on's sources and tavtools, laid out as a user
# scripts folder and packed as the zip Blender's "Install add-on" takes.
# CMAKE_ARGS from the environment reaches this build as it reaches the
# module's (scikit-build reads it too).
BLENDER_PY := /usr/bin/python3.11
BLENDER_BUILD := build/py311
BLENDER_SCRIPTS := build/blender/scripts
blender: libs
	$(VENV)/bin/cmake -S . -B $(BLENDER_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_PYTHON=ON -DPYTAV_TESTS=OFF \
	  -DPYTAV_PYTHON_VERSION=3.11 -DPython_EXECUTABLE=$(BLENDER_PY) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) \
	  -DPYTAV_LIBS_FROM=$(CURDIR)/$(CPP_BUILD) $(CMAKE_ARGS) >/dev/null
	$(VENV)/bin/cmake --build $(BLENDER_BUILD) -j $(JOBS)
	$(PY) tools/pack_blender_addon.py $(BLENDER_BUILD) $(BLENDER_SCRIPTS)/addons build/blender/io_scene_tav.zip

build: py cpp blender

test-cpp: cpp
	cd $(CPP_BUILD) && ../../$(VENV)/bin/ctest --output-on-failure -j $(JOBS)

test-py: py
	$(PY) -m pytest -q tests/python

# Each script builds scenes in headless Blender, exports them through the
# installed add-on and checks the files.
BLENDER_RUN := BLENDER_USER_SCRIPTS=$(CURDIR)/$(BLENDER_SCRIPTS) blender -b --factory-startup --python-exit-code 1 --addons io_scene_tav
test-blender: blender
	@failed=""; for t in tests/blender/test_*.py; do \
	  echo "== $$t"; $(BLENDER_RUN) --python $$t > build/blender/$$(basename $$t .py).log 2>&1 \
	    || { cat build/blender/$$(basename $$t .py).log; failed="$$failed $$t"; }; \
	done; \
	if [ -n "$$failed" ]; then echo "Failed:$$failed"; exit 1; fi

test: test-cpp test-blender test-py

demo: py blender
	$(PY) examples/demo.py
	mkdir -p build/demo
	$(PY) -m tavtools convert examples/sample.gltf build/demo/sample10.tav --format 10
	$(PY) -m tavtools convert examples/sample.gltf build/demo/sample20.tav --format 20
	$(PY) -m tavtools summary build/demo/sample10.tav
	$(PY) -m tavtools summary build/demo/sample20.tav
	$(PY) -m tavtools preview build/demo/sample10.tav -o build/demo/sample.png
	$(BLENDER_RUN) --python examples/blender_demo.py -- $(CURDIR)/build/demo/blender.tav > build/demo/blender.log 2>&1 \
	  || { cat build/demo/blender.log; exit 1; }
	$(PY) -m tavtools summary build/demo/blender.tav

# Benchmarks print their ratios against a baseline run in the same process;
# they are not part of `make test`.
BENCH_BUILD := build/bench
bench: py blender
	$(VENV)/bin/cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_TESTS=OFF -DPYTAV_PYTHON=OFF -DPYTAV_BENCH=ON >/dev/null
	$(VENV)/bin/cmake --build $(BENCH_BUILD) -j $(JOBS)
	@missed=""; \
	for b in bench_pool20 bench_optimize bench_save10 bench_vertexpass; do \
	  echo "== $$b"; $(BENCH_BUILD)/$$b || missed="$$missed $$b"; \
	done; \
	for b in bench/bench_*.py; do \
	  [ $$b = bench/bench_blender.py ] && continue; \
	  echo "== $$b"; $(PY) $$b || missed="$$missed $$b"; \
	done; \
	echo "== bench/bench_blender.py"; \
	$(BLENDER_RUN) --python bench/bench_blender.py > build/blender/bench.log 2>&1 || missed="$$missed bench/bench_blender.py"; \
	grep -E "^[0-9]+ objects|Error" build/blender/bench.log; \
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
