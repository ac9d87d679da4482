#!/usr/bin/env bash
# The R package: builds the source tarball from r/ as it stands in the
# repository (configure reads the engine's sources from core-sources.txt's
# folders; the tarball carries them) with its vignette on the ALL data, runs
# R CMD check --no-manual on it (no ERROR, no WARNING allowed) and, within
# that check, the testthat tests, then BiocCheck (no ERROR, no WARNING).
# The tests compare the package's numbers with the files of the tarvok
# program on the Golub data, unsupervised and supervised at 50 (and with
# --seed 7 when the program takes a seed), which this stage writes first
# (TARVOK_CLI may name an existing tarvok program; otherwise build/release's
# is built).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

cli=${TARVOK_CLI:-}
if [ -z "$cli" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release -j "$jobs" --target tarvok >/dev/null
  cli=$root/build/release/host/tarvok
fi
data=examples/data/golub.tsv
"$cli" run "$data" --threads 2 --quiet --out "$work/reference/unsupervised" >/dev/null
"$cli" run "$data" --threads 2 --quiet --supervise 50 --classes examples/data/golub.classes \
  --out "$work/reference/supervised50" >/dev/null
# The first 300 genes with a symbol column beside the names: repeated
# symbols, controls and empty ones (test-results.R makes the same).
awk 'BEGIN { FS = OFS = "\t" }
  NR == 1 { $1 = "ID\tSymbol"; print; next }
  NR <= 301 { $1 = $1 "\t" (NR % 9 == 0 ? "--Control" : NR % 11 == 0 ? "" : "SYM" NR % 50); print }' \
  "$data" >"$work/clusters.tsv"  # named so that its CDT is the package's clusters.cdt
"$cli" run "$work/clusters.tsv" --threads 2 --quiet --clusters 2 --permutations 4 \
  --out "$work/reference/symbols" >/dev/null
skips=0
help=$("$cli" run --help 2>&1 || true)
if [[ $help == *--seed* ]]; then
  "$cli" run "$data" --threads 2 --quiet --clusters 2 --permutations 6 --seed 7 \
    --out "$work/reference/seed7" >/dev/null
else
  skips=1  # the seed's comparison with the program
fi

cd "$work"
started=$(date +%s)
MAKEFLAGS=-j"$jobs" R CMD build "$root/r" >build.log 2>&1 || { cat build.log; exit 1; }
built=$(( $(date +%s) - started ))
tarball=$(ls tarvok_*.tar.gz)
tar -tzf "$tarball" >contents.txt
grep -q '^tarvok/inst/doc/tarvok.html$' contents.txt || { cat build.log; echo "R package: no vignette built"; exit 1; }
grep -q '^tarvok/tools/core/core/Analysis.h$' contents.txt || { echo "R package: the tarball lacks the engine's sources"; exit 1; }
echo "R package: R CMD build with the vignette took ${built} s"

status=0
TARVOK_REFERENCE=$work/reference MAKEFLAGS=-j"$jobs" _R_CHECK_FORCE_SUGGESTS_=false \
  R CMD check --no-manual --no-build-vignettes "$tarball" >check.log 2>&1 || status=$?
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
if ! grep -q "\[ FAIL 0 | WARN 0 | SKIP $skips |" tarvok.Rcheck/tests/testthat.Rout; then
  tail -30 tarvok.Rcheck/tests/testthat.Rout
  echo "R package: some tests failed, warned or were skipped"
  exit 1
fi
grep '^Status: ' check.log
grep -o '\[ FAIL 0 .*\]' tarvok.Rcheck/tests/testthat.Rout | tail -1

# BiocCheck, offline (BiocVersion tells it the release), on the tarball: it
# installs the package itself. Left out are the checks that need
# bioconductor.org or CRAN: the package's name on CRAN and Bioconductor
# (remotes, CRAN, deprecated packages, the build system, the support site)
# and the validity of the version for the release (a 0.y.z version is a
# pre-release there).
BIOCONDUCTOR_ONLINE_VERSION_DIAGNOSIS=FALSE MAKEFLAGS=-j"$jobs" Rscript -e 'BiocCheck::BiocCheck(commandArgs(TRUE)[1], `no-check-remotes` = TRUE,
  `no-check-bioc-help` = TRUE, `no-check-bbs` = TRUE,
  `no-check-deprecated` = TRUE, `no-check-version-num` = TRUE, `no-check-CRAN` = TRUE)' "$tarball" >bioccheck.log 2>&1 || true
summary=$(grep -oE '[0-9]+ ERRORS? \| [0-9]+ WARNINGS? \| [0-9]+ NOTES?' bioccheck.log | tail -1 || true)
if ! echo "$summary" | grep -qE '^0 ERRORS \| 0 WARNINGS'; then
  cat bioccheck.log
  echo "R package: BiocCheck reports errors or warnings"
  exit 1
fi
grep -E '\* NOTE' bioccheck.log || true
echo "BiocCheck: $summary"
echo "R package: build, check, tests and BiocCheck passed"
