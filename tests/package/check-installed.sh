#!/usr/bin/env bash
# Checks the installed ksn48-vevu package the way its users meet it:
#  - the files where they belong, programs finding the package's libraries
#    through their RUNPATH (no LD_LIBRARY_PATH);
#  - ksn-crated --port P --fast serving, ksn-cratectl list against it;
#  - a third-party C client built with pkg-config against the installed
#    headers opens a module and takes a frame;
#  - the program started from the desktop entry's command under Xvfb: the
#    window comes up with its icon, finds the crate, and keeps its settings
#    file in the per-user folder, not in /usr/bin;
#  - the fleet page and the broker snippet that serves it;
#  - the manual pages and the systemd unit (not enabled).
# Run it as root after `apt-get install ./ksn48-vevu_*.deb`; it changes
# nothing outside a scratch folder (the unit is only verified).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pids=()
work=$(mktemp -d)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-installed: $*" >&2; exit 1; }
step() { echo "-- $*"; }

step "files"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for file in /usr/bin/ksn48-vevu /usr/bin/ksn-crated /usr/bin/ksn-cratectl /usr/bin/ksn48-measure \
  /usr/bin/ksn48-verify /usr/share/man/man1/ksn48-verify.1.gz \
  /usr/bin/ksn48-scpi /usr/share/man/man1/ksn48-scpi.1.gz /usr/lib/systemd/system/ksn48-scpi.service \
  "/usr/lib/$multiarch/libksnapi.so" "/usr/lib/$multiarch/libksn48api.so" \
  "/usr/lib/$multiarch/pkgconfig/ksnapi.pc" "/usr/lib/$multiarch/pkgconfig/ksn48api.pc" \
  /usr/include/ksn/ksnapi.h /usr/include/ksn/ksn48api.h /usr/include/ksn/ksnerror.h \
  /usr/share/applications/ksn48-vevu.desktop /usr/share/icons/hicolor/scalable/apps/ksn48-vevu.svg \
  /usr/share/man/man1/ksn48-vevu.1.gz /usr/share/man/man1/ksn-crated.1.gz \
  /usr/share/man/man1/ksn-cratectl.1.gz /usr/share/man/man1/ksn48-measure.1.gz \
  /usr/lib/systemd/system/ksn-crated.service; do
  [ -e "$file" ] || fail "$file is missing"
done
if dpkg -L ksn48-vevu | grep -E '/(test_|bench_)|ksn-version-|\.a$'; then
  fail "tests, benchmarks or test-only libraries in the package"
fi
for program in /usr/bin/ksn48-vevu /usr/bin/ksn-crated /usr/bin/ksn-cratectl /usr/bin/ksn48-measure \
  /usr/bin/ksn48-verify /usr/bin/ksn48-scpi; do
  runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = "\$ORIGIN/../lib/$multiarch" ] || fail "$program has RUNPATH '$runpath'"
done
env -u LD_LIBRARY_PATH ldd /usr/bin/ksn48-vevu | grep "libksn48api.so => /usr/bin/../lib/$multiarch/libksn48api.so" >/dev/null ||
  fail "ksn48-vevu does not load the module library through its RUNPATH"

step "ksn48-vevu --version and --help without a display"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY ksn48-vevu --version)
echo "$version"
[[ $version == "KSN48_Vevu "[0-9]* ]] || fail "--version said '$version'"
env -u DISPLAY ksn48-vevu --help | grep -- '--version' >/dev/null || fail "--help lacks --version"
set +e
nodisplay=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ksn48-vevu 2>&1)
code=$?
set -e
echo "$nodisplay (exit $code)"
[ "$code" = 1 ] && [ "$(printf '%s\n' "$nodisplay" | wc -l)" = 1 ] || fail "no display: exit $code"

step "ksn-crated --port P --fast, ksn-cratectl list"
ksn-crated --port 0 --fast >"$work/crated.log" 2>&1 &
pids+=($!)
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^ksn-crated: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/crated.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/crated.log" >&2; fail "ksn-crated did not start"; }
echo "ksn-crated on port $port"
ksn-cratectl --port "$port" list | tee "$work/list.txt"
grep -q 'KSN48 0x3030  serial 4811001' "$work/list.txt" || fail "list lacks module 4811001"

step "ksn48-measure --list and three frames against it"
KSN_CRATE_PORT="$port" ksn48-measure --list | tee "$work/measure-list.txt"
grep -q '4811001' "$work/measure-list.txt" || fail "ksn48-measure --list lacks module 4811001"
KSN_CRATE_PORT="$port" ksn48-measure --crate KSN5-0042 --slot 3 --frames 3 >"$work/rows.csv"
cat "$work/rows.csv"
[ "$(wc -l <"$work/rows.csv")" = 4 ] || fail "ksn48-measure did not write a header and three rows"

step "ksn48-verify: channel 1 of module 4811001 (1 V, 1 kHz) against a plan, without a display"
cat >"$work/plan.json" <<'PLAN'
{"module": {"crate": "KSN5-0042", "slot": 3},
 "reference": {"channels": "1", "amplitude_V": 1.0, "frequency_Hz": 1000},
 "frames": 2,
 "points": [{"rate_Hz": 9765.625, "channels": "1", "max_time_s": 0.5}],
 "tolerances": {"gain_pct": 0.1, "frequency_ppm": 10}}
PLAN
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM KSN_CRATE_PORT="$port" \
  ksn48-verify --plan "$work/plan.json" --out "$work/verify" || fail "ksn48-verify: exit $?"
for file in report.html report.pdf results.json point-1.csv; do
  [ -s "$work/verify/$file" ] || fail "ksn48-verify did not write $file"
done
grep -q '"verdict": "PASS"' "$work/verify/results.json" || fail "ksn48-verify: no PASS"

step "ksn48-scpi against it, asked by lxi scpi"
KSN_CRATE_PORT="$port" ksn48-scpi --listen 127.0.0.1:0 >"$work/scpi.out" 2>"$work/scpi.log" &
scpi=$!
pids+=($scpi)
scpi_port=
for _ in $(seq 100); do
  scpi_port=$(sed -n 's/^ksn48-scpi: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/scpi.out")
  [ -n "$scpi_port" ] && break
  sleep 0.1
done
[ -n "$scpi_port" ] || { cat "$work/scpi.log" >&2; fail "ksn48-scpi did not start"; }
idn=$(lxi scpi --address 127.0.0.1 --port "$scpi_port" --raw "*IDN?")
echo "*IDN? -> $idn"
[[ $idn == KSN48_Vevu,KSN48,4811001,* ]] || fail "ksn48-scpi answered *IDN? with '$idn'"
# The instrument keeps its module open: the steps after it need the module.
kill "$scpi"
wait "$scpi" || true

step "a C client built with pkg-config against the installed headers"
flags=$(pkg-config --cflags --libs ksn48api)
echo "pkg-config --cflags --libs ksn48api: $flags"
# shellcheck disable=SC2086
cc -std=c11 -Wall -Wextra -Werror -o "$work/module_client" "$here/module_client.c" $flags -lm
"$work/module_client" "$port" KSN5-0042 3

step "the program from its desktop entry under Xvfb"
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do DISPLAY=":$display" xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
command=$(sed -n 's/^Exec=//p' /usr/share/applications/ksn48-vevu.desktop)
mkdir -p "$work/home"
rm -f /usr/bin/Ksn48_Vevu.ini
(cd "$work" && exec env DISPLAY=":$display" HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" \
  KSN_CRATE_PORT="$port" sh -c "exec $command") >"$work/program.log" 2>&1 &
program=$!
pids+=($program)
window=
for _ in $(seq 300); do
  window=$(DISPLAY=":$display" xdotool search --onlyvisible --name '^KSN48_vevu - [0-9]' 2>/dev/null | head -n1) &&
    [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { cat "$work/program.log" >&2; fail "no window with the versioned caption (crate not found?)"; }
echo "window: $(DISPLAY=":$display" xdotool getwindowname "$window")"
icon=$(DISPLAY=":$display" xprop -id "$window" -notype 32c _NET_WM_ICON)
[[ $icon == "_NET_WM_ICON = 16, 16, "* ]] || fail "the window has no icon: $icon"
echo "icon: ${icon:0:40}..."
settings="$work/home/config/KSN48_Vevu/Ksn48_Vevu.ini"
for _ in $(seq 100); do [ -s "$settings" ] && break; sleep 0.1; done
[ -s "$settings" ] || fail "no settings file in the per-user folder"
[ ! -e /usr/bin/Ksn48_Vevu.ini ] || fail "the installed program wrote its settings into /usr/bin"
echo "settings: $settings"
kill "$program"
wait "$program" 2>/dev/null || true

step "the fleet page and its broker snippet"
fleet=/usr/share/ksn48-vevu/fleet
snippet=/usr/share/ksn48-vevu/ksn48-fleet.conf
for file in "$fleet/index.html" "$fleet/fleet.js" "$fleet/fleet.css" "$fleet/texts.js" \
  "$fleet/mqtt.min.js" "$snippet"; do
  [ -e "$file" ] || fail "$file is missing"
done
grep -qx "http_dir $fleet" "$snippet" || fail "$snippet does not serve $fleet"
# The installed snippet on free ports (all else as installed) serves the page.
read -r mqtt_port ws_port < <(python3 -c 'import socket
ports = []
for _ in range(2):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); ports.append(s); 
print(*[s.getsockname()[1] for s in ports])')
sed -e "s/^listener 1883 /listener $mqtt_port /" -e "s/^listener 9001 /listener $ws_port /" \
  "$snippet" > "$work/fleet.conf"
echo "user root" >> "$work/fleet.conf"
mosquitto -c "$work/fleet.conf" > "$work/fleet-broker.log" 2>&1 &
pids+=($!)
python3 - "$ws_port" <<'PY' || fail "the broker does not serve the installed page"
import sys, time, urllib.request
port = sys.argv[1]
for _ in range(100):
    try:
        page = urllib.request.urlopen(f"http://127.0.0.1:{port}/index.html", timeout=2).read()
        bundle = urllib.request.urlopen(f"http://127.0.0.1:{port}/mqtt.min.js", timeout=2).read()
        break
    except OSError:
        time.sleep(0.1)
else:
    sys.exit(1)
assert b"fleet.js" in page and len(bundle) > 100000
PY

step "manual pages and the systemd unit"
for page in ksn48-vevu ksn-crated ksn-cratectl ksn48-verify ksn48-scpi; do
  MANWIDTH=80 man "$page" >"$work/man.txt" 2>"$work/man.err"
  sed -n 4p "$work/man.txt"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man $page warns"; }
done
for unit in ksn-crated ksn48-scpi; do
  systemd-analyze verify "/usr/lib/systemd/system/$unit.service"
  if [ -e "/etc/systemd/system/multi-user.target.wants/$unit.service" ]; then
    fail "the unit $unit is enabled"
  fi
done
echo "check-installed: all good"
