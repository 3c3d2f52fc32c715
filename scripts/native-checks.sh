#!/usr/bin/env bash
# Native checks of the result area beyond the plain unit test: the unit test
# built with AddressSanitizer and UndefinedBehaviorSanitizer, then a bounded
# libFuzzer run of the store operations. Prints one line per stage and the
# full log only when a stage fails. Exits non-zero on any failure, including
# a fuzzer crash.
#
#   HDW_BUILD         build folder (default: <repo>/build)
#   HDW_FUZZ_SECONDS  fuzzing time in seconds, at most 60 (default: 60)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${HDW_BUILD:-$root/build}"
jobs="$(nproc)"

seconds="${HDW_FUZZ_SECONDS:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((10#$seconds < 1)); then
  echo "HDW_FUZZ_SECONDS must be a whole number of seconds, got '$seconds'" >&2
  exit 2
fi
seconds=$((10#$seconds))
if ((seconds > 60)); then
  seconds=60
fi

# Runs a command with its output in a log; shows the log if it fails.
quietly() {
  local log="$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "failed: $*" >&2
    return 1
  fi
}

# (a) Unit tests under ASan and UBSan, with the default compiler.
asan="$build/native-asan"
mkdir -p "$asan"
quietly "$asan/configure.log" \
  cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DHDW_SANITIZE=ON
quietly "$asan/build.log" cmake --build "$asan" -j "$jobs"
quietly "$asan/ctest.log" \
  ctest --test-dir "$asan" --output-on-failure --no-tests=error
echo "asan+ubsan: $(grep -m1 'tests passed' "$asan/ctest.log")"

# (b) The fuzzer, which needs Clang.
fuzz="$build/native-fuzz"
mkdir -p "$fuzz/corpus" "$fuzz/artifacts"
quietly "$fuzz/configure.log" \
  cmake -S "$root" -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DHDW_FUZZ=ON
quietly "$fuzz/build.log" cmake --build "$fuzz" -j "$jobs"

fuzz_log="$fuzz/fuzz.log"
started=$SECONDS
if ! "$fuzz/tests/native/hdw_outcome_fuzz" -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/" \
  "$fuzz/corpus" >"$fuzz_log" 2>&1; then
  tail -n 60 "$fuzz_log" >&2
  echo "fuzz: failed; the input is kept in $fuzz/artifacts/" >&2
  exit 1
fi
elapsed=$((SECONDS - started))

units="$(sed -n 's/^stat::number_of_executed_units: *\([0-9][0-9]*\).*/\1/p' \
  "$fuzz_log" | tail -n 1)"
if [[ -z "$units" ]]; then
  cat "$fuzz_log" >&2
  echo "fuzz: no final stats in the fuzzer output" >&2
  exit 1
fi
echo "fuzz: $units inputs tried in $elapsed s"
