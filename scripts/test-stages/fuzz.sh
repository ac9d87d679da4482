#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly.
# FUZZ_SECONDS (default 60) sets the time per target.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-60}
ls fuzz/*Fuzz.cpp >/dev/null 2>&1 || { echo "no fuzz targets"; exit 0; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVOK_BUILD_FUZZ=ON -DTARVOK_BUILD_TESTS=OFF -DTARVOK_BUILD_HOST=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"
for source in fuzz/*Fuzz.cpp; do
  name=$(basename "$source" .cpp)
  corpus=build/fuzz/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "-- $name for ${seconds}s"
  (cd build/fuzz/fuzz && ./"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=0 "corpus/$name" 2>"$name.log") || { tail -50 "build/fuzz/fuzz/$name.log"; exit 1; }
  grep -E "^(#[0-9]+ +DONE|Done)" "build/fuzz/fuzz/$name.log" | tail -1 || true
done
