# zelt: `make demo` and `make test` are the two entry points.
PY    := /usr/bin/python3
PYPY  := /usr/bin/pypy3
JOBS  ?= $(shell nproc)
BUILD := build

.PHONY: deps build demo test test-cpp test-python test-pypy test-install bench clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD)/cpython -DPYTHON_EXECUTABLE=$(PY) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/cpython -j$(JOBS)
	cmake -S . -B $(BUILD)/pypy -DPYTHON_EXECUTABLE=$(PYPY) -DCMAKE_BUILD_TYPE=Release \
	      -DZELT_BUILD_TESTS=OFF -DZELT_PREBUILT_CORE=$(CURDIR)/$(BUILD)/cpython/libzelt_core.a
	cmake --build $(BUILD)/pypy -j$(JOBS) --target zelt

test-cpp:
	ctest --test-dir $(BUILD)/cpython --output-on-failure

test-python:
	PYTHONPATH=$(CURDIR)/$(BUILD)/cpython/python $(PY) -m pytest -q -p no:cacheprovider tests/python

test-pypy:
	PYTHONPATH=$(CURDIR)/$(BUILD)/pypy/python $(PYPY) -m pytest -q -p no:cacheprovider tests/python

test: build
	$(MAKE) test-cpp
	$(MAKE) test-python
	$(MAKE) test-pypy

demo: build
	PYTHONPATH=$(CURDIR)/$(BUILD)/cpython/python $(PY) examples/demo.py
	PYTHONPATH=$(CURDIR)/$(BUILD)/cpython/python $(PY) examples/read_mol2.py

bench: build
	@for b in bench/*.py; do echo "== $$b"; PYTHONPATH=$(CURDIR)/$(BUILD)/cpython/python $(PY) $$b || exit 1; done

clean:
	rm -rf $(BUILD)

# `pip install .` into a fresh virtual environment that sees the system's packages.
test-install: deps
	rm -rf $(BUILD)/venv
	$(PY) -m venv --system-site-packages $(BUILD)/venv
	$(BUILD)/venv/bin/pip install -q --no-build-isolation --no-index .
	cd /tmp && $(CURDIR)/$(BUILD)/venv/bin/python -c "import zelt; print('installed zelt', zelt.__version__)"
