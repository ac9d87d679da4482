#!/usr/bin/env bash
# The result files must be the same bytes whatever the build or the thread
# count: runs the Golub data through an optimised threaded build (1, 2, 3
# and 8 threads, AVX2 loops where the processor has them), a build without
# threads or AVX2, and the unoptimised sanitizer
# build, unsupervised and supervised, and compares every file.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
data=examples/data/golub.tsv
classes=examples/data/golub.classes
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bench() {  # bench BUILD_DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DTARVOK_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build "$dir" --target bench_whole_run -j "$(nproc)" >/dev/null
}
bench build/bench -DCMAKE_BUILD_TYPE=Release
bench build/sequential -DCMAKE_BUILD_TYPE=Release -DTARVOK_SEQUENTIAL=ON -DCMAKE_CXX_FLAGS=-DTARVOK_NO_CLONES
bench build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTARVOK_SANITIZE=ON

run() {  # run NAME BUILD_DIR THREADS ARGS...
  local name=$1 dir=$2 threads=$3; shift 3
  mkdir -p "$work/$name"
  TARVOK_THREADS=$threads BENCH_OUTPUT="$work/$name" "$dir/bench/bench_whole_run" "$@" >/dev/null
}

for mode in "unsupervised:2 10 6" "supervised50:2 10 4 50 $classes" "supervised100:2 10 4 100 $classes"; do
  label=${mode%%:*}
  read -r -a args <<<"${mode#*:}"
  run "$label-sequential" build/sequential 1 "$data" "${args[@]}"
  for threads in 1 2 3 8; do
    run "$label-t$threads" build/bench "$threads" "$data" "${args[@]}"
    diff -r "$work/$label-sequential" "$work/$label-t$threads"
  done
  run "$label-sanitize" build/sanitize 2 "$data" "${args[@]}"
  diff -r "$work/$label-sequential" "$work/$label-sanitize"
  echo "$label: identical across builds and thread counts"
done
