# Thin wrapper over the CMake presets; see README.md.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench windows package reproducible-check format \
        format-check clean fuzz

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

# The Debian package: build/<preset>/tavrin_<version>_<arch>.deb, checked as an install would
# and by lintian and appstreamcli, which only this target needs.
PACKAGE_PRESET = $(if $(filter dev,$(PRESET)),release,$(PRESET))
package:
	@scripts/install-deps.sh package
	@$(MAKE) --no-print-directory build PRESET=$(PACKAGE_PRESET)
	@scripts/check-package.sh build/$(PACKAGE_PRESET)

# The package built again from a fresh copy of this commit in another folder must have the
# same bytes (and so must the Windows zip, with WINDOWS=1): see scripts/reproducible-check.sh.
reproducible-check: deps
	@scripts/reproducible-check.sh $(if $(WINDOWS),windows,$(PACKAGE_PRESET))

# The fuzz targets, built with clang into build/fuzz, each run for FUZZ_SECONDS from its seeds.
FUZZ_SECONDS ?= 60
fuzz: deps
	@cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build/fuzz -j $(JOBS)
	@tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

# The C++ sources as git lists them. Without git, outside a checkout or with nothing listed it
# fails loudly: clang-format given no file would read standard input and pass.
LIST_SOURCES = files=$$(git ls-files '*.cpp' '*.h') && [ -n "$$files" ] \
  || { echo "make: cannot list the sources (git missing, or not a git checkout)" >&2; exit 1; }

format: deps
	@$(LIST_SOURCES); clang-format -i $$files

# Fails, naming the files, when any source is not formatted with .clang-format.
format-check: deps
	@$(LIST_SOURCES); clang-format --dry-run --Werror $$files

clean:
	@rm -rf build
