#!/usr/bin/env bash
# The main job, from a fresh Debian machine: install what is missing, build,
# make the Wine prefix, and let the sample host call the module on the
# bundled companion. Arguments, if any, are the host's own command line.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

hdw_install
hdw_build
hdw_start_wineserver
"$HDW_ROOT/scripts/prefix.sh"
cd "$HDW_BIN"
status=0
wine hdwcall.exe "$@" || status=$?
echo "hdwcall exit status: $status"
exit "$status"
