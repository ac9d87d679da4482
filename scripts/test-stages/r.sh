#!/usr/bin/env bash
# The R package: copies the core into r/src, builds the source tarball,
# runs R CMD check --no-manual on it (no ERROR, no WARNING allowed) and,
# within that check, the testthat tests. Those compare the package's numbers
# with the files of the tarvok program on the Golub data, unsupervised and
# supervised at 50, which this stage writes first (TARVOK_CLI may name an
# existing tarvok program; otherwise build/release's is built).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

r/tools/copy-core.sh

cli=${TARVOK_CLI:-}
if [ -z "$cli" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release -j "$(nproc)" --target tarvok >/dev/null
  cli=$root/build/release/host/tarvok
fi
data=examples/data/golub.tsv
"$cli" run "$data" --threads 2 --quiet --out "$work/reference/unsupervised" >/dev/null
"$cli" run "$data" --threads 2 --quiet --supervise 50 --classes examples/data/golub.classes \
  --out "$work/reference/supervised50" >/dev/null

cd "$work"
R CMD build --no-build-vignettes "$root/r" >build.log 2>&1 || { cat build.log; exit 1; }
tarball=$(ls tarvok_*.tar.gz)
status=0
TARVOK_REFERENCE=$work/reference MAKEFLAGS=-j"$(nproc)" _R_CHECK_FORCE_SUGGESTS_=false \
  R CMD check --no-manual "$tarball" >check.log 2>&1 || status=$?
grep -E -A3 '\.\.\. (NOTE|WARNING|ERROR)' check.log || true
if [ "$status" -ne 0 ] || ! grep -q '^Status: ' check.log || grep -E '^Status: .*(ERROR|WARNING)' check.log; then
  cat check.log
  for log in tarvok.Rcheck/00install.out tarvok.Rcheck/tests/testthat.Rout.fail; do
    [ -e "$log" ] && tail -60 "$log"
  done
  echo "R package: check failed"
  exit 1
fi
# Every test ran: the comparisons with the program and the Bioconductor
# tests skip themselves only when their inputs are missing.
if ! grep -q '\[ FAIL 0 | WARN 0 | SKIP 0 |' tarvok.Rcheck/tests/testthat.Rout; then
  tail -30 tarvok.Rcheck/tests/testthat.Rout
  echo "R package: some tests were skipped"
  exit 1
fi
grep '^Status: ' check.log
grep -o '\[ FAIL 0 .*\]' tarvok.Rcheck/tests/testthat.Rout
echo "R package: check and tests passed"
