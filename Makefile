# Thin wrapper around the CMake presets: the README's commands.
.PHONY: deps build run test test-default test-asan test-windows test-windows64 fuzz bench clean

deps:
	@bash tools/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# The main job: the plug-in starts, imports the bundled sample with the default import
# options, shows the scene it built, exports it back to OBJ/MTL and imports that export
# again, checking that the counts agree.
run: deps
	@echo "make run: building the host, the plug-in module, res/ and the kelvane shell (make test builds the tests too)"
	@cmake --preset default >/dev/null
	cmake --build --preset default --target kelvane
	sh tools/roundtrip.sh

# Every test in the normal build and in the sanitizer build, every fuzz target for a
# bounded time, then the Windows build's tests under wine64.
test: deps test-default test-asan fuzz test-windows64

test-default:
	cmake --preset ci
	cmake --build --preset ci
	ctest --preset ci

test-asan:
	cmake --preset ci-asan
	cmake --build --preset ci-asan
	ctest --preset ci-asan

# The 32-bit Windows build (MinGW-w64 cross compiler, windows-i686 preset) and its test
# programs run under wine in a fresh wine prefix; installs the compiler and wine32 first.
test-windows:
	bash tools/test-windows.sh

# The same sources built for 64-bit Windows (windows-x86_64 preset), their test programs
# run under wine64: for machines whose system runs no 32-bit programs (wine32's loader
# then fails with "Exec format error"). Part of make test.
test-windows64:
	KELVANE_WINDOWS_ARCH=x86_64 bash tools/test-windows.sh

# The fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer): build, write the
# seed corpus, replay fuzz/regressions/ and fuzz each target for FUZZ_SECONDS; fails on
# any crash, leak or timeout. Longer: make fuzz FUZZ_SECONDS=600 (docs/development.md).
FUZZ_SECONDS ?= 20

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	bash fuzz/make_corpus.sh build-fuzz/corpus
	bash fuzz/run_fuzzers.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	./build/bin/bench_fileio
	./build/bin/bench_scene
	./build/bin/bench_modeling
	./build/bin/bench_objread
	./build/bin/bench_import

clean:
	rm -rf build build-asan build-ci build-ci-asan build-fuzz build-windows build-windows64
