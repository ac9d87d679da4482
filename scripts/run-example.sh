#!/usr/bin/env bash
# Sets up a fresh machine, builds tarvok and analyses the bundled Golub
# leukemia data: three clusters, 20 permuted copies, unsupervised, with the
# ALL/AML classes colouring the report. Ends by naming the report file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --example
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_BUILD_TESTS=OFF \
  -DTARVOK_BUILD_HOST=ON >/dev/null
cmake --build build/release -j "$(nproc)" --target tarvok

build/release/host/tarvok run examples/data/golub.tsv --clusters 3 --permutations 20 --supervise 0 \
  --classes examples/data/golub.leukemia.classes --out output/golub
