#!/usr/bin/env bash
# Renders the main window under a virtual X display to a PNG, against the
# crate simulator on a port of its own.
#   scripts/screenshot.sh [WIDTHxHEIGHT] [OUTPUT.png]
#   scripts/screenshot.sh WIDTHxHEIGHT OUTPUT.png spectrum [--channel N] [--log] [--max-hold]
# Defaults: 1280x768, docs/main-window-<size>.png. The second form shows the
# page "Спектр" measuring the distorted channels of
# crate/examples/distorted.json (ksn-spectrum-shot, built with the tests).
# Needs a build in build/ (scripts/build.sh), Xvfb, xdotool and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1280x768}
out=${2:-docs/main-window-$size.png}
page=${3:-main}
shift $(( $# < 3 ? $# : 3 ))
bin=build/bin
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "size must look like 1280x768" >&2; exit 2; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
[ -x "$bin/ksn48_vevu" ] && [ -x "$bin/ksn-crated" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
case $page in
  main) ;;
  spectrum) [ -x "$bin/ksn-spectrum-shot" ] || { echo "build ksn-spectrum-shot first" >&2; exit 1; } ;;
  *) echo "page must be main or spectrum" >&2; exit 2 ;;
esac

pids=()
work=$(mktemp -d)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# The simulator on a free port; the program finds it through KSN_CRATE_PORT.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
config=()
[ "$page" = spectrum ] && config=(--config crate/examples/distorted.json)
"$bin/ksn-crated" --port "$port" "${config[@]}" >"$work/crated.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
export KSN_CRATE_PORT=$port

if [ "$page" = spectrum ]; then
  # Detection, the page, a few frames, then the picture of the screen.
  mkdir -p "$(dirname "$out")"
  QT_QPA_PLATFORM=xcb "$bin/ksn-spectrum-shot" "$out" "$@"
  exit
fi

# The program keeps its settings next to itself: run a copy in a scratch
# folder so that the picture shows the defaults and no file of the build
# changes.
cp "$bin/ksn48_vevu" "$work/"
QT_QPA_PLATFORM=xcb "$work/ksn48_vevu" >"$work/program.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name 'KSN48' 2>/dev/null | head -n1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the window did not appear" >&2; cat "$work/program.log" >&2; exit 1; }
sleep "${KSN_SCREENSHOT_SETTLE:-3}"  # start-up detection and first paint
# A message box of the start-up (no crate answering, say) would cover the
# window: the picture shows the window behind it.
for box in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
  [ "$box" = "$window" ] && continue
  xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
done
sleep 1
mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "$out"
