#!/usr/bin/env bash
# Checks the module as a host developer gets it: installs the build into
# $HDW_BUILD/install, makes the ZIP with CPack, builds tests/consumer against
# the installed tree alone (find_package through CMAKE_PREFIX_PATH, the import
# library) and runs it under Wine on the sample companion.
#
# Expects the build, the Wine prefix and a running wine server (scripts/test.sh
# makes them). Prints one pass/fail line at the end; exits non-zero on any
# failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

build="$HDW_BUILD/win32"
install="$HDW_BUILD/install"
consumer="$HDW_BUILD/consumer"
objdump=i686-w64-mingw32-objdump

fail() {
  echo "consumer test: FAIL: $*"
  exit 1
}

# Runs a command with its output in a log; shows the log if it fails.
quietly() {
  local log="$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$*"
  fi
}

# The install tree.
rm -rf "$install"
mkdir -p "$consumer"
quietly "$consumer/install.log" cmake --install "$build" --prefix "$install"
for file in bin/ExecuteHDW.dll lib/libExecuteHDW.dll.a include/ExecuteHDW.h \
  lib/cmake/ExecuteHDW/ExecuteHDWConfig.cmake \
  lib/cmake/ExecuteHDW/ExecuteHDWConfigVersion.cmake; do
  [ -f "$install/$file" ] || fail "the install tree has no $file"
done
echo "installed: $install"

# The ZIP: the install tree, the sample hosts, the companion and the README.
quietly "$consumer/cpack.log" cpack -B "$build" --config "$build/CPackConfig.cmake"
zip="$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$consumer/cpack.log")"
[ -f "$zip" ] || fail "cpack made no ZIP (see $consumer/cpack.log)"
top="$(basename "$zip" .zip)"
listing="$(unzip -Z1 "$zip")"
for file in bin/ExecuteHDW.dll bin/hdwcall.exe lib/libExecuteHDW.dll.a \
  include/ExecuteHDW.h lib/cmake/ExecuteHDW/ExecuteHDWConfig.cmake \
  companion/KVT.exe README.md; do
  grep -qx "$top/$file" <<<"$listing" || fail "the ZIP has no $top/$file"
done
echo "package: $zip"

# A host project that sees only the install tree.
rm -rf "$consumer/build"
quietly "$consumer/configure.log" \
  cmake -S "$HDW_ROOT/tests/consumer" -B "$consumer/build" \
  -DCMAKE_TOOLCHAIN_FILE="$HDW_ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_PREFIX_PATH="$install" -DCMAKE_BUILD_TYPE=Release
quietly "$consumer/build.log" cmake --build "$consumer/build"
exe="$consumer/build/hdw_consumer.exe"

# Linked at load time, importing ExecuteHDW from ExecuteHDW.dll by its name.
imports="$("$objdump" -p "$exe" |
  sed -n '/DLL Name: ExecuteHDW.dll/,/^$/p')"
grep -Eq '^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+ExecuteHDW$' \
  <<<"$imports" || fail "$exe does not import ExecuteHDW by name: $imports"

status=0
(cd "$consumer/build" && wine hdw_consumer.exe) || status=$?
if [ "$status" -ne 0 ]; then
  fail "hdw_consumer.exe exit status $status"
fi
echo "consumer test: PASS (C and C++ called ExecuteHDW through the installed package)"
