# The two entry points a person needs (see README.md):
#   make run   - set up, build and open the centre (a screenshot under Xvfb when there is no display)
#   make test  - set up, build everything and run every test
PYTHON := /usr/bin/python3
BUILD  := build

.PHONY: all deps build run test bench clean
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

bench: build
	for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf $(BUILD)
