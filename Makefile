# Quick start on Debian 12 / Ubuntu:  make run   |   make test
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all bootstrap bootstrap-test configure configure-test build build-test run test bench \
        format format-check clean sanitize fuzz deb

all: build

bootstrap:
	@bash scripts/bootstrap-debian

bootstrap-test:
	@bash scripts/bootstrap-debian --test

# A build folder made by make run holds the program alone; make test turns
# the tests on in the same folder (and warnings into errors).
configure: bootstrap
	@if [ ! -f $(BUILD)/build.ninja ]; then \
	  cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF; \
	fi

configure-test: bootstrap-test
	@if ! grep -qx 'BUILD_TESTING:BOOL=ON' $(BUILD)/CMakeCache.txt 2>/dev/null \
	   || ! grep -qx 'VOSTREL_WERROR:BOOL=ON' $(BUILD)/CMakeCache.txt 2>/dev/null \
	   || [ ! -f $(BUILD)/build.ninja ]; then \
	  cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
	    -DVOSTREL_WERROR=ON; \
	fi

build: configure
	@cmake --build $(BUILD) -j $(JOBS) --target vostrel

build-test: configure-test
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/vostrel

test: format-check build-test
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: configure-test
	@cmake -S . -B $(BUILD) -DVOSTREL_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b || exit 1; done

# The Debian package vostrel_<version>_amd64.deb, in this folder. It holds
# the program of a build without the tests, and so without their hooks
# (build-deb/); the link of that program checks that it has none.
DEB_BUILD = build-deb
deb: bootstrap
	@if [ ! -f $(DEB_BUILD)/build.ninja ]; then \
	  cmake -S . -B $(DEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF; \
	fi
	@cmake --build $(DEB_BUILD) -j $(JOBS)
	@cd $(DEB_BUILD) && cpack -G DEB
	@cp $(DEB_BUILD)/package/vostrel_*_amd64.deb .
	@ls vostrel_*_amd64.deb

# The tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Qt WebEngine's own Chromium code frees some objects with a sized delete of
# another size, inside libQt6WebEngineCore (not built with the sanitizer):
# that one check is off, every other one stays on.
ASAN_WEBENGINE = new_delete_type_mismatch=0
sanitize: bootstrap-test
	@if [ ! -f build-asan/build.ninja ]; then \
	  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOSTREL_SANITIZE=ON; \
	fi
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:$(ASAN_WEBENGINE) UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The fuzz targets, each run for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600).
# Crashing inputs are left in build-fuzz/ as crash-<target>-*; copy them to
# tests/fuzz/regressions/<target>/ once fixed.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= field_file list_reader account_reader address_rules csv_reader
fuzz:
	@bash scripts/bootstrap-debian --fuzz
	@if [ ! -f build-fuzz/build.ninja ]; then \
	  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DVOSTREL_FUZZ=ON; \
	fi
	@cmake --build build-fuzz -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -artifact_prefix=build-fuzz/crash-$$t- build-fuzz/corpus/$$t tests/fuzz/corpus/$$t \
	    || exit 1; \
	done

# The C++ files of the project: those git knows, or in a copy without git
# every one under src, tests and bench.
SOURCES_CMD = { git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench -name '*.cpp' -o -name '*.h'; }

format:
	@$(SOURCES_CMD) | xargs clang-format -i

# Fails on a file that clang-format would change, and names it.
format-check: bootstrap-test
	@$(SOURCES_CMD) | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(DEB_BUILD)
