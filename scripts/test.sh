#!/usr/bin/env bash
# The whole test suite, from a fresh Debian machine: install what is missing,
# build the module and its tests, make the Wine prefix, run every test under
# Wine and the result-area tests natively. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

hdw_install
hdw_build

cmake -S "$HDW_ROOT" -B "$HDW_BUILD/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$HDW_BUILD/native" -j "$(nproc)"

hdw_start_wineserver
"$HDW_ROOT/scripts/prefix.sh"

status=0
ctest --test-dir "$HDW_BUILD/native" --output-on-failure --no-tests=error || status=1
ctest --test-dir "$HDW_BUILD/win32" --output-on-failure --no-tests=error || status=1
# The installed package as a host developer gets it, and the windowed demo,
# with the companion registered again as the Wine tests found it.
"$HDW_ROOT/scripts/prefix.sh"
"$HDW_ROOT/scripts/consumer-test.sh" || status=1
"$HDW_ROOT/scripts/demo-test.sh" || status=1
# The result area under AddressSanitizer and UBSan, and a bounded fuzz run.
HDW_FUZZ_SECONDS="${HDW_FUZZ_SECONDS:-30}" "$HDW_ROOT/scripts/native-checks.sh" || status=1
exit "$status"
