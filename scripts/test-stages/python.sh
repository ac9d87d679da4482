#!/usr/bin/env bash
# The Python package: installs its Debian packages when missing, builds it
# offline into a fresh venv over Debian's /usr/bin/python3, builds the shared
# library, the core, the export library and the tarvok program with CMake as
# references for the exactness tests, and runs pytest (its exit status is this stage's).
# TARVOK_BUILD_JOBS (default: the number of cores) caps the compilers run at once.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

scripts/setup.sh python3-dev python3-pybind11 pybind11-dev python3-pytest python3-numpy python3-pandas \
  python3-sklearn python3-setuptools python3-venv python3-pip python3-anndata python3-tqdm python3-matplotlib \
  python3-h5py python3-scipy locales

# The export files are compared under a German locale (decimal comma).
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8' || $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
jobs=${TARVOK_BUILD_JOBS:-$(nproc)}

# The normal build of scripts/test-all.sh, configured the same way when absent.
dir=build/release
[ -f "$dir/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_BUILD_TESTS=ON \
    -DTARVOK_BUILD_HOST=ON >/dev/null
cmake --build "$dir" -j "$jobs" --target Tarvok tarvok_core tarvok_exports_core tarvok >/dev/null
archive=$(find "$root/$dir" -name libtarvok_core.a -print -quit)
exports="$root/$dir/exports/libtarvok_exports_core.a $root/$dir/exports/libtarvok_exports.a"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
TARVOK_BUILD_JOBS=$jobs "$work/venv/bin/pip" install --quiet --no-build-isolation --no-index "$root/python"

# From the temporary folder, so that `import tarvok` finds the installed package.
cd "$work"
TARVOK_SHARED_LIBRARY="$root/$dir/engine/libTarvok.so" TARVOK_CORE_ARCHIVE="$archive" \
  TARVOK_EXPORT_ARCHIVES="$exports" TARVOK_CLI="$root/$dir/host/tarvok" MPLBACKEND=Agg \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
