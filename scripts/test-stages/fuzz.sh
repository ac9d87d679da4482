#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (every library they link
# instrumented for coverage) and runs each one briefly. Prints each target's
# final coverage and fails a target that stays below its floor in
# fuzz/coverage-floors.txt, or that has no floor there.
# FUZZ_SECONDS (default 60) sets the time per target; FUZZ_TARGETS (names,
# blank-separated) runs only those.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-60}
floors=fuzz/coverage-floors.txt
ls fuzz/*Fuzz.cpp >/dev/null 2>&1 || { echo "no fuzz targets"; exit 0; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVOK_BUILD_FUZZ=ON -DTARVOK_BUILD_TESTS=OFF -DTARVOK_BUILD_HOST=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"

failed=0
for source in fuzz/*Fuzz.cpp; do
  name=$(basename "$source" .cpp)
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  corpus=build/fuzz/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "-- $name for ${seconds}s"
  (cd build/fuzz/fuzz && ./"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=0 "corpus/$name" 2>"$name.log") || { tail -50 "build/fuzz/fuzz/$name.log"; exit 1; }
  # libFuzzer's last status line ("#N DONE cov: C ft: F corp: ...") holds the final coverage.
  coverage=$(grep -oE "cov: [0-9]+" "build/fuzz/fuzz/$name.log" | tail -1 | cut -d' ' -f2)
  floor=$(awk -v t="$name" '$1 == t { print $2 }' "$floors")
  if [ -z "$floor" ]; then
    echo "$name: coverage ${coverage:-?}; no floor in $floors: add \"$name <floor>\" from a good run"
    failed=1
  elif [ -z "$coverage" ] || [ "$coverage" -lt "$floor" ]; then
    echo "$name: coverage ${coverage:-?} is below its floor $floor"
    failed=1
  else
    echo "$name: coverage $coverage (floor $floor)"
  fi
done
exit $failed
