#!/usr/bin/env bash
# The real program idle in a notification area: start-up time with a 100,000-line register,
# processor time over 60 seconds and resident memory. Needs Xvfb and trayer.
# Usage: bench/idle_usage.sh [path/to/Kopierwart] [seconds]
set -euo pipefail

program=${1:-build/app/Kopierwart}
seconds=${2:-60}
work=$(mktemp -d)
display=":$(( 150 + RANDOM % 50 ))"
cleanup() {
    [[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null || true
    [[ -n ${trayer_pid:-} ]] && kill "$trayer_pid" 2>/dev/null || true
    [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
DISPLAY=$display trayer --edge bottom --align right >/dev/null 2>&1 &
trayer_pid=$!
sleep 1

cp "$program" "$work/Kopierwart"
mkdir -p "$work/watched" "$work/moved"
printf '[Source]\r\nSource=%s/watched/\r\n[Destination]\r\nDestination=%s/moved/\r\n[Intervall]\r\nIntervall=5\r\n' \
    "$work" "$work" > "$work/Kopierwart.ini"
for i in $(seq 0 99999); do
    printf '/home/user/share/incoming/Some rather long file name number %d.avi\0%d\0%s\r\n' \
        "$i" $((700000000 + i)) '06.12.2026 14:03:05'
done > "$work/Kopierwart.Copy"

start=$(date +%s%N)
DISPLAY=$display QT_QPA_PLATFORM=xcb "$work/Kopierwart" >/dev/null 2>&1 &
pid=$!
until grep -q 'Starting P2Pfinder' "$work/Kopierwart.Log" 2>/dev/null; do sleep 0.01; done
ready=$(date +%s%N)
echo "start-up: $(( (ready - start) / 1000000 )) ms"

sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$seconds"
after=$(ticks)
echo "idle CPU over ${seconds}s: $(awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "%.2f%% of one core (%d ticks)", 100 * t / hz / s, t }')"
echo "resident memory: $(awk '/VmRSS/ {printf "%.1f MB", $2 / 1024}' "/proc/$pid/status")"
