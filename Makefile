# make run: install what is missing, build, and start Corvane.exe under Wine on the embedded demo
# (the 32-bit product; FLAVOUR=win64 starts the 64-bit build).
# make test: install what is missing, build, and run every test.
# make launcher: only the product and the pack tool.
# make bench: start-up, pack and size figures against baselines of the same run (BENCH_QUICK=1: about a minute).
BUILD := $(CURDIR)/build
JOBS ?= 2
export BUILD

.PHONY: all deps build launcher run test bench clean

all: build

deps:
	@bash tools/install-deps.sh

build: deps
	cmake -S tools/corvane-pack -B $(BUILD)/host -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD)/host -j $(JOBS)
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	    -DCORVANE_PACK_TOOL=$(BUILD)/host/corvane-pack -DCORVANE_TESTS=ON >/dev/null
	cmake --build $(BUILD)/win32 -j $(JOBS)
	cmake -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake \
	    -DCORVANE_PACK_TOOL=$(BUILD)/host/corvane-pack -DCORVANE_TESTS=ON >/dev/null
	cmake --build $(BUILD)/win64 -j $(JOBS)

# Just the product and the pack tool: build/win32/Corvane.exe and build/host/corvane-pack.
launcher: deps
	cmake -S tools/corvane-pack -B $(BUILD)/host -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD)/host -j $(JOBS) --target corvane-pack
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	    -DCORVANE_PACK_TOOL=$(BUILD)/host/corvane-pack -DCORVANE_TESTS=ON >/dev/null
	cmake --build $(BUILD)/win32 -j $(JOBS) --target Corvane

# CONTENT=folder (with MAKER, PRODUCT, VERSION, ENTRY_ASSEMBLY, ENTRY_TYPE, ENTRY_METHOD and any other
# CORVANE_* build variable as needed, such as CORVANE_COPYRIGHT=...): a launcher built around that
# application instead of the demo. Variables given to make reach the script through the environment.
run: build
	@if [ -n "$(CONTENT)" ]; then \
	    CONTENT="$(CONTENT)" MAKER="$(MAKER)" PRODUCT="$(PRODUCT)" VERSION="$(VERSION)" \
	    ENTRY_ASSEMBLY="$(ENTRY_ASSEMBLY)" ENTRY_TYPE="$(ENTRY_TYPE)" ENTRY_METHOD="$(ENTRY_METHOD)" \
	    bash tests/run-in-wine.sh bash tests/demo/run-branded.sh; \
	else bash tests/run-in-wine.sh bash tests/demo/run-demo.sh; fi

test: build
	@bash tests/run-in-wine.sh bash tests/run-tests.sh

bench: build
	@JOBS=$(JOBS) bash tests/run-in-wine.sh python3 tests/bench/bench.py

clean:
	rm -rf $(BUILD)
