# Everything a fresh machine needs: `make demo` and `make test`.
# Each target runs the idempotent set-up first.

SHELL := /bin/bash
PYTHON_VERSION := $(shell cat .python-version)
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
CPP_BUILD := build/cpp
APT_PACKAGES := libfmt-dev libboost-dev libopenscenegraph-dev libgtest-dev
JOBS ?= $(shell nproc)

.PHONY: all setup deps venv build cpp py test test-cpp test-py demo bench clean

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
	$(PIP) install -q "scikit-build-core>=0.10" "pybind11>=2.12" cmake ninja numpy pytest hypothesis
	touch $@

venv: $(VENV)/.deps

# The extension, installed editable into the venv (incremental rebuild in build/py).
py: setup
	$(PIP) install -q --no-build-isolation -e '.[test]'

# The C++ libraries and the GoogleTest binary.
cpp: setup
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DPYTAV_TESTS=ON -DPYTAV_PYTHON=OFF >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD) -j $(JOBS)

build: py cpp

test-cpp: cpp
	cd $(CPP_BUILD) && ../../$(VENV)/bin/ctest --output-on-failure -j $(JOBS)

test-py: py
	$(PY) -m pytest -q tests/python

test: test-cpp test-py

demo: py
	$(PY) examples/demo.py

# Benchmarks print their ratios against a baseline run in the same process;
# they are not part of `make test`.
BENCH_BUILD := build/bench
bench: py
	$(VENV)/bin/cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPYTAV_TESTS=OFF -DPYTAV_PYTHON=OFF -DPYTAV_BENCH=ON >/dev/null
	$(VENV)/bin/cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench_pool20
	@for b in bench/bench_*.py; do [ -e "$$b" ] || continue; echo "== $$b"; $(PY) $$b || exit 1; done

clean:
	rm -rf build
