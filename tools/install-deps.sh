#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the fuzzers need,
# when missing.
set -euo pipefail

packages=(g++ cmake make pkg-config libgtest-dev uthash-dev libcli11-dev libtiff-dev zlib1g-dev cmark
          libfast-float-dev                   # exact decimal conversion in the OBJ reader
          libtinyobjloader-dev libassimp-dev  # the OBJ reader's peers in bench_objread
          clang libclang-rt-14-dev)           # the fuzz build (libFuzzer and the sanitizer runtimes)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
