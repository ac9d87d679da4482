#!/usr/bin/env bash
# The Windows artifacts: builds them, checks the shipped 32-bit ones
# statically (this machine cannot run 32-bit code), then runs the tests
# under Wine on the 64-bit build: the launcher's behaviour, and Tarvok.dll
# against the Linux library.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

scripts/build-windows.sh

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
expect() {  # expect DESCRIPTION ACTUAL WANTED
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got [$2], want [$3]"; fi
}

# imported_dlls FILE: the imported DLL names, sorted, on one line.
imported_dlls() { "$objdump" -p "$1" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' '; }
# exported_names FILE: the export names, in table order, on one line.
exported_names() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/^\t\[/ {print $3}' | tr '\n' ' '
}
# bytes FILE OFFSET COUNT: decimal bytes, one line.
bytes() { od -An -tu1 -v -j "$2" -N "$3" "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

check_artifacts() {  # check_artifacts ARCH MAGIC
  local arch=$1 magic=$2 dir=build/windows/$1
  objdump=$arch-w64-mingw32-objdump
  local launcher=$dir/launcher/launcher.exe dll=$dir/engine/Tarvok.dll

  expect "$arch launcher format" "$("$objdump" -p "$launcher" | awk '/^Magic/ {print $2, $3}')" "$magic"
  expect "$arch launcher subsystem (GUI)" \
    "$("$objdump" -p "$launcher" | awk '/^Subsystem/ {print $2}')" 00000002
  expect "$arch launcher imports" "$(imported_dlls "$launcher")" \
    "ADVAPI32.dll KERNEL32.dll USER32.dll msvcrt.dll "
  # The toolhelp functions are looked up at run time, never imported.
  expect "$arch launcher toolhelp not imported" \
    "$("$objdump" -p "$launcher" | grep -cE '\b(CreateToolhelp32Snapshot|Process32First|Process32Next)$' || true)" 0

  # Resources: one icon image and one icon group, 101, and nothing else.
  local leaves
  leaves=$("$objdump" -p "$launcher" | awk '
    /^[0-9a-f]+   Entry: ID:/ {type = $4}
    /^[0-9a-f]+     Entry: ID:/ {name = $4}
    /Leaf: Addr:/ {print type, name, $4, $6}' | tr -d ,)
  expect "$arch launcher resources" "$(echo "$leaves" | awk '{print $1, $2}' | tr '\n' ' ')" \
    "0x000003 0x000001 0x00000e 0x000065 "
  local rsrc group image
  rsrc=$("$objdump" -p "$launcher" | awk '/Resource Directory \[\.rsrc\]/ {print $3}')
  "$arch"-w64-mingw32-objcopy -O binary --only-section=.rsrc "$launcher" "$dir/rsrc.bin"
  group=$(($(echo "$leaves" | awk '$1 == "0x00000e" {print $3}') - 0x$rsrc))
  image=$(($(echo "$leaves" | awk '$1 == "0x000003" {print $3}') - 0x$rsrc))
  # GRPICONDIR: one entry, 32 x 32, 16 colours, 1 plane, 4 bits, 744 bytes, id 1.
  expect "$arch icon group" "$(bytes "$dir/rsrc.bin" $group 20)" \
    "0 0 1 0 1 0 32 32 16 0 1 0 4 0 232 2 0 0 1 0"
  # BITMAPINFOHEADER: 40 bytes, 32 wide, 64 high (colours and mask), 1 plane, 4 bits.
  expect "$arch icon image" "$(bytes "$dir/rsrc.bin" $image 16)" \
    "40 0 0 0 32 0 0 0 64 0 0 0 1 0 4 0"

  expect "$arch Tarvok.dll format" "$("$objdump" -p "$dll" | awk '/^Magic/ {print $2, $3}')" "$magic"
  expect "$arch Tarvok.dll imports" "$(imported_dlls "$dll")" "KERNEL32.dll msvcrt.dll "
  expect "$arch Tarvok.dll exports" "$(exported_names "$dll")" "RuzoVavav tsvFileFormatTest "
  # Every printf-family call of the library goes to MinGW's standard stdio
  # (two-digit exponents), none to the system runtime's.
  expect "$arch library uses MinGW stdio" "$(find "$dir/engine" -name '*.obj' -print0 |
    xargs -0 "$arch"-w64-mingw32-nm -u | grep -cE ' (__imp_)?_?v?(f|s|sn)?printf$' || true)" 0
}

echo "-- static checks"
check_artifacts i686 "010b (PE32)"
check_artifacts x86_64 "020b (PE32+)"
[ "$failures" -eq 0 ] || { echo "$failures static check(s) failed"; exit 1; }

echo "-- tests under Wine"
# The Linux side of the comparison and the test driver come from a native
# build: TARVOK_NATIVE_BUILD, else the test command's normal build, else one
# of our own.
native=${TARVOK_NATIVE_BUILD:-build/release}
if [ ! -f "$native/CMakeCache.txt" ]; then
  native=build/windows/native
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_BUILD_HOST=OFF >/dev/null
fi
cmake --build "$native" -j "$(nproc)" --target launcher_wine_tests
wine_tests() {  # wine_tests ARCH LOADER
  TARVOK_WINDOWS_BUILD="$root/build/windows/$1" TARVOK_WINE_LOADER=$2 \
    TARVOK_WINE_WORK="$root/build/windows/wine-$1" \
    timeout -k 10 300 "$native/tests/launcher/launcher_wine_tests" --gtest_brief=1
}
wine_tests x86_64 /usr/lib/wine/wine64

# The shipped 32-bit programs too, where this machine can run them: the
# runner started without arguments answers 120.
status=0
WINEPREFIX="$root/build/windows/wine-x86_64/prefix" WINEDEBUG=-all DISPLAY= \
  timeout -k 5 60 wine build/windows/i686/tests/launcher/windows/EnvRunner.exe \
  >/dev/null 2>&1 || status=$?
timeout 60 env WINEPREFIX="$root/build/windows/wine-x86_64/prefix" wineserver -k >/dev/null 2>&1 || true
if [ "$status" -eq 120 ]; then
  wine_tests i686 wine
else
  echo "32-bit Windows programs do not run on this machine: the i686 artifacts are checked statically only"
fi
