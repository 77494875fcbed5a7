#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time; exits non-zero on the first
# crash, leak, timeout or memory blow-up.
#
#   fuzz/run_fuzzers.sh [build-folder [seconds-per-target]]    (defaults: build-fuzz 20)
#
# Per target fuzz_<name>:
#   - every input kept in fuzz/regressions/<name>/ is replayed first;
#   - then it fuzzes from the seed corpus <build>/corpus/<name> (fuzz/make_corpus.sh),
#     adding what it learns to <build>/work/<name>, which later runs start from;
#   - a failing input is written to <build>/artifacts/<name>/.
# FUZZ_FLAGS adds libFuzzer flags (for example FUZZ_FLAGS=-jobs=2).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${2:-20}
shopt -s nullglob

targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run_fuzzers: no fuzz targets in $build/bin (build the fuzz preset first)" >&2
  exit 1
fi

for target in "${targets[@]}"; do
  name=$(basename "$target")
  name=${name#fuzz_}
  mkdir -p "$build/work/$name" "$build/artifacts/$name" "$build/corpus/$name"
  flags=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name/")
  [ -f "fuzz/$name.dict" ] && flags+=(-dict="fuzz/$name.dict")

  regressions=(fuzz/regressions/"$name"/*)
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== fuzz_$name: replaying ${#regressions[@]} regression inputs"
    "$target" "${flags[@]}" "${regressions[@]}"
  fi

  echo "== fuzz_$name: fuzzing for $seconds s"
  # shellcheck disable=SC2086
  "$target" "${flags[@]}" -max_total_time="$seconds" ${FUZZ_FLAGS:-} "$build/work/$name" "$build/corpus/$name"
done
echo "run_fuzzers: no failure in ${#targets[@]} targets"
