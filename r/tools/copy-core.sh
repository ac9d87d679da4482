#!/usr/bin/env bash
# Copies the engine's core sources (base/ numeric/ shaving/ core/) and the
# export writers (exports/) into src/ and the bundled Golub data into inst/extdata/, so that the package
# compiles the core itself and `R CMD build r` makes a self-contained
# tarball. The copies are generated (git ignores them): run this after
# every change of the core and before building or installing the package.
# Usage: r/tools/copy-core.sh
set -euo pipefail
package=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "$package/.." && pwd)

for folder in base numeric shaving core exports; do
  rm -rf "${package:?}/src/$folder"
  mkdir -p "$package/src/$folder"
  # Plain copies, never links: the tarball must hold the files themselves.
  find "$root/$folder" -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \) \
    -exec cp --no-dereference {} "$package/src/$folder/" \;
done

mkdir -p "$package/inst/extdata"
cp "$root/examples/data/golub.tsv" "$root/examples/data/golub.classes" "$package/inst/extdata/"
echo "copied the core and export sources into $package/src and the Golub data into $package/inst/extdata"
