#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only when missing.
# Usage: scripts/setup.sh [--list] [--example] [extra-package...]
#   --example  only what building and running tarvok needs (scripts/run-example.sh);
#              without it, also everything the tests need (scripts/test-all.sh).
#   --list     print the chosen packages, one a line, and install nothing.
set -euo pipefail

# Building and running tarvok; fonts-noto-cjk draws CJK labels in the report's figures.
example_packages=(cmake ninja-build g++ pkg-config libcli11-dev nlohmann-json3-dev libfmt-dev libcairo2-dev
                  zlib1g-dev fonts-noto-cjk)
# The tests, benchmarks (with the NumPy peer on OpenBLAS), fuzzing (clang), the report
# check (chromium), the Windows build, the R package (with its vignette and BiocCheck), the readers the exports stage
# checks our files with and the MPI runner (the Python stage names its own packages).
test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev chromium
               g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
               binutils-mingw-w64-x86-64 wine wine64
               r-base-dev r-cran-rcpp r-cran-testthat r-bioc-biobase r-bioc-summarizedexperiment
               r-bioc-biocgenerics r-bioc-s4vectors r-bioc-all r-cran-knitr r-cran-rmarkdown pandoc
               r-bioc-biocstyle r-bioc-bioccheck r-bioc-biocversion
               python3-numpy python3-threadpoolctl libopenblas0-pthread
               python3-biopython r-bioc-gseabase poppler-utils libopenmpi-dev openmpi-bin)

list=no
if [ "${1:-}" = "--list" ]; then
  list=yes
  shift
fi
packages=("${example_packages[@]}")
if [ "${1:-}" = "--example" ]; then
  shift
else
  packages+=("${test_packages[@]}")
fi
packages+=("$@")

if [ $list = yes ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
