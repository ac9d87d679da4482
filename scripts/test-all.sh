#!/usr/bin/env bash
# Sets up a fresh machine, then builds and runs every test: the normal
# build, the AddressSanitizer + UndefinedBehaviorSanitizer build, the fuzz
# targets and the Windows artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh locales
# Numbers must not follow the locale: tests run hosts under a German one.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8' || $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8

jobs=$(nproc)
build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== normal build"
build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_WERROR=ON -DTARVOK_BUILD_TESTS=ON -DTARVOK_BUILD_HOST=ON
ctest --no-tests=error --test-dir build/release --output-on-failure -j "$jobs"

echo "== sanitizer build"
build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTARVOK_SANITIZE=ON -DTARVOK_WERROR=ON -DTARVOK_BUILD_TESTS=ON -DTARVOK_BUILD_HOST=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --no-tests=error --test-dir build/sanitize --output-on-failure -j "$jobs"

for stage in scripts/test-stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== $(basename "$stage" .sh)"
  bash "$stage"
done
echo "All tests passed."
