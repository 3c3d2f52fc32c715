#!/usr/bin/env bash
# The benchmark, from a fresh Debian machine: install what is missing, build,
# make the Wine prefix, and run hdwbench.exe once. It prints a table per
# section and writes every figure to <build>/win32/bench/hdwbench.csv.
# Arguments are passed on (for example --quick for small counts). Exits 0
# whatever the figures are, non-zero only when the benchmark cannot run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

hdw_install
hdw_build
hdw_start_wineserver
"$HDW_ROOT/scripts/prefix.sh"
cd "$HDW_BIN"
# Other work on the machine shows in the figures: say how busy it was.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
wine hdwbench.exe "$HDW_BUILD/win32/bench/hdwbench.csv" "$@" || status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "hdwbench exit status: $status"
exit "$status"
