#!/usr/bin/env bash
# Runs the windowed sample host on a virtual X display: hdwdemo.exe --auto
# presses Run, which calls the module on the sample companion answering after
# 1.5 s, and writes a report once the answer is shown. A screenshot is taken
# while the window shows the answer. Passes when the window's counter
# advanced during the call and the answer is "KVT:ready".
#
# Expects the build, the Wine prefix and a running wine server (scripts/test.sh
# makes them). The prefix draws nothing by default (Graphics=null); this run
# switches it to the X11 driver, with Wine drawing the window frames itself
# (there is no window manager), and back.
#
#   HDW_SAVE_SCREENSHOT=1  save the screenshot as docs/hdwdemo.png (otherwise
#                          it goes to $HDW_BUILD/demo/hdwdemo.png)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

wine64=/usr/lib/wine/wine64
work="$HDW_BUILD/demo"
report="$work/report.txt"
shot="$work/hdwdemo.png"
[ "${HDW_SAVE_SCREENSHOT:-0}" = 1 ] && shot="$HDW_ROOT/docs/hdwdemo.png"
# A 32-bit program can take a minute to start where it is emulated.
wait_seconds=300

fail() {
  echo "demo test: FAIL: $*"
  exit 1
}

mkdir -p "$work"
rm -f "$report" "$work/screen.png"

xvfb_pid=""
demo_pid=""
graphics_switched=""
cleanup() {
  if [ -n "$demo_pid" ]; then kill "$demo_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$graphics_switched" ]; then
    "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >/dev/null 2>&1 || true
    "$wine64" reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f \
      >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

# A virtual display on a number no other server uses (Xvfb picks it).
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
echo "display: $DISPLAY"

# Wine draws the window frames with fonts of its own (Marlett for the caption
# buttons). This Wine does not look for them in its data folder, so the
# prefix gets copies of those it lacks.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in /usr/share/wine/fonts/*; do
  [ -e "$font" ] || continue
  [ -e "$fonts/$(basename "$font")" ] || cp "$font" "$fonts/"
done

graphics_switched=1
"$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null
"$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null

windows_report="Z:${report//\//\\}"
(cd "$HDW_BIN" && exec wine hdwdemo.exe --auto --report "$windows_report" \
  --linger-ms 3000) >"$work/demo.log" 2>&1 &
demo_pid=$!

for _ in $(seq $((wait_seconds * 5))); do
  [ -f "$report" ] && break
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.2
done
[ -f "$report" ] || fail "hdwdemo.exe wrote no report (log: $work/demo.log)"

# The answer is on screen when the report exists; give the X server a moment
# to show the last drawing.
sleep 0.5
import -display "$DISPLAY" -window root "$work/screen.png" ||
  fail "no screenshot of $DISPLAY"
# Only the window: the empty (black) screen around it cut away.
convert "$work/screen.png" -trim +repage "$shot"
echo "screenshot: $shot"

# It exits by itself once it has lingered.
for _ in $(seq 600); do
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$demo_pid" 2>/dev/null && fail "hdwdemo.exe did not exit after its report"
status=0
wait "$demo_pid" || status=$?
demo_pid=""
[ "$status" -eq 0 ] || fail "hdwdemo.exe exit status $status"

line="$(head -n 1 "$report")"
echo "report: $line"
pattern='^counter_before=([0-9]+) counter_after=([0-9]+) started=(-?[0-9]+) answer=(.*)$'
[[ "$line" =~ $pattern ]] || fail "the report is not in the expected form"
before="${BASH_REMATCH[1]}"
after="${BASH_REMATCH[2]}"
started="${BASH_REMATCH[3]}"
answer="${BASH_REMATCH[4]}"
[ "$answer" = "KVT:ready" ] || fail "expected the answer \"KVT:ready\", got \"$answer\""
[ "$started" = 1 ] || fail "expected started = 1, got $started"
((after > before)) ||
  fail "the counter did not advance during the call ($before before, $after after)"
echo "demo test: PASS (counter $before -> $after during the call, answer $answer)"
