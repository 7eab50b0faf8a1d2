# The two entry points a person needs (see README.md):
#   make run   - set up, build and open the centre (a screenshot under Xvfb when there is no display)
#   make test  - set up, build everything and run every test
#   make windows - the Windows package and its setup program in dist/windows (needs
#                  Z47_WINDOWS_SDK, docs/windows-sdk.md)
#   make deb   - the Debian package of the Linux centre in build/
#
# Each command installs only what it needs (scripts/install-deps.sh): `run` what the Linux
# centre needs; `test`, `windows` and `bench` add the Windows toolchain, wine and the test tools.
PYTHON := /usr/bin/python3
BUILD  := build

# Configures and builds the tree with what is installed: the Windows side only where the
# Windows toolchain is (cmake/Z47Windows.cmake).  The compilers' temporary files stay in the
# build folder: gcc's link-time optimiser, tried by pybind11's configuration, leaves some behind.
define build_tree
	mkdir -p $(BUILD)/tmp
	TMPDIR=$(abspath $(BUILD))/tmp cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	TMPDIR=$(abspath $(BUILD))/tmp cmake --build $(BUILD) -j2
endef

.PHONY: all deps-run deps-test build build-all run test bench windows deb clean
# One thing at a time: two apt-get runs at once would fight over its lock.
.NOTPARALLEL:
all: build

deps-run:
	@scripts/install-deps.sh run

deps-test:
	@scripts/install-deps.sh test

build: deps-run
	$(build_tree)

build-all: deps-test
	$(build_tree)

run: build
	$(PYTHON) scripts/run_centre.py

test: build-all
	scripts/run-tests.sh

# The build lays the package out, and makes its setup program, in $(BUILD)/dist/windows when it
# has the Windows parts.
windows: build-all
	@if [ "$$(head -n1 $(BUILD)/windows-parts.txt)" != found ]; then \
	  echo "z47: $$(sed -n 2p $(BUILD)/windows-parts.txt)" >&2; exit 1; fi
	rm -rf dist/windows && mkdir -p dist && cp -a $(BUILD)/dist/windows dist/windows
	@ls -1d dist/windows/*

# The Debian package: $(BUILD)/z47-kurulum-merkezi_<version>_<arch>.deb (cmake/Z47DebianPackage.cmake).
deb: build
	cmake --build $(BUILD) --target package
	@ls -1 $(BUILD)/z47-kurulum-merkezi_*.deb

bench: build-all
	for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf $(BUILD)
