# The two entry points a person needs (see README.md):
#   make run   - set up, build and open the centre (a screenshot under Xvfb when there is no display)
#   make test  - set up, build everything and run every test
#   make windows - the Windows package in dist/windows (needs Z47_WINDOWS_SDK, docs/windows-sdk.md)
PYTHON := /usr/bin/python3
BUILD  := build

.PHONY: all deps build run test bench windows clean
all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j2

run: build
	$(PYTHON) scripts/run_centre.py

test: build
	scripts/run-tests.sh

# The build lays the package out in $(BUILD)/dist/windows when it has the Windows parts.
windows: build
	@if [ "$$(head -n1 $(BUILD)/windows-parts.txt)" != found ]; then \
	  echo "z47: $$(sed -n 2p $(BUILD)/windows-parts.txt)" >&2; exit 1; fi
	rm -rf dist/windows && mkdir -p dist && cp -a $(BUILD)/dist/windows dist/windows
	@ls -1d dist/windows/*

bench: build
	for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf $(BUILD)
