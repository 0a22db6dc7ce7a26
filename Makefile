# Thin wrapper over the CMake presets; see README.md.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench windows package format format-check clean fuzz

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD_DIR)

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

bench:
	@$(MAKE) --no-print-directory build PRESET=release
	@build/release/bench/tavrin_bench

# tavrin beside perl, python, sed, a C loop and cat on two corpora of real documentation; see
# bench/RESULTS.md.
.PHONY: bench-peers
bench-peers:
	@$(MAKE) --no-print-directory build PRESET=release
	@bench/peers/make-corpus.sh build/peers
	@python3 bench/peers/run.py build/release build/peers

# The core and the window cross-built for Windows, their tests run under Wine in code pages 1252
# and 932; then the installer and the portable zip in build/windows/package, the installer checked
# under Wine.
windows:
	@JOBS=$(JOBS) scripts/test-windows.sh
	@scripts/package-windows.sh build/windows

# The Debian package: build/<preset>/tavrin_<version>_<arch>.deb, checked as an install would.
package:
	@$(MAKE) --no-print-directory build PRESET=$(if $(filter dev,$(PRESET)),release,$(PRESET))
	@scripts/check-package.sh build/$(if $(filter dev,$(PRESET)),release,$(PRESET))

# The fuzz targets, built with clang into build/fuzz, each run for FUZZ_SECONDS from its seeds.
FUZZ_SECONDS ?= 60
fuzz: deps
	@cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build/fuzz -j $(JOBS)
	@tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

format: deps
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

# Fails, naming the files, when any source is not formatted with .clang-format.
format-check: deps
	@clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf build
