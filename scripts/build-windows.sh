#!/usr/bin/env bash
# Cross-builds the Windows artifacts with Debian's MinGW-w64 compilers:
#   build/windows/i686    the shipped 32-bit launcher.exe and Tarvok.dll
#   build/windows/x86_64  the same sources for 64-bit Windows, which Wine
#                         runs on machines without 32-bit support
# Each also gets the small test programs that the tests under Wine use.
# Usage: scripts/build-windows.sh [i686|x86_64]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -gt 0 ] || set -- i686 x86_64
for arch in "$@"; do
  dir=build/windows/$arch
  cmake --no-warn-unused-cli -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-"$arch".cmake \
    -DCMAKE_BUILD_TYPE=Release -DTARVOK_WERROR=ON -DTARVOK_BUILD_TESTS=ON \
    -DTARVOK_BUILD_HOST=OFF >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target Tarvok launcher fake_host env_runner dll_host
  echo "$arch: $dir/launcher/launcher.exe $dir/engine/Tarvok.dll"
done
