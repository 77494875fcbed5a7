# Thin wrapper around the CMake presets: the README's commands.
.PHONY: deps build run test test-default test-asan bench clean

deps:
	@bash tools/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# The main job: the plug-in starts, builds the demo scene and shows it.
run: build
	./build/bin/kelvane plugins
	./build/bin/kelvane scene make demo -o build/demo.kscn
	./build/bin/kelvane scene show build/demo.kscn

# Every test in the normal build and in the sanitizer build.
test: deps test-default test-asan

test-default:
	cmake --preset ci
	cmake --build --preset ci
	ctest --preset ci

test-asan:
	cmake --preset ci-asan
	cmake --build --preset ci-asan
	ctest --preset ci-asan

bench: build
	./build/bin/bench_fileio
	./build/bin/bench_scene
	./build/bin/bench_modeling

clean:
	rm -rf build build-asan build-ci build-ci-asan
